#include <functional>

#include "app/settings_store.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <cstdlib>
#include <cstring>

#include "app/symbol_codec.h"
#include "platform/atomic_file.h"
#include "platform/text.h"

namespace tamber::app {

using xml::c;
using xml::u;

namespace {

constexpr const char* kRoot = "Settings";
constexpr const char* kDataTypes = "urn:schemas-microsoft-com:datatypes";
constexpr size_t kPruneBelow = 102400;

xml::Doc newDocument() {
  xml::Doc doc(xmlNewDoc(u("1.0")));
  xmlDocSetRootElement(doc.get(), xmlNewDocNode(doc.get(), nullptr, u(kRoot), nullptr));
  return doc;
}

// A valid XML name built from any text: invalid characters become "_".
std::string xmlName(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    auto ch = static_cast<unsigned char>(s[i]);
    bool ok = std::isalpha(ch) || ch == '_' || ch >= 0x80 ||
              (i > 0 && (std::isdigit(ch) || ch == '-' || ch == '.'));
    out.push_back(ok ? s[i] : '_');
  }
  // "xml" in any case is reserved at the start of a name.
  if (out.size() >= 3 && (out[0] | 0x20) == 'x' && (out[1] | 0x20) == 'm' && (out[2] | 0x20) == 'l') {
    out.insert(out.begin(), '_');
  }
  return out;
}

}  // namespace

std::string branchName(const std::string& logon) {
  std::string s = xmlSafe(logon);
  size_t b = s.find_first_not_of(" \t\r\n");
  size_t e = s.find_last_not_of(" \t\r\n");
  s = b == std::string::npos ? "" : s.substr(b, e - b + 1);
  std::replace(s.begin(), s.end(), ' ', '_');
  return s.empty() ? "default_user" : xmlName(s);
}

std::string logonName() {
  struct passwd pw {};
  struct passwd* result = nullptr;
  std::vector<char> buf(16384);
  if (getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &result) == 0 && result && pw.pw_name) {
    return pw.pw_name;
  }
  const char* user = std::getenv("USER");
  return user ? user : "";
}

std::filesystem::path settingsPath(const std::filesystem::path& override) {
  if (!override.empty()) return override;
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    auto beside = exe.parent_path() / "tamber.cfg";
    if (std::filesystem::exists(beside, ec)) return beside;
  }
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
    return std::filesystem::path(xdg) / "tamber" / "tamber.cfg";
  }
  const char* home = std::getenv("HOME");
  return std::filesystem::path(home && *home ? home : "/tmp") / ".config" / "tamber" / "tamber.cfg";
}

