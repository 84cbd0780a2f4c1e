#include "report/report.h"
#include "report/report_choices.h"

#include <cstdarg>

#include <libxml/xpathInternals.h>
#include <libxslt/documents.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>
#include <langinfo.h>
#include <locale.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>

#include "app/symbol_codec.h"
#include "platform/atomic_file.h"
#include "report/report_data.h"
#include "report/rtf_saver.h"

namespace tamber::report {

namespace {

// The first error of a transformation, which stops it.
struct FirstError {
  xsltTransformContextPtr ctxt;
  std::string message;
};

void stopAtFirstError(void* context, const char* format, ...) {
  auto* f = static_cast<FirstError*>(context);
  if (f->message.empty()) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    f->message = text;
    while (!f->message.empty() && (f->message.back() == '\n' || f->message.back() == ' ')) f->message.pop_back();
  }
  f->ctxt->state = XSLT_STATE_STOPPED;
}

std::string attributeOf(const xmlNode* n, const char* name) {
  xml::String v(xmlGetProp(n, xml::u(name)));
  return v ? std::string(xml::c(v.get())) : std::string();
}


constexpr const char* kInvalidXsl = "Invalid xsl file!";

struct SecurityFree {
  void operator()(xsltSecurityPrefs* p) const { xsltFreeSecurityPrefs(p); }
};

std::string fileName(int number) { return std::to_string(number) + ".res"; }

// `url` is where the parts a stylesheet includes are looked for.
Result<xml::Doc> parseDocument(const std::string& text, const std::string& what, const std::string& url = {}) {
  // No network, no entity substitution, no DTD loading: the documents are data.
  xml::Doc doc(xmlReadMemory(text.data(), static_cast<int>(text.size()), url.empty() ? nullptr : url.c_str(), "UTF-8",
                             XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  if (!doc) {
    const xmlError* e = xmlGetLastError();
    std::string reason = e && e->message ? e->message : "not well-formed";
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == ' ')) reason.pop_back();
    return Error{Errc::corrupt, what + ": " + reason};
  }
  return doc;
}

// An XPath string literal of any text.
std::string literal(const std::string& text) {
  if (text.find('\'') == std::string::npos) return "'" + text + "'";
  if (text.find('"') == std::string::npos) return "\"" + text + "\"";
  std::string out = "concat(";
  size_t start = 0;
  while (true) {
    size_t q = text.find('\'', start);
    out += "'" + text.substr(start, q - start) + "'";
    if (q == std::string::npos) break;
    out += ",\"'\",";
    start = q + 1;
  }
  return out + ")";
}

// Letters, digits, "-" and "_" only: a name that stays in its folder.
std::string safeBaseName(const std::string& name) {
  std::string out;
  for (char c : name) {
    bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
    out += plain ? c : '_';
  }
  return out.empty() ? "picture" : out.substr(0, 120);
}

std::string pictureExtension(const std::string& bytes) {
  if (bytes.rfind("\x89PNG", 0) == 0) return ".png";
  if (bytes.rfind("GIF8", 0) == 0) return ".gif";
  if (bytes.rfind("BM", 0) == 0) return ".bmp";
  if (bytes.size() >= 12 && bytes.compare(0, 4, "RIFF") == 0 && bytes.compare(8, 4, "WEBP") == 0) return ".webp";
  return ".jpg";
}

// The largest stylesheet or included stylesheet read.
constexpr uint64_t kLargestStylesheet = 16u << 20;

// Loads what a stylesheet includes or imports: local regular files only
// (never a FIFO, a device or the network), parsed as data like the
// stylesheet itself, without external DTDs or entity substitution. The
// document() function loads nothing: its reads are forbidden as well.
xmlDoc* loadIncluded(const xmlChar* uri, xmlDict* dict, int, void*, xsltLoadType type) {
  if (type != XSLT_LOAD_STYLESHEET || !uri) return nullptr;
  std::string path(reinterpret_cast<const char*>(uri));
  if (path.rfind("file://", 0) == 0) {
    path.erase(0, 7);
  } else if (path.find("://") != std::string::npos) {
    return nullptr;
  }
  auto text = readRegularFile(path, kLargestStylesheet);
  if (!text) return nullptr;
  xmlParserCtxt* ctxt = xmlNewParserCtxt();
  if (!ctxt) return nullptr;
  if (dict) {
    // The included document shares the stylesheet's dictionary, as libxslt
    // expects of what its loader gives.
    if (ctxt->dict) xmlDictFree(ctxt->dict);
    ctxt->dict = dict;
    xmlDictReference(dict);
  }
  xmlDoc* doc = xmlCtxtReadMemory(ctxt, text->data(), static_cast<int>(text->size()),
                                  reinterpret_cast<const char*>(uri), nullptr,
                                  XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOCDATA);
  xmlFreeParserCtxt(ctxt);
  return doc;
}

std::string mask(uint32_t bits, size_t count) {
  std::string m;
  for (size_t i = 0; i < count; ++i) m += (bits >> i & 1) ? '1' : '0';
  return m;
}

}  // namespace

