// The properties of zip-packaged documents: Office Open XML (.docx, .xlsx,
// .pptx: "docProps/core.xml" and "docProps/app.xml") and OpenDocument
// (.odt, .ods, .odp: "meta.xml"). The zip is read through libarchive, the
// parts through libxml2 without entities, DTDs or the network.
#include <archive.h>
#include <archive_entry.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "media/doc/doc_util.h"
#include "media/media.h"
#include "media/text_util.h"

namespace tamber::media {

namespace {

// A property part larger than this is not read.
constexpr la_int64_t kMaxPartBytes = 1 << 20;
// A package with more entries than this is not searched further.
constexpr int kMaxEntries = 10000;

struct ArchiveFree {
  void operator()(archive* a) const { archive_read_free(a); }
};
struct DocFree {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};

std::u16string textOf(xmlNode* n) {
  std::string s;
  for (xmlNode* c = n->children; c; c = c->next) {
    if ((c->type == XML_TEXT_NODE || c->type == XML_CDATA_SECTION_NODE) && c->content) {
      s += reinterpret_cast<const char*>(c->content);
    }
  }
  return scrubbed(trimmed(fromUtf8(s, false)));
}

std::string attribute(xmlNode* n, const char* name) {
  for (xmlAttr* a = n->properties; a; a = a->next) {
    if (std::strcmp(reinterpret_cast<const char*>(a->name), name) == 0 && a->children && a->children->content) {
      return reinterpret_cast<const char*>(a->children->content);
    }
  }
  return {};
}

// "2003-05-12T14:30:00Z" (fractions and a zone allowed) as the HexTime of
// its local time: with a zone it is converted, without one it is local.
std::u16string isoTime(const std::u16string& text) {
  std::string s = toUtf8(text);
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, consumed = 0;
  if (std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%n", &year, &month, &day, &hour, &minute, &second, &consumed) < 6) {
    return {};
  }
  std::string zone = s.substr(static_cast<size_t>(consumed));
  if (!zone.empty() && zone[0] == '.') zone.erase(0, zone.find_first_not_of("0123456789", 1));
  if (zone.empty()) return localHexTime(year, month, day, hour, minute, second);
  long offset = 0;
  int zh = 0, zm = 0;
  if (zone != "Z") {
    if (std::sscanf(zone.c_str() + 1, "%2d:%2d", &zh, &zm) < 1 || (zone[0] != '+' && zone[0] != '-')) return {};
    offset = (zh * 60L + zm) * 60 * (zone[0] == '-' ? -1 : 1);
  }
  if (year < 1900) return {};
  std::tm tm = calendarTime(year, month, day, hour, minute, second);
  std::time_t utc = timegm(&tm) - offset;
  std::tm local{};
  if (!localtime_r(&utc, &local)) return {};
  return HexTimeOfLocalTime(local).value_or(u"");
}

int32_t number(const std::u16string& text) {
  int v = 0;
  return std::sscanf(toUtf8(text).c_str(), "%d", &v) == 1 ? v : 0;
}

std::string localName(xmlNode* n) { return reinterpret_cast<const char*>(n->name); }

// Every element below `root`, depth first, to `visit`.
template <typename Visit>
void walk(xmlNode* root, Visit visit, int depth = 0) {
  for (xmlNode* n = root ? root->children : nullptr; n; n = n->next) {
    if (n->type != XML_ELEMENT_NODE) continue;
    visit(n);
    if (depth < 8) walk(n, visit, depth + 1);
  }
}

bool corePart(xmlNode* root, COfficeExtract::tag_OFFICEPROPS& r) {
  bool any = false;
  walk(root, [&](xmlNode* n) {
    std::string name = localName(n);
    std::u16string v = textOf(n);
    if (v.empty()) return;
    if (name == "title") r.title = v;
    else if (name == "subject") r.subject = v;
    else if (name == "creator") r.author = v;
    else if (name == "keywords") r.keywords = v;
    else if (name == "description") r.comments = v;
    else if (name == "lastModifiedBy") r.lastAuthor = v;
    else if (name == "revision") r.revisionNumber = number(v);
    else if (name == "created") r.created = isoTime(v);
    else if (name == "modified") r.lastSaved = isoTime(v);
    else if (name == "lastPrinted") r.lastPrinted = isoTime(v);
    else return;  // other core properties are not recorded
    any = true;
  });
  return any;
}

bool appPart(xmlNode* root, COfficeExtract::tag_OFFICEPROPS& r) {
  bool any = false;
  walk(root, [&](xmlNode* n) {
    std::string name = localName(n);
    std::u16string v = textOf(n);
    if (v.empty()) return;
    if (name == "Application") r.applicationName = v;
    else if (name == "Template") r.templateName = v;
    else if ((name == "Pages" || name == "Slides") && number(v) > 0) r.pageCount = number(v);
    else return;
    any = true;
  });
  return any;
}

bool metaPart(xmlNode* root, COfficeExtract::tag_OFFICEPROPS& r) {
  bool any = false;
  std::u16string keywords;
  walk(root, [&](xmlNode* n) {
    std::string name = localName(n);
    if (name == "document-statistic") {
      std::string pages = attribute(n, "page-count");
      if (!pages.empty() && number(fromUtf8(pages)) > 0) {
        r.pageCount = number(fromUtf8(pages));
        any = true;
      }
      return;
    }
    if (name == "template") {
      std::string t = attribute(n, "title");
      if (!t.empty()) r.templateName = scrubbed(fromUtf8(t));
      return;
    }
    std::u16string v = textOf(n);
    if (v.empty()) return;
    if (name == "title") r.title = v;
    else if (name == "subject") r.subject = v;
    else if (name == "initial-creator") r.author = v;
    else if (name == "creator") r.lastAuthor = v;
    else if (name == "keyword") keywords += (keywords.empty() ? u"" : u", ") + v;
    else if (name == "description") r.comments = v;
    else if (name == "editing-cycles") r.revisionNumber = number(v);
    else if (name == "creation-date") r.created = isoTime(v);
    else if (name == "date") r.lastSaved = isoTime(v);
    else if (name == "print-date") r.lastPrinted = isoTime(v);
    else if (name == "generator") r.applicationName = v;
    else return;
    any = true;
  });
  if (!keywords.empty()) {
    r.keywords = keywords;
    any = true;
  }
  return any;
}

std::unique_ptr<xmlDoc, DocFree> parse(const std::string& bytes) {
  // No entity substitution, no DTD, no network: the part is data.
  return std::unique_ptr<xmlDoc, DocFree>(xmlReadMemory(bytes.data(), static_cast<int>(bytes.size()), nullptr, nullptr,
                                                        XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
}

}  // namespace

bool readPackagedProperties(const std::string& path, COfficeExtract::tag_OFFICEPROPS& r) {
  std::unique_ptr<archive, ArchiveFree> a(archive_read_new());
  if (!a) return false;
  archive_read_support_format_zip(a.get());
  if (archive_read_open_filename(a.get(), path.c_str(), 16384) != ARCHIVE_OK) return false;
  bool any = false;
  int wanted = 0;
  archive_entry* entry = nullptr;
  for (int n = 0; n < kMaxEntries && wanted < 2 && archive_read_next_header(a.get(), &entry) == ARCHIVE_OK; ++n) {
    const char* name = archive_entry_pathname(entry);
    if (!name) continue;
    bool core = std::strcmp(name, "docProps/core.xml") == 0;
    bool app = std::strcmp(name, "docProps/app.xml") == 0;
    bool meta = std::strcmp(name, "meta.xml") == 0;
    if (!core && !app && !meta) continue;
    la_int64_t size = archive_entry_size_is_set(entry) ? archive_entry_size(entry) : kMaxPartBytes;
    if (size < 0 || size > kMaxPartBytes) continue;
    std::string bytes;
    char buf[16384];
    la_ssize_t got;
    while ((got = archive_read_data(a.get(), buf, sizeof buf)) > 0 &&
           bytes.size() + static_cast<size_t>(got) <= static_cast<size_t>(kMaxPartBytes)) {
      bytes.append(buf, static_cast<size_t>(got));
    }
    if (got < 0) return false;
    auto doc = parse(bytes);
    if (!doc) continue;
    xmlNode* root = xmlDocGetRootElement(doc.get());
    if (core) any |= corePart(root, r);
    if (app) any |= appPart(root, r);
    if (meta) any |= metaPart(root, r);
    wanted += meta ? 2 : 1;
  }
  return any;
}

}  // namespace tamber::media
