#include "decomp/extract.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "decomp/listing.h"
#include "platform/hex_time.h"
#include "platform/text.h"
#include "platform/utf.h"
#include "platform/xml.h"

namespace ARCHIVE {
const char16_t* const SimpleXSDNames[10] = {u"archive", u"folder",  u"size",    u"file",
                                            u"name",    u"packed",  u"path",    u"comment",
                                            u"attributes", u"modified"};
}  // namespace ARCHIVE

namespace tamber::decomp {

namespace {

std::string name(int i) { return utf16ToUtf8(ARCHIVE::SimpleXSDNames[i]); }

const char* cname(int i) {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> v;
    for (int k = 0; k < 10; ++k) v.push_back(name(k));
    return v;
  }();
  return names[static_cast<size_t>(i)].c_str();
}

enum : int { kArchive = 0, kFolder = 1, kSize = 2, kFile = 3, kName = 4, kPacked = 5, kPath = 6,
             kComment = 7, kAttributes = 8, kModified = 9 };

void addText(xmlNode* parent, int element, const std::string& text) {
  xmlNode* n = xmlNewChild(parent, nullptr, xml::u(cname(element)), nullptr);
  xmlAddChild(n, xmlNewDocText(parent->doc, xml::u(xmlSafe(text).c_str())));
}

// Runs `list` over the file's bytes through a read-only mapping, so that
// headers spread through a large archive cost no copy.
template <class F>
std::optional<Listing> withMappedFile(const std::string& path, F&& list) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return std::nullopt;
  struct stat st {};
  std::optional<Listing> out;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
    size_t size = static_cast<size_t>(st.st_size);
    void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (map != MAP_FAILED) {
      out = list(std::string_view(static_cast<const char*>(map), size));
      ::munmap(map, size);
    }
  }
  ::close(fd);
  return out;
}

}  // namespace

std::string describe(const std::string& archivePath, const Listing& listing) {
  xml::Doc doc(xmlNewDoc(xml::u("1.0")));
  xmlNode* root = xmlNewDocNode(doc.get(), nullptr, xml::u(cname(kArchive)), nullptr);
  xmlDocSetRootElement(doc.get(), root);
  // A listing that stops short says why on its root, where a reader that
  // does not know the mark passes over it.
  if (!listing.partial.empty()) xmlSetProp(root, xml::u("partial"), xml::u(listing.partial.c_str()));
  addText(root, kPath, archivePath);
  if (!listing.comment.empty()) addText(root, kComment, listing.comment);
  char buf[32];
  for (const Member& m : listing.members) {
    xmlNode* n = xmlNewChild(root, nullptr, xml::u(cname(m.folder ? kFolder : kFile)), nullptr);
    xmlSetProp(n, xml::u(cname(kName)), xml::u(xmlSafe(m.name).c_str()));
    if (m.size >= 0) xmlSetProp(n, xml::u(cname(kSize)), xml::u(std::to_string(m.size).c_str()));
    if (m.packed >= 0) xmlSetProp(n, xml::u(cname(kPacked)), xml::u(std::to_string(m.packed).c_str()));
    if (m.modified > 0) xmlSetProp(n, xml::u(cname(kModified)), xml::u(hexTime(m.modified).c_str()));
    std::snprintf(buf, sizeof buf, m.unixMode ? "%o" : "%X", m.attributes);
    xmlSetProp(n, xml::u(cname(kAttributes)), xml::u(buf));
  }
  return xml::serialize(doc.get());
}

std::optional<Listing> parseDescription(std::string_view text, std::string* archivePath) {
  xml::Doc doc(xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, "UTF-8",
                             XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  // Descriptions are our own: one with a DTD (entities) is damaged.
  xmlNode* root = doc && !doc->intSubset ? xmlDocGetRootElement(doc.get()) : nullptr;
  if (!root || xmlStrcmp(root->name, xml::u(cname(kArchive))) != 0) return std::nullopt;
  Listing listing;
  if (xml::String partial{xmlGetProp(root, xml::u("partial"))}) listing.partial = xml::c(partial.get());
  for (xmlNode* n = root->children; n; n = n->next) {
    if (n->type != XML_ELEMENT_NODE) continue;
    if (xmlStrcmp(n->name, xml::u(cname(kPath))) == 0) {
      if (archivePath) *archivePath = xml::content(n);
    } else if (xmlStrcmp(n->name, xml::u(cname(kComment))) == 0) {
      listing.comment = xml::content(n);
    } else {
      bool folder = xmlStrcmp(n->name, xml::u(cname(kFolder))) == 0;
      if (!folder && xmlStrcmp(n->name, xml::u(cname(kFile))) != 0) continue;
      auto prop = [&](int i) {
        xml::String v(xmlGetProp(n, xml::u(cname(i))));
        return v ? std::string(xml::c(v.get())) : std::string();
      };
      Member m;
      m.folder = folder;
      m.name = prop(kName);
      std::string size = prop(kSize), packed = prop(kPacked), modified = prop(kModified);
      if (!size.empty()) m.size = std::strtoll(size.c_str(), nullptr, 10);
      if (!packed.empty()) m.packed = std::strtoll(packed.c_str(), nullptr, 10);
      if (auto t = parseHexTime(modified)) m.modified = *t;
      m.attributes = static_cast<uint32_t>(std::strtoul(prop(kAttributes).c_str(), nullptr, 16));
      listing.members.push_back(std::move(m));
    }
  }
  return listing;
}

}  // namespace tamber::decomp

