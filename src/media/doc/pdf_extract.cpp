// CPDFExtract: the document information of a PDF file, read from the header,
// the last trailer, the cross-reference sections and the two or three
// objects needed, each through a bounded window. Files whose
// cross-reference is a stream go to libqpdf (pdf_qpdf.cpp).
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "media/doc/doc_util.h"
#include "media/doc/pdf_syntax.h"
#include "media/media.h"
#include "media/media_file.h"

using namespace tamber::media;
using namespace tamber::media::pdf;

namespace tamber::media {
// The record through libqpdf, for files without a classic cross-reference;
// false when libqpdf cannot read the file either.
bool readPdfWithQpdf(const std::string& path, CPDFExtract::tag_PDFSummary& record);
// The "D:" dates of a record as HexTimes.
void pdfDatesToHexTime(CPDFExtract::tag_PDFSummary& record);
}  // namespace tamber::media

namespace {

// Objects read for the page count get this many bytes.
constexpr size_t kObjectWindow = 512;
// An incremental update chain longer than this is not followed further.
constexpr int kMaxUpdates = 1000;

struct Section {
  int64_t first;
  int64_t count;
  uint64_t entries;  // position of the first 20-byte entry
};

struct Trailer {
  int64_t size = 0;
  std::optional<int64_t> root, info, prev;
};

class PdfReader {
 public:
  PdfReader(const MediaFile& file, size_t window, CPDFExtract::tag_PDFSummary& record)
      : file_(file), window_(window), record_(record) {}

  // The whole reading; false when the file gives no record this way.
  bool read();

 private:
  std::string bytes(uint64_t at, size_t n) const {
    std::string s(n, '\0');
    s.resize(file_.read(at, s.data(), n));
    return s;
  }
  bool trailerKeys(std::string_view dict, Trailer& t) const;
  // A plain cross-reference at `at`; `end` is where its last section ends.
  bool plainCrossReference(uint64_t at, uint64_t& end);
  bool linearizedCrossReference(uint64_t at);
  std::optional<uint64_t> objectOffset(int64_t number) const;
  // The text of the object's dictionary, read in `n` bytes from its start.
  std::string objectDictionary(int64_t number, size_t n) const;
  void info();
  void pageCount();

