#include "common.h"

#include "platform/atomic_file.h"
#include "platform/text.h"
#include "scan/image_info.h"
#include "scan/listing_reader.h"

#include <poll.h>

#include <cerrno>
#include <cstring>
#include <csignal>
#include <cstdio>
#include <optional>

namespace tamber::cli {

std::atomic<int> interrupted{0};

namespace {
void onInterrupt(int sig) {
  interrupted.store(sig);
  std::signal(sig, SIG_DFL);
}
}  // namespace

namespace {
Status standardOutputStatus() {
  if (std::cout.good()) return {};
  int err = errno;
  return Error{Errc::io, say(app::kTextCannotWriteOutput, {err ? std::strerror(err) : "write error"})};
}
}  // namespace

Result<Output> Output::open(const std::string& path) {
  Output out;
  if (path.empty()) return out;
  auto begun = AtomicFile::begin(path);
  if (!begun) return Error{begun.error().code, path + ": " + begun.message()};
  out.file_.emplace(std::move(*begun));
  return out;
}

Status Output::write(std::string_view bytes) {
  if (file_) return file_->write(bytes);
  std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return standardOutputStatus();
}

Status Output::finish() {
  if (file_) return file_->commit();
  std::cout.flush();
  return standardOutputStatus();
}

bool outputPipeClosed() {
  pollfd p{STDOUT_FILENO, 0, 0};
  return ::poll(&p, 1, 0) == 1 && (p.revents & POLLERR) != 0;
}

int sayDamaged(app::Notifier& n, const std::vector<std::string>& damaged) {
  for (const auto& d : damaged) n.error(d);
  return damaged.empty() ? kExitOk : kExitFailure;
}

CancelOnSignals::CancelOnSignals() {
  interrupted.store(0);
  struct sigaction sa {};
  sa.sa_handler = onInterrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, &oldInt);
  sigaction(SIGTERM, &sa, &oldTerm);
}

CancelOnSignals::~CancelOnSignals() {
  sigaction(SIGINT, &oldInt, nullptr);
  sigaction(SIGTERM, &oldTerm, nullptr);
}

namespace {

const App* speaking = nullptr;

std::string describe(const CatalogDocument& doc, xmlNode* n) {
  bool cat = CatalogDocument::isCategory(n);
  long long raw = CatalogDocument::rawNumber(n);
  return "#" + (raw < 0 ? std::string("?") : std::to_string(raw)) + " \"" +
         doc.field(n, cat ? catalog::kCategoryName : catalog::kLabel) + "\" (" +
         (cat ? "category" : "disc or folder") + ")";
}

}  // namespace

void setLanguage(const App* app) { speaking = app; }

std::string fillIn(std::string text, std::initializer_list<std::string> values) {
  return app::fillIn(std::move(text), values);
}

std::string errorPrefix() { return "tamber: " + say(app::kTextErrorWord) + ": "; }
std::string warningPrefix() { return "tamber: " + say(app::kTextWarningWord) + ": "; }

std::string unknownName(int id, const std::string& name, const std::string& near) {
  return say(id, {name}) + (near.empty() ? "" : say(app::kTextDidYouMean, {near}));
}

namespace {

// Outside a command (before it started, after it ended): the language the
// environment asks for.
const std::string& environmentLanguage() {
  static const std::string code = app::chooseLanguage("", app::resourceDirectory());
  return code;
}

const app::LanguageResources& texts() {
  if (speaking) return speaking->language();
  static const app::LanguageResources fallback = [] {
    app::LanguageResources r;
    (void)r.load(app::resourceDirectory(), environmentLanguage());
    return r;
  }();
  return fallback;
}

}  // namespace

std::string say(int id, std::initializer_list<std::string> values) { return fillIn(texts().text(id), values); }

std::string languageCode() {
  // Found without reading the language's texts: every start asks this,
  // few need the texts.
  return speaking ? speaking->language().code() : environmentLanguage();
}

std::string spoken(const std::string& message) { return app::spokenText(texts(), message); }

Status writePictureFile(std::string_view bytes, const std::string& out) {
  auto target = scan::pictureFormatForName(out);
  if (target == scan::PictureFormat::unknown) {
    return Error{Errc::invalid_argument, say(app::kTextPictureName, {out})};
  }
  auto encoded = scan::encodePictureAs(bytes, target);
  if (!encoded) return Error{Errc::invalid_argument, say(app::kTextPictureNotConverted, {out})};
  return writeFileAtomically(out, *encoded);
}

