#include "report/report.h"

#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <optional>
#include <sstream>

#include "app/symbol_codec.h"
#include "platform/atomic_file.h"
#include "report/report_data.h"
#include "report/rtf_saver.h"

namespace tamber::report {

namespace {

constexpr const char* kInvalidXsl = "Invalid xsl file!";

struct StylesheetFree {
  void operator()(xsltStylesheet* s) const { xsltFreeStylesheet(s); }
};
struct SecurityFree {
  void operator()(xsltSecurityPrefs* p) const { xsltFreeSecurityPrefs(p); }
};

std::string fileName(int number) { return std::to_string(number) + ".res"; }

Result<xml::Doc> parseDocument(const std::string& text, const std::string& what) {
  // No network, no entity substitution, no DTD loading: the documents are data.
  xml::Doc doc(xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, "UTF-8",
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
    std::ifstream in(stylesheetFile, std::ios::binary);
    if (!in) return Error{Errc::not_found, stylesheetFile + ": cannot be read"};
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto doc = parseDocument(text, stylesheetFile);
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

Result<std::string> Reporter::transform(xmlDoc* stylesheet, xmlDoc* data, bool withParameters, RtfSaver* saver) {
  // The stylesheet is compiled from a copy: libxslt takes the document.
  xmlDoc* copy = xmlCopyDoc(stylesheet, 1);
  if (!copy) return Error{Errc::io, "out of memory"};
  std::unique_ptr<xsltStylesheet, StylesheetFree> style(xsltParseStylesheetDoc(copy));
  if (!style) {
    xmlFreeDoc(copy);
    return Error{Errc::corrupt, kInvalidXsl};
  }
  // A stylesheet reads and writes nothing but its input and output.
  std::unique_ptr<xsltSecurityPrefs, SecurityFree> prefs(xsltNewSecurityPrefs());
  for (xsltSecurityOption o : {XSLT_SECPREF_READ_FILE, XSLT_SECPREF_WRITE_FILE, XSLT_SECPREF_CREATE_DIRECTORY,
                               XSLT_SECPREF_READ_NETWORK, XSLT_SECPREF_WRITE_NETWORK}) {
    xsltSetSecurityPrefs(prefs.get(), o, xsltSecurityForbid);
  }
  xsltTransformContextPtr ctxt = xsltNewTransformContext(style.get(), data);
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
  xml::Doc result(xsltApplyStylesheetUser(style.get(), data, params.data(), nullptr, nullptr, ctxt));
  bool failed = ctxt->state != XSLT_STATE_OK;
  xsltFreeTransformContext(ctxt);
  if (!result || failed) return Error{Errc::corrupt, "the stylesheet could not transform the report"};
  xmlChar* out = nullptr;
  int length = 0;
  if (xsltSaveResultToString(&out, &length, result.get(), style.get()) != 0) {
    return Error{Errc::io, "the report could not be written"};
  }
  std::string text(out ? reinterpret_cast<const char*>(out) : "", static_cast<size_t>(length));
  xmlFree(out);
  return text;
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

Status saveHtml(const std::string& html, const std::filesystem::path& path,
                const std::function<Result<std::string>(const std::string& stream)>& picture) {
  std::string page = html;
  std::filesystem::path folder = path.parent_path() / "image";
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
      std::filesystem::create_directories(folder, ec);
      inFolder = std::filesystem::is_directory(folder, ec);
    }
    std::string name;
    if (auto known = written.find(stream); known != written.end()) {
      name = known->second;
    } else {
      auto bytes = picture(stream);
      name = safeBaseName(stem + "-" + stream) + (bytes ? pictureExtension(*bytes) : ".jpg");
      if (bytes) {
        if (Status st = writeFileAtomically((*inFolder ? folder : path.parent_path()) / name, *bytes); !st) return st;
      }
      written[stream] = name;
    }
    std::string relative = *inFolder ? "image/" + name : name;
    page.replace(at, end - at, relative);
    at += relative.size();
  }
  return writeFileAtomically(path, page);
}

}  // namespace tamber::report