  const MediaFile& file_;
  size_t window_;
  CPDFExtract::tag_PDFSummary& record_;
  bool linearized_ = false;
  Trailer trailer_;
  std::vector<Section> sections_;  // newer first
};

bool PdfReader::trailerKeys(std::string_view dict, Trailer& t) const {
  auto size = intValue(dict, "Size");
  if (!size) return false;
  t.size = *size;
  t.root = referenceValue(dict, "Root");
  t.info = referenceValue(dict, "Info");
  t.prev = intValue(dict, "Prev");
  return true;
}

bool PdfReader::plainCrossReference(uint64_t at, uint64_t& end) {
  // Sections of 20-byte entries after "xref", each headed by its first
  // object number and count.
  std::string head = bytes(at, 64);
  size_t i = skipSpace(head, 0);
  if (head.compare(i, 4, "xref") != 0) return false;
  uint64_t pos = at + i + 4;
  size_t before = sections_.size();
  for (int n = 0; n < 100000; ++n) {
    std::string h = bytes(pos, 64);
    size_t j = 0;
    auto first = readInt(h, j);
    auto count = first ? readInt(h, j) : std::nullopt;
    if (!count || *first < 0 || *count < 0 || j >= h.size() || !isSpace(h[j])) break;
    j = skipSpace(h, j);
    uint64_t entries = pos + j;
    if (static_cast<uint64_t>(*count) > (file_.size() - std::min(entries, file_.size())) / 20) break;
    sections_.push_back({*first, *count, entries});
    pos = entries + static_cast<uint64_t>(*count) * 20;
    if (*first + *count >= trailer_.size) break;
  }
  end = pos;
  return sections_.size() > before;
}

bool PdfReader::linearizedCrossReference(uint64_t at) {
  std::string head = bytes(at, 64);
  size_t i = skipSpace(head, 0);
  if (head.compare(i, 4, "xref") != 0) return false;
  size_t j = i + 4;
  auto first = readInt(head, j);
  auto count = first ? readInt(head, j) : std::nullopt;
  if (!count || *first < 0 || *count < 0) return false;
  j = skipSpace(head, j);
  uint64_t entries = at + j;
  sections_.push_back({*first, *count, entries});
  // The first page's trailer follows its section.
  std::string tail = bytes(entries + static_cast<uint64_t>(*count) * 20, kObjectWindow);
  size_t t = tail.find("trailer");
  if (t == std::string::npos) return true;
  Trailer keys;
  if (!trailerKeys(dictionaryAt(tail, t + 7), keys)) return true;
  trailer_ = keys;
  uint64_t end = 0;
  if (trailer_.prev) plainCrossReference(static_cast<uint64_t>(*trailer_.prev), end);
  return true;
}

std::optional<uint64_t> PdfReader::objectOffset(int64_t number) const {
  for (const Section& s : sections_) {
    if (number >= s.first && number - s.first < s.count) {
      std::string entry = bytes(s.entries + static_cast<uint64_t>(number - s.first) * 20, 20);
      size_t i = 0;
      auto offset = readInt(entry, i);
      // A free entry ("f") names no object.
      if (!offset || *offset < 0 || entry.find('f') != std::string::npos) return std::nullopt;
      return static_cast<uint64_t>(*offset);
    }
  }
  return std::nullopt;
}

std::string PdfReader::objectDictionary(int64_t number, size_t n) const {
  auto offset = objectOffset(number);
  if (!offset) return {};
  // "12 0 obj" and the dictionary.
  std::string text = bytes(*offset, n);
  size_t i = 0;
  if (!readInt(text, i) || !readInt(text, i)) return {};
  i = skipSpace(text, i);
  if (text.compare(i, 3, "obj") != 0) return {};
  return std::string(dictionaryAt(text, i + 3));
}

void PdfReader::info() {
  if (!trailer_.info) return;
  std::string dict = objectDictionary(*trailer_.info, window_);
  auto take = [&](const char* key, std::u16string& field) {
    if (auto v = textValue(dict, key)) field = std::move(*v);
  };
  take("Title", record_.title);
  take("Author", record_.author);
  take("Subject", record_.subject);
  take("Keywords", record_.keywords);
  take("Creator", record_.creator);
  take("Producer", record_.producer);
  take("CreationDate", record_.creationDate);
  take("ModDate", record_.modificationDate);
  pdfDatesToHexTime(record_);
}

}  // namespace

namespace tamber::media {

void pdfDatesToHexTime(CPDFExtract::tag_PDFSummary& record) {
  // "D:YYYYMMDDHHmmSS" (later parts optional, a zone after them ignored) as
  // the local time's HexTime. Writers that leave out the "D:" are read the
  // same when at least the day is there ("20030512"): left as written,
  // eight digits would later pass for a HexTime of another date. Anything
  // else stays as written.
  for (std::u16string* date : {&record.creationDate, &record.modificationDate}) {
    size_t from = 2;
    if (date->size() < 6 || date->compare(0, 2, u"D:") != 0) {
      bool day = date->size() >= 8;
      for (size_t i = 0; i < 8 && day; ++i) day = (*date)[i] >= u'0' && (*date)[i] <= u'9';
      if (!day) continue;
      from = 0;
    }
    std::string ascii;
    for (char16_t c : date->substr(from)) ascii += c < 0x80 ? static_cast<char>(c) : '?';
    int part[6] = {0, 1, 1, 0, 0, 0};
    const int widths[6] = {4, 2, 2, 2, 2, 2};
    size_t at = 0;
    int parts = 0;
    for (int k = 0; k < 6; ++k, ++parts) {
      if (at + widths[k] > ascii.size()) break;
      int v = 0;
      bool digits = true;
      for (int d = 0; d < widths[k]; ++d) {
        char c = ascii[at + d];
        digits &= c >= '0' && c <= '9';
        v = v * 10 + (c - '0');
      }
      if (!digits) break;
      part[k] = v;
      at += widths[k];
    }
    if (parts == 0) continue;
    std::u16string hex = localHexTime(part[0], part[1], part[2], part[3], part[4], part[5]);
    if (!hex.empty()) *date = hex;
  }
}

}  // namespace tamber::media

