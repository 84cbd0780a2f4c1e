// COfficeExtract: the document properties of compound documents (the
// summary information set, read through our storage engine), of RTF files
// (the information group), and of Office Open XML and OpenDocument files
// (their property parts, office_xml.cpp).
#include <cstdio>
#include <ctime>
#include <string>

#include "media/doc/doc_util.h"
#include "media/doc/property_set.h"
#include "media/media.h"
#include "media/media_file.h"
#include "media/pattern.h"
#include "storage/compound_file.h"

using namespace tamber::media;

namespace tamber::media {
// The properties of a zip-packaged document; false when it is none.
bool readPackagedProperties(const std::string& path, COfficeExtract::tag_OFFICEPROPS& record);
}  // namespace tamber::media

namespace {

// The summary information holds no stream larger than this.
constexpr uint64_t kMaxPropertyStream = 1 << 20;
// The RTF road reads this many chunks looking for the information group.
constexpr int kRtfChunks = 10;

enum PropertyId : uint32_t {
  kTitle = 2, kSubject = 3, kAuthor = 4, kKeywords = 5, kComments = 6, kTemplate = 7, kLastAuthor = 8,
  kRevision = 9, kEditTime = 10, kLastPrinted = 11, kCreated = 12, kLastSaved = 13, kPageCount = 14,
  kAppName = 18,
};

// A file time (UTC) as the HexTime of its local time; nothing before 1900,
// so the edit time (a duration) never fills.
std::u16string fileTimeText(FileTime t) {
  constexpr int64_t kTicksPerSecond = 10000000;
  constexpr int64_t kEpochDifference = 11644473600;  // 1601 to 1970, in seconds
  std::time_t seconds = static_cast<std::time_t>(static_cast<int64_t>(t.ticks / kTicksPerSecond) - kEpochDifference);
  std::tm local{};
  if (!localtime_r(&seconds, &local)) return {};
  return HexTimeOfLocalTime(local).value_or(u"");
}

bool compoundRoad(const std::string& path, COfficeExtract::tag_OFFICEPROPS& r, bool& isCompound) {
  isCompound = false;
  auto file = tamber::storage::CompoundFile::open(path, tamber::storage::OpenMode::read_only);
  if (!file) return false;
  isCompound = true;
  auto stream = file->root().openStream("\005SummaryInformation");
  if (!stream || stream->size() > kMaxPropertyStream) return false;
  auto bytes = stream->readAll();
  if (!bytes) return false;
  auto values = readSummaryInformation(*bytes);
  if (!values) return false;
  bool taken = false;
  auto text = [&](uint32_t id, std::u16string& field) {
    auto it = values->find(id);
    if (it == values->end()) return;
    if (auto* s = std::get_if<std::u16string>(&it->second)) {
      field = *s;
      taken = true;
    }
  };
  text(kTitle, r.title);
  text(kSubject, r.subject);
  text(kAuthor, r.author);
  text(kKeywords, r.keywords);
  text(kComments, r.comments);
  text(kTemplate, r.templateName);
  text(kLastAuthor, r.lastAuthor);
  text(kAppName, r.applicationName);
  if (auto it = values->find(kRevision); it != values->end()) {
    if (auto* s = std::get_if<std::u16string>(&it->second)) {
      std::string ascii = toUtf8(*s);
      int v = 0;
      if (std::sscanf(ascii.c_str(), "%d", &v) == 1) {
        r.revisionNumber = v;
        taken = true;
      }
    }
  }
  if (auto it = values->find(kPageCount); it != values->end()) {
    if (auto* n = std::get_if<int32_t>(&it->second)) {
      r.pageCount = *n;
      taken = true;
    }
  }
  auto time = [&](uint32_t id, std::u16string& field) {
    auto it = values->find(id);
    if (it == values->end()) return;
    if (auto* t = std::get_if<FileTime>(&it->second)) {
      field = fileTimeText(*t);
      taken = taken || !field.empty();
    }
  };
  time(kEditTime, r.editTime);
  time(kLastPrinted, r.lastPrinted);
  time(kCreated, r.created);
  time(kLastSaved, r.lastSaved);
  return taken;
}

// ---------------------------------------------------------------- RTF

// The text of an RTF group's bytes: "\'hh" as a byte of the code page,
// "\uN" as the character N (the replacement that follows passed over),
// "\\", "\{" and "\}" as themselves, other control words dropped.
std::u16string rtfText(const std::string& raw, int codePage) {
  std::u16string out;
  std::string pending;  // 8-bit bytes not yet converted
  auto flush = [&] {
    if (!pending.empty()) out += fromWindowsCodePage(pending, codePage);
    pending.clear();
  };
  int skip = 0;
  for (size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c != '\\') {
      if (c == '{' || c == '}' || c == '\r' || c == '\n') continue;
      if (skip > 0) {
        --skip;
        continue;
      }
      pending += c;
      continue;
    }
    if (i + 1 >= raw.size()) break;
    char n = raw[i + 1];
    if (n == '\\' || n == '{' || n == '}') {
      pending += n;
      ++i;
    } else if (n == '\'' && i + 3 < raw.size()) {
      unsigned v = 0;
      if (std::sscanf(raw.substr(i + 2, 2).c_str(), "%2x", &v) == 1) {
        if (skip > 0) {
          --skip;
        } else {
          pending += static_cast<char>(v);
        }
      }
      i += 3;
    } else {
      // A control word and its number; a space after it belongs to it.
      size_t j = i + 1;
      while (j < raw.size() && ((raw[j] >= 'a' && raw[j] <= 'z') || (raw[j] >= 'A' && raw[j] <= 'Z'))) ++j;
      std::string word = raw.substr(i + 1, j - i - 1);
      size_t numberStart = j;
      if (j < raw.size() && raw[j] == '-') ++j;
      while (j < raw.size() && raw[j] >= '0' && raw[j] <= '9') ++j;
      long number = j > numberStart ? std::strtol(raw.substr(numberStart, j - numberStart).c_str(), nullptr, 10) : 0;
      if (j < raw.size() && raw[j] == ' ') ++j;
      if (word == "u" && j > numberStart) {
        flush();
        out += static_cast<char16_t>(number < 0 ? number + 65536 : number);
        skip = 1;
      } else if (word == "tab") {
        pending += '\t';
      }
      i = j - 1;
    }
  }
  flush();
  return scrubbed(out);
}