std::filesystem::path reportResourceDirectory() {
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    for (auto candidate : {exe.parent_path() / "resources" / "reports",
                           exe.parent_path().parent_path() / "share" / "tamber" / "reports"}) {
      if (std::filesystem::exists(candidate / fileName(kReportFields), ec)) return candidate;
    }
  }
  return TAMBER_REPORT_RESOURCES;
}

Result<std::string> loadReportResource(int number, const std::filesystem::path& dir) {
  std::ifstream in(dir / fileName(number), std::ios::binary);
  if (!in) return Error{Errc::not_found, kInvalidXsl};
  std::string symbols((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  while (!symbols.empty() && (symbols.back() == '\n' || symbols.back() == '\r')) symbols.pop_back();
  if (symbols.size() < 2) return std::string();
  auto bytes = app::decodeSymbols(symbols);
  if (!bytes) return Error{Errc::corrupt, kInvalidXsl};
  return *bytes;
}

Result<std::unique_ptr<Reporter>> Reporter::open(const std::string& stylesheetFile,
                                                 const std::filesystem::path& dir) {
  std::unique_ptr<Reporter> r(new Reporter());
  auto load = [&](int number, xml::Doc& into) -> Status {
    auto text = loadReportResource(number, dir);
    if (!text) return text.error();
    auto doc = parseDocument(*text, kInvalidXsl);
    if (!doc) return doc.error();
    into = std::move(*doc);
    return {};
  };
  if (stylesheetFile.empty()) {
    if (Status st = load(kReportStylesheet, r->stylesheet_); !st) return st.error();
  } else {
    auto text = readRegularFile(stylesheetFile, kLargestStylesheet);
    if (!text) {
      if (text.error().code == Errc::not_found) return Error{Errc::not_found, stylesheetFile + ": cannot be read"};
      return text.error();
    }
    std::error_code ec;
    auto doc = parseDocument(*text, stylesheetFile, std::filesystem::absolute(stylesheetFile, ec).string());
    if (!doc) return doc.error();
    r->stylesheet_ = std::move(*doc);
  }
  if (Status st = load(kExportStylesheet, r->export_); !st) return st.error();
  if (Status st = load(kReportFields, r->fields_); !st) return st.error();
  // Without the RTF stylesheet the report works, without RTF output.
  (void)load(kRtfStylesheet, r->rtf_);
  return r;
}

Reporter::~Reporter() = default;

void Reporter::StyleFree::operator()(xsltStylesheet* s) const { xsltFreeStylesheet(s); }

void Reporter::applyChoices() {
  const std::pair<Level, const char*> levels[] = {{Level::category, "category"},
                                                  {Level::fileStructure, "file-structure"},
                                                  {Level::fileItems, "file-items"},
                                                  {Level::audioDetails, "audio-details"},
                                                  {Level::trackItem, "track-item"},
                                                  {Level::summary, "summary"}};
  for (const auto& [level, name] : levels) {
    LevelChoice c = readChoice(fields_.get(), level);
    parameters_[std::string("show_") + name] = c.shown ? "1" : "0";
    parameters_[std::string("fields_") + name] = mask(c.fieldMask, 32);
    if (level != Level::summary) applySortKeys(stylesheet_.get(), level, c.sortKeys);
  }
  parameters_["showCover_filepart"] = coversInFiles ? "1" : "0";
  parameters_["showCover_audiopart"] = coversInAudio ? "1" : "0";
}

void Reporter::setStandardParameters(const std::function<std::string(int id)>& text, const std::string& language) {
  // The user's date and time formats (LC_TIME, LC_ALL, LANG), whether or
  // not the program switched its own locale to them; C's where that locale
  // is not installed.
  locale_t user = newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
  setParameter("dateformat", user ? nl_langinfo_l(D_FMT, user) : nl_langinfo(D_FMT));
  setParameter("timeformat", user ? nl_langinfo_l(T_FMT, user) : nl_langinfo(T_FMT));
  if (user) freelocale(user);
  const std::pair<const char*, int> captions[] = {
      {"Categoryname", 607}, {"Creationdate", 608}, {"cddvds", 609},   {"audiotracks", 610},
      {"price", 611},        {"mediatype", 612},    {"capacity", 613}, {"recdepth", 614},
      {"tracks", 615},       {"location", 616},     {"filesize", 617}, {"trackinfo", 618},
      {"isrc", 619},         {"performer", 620},    {"composer", 621}, {"swriter", 622},
      {"artist", 603},       {"genre", 604},        {"year", 605},     {"length", 606},
      {"catlognbr", 623},    {"categories", 624},   {"totalprice", 625},
      // The file table's heads and an item's counts ("%s files, %s folders").
      {"colname", 819},      {"colmodified", 821},  {"filesfolders", 571}};
  for (const auto& [name, id] : captions) setParameter(name, text(id));
  setParameter("lang", language);
  std::string summary;
  xml::XPathContext ctx(xmlXPathNewContext(fields_.get()));
  xml::XPathObject d(xmlXPathEvalExpression(xml::u("/ReportFields/level[n=\"summary\"]/d"), ctx.get()));
  if (d && d->nodesetval) {
    for (int i = 0; i < d->nodesetval->nodeNr; ++i) {
      xmlNode* line = d->nodesetval->nodeTab[i];
      std::string said = xml::content(line);
      if (auto id = attributeOf(line, "text"); !id.empty()) {
        char* end = nullptr;
        long number = std::strtol(id.c_str(), &end, 10);
        if (end && *end == '\0' && number > 0 && number < 100000) {
          std::string translated = text(static_cast<int>(number));
          if (!translated.empty()) said = translated;
        }
      }
      summary += (summary.empty() ? "" : " ") + said;
    }
  }
  setParameter("summary", summary);
}

std::vector<std::string> missingReportResources(const std::filesystem::path& dir) {
  const std::pair<int, const char*> documents[] = {{kReportStylesheet, "the report stylesheet"},
                                                   {kExportStylesheet, "the export stylesheet"},
                                                   {kReportFields, "the report fields"},
                                                   {kRtfStylesheet, "the RTF stylesheet"}};
  std::vector<std::string> missing;
  for (const auto& [number, what] : documents) {
    auto text = loadReportResource(number, dir);
    if (!text || text->empty()) missing.push_back(fileName(number) + " (" + what + ")");
  }
  return missing;
}

Result<Reporter::Style> Reporter::compile(xmlDoc* stylesheet, bool withoutDoctype) {
  static std::once_flag loaderSet;
  std::call_once(loaderSet, [] { xsltSetLoaderFunc(loadIncluded); });
  // The stylesheet is compiled from a copy: libxslt takes the document.
  xmlDoc* copy = xmlCopyDoc(stylesheet, 1);
  if (!copy) return Error{Errc::io, "out of memory"};
  if (withoutDoctype) {
    // A piece of a page is rows, not a page: no document type before it.
    xml::XPathContext ctx(xmlXPathNewContext(copy));
    xmlXPathRegisterNs(ctx.get(), xml::u("xsl"), xml::u("http://www.w3.org/1999/XSL/Transform"));
    xml::XPathObject outputs(xmlXPathEvalExpression(xml::u("/xsl:stylesheet/xsl:output"), ctx.get()));
    if (outputs && outputs->nodesetval) {
      for (int i = 0; i < outputs->nodesetval->nodeNr; ++i) {
        xmlNode* o = outputs->nodesetval->nodeTab[i];
        for (const char* a : {"doctype-system", "doctype-public"}) {
          if (xmlAttr* attr = xmlHasProp(o, xml::u(a))) xmlRemoveProp(attr);
        }
      }
    }
  }
  Style style(xsltParseStylesheetDoc(copy));
  if (!style) {
    xmlFreeDoc(copy);
    return Error{Errc::corrupt, kInvalidXsl};
  }
  return style;
}

Result<xml::Doc> Reporter::apply(xsltStylesheet* style, xmlDoc* data, bool withParameters, RtfSaver* saver) {
  // A stylesheet reads and writes nothing but its input and output.
  std::unique_ptr<xsltSecurityPrefs, SecurityFree> prefs(xsltNewSecurityPrefs());
  for (xsltSecurityOption o : {XSLT_SECPREF_READ_FILE, XSLT_SECPREF_WRITE_FILE, XSLT_SECPREF_CREATE_DIRECTORY,
                               XSLT_SECPREF_READ_NETWORK, XSLT_SECPREF_WRITE_NETWORK}) {
    xsltSetSecurityPrefs(prefs.get(), o, xsltSecurityForbid);
  }
  xsltTransformContextPtr ctxt = xsltNewTransformContext(style, data);
  if (!ctxt) return Error{Errc::io, "out of memory"};
  xsltSetCtxtSecurityPrefs(prefs.get(), ctxt);
  if (saver) saver->attach(ctxt);
  std::vector<std::string> storage;
  std::vector<const char*> params;
  if (withParameters) {
    for (const auto& [name, value] : parameters_) {
      storage.push_back(name);
      storage.push_back(literal(value));
    }
    for (const std::string& s : storage) params.push_back(s.c_str());
  }
  params.push_back(nullptr);
  // The first error stops the transformation (a stylesheet that fails on
  // every entry of a large report said so millions of times), and is said.
  FirstError first{ctxt, {}};
  xsltSetTransformErrorFunc(ctxt, &first, stopAtFirstError);
  xml::Doc result(xsltApplyStylesheetUser(style, data, params.data(), nullptr, nullptr, ctxt));
  bool failed = ctxt->state != XSLT_STATE_OK;
  xsltFreeTransformContext(ctxt);
  if (!result || failed) {
    return Error{Errc::corrupt, "the stylesheet could not transform the report" +
                                    (first.message.empty() ? std::string() : ": " + first.message)};
  }
  return result;
}

Result<std::string> Reporter::serialize(xmlDoc* result, xsltStylesheet* style) {
  xmlChar* out = nullptr;
  int length = 0;
  if (xsltSaveResultToString(&out, &length, result, style) != 0) {
    return Error{Errc::io, "the report could not be written"};
  }
  std::string text(out ? reinterpret_cast<const char*>(out) : "", static_cast<size_t>(length));
  xmlFree(out);
  return text;
}

Result<std::string> Reporter::transform(xmlDoc* stylesheet, xmlDoc* data, bool withParameters, RtfSaver* saver) {
  auto style = compile(stylesheet, false);
  if (!style) return style.error();
  auto result = apply(style->get(), data, withParameters, saver);
  if (!result) return result.error();
  return serialize(result->get(), style->get());
}

bool Reporter::takesPieces() const {
  xml::XPathContext ctx(xmlXPathNewContext(stylesheet_.get()));
  xmlXPathRegisterNs(ctx.get(), xml::u("xsl"), xml::u("http://www.w3.org/1999/XSL/Transform"));
  xml::XPathObject found(
      xmlXPathEvalExpression(xml::u("/xsl:stylesheet/xsl:param[@name='pieces']"), ctx.get()));
  return found && found->nodesetval && found->nodesetval->nodeNr > 0;
}

namespace {

// The pieces of a page, kept in an unnamed temporary file as they are
// made, and put together at the end: the page's text with each marker
// "<!--tamber-piece:N-->" replaced by piece N (itself put together so).
class Spool {
 public:
  Spool() : file_(std::tmpfile()) {}
  ~Spool() {
    if (file_) std::fclose(file_);
  }
  Spool(const Spool&) = delete;
  Spool& operator=(const Spool&) = delete;

  Status put(int id, std::string_view text) {
    if (!file_ || id < 0) return Error{Errc::io, "no room for the report's pieces"};
    if (static_cast<size_t>(id) >= ranges_.size()) ranges_.resize(id + 1, {0, 0});
    if (!text.empty() && std::fwrite(text.data(), 1, text.size(), file_) != text.size()) {
      return Error{Errc::io, "no room for the report's pieces"};
    }
    ranges_[id] = {end_, end_ + text.size()};
    if (put_.size() < ranges_.size()) put_.resize(ranges_.size(), false);
    put_[id] = true;
    end_ += text.size();
    return {};
  }

  // Writes piece 0 with the pieces it refers to, as far as the pieces put
  // so far reach: at a piece not put yet it stops, to go on at the next
  // call; `final` writes the rest (a number of no piece stands for
  // nothing). Each piece goes in once, where it is first named.
  Status advance(const std::function<Status(std::string_view)>& out, bool final) {
    if (!file_ || std::fflush(file_) != 0) return Error{Errc::io, "the report's pieces could not be read"};
    static constexpr std::string_view kMarker = "<!--tamber-piece:";
    constexpr size_t kChunk = 1 << 16, kLongestMarker = 64;
    if (!begun_) {
      if (ranges_.empty() || !put_[0]) return {};
      begun_ = true;
      used_.assign(ranges_.size(), false);
      stack_.push_back(ranges_[0]);
      used_[0] = true;
    }
    used_.resize(ranges_.size(), false);
    std::string buffer;
    while (!stack_.empty()) {
      auto& [pos, end] = stack_.back();
      if (pos >= end) {
        stack_.pop_back();
        continue;
      }
      size_t want = static_cast<size_t>(std::min<uint64_t>(kChunk, end - pos));
      buffer.resize(want);
      ssize_t got = ::pread(fileno(file_), buffer.data(), want, static_cast<off_t>(pos));
      if (got != static_cast<ssize_t>(want)) return Error{Errc::io, "the report's pieces could not be read"};
      bool last = pos + want >= end;
      size_t at = buffer.find(kMarker);
      size_t close = at == std::string::npos ? std::string::npos : buffer.find("-->", at + kMarker.size());
      if (at == std::string::npos || close == std::string::npos || close - at > kLongestMarker) {
        // No whole marker here: write all but what could begin one.
        size_t upTo = last ? want : (want > kLongestMarker ? want - kLongestMarker : 0);
        if (at != std::string::npos && close == std::string::npos && !last) upTo = std::min(upTo, at);
        if (upTo == 0) upTo = at == 0 ? kMarker.size() : want;  // never stand still
        if (Status st = out(std::string_view(buffer).substr(0, upTo)); !st) return st;
        pos += upTo;
        continue;
      }
      if (Status st = out(std::string_view(buffer).substr(0, at)); !st) return st;
      long id = -1;
      std::string digits = buffer.substr(at + kMarker.size(), close - at - kMarker.size());
      if (!digits.empty() && digits.size() < 10 && digits.find_first_not_of("0123456789") == std::string::npos) {
        id = std::stol(digits);
      }
      bool there = id > 0 && static_cast<size_t>(id) < ranges_.size() && put_[static_cast<size_t>(id)];
      if (!there && id > 0 && !final) {
        pos += at;  // back here when more pieces are put
        return {};
      }
      pos += close + 3;
      if (there && !used_[static_cast<size_t>(id)]) {
        used_[static_cast<size_t>(id)] = true;
        stack_.push_back(ranges_[static_cast<size_t>(id)]);
      }
    }
    return {};
  }

 private:
  std::FILE* file_;
  uint64_t end_ = 0;
  std::vector<std::pair<uint64_t, uint64_t>> ranges_;
  std::vector<bool> put_;
  // Where the writing stands: the pieces being written (the innermost
  // last), and those that went in.
  bool begun_ = false;
  std::vector<std::pair<uint64_t, uint64_t>> stack_;
  std::vector<bool> used_;
};

// Cuts the rows of a file table ("<table class=\"files\">") into tables of
// `rows` rows after the first, each in a <div class="block">, as the page
// streams through: tags split between writes are kept until they are whole.
class RowBlocks {
 public:
  RowBlocks(size_t rows, const std::function<Status(std::string_view)>& out) : rows_(rows), out_(out) {}

  Status write(std::string_view bytes) {
    carry_.append(bytes);
    std::string done;
    size_t pos = 0;
    while (true) {
      size_t lt = carry_.find('<', pos);
      if (lt == std::string::npos) {
        done.append(carry_, pos, std::string::npos);
        pos = carry_.size();
        break;
      }
      done.append(carry_, pos, lt - pos);
      size_t gt = carry_.find('>', lt);
      if (gt == std::string::npos) {
        pos = lt;  // a tag not whole yet
        break;
      }
      std::string_view tag(carry_.data() + lt, gt + 1 - lt);
      done.append(tag);
      pos = gt + 1;
      if (tag == "<table class=\"files\">") {
        files_ = true;
      } else if (files_ && tag == "<tbody>") {
        inBody_ = true;
        count_ = 0;
        split_ = false;
      } else if (inBody_ && tag == "</tr>") {
        if (++count_ % rows_ == 0) {
          done += split_ ? "</tbody></table></div>" : "</tbody></table>";
          done += "<div class=\"block\"><table class=\"files\"><tbody>";
          split_ = true;
        }
      } else if (inBody_ && tag == "</tbody>") {
        inBody_ = false;
      } else if (files_ && !inBody_ && tag == "</table>") {
        files_ = false;
        if (split_) done += "</div>";
        split_ = false;
      }
    }
    carry_.erase(0, pos);
    return done.empty() ? Status() : out_(done);
  }
  Status finish() { return carry_.empty() ? Status() : out_(std::exchange(carry_, std::string())); }

 private:
  size_t rows_;
  const std::function<Status(std::string_view)>& out_;
  std::string carry_;
  bool files_ = false, inBody_ = false, split_ = false;
  size_t count_ = 0;
};

}  // namespace

Status Reporter::writeHtml(const std::function<Result<xml::Doc>(const PieceHandler*)>& build,
                           const std::function<Result<std::string>(std::string)>& page,
                           const std::function<Status(std::string_view)>& given,
                           const std::function<Result<xml::Doc>()>& skeleton) {
  auto style = compile(stylesheet_.get(), false);
  if (!style) return style.error();
  if (!takesPieces()) {
    // A stylesheet of the user's own sees the whole report.
    auto data = build(nullptr);
    if (!data) return data.error();
    auto result = apply(style->get(), data->get(), true);
    data->reset();
    if (!result) return result.error();
    auto html = serialize(result->get(), style->get());
    result->reset();
    if (!html) return html.error();
    auto shown = page(std::move(*html));
    if (!shown) return shown.error();
    return given(*shown);  // a stylesheet of the user's own: as it made it
  }
  auto pieceStyle = compile(stylesheet_.get(), true);
  if (!pieceStyle) return pieceStyle.error();
  std::optional<RowBlocks> blocks;
  if (rowsPerBlock_ > 0) blocks.emplace(rowsPerBlock_, given);
  const std::function<Status(std::string_view)> out =
      blocks ? std::function<Status(std::string_view)>([&](std::string_view b) { return blocks->write(b); }) : given;
  // The pieces of a large folder come sorted: the stylesheet without its
  // sort of the entries keeps their order.
  std::optional<Style> sortedStyle;
  Spool spool;
  // The page around the pieces, from a document of the categories, discs
  // and folders alone or from the one the pieces' build makes.
  auto begin = [&](Result<xml::Doc> data) -> Status {
    if (!data) return data.error();
    auto result = apply(style->get(), data->get(), true);
    data->reset();
    if (!result) return result.error();
    auto html = serialize(result->get(), style->get());
    if (!html) return html.error();
    auto shown = page(std::move(*html));
    if (!shown) return shown.error();
    return spool.put(0, *shown);
  };
  const bool streamed = static_cast<bool>(skeleton);
  if (streamed) {
    if (Status st = begin(skeleton()); !st) return st;
    if (Status st = spool.advance(out, false); !st) return st;
  }
  PieceHandler handler = [&](int id, xml::Doc data) -> Status {
    xmlNode* root = xmlDocGetRootElement(data.get());
    bool sorted = root && attributeOf(root, "sorted") == "1";
    std::string next = root ? attributeOf(root, "next") : std::string();
    if (sorted && !sortedStyle) {
      xml::Doc unsorted(xmlCopyDoc(stylesheet_.get(), 1));
      if (!unsorted) return Error{Errc::io, "out of memory"};
      applySortKeys(unsorted.get(), Level::fileItems, {});
      auto compiled = compile(unsorted.get(), true);
      if (!compiled) return compiled.error();
      sortedStyle = std::move(*compiled);
    }
    xsltStylesheet* style = sorted ? sortedStyle->get() : pieceStyle->get();
    auto result = apply(style, data.get(), true);
    data.reset();
    if (!result) return result.error();
    auto html = serialize(result->get(), style);
    if (!html) return html.error();
    // The piece that follows goes where this one ends.
    if (!next.empty() && next.find_first_not_of("0123456789") == std::string::npos && next.size() < 10) {
      *html += "<!--tamber-piece:" + next + "-->";
    }
    if (Status st = spool.put(id, *html); !st) return st;
    return streamed ? spool.advance(out, false) : Status();
  };
  auto whole = build(&handler);
  if (!whole) return whole.error();
  if (!streamed) {
    if (Status st = begin(std::move(whole)); !st) return st;
  }
  if (Status st = spool.advance(out, true); !st) return st;
  return blocks ? blocks->finish() : Status();
}

std::vector<ReportDataOptions::SortKey> Reporter::fileItemsSort() const {
  std::vector<ReportDataOptions::SortKey> keys;
  xml::XPathContext ctx(xmlXPathNewContext(stylesheet_.get()));
  if (!ctx) return keys;
  xmlXPathRegisterNs(ctx.get(), xml::u("xsl"), xml::u("http://www.w3.org/1999/XSL/Transform"));
  xml::XPathObject found(
      xmlXPathEvalExpression(xml::u("//xsl:apply-templates[@select='file-items'][1]/xsl:sort"), ctx.get()));
  if (!found || !found->nodesetval) return keys;
  for (int i = 0; i < found->nodesetval->nodeNr; ++i) {
    xmlNode* n = found->nodesetval->nodeTab[i];
    // Only what the program writes there can be followed: an order or a
    // letter case of a stylesheet's own makes the keys unusable here.
    if (!attributeOf(n, "order").empty() || !attributeOf(n, "case-order").empty() ||
        !attributeOf(n, "lang").empty()) {
      return {{"(of the stylesheet's own)", false}};
    }
    keys.push_back({attributeOf(n, "select"), attributeOf(n, "data-type") == "number"});
  }
  return keys;
}

Result<std::string> Reporter::html(xmlDoc* reportData) { return transform(stylesheet_.get(), reportData, true); }

Result<std::string> Reporter::xml(xmlDoc* reportData) {
  // The saved XML carries no pictures.
  xml::XPathContext ctx(xmlXPathNewContext(reportData));
  xml::XPathObject covers(xmlXPathEvalExpression(xml::u("//*/cover-image"), ctx.get()));
  if (covers && covers->nodesetval) {
    for (int i = 0; i < covers->nodesetval->nodeNr; ++i) {
      xmlNode* n = covers->nodesetval->nodeTab[i];
      xmlUnlinkNode(n);
      xmlFreeNode(n);
      covers->nodesetval->nodeTab[i] = nullptr;
    }
  }
  return transform(export_.get(), reportData, false);
}

Status Reporter::rtf(xmlDoc* reportData, const std::filesystem::path& path) {
  if (!rtf_) return Error{Errc::not_found, "Required component not found."};
  RtfSaver saver;
  saver.setOutputFile(path);
  auto done = transform(rtf_.get(), reportData, true, &saver);
  if (!saver.lastError().empty()) return Error{Errc::io, saver.lastError()};
  if (!done) return done.error();
  if (!saver.saved()) return Error{Errc::io, "the RTF stylesheet wrote no document"};
  return {};
}

void removeMade(const std::vector<std::filesystem::path>& made) {
  // In order: the pictures first, the folder last; a folder is removed
  // only when nothing else is in it.
  std::error_code ec;
  for (const auto& p : made) std::filesystem::remove(p, ec);
}

Result<std::string> writeCoverPictures(std::string page, const std::filesystem::path& path,
                                       const std::function<Result<std::string>(const std::string& stream)>& picture,
                                       std::vector<std::filesystem::path>* made) {
  std::filesystem::path folder = path.parent_path() / "image";
  std::vector<std::filesystem::path> mine;  // what this call made
  bool madeFolder = false;
  auto fail = [&](const Error& e) -> Result<std::string> {
    if (madeFolder) mine.push_back(folder);
    removeMade(mine);
    return e;
  };
  // The folder is made (or an existing one used) with the first picture.
  std::optional<bool> inFolder;
  std::map<std::string, std::string> written;  // stream -> file name
  std::string stem = path.stem().string();
  size_t at = 0;
  while ((at = page.find("tamber://", at)) != std::string::npos) {
    size_t end = page.find_first_of("\"' >", at);
    if (end == std::string::npos) break;
    std::string reference = page.substr(at, end - at);
    std::string stream;
    if (!coverStreamOf(reference, stream)) {
      at = end;
      continue;
    }
    // The picture's file: the page's name and the stream's, so that two
    // reports saved into one folder keep their own pictures; reduced to a
    // plain base name, so that no reference ("../../x") leads out of the
    // folder; named by what the bytes are.
    if (!inFolder) {
      std::error_code ec;
      madeFolder = !std::filesystem::exists(folder, ec) && std::filesystem::create_directories(folder, ec);
      inFolder = std::filesystem::is_directory(folder, ec);
    }
    std::string name;
    if (auto known = written.find(stream); known != written.end()) {
      name = known->second;
    } else {
      auto bytes = picture(stream);
      name = safeBaseName(stem + "-" + stream) + (bytes ? pictureExtension(*bytes) : ".jpg");
      if (bytes) {
        auto file = (*inFolder ? folder : path.parent_path()) / name;
        if (Status st = writeFileAtomically(file, *bytes); !st) return fail(st.error());
        mine.push_back(file);
      }
      written[stream] = name;
    }
    std::string relative = *inFolder ? "image/" + name : name;
    page.replace(at, end - at, relative);
    at += relative.size();
  }
  if (made) {
    made->insert(made->end(), mine.begin(), mine.end());
    if (madeFolder) made->push_back(folder);
  }
  return page;
}

}  // namespace tamber::report
