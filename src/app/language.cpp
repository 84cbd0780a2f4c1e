#include "app/language.h"

#include <cctype>
#include <cstdlib>
#include <fstream>

#include <unistd.h>

#include "disc/drive_manager.h"
#include "exchange/exchange.h"
#include "platform/xml.h"
#include "scan/add_folder_job.h"

namespace tamber::app {

namespace {

bool readTexts(const std::filesystem::path& path, std::map<int, std::string>& texts) {
  xml::Doc doc(xmlReadFile(path.c_str(), "UTF-8", XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  if (!doc || !xmlDocGetRootElement(doc.get())) return false;
  for (xmlNode* n = xmlDocGetRootElement(doc.get())->children; n; n = n->next) {
    if (n->type != XML_ELEMENT_NODE || xmlStrcmp(n->name, xml::u("text")) != 0) continue;
    xml::String id(xmlGetProp(n, xml::u("id")));
    if (id) texts[std::atoi(xml::c(id.get()))] = xml::content(n);
  }
  return true;
}

std::filesystem::path textsFile(const std::filesystem::path& dir, const std::string& code) {
  return dir / ("res_" + code + ".xml");
}

}  // namespace

Status LanguageResources::load(const std::filesystem::path& dir, const std::string& code) {
  auto path = textsFile(dir, code);
  if (::access(path.c_str(), R_OK) != 0) {
    return Error{Errc::not_found, path.string() + ": cannot load the language file"};
  }
  auto texts = std::make_shared<Texts>();
  texts->dir = dir;
  texts_ = std::move(texts);
  code_ = code;
  return {};
}

std::string LanguageResources::text(int id) const {
  if (!texts_) return "#" + std::to_string(id);
  std::call_once(texts_->read, [&] {
    // A language file that cannot be read (damaged since the start) gives
    // way to the English one.
    if (!readTexts(textsFile(texts_->dir, code_), texts_->byId) && code_ != "en") {
      texts_->byId.clear();
      readTexts(textsFile(texts_->dir, "en"), texts_->byId);
    }
  });
  auto it = texts_->byId.find(id);
  return it == texts_->byId.end() ? "#" + std::to_string(id) : it->second;
}

std::filesystem::path resourceDirectory() {
  // Looked for once: every start asks, some twice, and the program does not
  // move while it runs.
  static const std::filesystem::path found = [] {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
      for (auto candidate : {exe.parent_path() / "resources" / "lang",
                             exe.parent_path().parent_path() / "share" / "tamber" / "lang"}) {
        if (std::filesystem::exists(candidate / "res_en.xml", ec)) return candidate;
      }
    }
    return std::filesystem::path(TAMBER_SOURCE_DIR) / "resources" / "lang";
  }();
  return found;
}

std::string chooseLanguage(const std::string& configured, const std::filesystem::path& dir) {
  std::string code = configured;
  if (code.empty()) {
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
      const char* v = std::getenv(var);
      if (v && *v) {
        code = v;
        break;
      }
    }
    if (code == "C" || code.rfind("C.", 0) == 0 || code == "POSIX") code = "en";
    code = code.substr(0, 2);
    for (auto& ch : code) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  }
  std::error_code ec;
  bool plain = code.size() == 2 && std::isalpha(static_cast<unsigned char>(code[0])) &&
               std::isalpha(static_cast<unsigned char>(code[1]));
  if (!plain || !std::filesystem::exists(dir / ("res_" + code + ".xml"), ec)) return "en";
  return code;
}

std::string fillIn(std::string text, std::initializer_list<std::string> values) {
  size_t from = 0;
  for (const auto& v : values) {
    auto at = text.find("%s", from);
    if (at == std::string::npos) break;
    text.replace(at, 2, v);
    from = at + v.size();
  }
  return text;
}

std::string spokenText(const LanguageResources& texts, const std::string& message) {
  static const std::pair<std::string_view, int> fixed[] = {
      {exchange::kExportCannotCreate, kTextExportCannotCreate}, {exchange::kExportCannotSave, kTextExportCannotSave},
      {exchange::kImportMissing, kTextImportMissing},           {exchange::kImportCorrupt, kTextImportCorrupt},
      {exchange::kCurrentCannotSave, kTextCurrentCannotSave},   {scan::kStatisticsText, kTextStatistics},
      {disc::kNoDriveText, kTextNoDrive}};
  for (auto [english, id] : fixed) {
    size_t hole = english.find("%s");
    std::string_view head = english.substr(0, hole);
    if (message.compare(0, head.size(), head) != 0) continue;
    if (hole == std::string_view::npos) return texts.text(id) + message.substr(head.size());
    // The file's name lies between the text before the hole and the text
    // after it; a cause may follow.
    std::string_view tail = english.substr(hole + 2);
    size_t end = message.rfind(tail);
    if (end == std::string::npos || end < head.size()) continue;
    return fillIn(texts.text(id), {message.substr(head.size(), end - head.size())}) + message.substr(end + tail.size());
  }
  return message;
}

}  // namespace tamber::app