namespace {

// Characters a terminal acts on, or that change how the text around them
// reads: the C1 controls, the line and paragraph separators, the marks and
// embeddings that turn text round, and invisible ones that hide a name.
bool controlling(char32_t c) {
  return (c >= 0x80 && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F || c == 0x2028 || c == 0x2029 ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0xFEFF;
}

// The code point of the UTF-8 sequence at `p` (its length in `n`), or
// nothing when the bytes there are no valid sequence.
std::optional<char32_t> decodeAt(std::string_view text, size_t p, size_t& n) {
  auto b = static_cast<unsigned char>(text[p]);
  n = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
  if (n == 1 || b >= 0xF8 || p + n > text.size()) return std::nullopt;
  char32_t c = b & (0x7F >> n);
  for (size_t i = 1; i < n; ++i) {
    auto k = static_cast<unsigned char>(text[p + i]);
    if ((k & 0xC0) != 0x80) return std::nullopt;
    c = (c << 6) | (k & 0x3F);
  }
  static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kLeast[n] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return std::nullopt;
  return c;
}

}  // namespace

std::string escapeForTerminal(std::string_view text, bool keepLineBreaks) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (size_t p = 0; p < text.size();) {
    // Printable ASCII, most of most names, goes over in runs.
    size_t run = p;
    while (run < text.size() && static_cast<unsigned char>(text[run]) - 0x20u < 0x5Fu) ++run;
    if (run > p) {
      out.append(text.data() + p, run - p);
      p = run;
      continue;
    }
    auto b = static_cast<unsigned char>(text[p]);
    if (b == '\n') {
      out += keepLineBreaks ? "\n" : "\\n", ++p;
    } else if (b == '\t') {
      out += "\\t", ++p;
    } else if (b == '\r') {
      out += "\\r", ++p;
    } else if (b < 0x80) {
      out += "\\x";
      out.push_back(kHex[b >> 4]);
      out.push_back(kHex[b & 15]);
      ++p;
    } else {
      size_t n = 1;
      auto c = decodeAt(text, p, n);
      if (!c) {
        // A byte that starts no character (a lone 0x9B is a control on
        // some terminals).
        out += "\\x";
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 15]);
        ++p;
      } else if (controlling(*c)) {
        char code[16];
        std::snprintf(code, sizeof code, "\\u%04x", static_cast<unsigned>(*c));
        out += code;
        p += n;
      } else {
        out.append(text.substr(p, n));
        p += n;
      }
    }
  }
  return out;
}

std::string unescapeFromTerminal(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  auto hex = [&](size_t at, size_t n, unsigned long& v) {
    if (at + n > text.size()) return false;
    v = 0;
    for (size_t i = at; i < at + n; ++i) {
      char c = text[i];
      int d = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
      if (d < 0) return false;
      v = v * 16 + static_cast<unsigned long>(d);
    }
    return true;
  };
  for (size_t p = 0; p < text.size();) {
    unsigned long v = 0;
    if (text[p] != '\\' || p + 1 == text.size()) {
      out.push_back(text[p++]);
    } else if (text[p + 1] == 'n' || text[p + 1] == 't' || text[p + 1] == 'r') {
      out.push_back(text[p + 1] == 'n' ? '\n' : text[p + 1] == 't' ? '\t' : '\r');
      p += 2;
    } else if (text[p + 1] == 'x' && hex(p + 2, 2, v)) {
      out.push_back(static_cast<char>(v));
      p += 4;
    } else if (text[p + 1] == 'u' && hex(p + 2, 4, v)) {
      appendUtf8(out, static_cast<char32_t>(v));
      p += 6;
    } else {
      out.push_back(text[p++]);
    }
  }
  return out;
}

std::string pathAsTyped(catalog::Library& library, const std::string& text) {
  if (text.find('\\') == std::string::npos) return text;
  auto names = [&](const std::string& path) {
    auto& doc = library.catalog();
    std::vector<std::string> steps;
    auto t = resolve(doc, path, Prefer::item, &steps);
    if (!t) return false;
    if (!t->isItem() || steps.empty()) return true;
    auto c = scan::collectBelow(library.file().root(), t->category, t->number, steps, 0);
    return c && c->found;
  };
  if (names(text)) return text;
  std::string plain = unescapeFromTerminal(text);
  return plain != text && names(plain) ? plain : text;
}