using namespace tamber::decomp;

CExtract::CExtract() = default;
CExtract::~CExtract() = default;

long CExtract::DescribeArchive(const char16_t* path, const char16_t* extension, unsigned char kind,
                               std::string* xml) {
  try {
    if (!path || !xml) return 1;
    std::string file = tamber::utf16ToUtf8(path);
    std::string recorded = recordedPath_.empty() ? file : tamber::utf16ToUtf8(recordedPath_);
    recordedPath_.clear();
    std::string ext = extension ? tamber::utf16ToUtf8(extension) : std::string();
    std::optional<Listing> listing;
    // ARJ and ACE headers are read by our own readers.
    // The kind comes from the file's first bytes; only a program (which may
    // carry either appended) is taken at its name's word.
    bool program = kind == kArchiveExe || kind == kArchiveSfx;
    if (kind == kArchiveArj || kind == kArchiveAce || (program && (ext == "arj" || ext == "ace"))) {
      bool ace = kind == kArchiveAce || (kind != kArchiveArj && ext == "ace");
      listing = withMappedFile(file, [ace](std::string_view b) { return ace ? listAce(b) : listArj(b); });
    } else {
      listing = listWithLibarchive(file, Budget{budgetBytes_, budgetMilliseconds_});
      if (listing && (kind == kArchiveZip || kind == kArchiveSfx || kind == kArchiveExe ||
                      ext == "zip" || ext == "jar")) {
        listing->comment = zipComment(file);
      }
    }
    if (!listing) return 2;
    std::string text = describe(recorded, *listing);
    if (text.size() > 0x7FFFFFFF) return 3;
    *xml = std::move(text);
    return 0;
  } catch (...) {
    return 6;
  }
}

long CExtract::WriteDecompressedArchive2Stream(const char16_t* path, const char16_t* extension,
                                               int /*level*/, unsigned char kind,
                                               tamber::storage::Stream* stream,
                                               unsigned long* offset, xmlDoc* /*doc*/) {
  try {
    if (!path || !stream || !offset || !stream->isOpen()) return 1;
    std::string xml;
    if (long rc = DescribeArchive(path, extension, kind, &xml); rc != 0) return rc;
    auto end = stream->seek(0, tamber::storage::Whence::end);
    if (!end) return 4;
    uint64_t at = end.value();
    uint8_t length[4];
    for (int i = 0; i < 4; ++i) length[i] = static_cast<uint8_t>(xml.size() >> (8 * i));
    // Nothing half-written: a failed write is cut back off.
    if (!stream->write(length, 4) || !stream->write(xml.data(), xml.size())) {
      (void)stream->setSize(at);
      return 5;
    }
    *offset = static_cast<unsigned long>(at);
    return 0;
  } catch (...) {
    return 6;
  }
}

namespace {
template <class Out>
int split(const char16_t* text, const char16_t* separator, Out* out) {
  if (!text || !out) return 0;
  char16_t sep = separator && separator[0] ? separator[0] : u';';
  std::u16string t(text);
  int count = 0;
  size_t start = 0;
  while (start <= t.size()) {
    size_t end = t.find(sep, start);
    if (end == std::u16string::npos) end = t.size();
    if (end > start) {
      out->push_back(t.substr(start, end - start));
      ++count;
    }
    start = end + 1;
  }
  return count;
}
}  // namespace

int CExtract::GetListBySeperator(const char16_t* text, const char16_t* separator,
                                 std::list<std::u16string>* out) {
  return split(text, separator, out);
}

int CExtract::GetListBySeperator(const char16_t* text, const char16_t* separator,
                                 std::vector<std::u16string>* out) {
  return split(text, separator, out);
}

int CExtract::GetArchiveComments(xmlDoc* doc, std::u16string& comment) {
  xmlNode* root = doc ? xmlDocGetRootElement(doc) : nullptr;
  xmlNode* n = tamber::xml::childElement(root, "comment");
  if (!n) return 0;
  comment = *tamber::utf8ToUtf16(tamber::xml::content(n));
  return 1;
}

int CExtract::GetArchivefullPath(xmlDoc* doc, std::u16string& path) {
  xmlNode* root = doc ? xmlDocGetRootElement(doc) : nullptr;
  xmlNode* n = tamber::xml::childElement(root, "path");
  if (!n) return 0;
  path = *tamber::utf8ToUtf16(tamber::xml::content(n));
  return 1;
}