namespace {

void PdfReader::pageCount() {
  if (record_.pageCount != 0 || !trailer_.root) return;
  std::string root = objectDictionary(*trailer_.root, kObjectWindow);
  auto pages = referenceValue(root, "Pages");
  if (!pages) return;
  std::string tree = objectDictionary(*pages, kObjectWindow);
  if (auto count = intValue(tree, "Count"); count && *count > 0 && *count <= INT32_MAX) {
    record_.pageCount = static_cast<int32_t>(*count);
  }
}

bool PdfReader::read() {
  std::string head = bytes(0, window_);
  if (head.compare(0, 5, "%PDF-") != 0) return false;
  // The version is the header line's word after "%PDF-".
  size_t v = 5;
  while (v < head.size() && !isSpace(head[v]) && v < 5 + 16) ++v;
  record_.version = fromCodePage(head.substr(5, v - 5));

  if (size_t key = head.find("/Linearized"); key != std::string::npos) {
    size_t open = head.rfind("<<", key);
    std::string_view dict = dictionaryAt(head, open == std::string::npos ? key : open);
    auto length = intValue(dict, "L");
    if (length && *length >= 0 && static_cast<uint64_t>(*length) == file_.size()) {
      linearized_ = true;
      if (auto n = intValue(dict, "N"); n && *n > 0 && *n <= INT32_MAX) record_.pageCount = static_cast<int32_t>(*n);
    }
  }

  if (file_.size() < window_) return false;
  std::string tail = bytes(file_.size() - (window_ - 1), window_ - 1);
  size_t t = tail.rfind("trailer");
  if (t == std::string::npos) return false;
  std::string_view dict = dictionaryAt(tail, t + 7);
  if (!trailerKeys(dict, trailer_)) return false;
  size_t startxref = tail.find("startxref", t);
  if (startxref == std::string::npos) return false;
  size_t at = startxref + 9;
  auto offset = readInt(tail, at);
  if (!offset || *offset <= 0 || static_cast<uint64_t>(*offset) >= file_.size()) return false;
  uint64_t end = 0;
  bool ok = linearized_ ? linearizedCrossReference(static_cast<uint64_t>(*offset))
                        : plainCrossReference(static_cast<uint64_t>(*offset), end);
  if (!ok) return false;
  // The linearized reading has followed the first page's trailer to the
  // main cross-reference, the last of the chain.
  if (linearized_) trailer_.prev.reset();

  // Older sections of incremental updates, newest first; a chain that
  // returns to an offset already read ends there.
  std::set<int64_t> seen{*offset};
  for (int n = 0; n < kMaxUpdates && trailer_.prev && seen.insert(*trailer_.prev).second; ++n) {
    if (*trailer_.prev < 0 || !plainCrossReference(static_cast<uint64_t>(*trailer_.prev), end)) break;
    std::string next = bytes(end, window_);
    size_t k = skipSpace(next, 0);
    if (next.compare(k, 7, "trailer") != 0) break;
    Trailer older;
    if (!trailerKeys(dictionaryAt(next, k + 7), older)) break;
    // The newest trailer's Root and Info stand; only the chain goes on.
    trailer_.prev = older.prev;
    if (!trailer_.info) trailer_.info = older.info;
    if (!trailer_.root) trailer_.root = older.root;
  }
  info();
  pageCount();
  return true;
}

}  // namespace

CPDFExtract::CPDFExtract(const std::u16string& path, uint8_t* scratch, int size) {
  ResetPorps(info_);
  requireScratch(scratch, size);
  std::string native = nativePath(path);
  MediaFile::Cache cache;
  MediaFile file(native, cache);
  if (!file.ok()) return;
  // Windows of half the caller's buffer: 2048 bytes with the usual 4096.
  size_t window = static_cast<size_t>(size) / 2;
  if (window < 16) return;
  PdfReader reader(file, window, info_);
  if (reader.read()) {
    valid_ = 1;
    return;
  }
  // A file that starts as a PDF but has no classic trailer at its end (a
  // cross-reference stream, PDF 1.5 and later), or whose classic chain
  // leads to one (an update of such a file), is read by libqpdf.
  uint8_t magic[5];
  if (file.readAll(0, magic, 5) && std::memcmp(magic, "%PDF-", 5) == 0) {
    std::u16string version = info_.version;
    ResetPorps(info_);
    if (readPdfWithQpdf(native, info_)) {
      if (info_.version.empty()) info_.version = version;
      valid_ = 1;
      return;
    }
  }
  ResetPorps(info_);
}

void CPDFExtract::ResetPorps(tag_PDFSummary& i) {
  i = tag_PDFSummary{};
  i.pageCount = 0;
}