Status SettingsStore::load(const std::filesystem::path& path, const std::string& user) {
  path_ = path;
  user_ = user;
  doc_ = newDocument();
  modified_ = false;
  opened_ = false;
  warning_.clear();
  // Never blocks on a FIFO; a link is followed (the file it names is the one saved).
  constexpr uint64_t kLargest = 64 << 20;
  auto read = readRegularFile(path, kLargest);
  // A file that is not a settings file (a library given by mistake, a
  // damaged one) is never saved over: the program runs with defaults.
  auto foreign = [&] {
    warning_ = path.string() + " is not a settings file that can be read; using default "
                               "settings and leaving the file as it is";
    return Status{};
  };
  if (!read) {
    switch (read.error().code) {
      case Errc::not_found:
        opened_ = true;  // created by the first save that has something to store
        return {};
      case Errc::invalid_argument:  // a folder, a device
        return Error{Errc::invalid_argument, read.message() + ", not a settings file"};
      case Errc::too_large:
        return foreign();
      default:  // unreadable: defaults, and the file is left as it is
        warning_ = read.message() + "; using default settings";
        return {};
    }
  }
  const std::string& symbols = read.value();
  if (symbols.empty()) {
    opened_ = true;
    return {};
  }
  bool pruneAllowed = symbols.size() < kPruneBelow;
  auto text = decodeSymbols(symbols);
  if (!text || text->empty()) return foreign();
  xml::Doc parsed(xmlReadMemory(text->data(), static_cast<int>(text->size()), nullptr, "UTF-8",
                                XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  xmlNode* root = parsed ? xmlDocGetRootElement(parsed.get()) : nullptr;
  if (!root || xmlStrcmp(root->name, u(kRoot)) != 0 || parsed->intSubset) return foreign();
  opened_ = true;
  doc_ = std::move(parsed);
  if (pruneAllowed) {
    for (xmlNode* n = root->children; n;) {
      xmlNode* next = n->next;
      if (!(n->type == XML_ELEMENT_NODE && (xmlStrcmp(n->name, u(user_.c_str())) == 0 || userLess(n)))) {
        xmlUnlinkNode(n);
        xmlFreeNode(n);
      }
      n = next;
    }
  }
  return {};
}

std::vector<std::string> SettingsStore::steps(const std::string& section,
                                              const std::string& key) const {
  std::vector<std::string> out{user_};
  // A section may itself be a path ("cx_listctrl_cols/files").
  size_t start = 0;
  while (start <= section.size()) {
    size_t slash = section.find('/', start);
    if (slash == std::string::npos) slash = section.size();
    if (slash > start) out.push_back(xmlName(section.substr(start, slash - start)));
    start = slash + 1;
  }
  if (!key.empty()) out.push_back(xmlName(key));
  return out;
}

bool SettingsStore::userLess(const xmlNode* n) {
  // A section of keys (elements holding text alone) directly below the
  // root, rather than a user's branch of sections.
  bool keys = false;
  for (const xmlNode* key = n->children; key; key = key->next) {
    if (key->type != XML_ELEMENT_NODE) continue;
    for (const xmlNode* c = key->children; c; c = c->next) {
      if (c->type == XML_ELEMENT_NODE) return false;
    }
    keys = true;
  }
  return keys;
}

xmlNode* SettingsStore::selectValue(const std::vector<std::string>& path) const {
  if (xmlNode* n = select(path)) return n;
  // The user-less address, "/Settings/SECTION/KEY": a value every user of
  // the file shares, where the user's own branch has none.
  if (path.size() < 2) return nullptr;
  xmlNode* section = xml::childElement(xmlDocGetRootElement(doc_.get()), path[1].c_str());
  if (!section || !userLess(section)) return nullptr;
  return select(std::vector<std::string>(path.begin() + 1, path.end()));
}

xmlNode* SettingsStore::select(const std::vector<std::string>& path) const {
  xmlNode* node = xmlDocGetRootElement(doc_.get());
  for (const auto& step : path) {
    node = xml::childElement(node, step.c_str());
    if (!node) return nullptr;
  }
  return node;
}

xmlNode* SettingsStore::selectOrCreate(const std::vector<std::string>& path) {
  xmlNode* node = xmlDocGetRootElement(doc_.get());
  for (const auto& step : path) {
    xmlNode* next = xml::childElement(node, step.c_str());
    if (!next) next = xmlNewChild(node, nullptr, u(step.c_str()), nullptr);
    node = next;
  }
  return node;
}

int SettingsStore::getInt(const std::string& section, const std::string& key, int fallback) const {
  xmlNode* n = selectValue(steps(section, key));
  if (!n) return fallback;
  std::string text = xml::content(n);
  char* end = nullptr;
  long v = std::strtol(text.c_str(), &end, 10);
  if (end == text.c_str()) return fallback;
  return static_cast<int>(v);
}

void SettingsStore::putInt(const std::string& section, const std::string& key, int value) {
  xmlNode* n = selectOrCreate(steps(section, key));
  xmlNs* ns = xmlSearchNsByHref(doc_.get(), n, u(kDataTypes));
  if (!ns) ns = xmlNewNs(n, u(kDataTypes), u("dt"));
  xmlSetNsProp(n, ns, u("dt"), u("int"));
  xmlNodeSetContent(n, u(std::to_string(value).c_str()));
  modified_ = true;
}

std::string SettingsStore::getText(const std::string& section, const std::string& key) const {
  return xml::content(selectValue(steps(section, key)));
}

void SettingsStore::putText(const std::string& section, const std::string& key,
                            const std::string& text) {
  auto path = steps(section, key);
  if (xmlNode* old = select(path)) {
    xmlUnlinkNode(old);
    xmlFreeNode(old);
  }
  xmlNode* n = selectOrCreate(path);
  xmlAddChild(n, xmlNewDocText(doc_.get(), u(xmlSafe(text).c_str())));
  modified_ = true;
}

bool SettingsStore::has(const std::string& section, const std::string& key) const {
  return selectValue(steps(section, key)) != nullptr;
}

std::vector<SettingsStore::Entry> SettingsStore::entries(const std::string& section) const {
  std::vector<Entry> out;
  xmlNode* top = select(steps(section));
  if (!top) return out;
  std::string base;
  auto path = steps(section);
  for (size_t i = 1; i < path.size(); ++i) base += (base.empty() ? "" : "/") + path[i];
  // Elements without element children are values; the others sections.
  std::function<void(xmlNode*, const std::string&)> walk = [&](xmlNode* node, const std::string& path) {
    for (xmlNode* c = node->children; c; c = c->next) {
      if (c->type != XML_ELEMENT_NODE) continue;
      bool leaf = true;
      for (xmlNode* g = c->children; g && leaf; g = g->next) leaf = g->type != XML_ELEMENT_NODE;
      std::string name = xml::c(c->name);
      if (leaf) {
        out.push_back({path, name, xml::content(c)});
      } else {
        walk(c, path.empty() ? name : path + "/" + name);
      }
    }
  };
  walk(top, base);
  return out;
}

std::optional<SettingsStore::Entry> SettingsStore::findIgnoringCase(const std::string& section,
                                                                    const std::string& key) const {
  auto folded = [](std::string s) {
    for (auto& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
  };
  std::string wantSection = folded(section), wantKey = folded(key);
  std::optional<Entry> found;
  for (auto& e : entries()) {
    if (folded(e.section) != wantSection || folded(e.key) != wantKey) continue;
    if (found && (found->section != e.section || found->key != e.key)) return std::nullopt;
    found = std::move(e);
  }
  return found;
}

std::vector<std::string> SettingsStore::getList(const std::string& section,
                                                const std::string& item) const {
  std::vector<std::string> out;
  xmlNode* sec = selectValue(steps(section));
  std::string name = xmlName(item);
  for (xmlNode* n = sec ? sec->children : nullptr; n; n = n->next) {
    if (n->type == XML_ELEMENT_NODE && xmlStrcmp(n->name, u(name.c_str())) == 0) {
      out.push_back(xml::content(n));
    }
  }
  return out;
}

void SettingsStore::putList(const std::string& section, const std::string& item,
                            const std::vector<std::string>& values) {
  xmlNode* sec = selectOrCreate(steps(section));
  while (sec->children) {
    xmlNode* child = sec->children;
    xmlUnlinkNode(child);
    xmlFreeNode(child);
  }
  std::string name = xmlName(item);
  for (const auto& v : values) {
    xmlNode* n = xmlNewChild(sec, nullptr, u(name.c_str()), nullptr);
    xmlAddChild(n, xmlNewDocText(doc_.get(), u(xmlSafe(v).c_str())));
  }
  modified_ = true;
}

std::string SettingsStore::text() const { return xml::serialize(doc_.get()); }

Status SettingsStore::save() {
  if (!opened_ || !modified_) return {};
  std::string data = encodeSymbols(text());
  std::error_code ec;
  if (!path_.parent_path().empty()) std::filesystem::create_directories(path_.parent_path(), ec);
  // Never half-written: an unnamed file beside it, synced, put in its place.
  if (Status st = writeFileAtomically(path_, data); !st) return st;
  modified_ = false;
  return {};
}

void RecentLibraryList::load(const SettingsStore& s) {
  entries_ = s.getList("Recent_Librarys", "Library");
  if (entries_.size() > kMax) entries_.resize(kMax);
}

void RecentLibraryList::store(SettingsStore& s) const {
  if (s.getList("Recent_Librarys", "Library") != entries_) {
    s.putList("Recent_Librarys", "Library", entries_);
  }
}

void RecentLibraryList::add(const std::string& path) {
  entries_.erase(std::remove(entries_.begin(), entries_.end(), path), entries_.end());
  entries_.insert(entries_.begin(), path);
  if (entries_.size() > kMax) entries_.resize(kMax);
}

std::string RecentLibraryList::caption(const std::string& path) {
  if (path.size() <= 30) return path;
  return "..." + path.substr(path.size() - 27);
}

}  // namespace tamber::app