// The RTF time "\yr2003\mo5\dy12\hr14\min30": parts that are missing keep
// 1969-12-04 00:00.
std::u16string rtfTime(const std::string& group) {
  int part[5] = {1969, 12, 4, 0, 0};
  int read = std::sscanf(group.c_str(), "\\yr%d\\mo%d\\dy%d\\hr%d\\min%d", &part[0], &part[1], &part[2], &part[3],
                         &part[4]);
  if (read < 1) return {};
  return localHexTime(part[0], part[1], part[2], part[3], part[4], 0);
}

bool rtfRoad(const std::string& path, uint8_t* scratch, int size, COfficeExtract::tag_OFFICEPROPS& r) {
  MediaFile::Cache cache;
  MediaFile file(path, cache);
  if (!file.ok() || size < 8) return false;
  size_t chunk = static_cast<size_t>(size) - 2;
  std::memset(scratch, 0, static_cast<size_t>(size));
  uint64_t pos = 0;
  const char* text = reinterpret_cast<const char*>(scratch);
  bool found = false;
  for (int attempt = 0; attempt < kRtfChunks; ++attempt) {
    std::memset(scratch, 0, chunk);
    size_t got = file.read(pos, scratch, chunk);
    if (got == 0) return false;
    if (attempt == 0 && std::strncmp(text, "{\\rtf", 5) != 0) return false;
    if (const char* info = std::strstr(text, "\\info")) {
      pos += static_cast<uint64_t>(info - text);
      found = true;
      break;
    }
    pos += got;
  }
  if (!found) return false;
  std::memset(scratch, 0, chunk);
  file.read(pos, scratch, chunk);

  // The code page of 8-bit text: "\ansicpgN" in the header, else 1252.
  int codePage = 1252;
  {
    char head[512] = {};
    file.read(0, head, sizeof head - 1);
    if (const char* cp = std::strstr(head, "\\ansicpg")) codePage = std::atoi(cp + 8);
  }
  std::string_view window(text, std::strlen(text));
  bool any = false;
  auto group = [&](const char* pattern) -> std::optional<std::string> {
    auto g = matchGroups(window, pattern);
    if (!g || g->empty()) return std::nullopt;
    return (*g)[0];
  };
  auto textField = [&](const char* pattern, std::u16string& field) {
    if (auto g = group(pattern)) {
      field = rtfText(*g, codePage);
      any = true;
    }
  };
  textField("\\{\\\\title[ \t\n\r]+{.*?}\\}", r.title);
  textField("\\{\\\\subject[ \t\n\r]+{.*?}\\}", r.subject);
  textField("\\{\\\\author[ \t\n\r]+{.*?}\\}", r.author);
  textField("\\{\\\\operator[ \t\n\r]+{.*?}\\}", r.lastAuthor);
  textField("\\{\\\\keywords[ \t\n\r]+{.*?}\\}", r.keywords);
  textField("\\{\\\\comment[ \t\n\r]+{.*?}\\}", r.comments);
  auto number = [&](const char* pattern, int32_t& field) {
    if (auto g = group(pattern)) {
      int v = 0;
      if (std::sscanf(g->c_str(), "%d", &v) == 1) {
        field = v;
        any = true;
      }
    }
  };
  number("\\{\\\\version[ \t\n\r]*{.*?}\\}", r.revisionNumber);
  number("\\{\\\\nofpages{.*?}\\}", r.pageCount);
  auto time = [&](const char* pattern, std::u16string& field) {
    if (auto g = group(pattern)) {
      field = rtfTime(*g);
      any = any || !field.empty();
    }
  };
  time("\\{\\\\creatim[ \t\n\r]*{.*?}\\}", r.created);
  time("\\{\\\\revtim[ \t\n\r]*{.*?}\\}", r.editTime);
  time("\\{\\\\printim[ \t\n\r]*{.*?}\\}", r.lastPrinted);
  time("\\{\\\\buptim[ \t\n\r]*{.*?}\\}", r.lastSaved);
  return any;
}

}  // namespace

COfficeExtract::COfficeExtract(const std::u16string& path, uint8_t* scratch, int size) {
  ResetPorps(info_);
  std::string native = nativePath(path);
  bool isCompound = false;
  if (compoundRoad(native, info_, isCompound)) {
    valid_ = 1;
    return;
  }
  if (isCompound) {
    ResetPorps(info_);
    return;
  }
  requireScratch(scratch, size);
  if (rtfRoad(native, scratch, size, info_)) {
    valid_ = 1;
    return;
  }
  ResetPorps(info_);
  if (readPackagedProperties(native, info_)) {
    valid_ = 1;
    return;
  }
  ResetPorps(info_);
}

void COfficeExtract::ResetPorps(tag_OFFICEPROPS& i) {
  i = tag_OFFICEPROPS{};
  i.revisionNumber = -1;
  i.pageCount = 0;
}