Result<Target> resolve(CatalogDocument& doc, const std::string& text, Prefer prefer,
                       std::vector<std::string>* rest) {
  Target t;
  xmlNode* node = doc.root();
  for (std::string_view piece : splitNonEmpty(text, '/')) {
    std::string step(piece);
    if (t.isItem()) {
      if (!rest) return Error{Errc::not_found, say(app::kTextNoSuchStep, {text, step})};
      rest->push_back(std::move(step));
      continue;
    }
    std::vector<xmlNode*> matches;
    bool byNumber = false;
    if (step.size() > 1 && step[0] == '#') {
      char* end = nullptr;
      errno = 0;
      long long n = std::strtoll(step.c_str() + 1, &end, 10);
      byNumber = *end == '\0' && errno == 0;
      for (xmlNode* c = node->children; byNumber && c; c = c->next) {
        if ((CatalogDocument::isCategory(c) || CatalogDocument::isItem(c)) &&
            CatalogDocument::rawNumber(c) == n) {
          matches.push_back(c);
        }
      }
    }
    if (!byNumber) {
      // The name as typed; else the same name letter case aside ("music"
      // finds "Music", "été" finds "Été").
      for (int folded = 0; folded < 2 && matches.empty(); ++folded) {
        std::string wanted = folded ? foldCase(step) : step;
        for (xmlNode* c = node->children; c; c = c->next) {
          bool cat = CatalogDocument::isCategory(c);
          if (!cat && !CatalogDocument::isItem(c)) continue;
          std::string name = doc.field(c, cat ? catalog::kCategoryName : catalog::kLabel);
          if ((folded ? foldCase(name) : name) == wanted) matches.push_back(c);
        }
      }
    }
    if (matches.size() == 2 && prefer != Prefer::none &&
        CatalogDocument::isCategory(matches[0]) != CatalogDocument::isCategory(matches[1])) {
      bool wantCategory = prefer == Prefer::category;
      if (CatalogDocument::isCategory(matches[0]) != wantCategory) std::swap(matches[0], matches[1]);
      matches.pop_back();
    }
    if (matches.empty()) {
      return Error{Errc::not_found, say(app::kTextNoSuchStep, {text, step})};
    }
    if (matches.size() > 1) {
      std::string list;
      for (xmlNode* m : matches) list += "\n  " + describe(doc, m);
      return Error{Errc::invalid_argument,
                   say(app::kTextAmbiguousStep, {text, step, std::to_string(matches.size())}) + list};
    }
    xmlNode* next = matches.front();
    if (CatalogDocument::isItem(next)) {
      t.item = true;
      t.number = CatalogDocument::numberOf(next);
    } else {
      t.category.push_back(CatalogDocument::numberOf(next));
    }
    node = next;
  }
  t.node = node;
  return t;
}

Result<ItemPath> makeCategoryPath(CatalogDocument& doc, const std::string& text,
                                  const std::string& comment) {
  auto steps = splitNonEmpty(text, '/');
  if (steps.empty()) return Error{Errc::invalid_argument, say(app::kTextCategoryNameNeeded)};
  ItemPath path;
  for (size_t i = 0; i < steps.size(); ++i) {
    auto r = doc.addCategory(path, steps[i], i + 1 == steps.size() ? comment : "");
    if (!r) return r.error();
    path.push_back(r.value());
  }
  return path;
}

std::string itemPathText(const CatalogDocument& doc, const ItemPath& category, uint16_t number) {
  std::string out;
  ItemPath walk;
  for (uint16_t n : category) {
    walk.push_back(n);
    out += doc.field(doc.category(walk), catalog::kCategoryName) + "/";
  }
  return out + doc.field(doc.item(category, number), catalog::kLabel);
}

std::string libraryOrDefault(App& app, const Globals& g) {
  if (!g.library.empty()) return g.library;
  std::string standard = app.settings().getText("App-Preference", "DefaultLib");
  return standard.empty() ? app::defaultLibraryPath().string() : standard;
}

}  // namespace tamber::cli
