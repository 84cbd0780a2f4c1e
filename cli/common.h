// What the command groups share: the global options, the console notifier,
// ITEM resolution and running a command with the library open.
#pragma once

#include <signal.h>
#include <unistd.h>

#include <atomic>

#include <initializer_list>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "app/app.h"
#include "catalog/catalog_document.h"
#include "commands.h"
#include "platform/atomic_file.h"

namespace tamber::app {
class SharedCatalogue;
}

namespace tamber::cli {

using app::App;
using catalog::CatalogDocument;
using catalog::ItemPath;

// A name as text output prints it: control characters (a newline in a label)
// escaped as \n, \t, \r or \xHH, so that one entry stays one line; the
// characters a terminal acts on or that turn text round (C1 controls such as
// U+009B, U+2028, U+202E ...) as \uXXXX, and bytes that start no character
// as \xHH. With `keepLineBreaks`, a message's own line breaks stay.
std::string escapeForTerminal(std::string_view text, bool keepLineBreaks = false);
// The name such an escape stood for (\n, \t, \r, \xHH, \uXXXX undone).
std::string unescapeFromTerminal(std::string_view text);

// Messages in the user's language: the texts of the running App (outside
// one, of the language the environment names), each "%s" filled in turn.
void setLanguage(const App* app);
std::string fillIn(std::string text, std::initializer_list<std::string> values);
std::string say(int id, std::initializer_list<std::string> values = {});
// The code of the language the command line speaks ("en", "fr", "it").
std::string languageCode();
// An engine message of fixed wording in the user's language (others as
// they are).
std::string spoken(const std::string& message);
// "tamber: error: " and "tamber: warning: " in the user's language.
std::string errorPrefix();
std::string warningPrefix();
// "unknown command 'x'; did you mean 'y'?": the text `id` about `name`,
// with the nearest known name when there is one.
std::string unknownName(int id, const std::string& name, const std::string& near);

class ConsoleNotifier final : public app::Notifier {
 public:
  explicit ConsoleNotifier(const bool& yes) : yes_(yes) {}
  // Messages may quote what a disc or a server said: escaped as names are.
  void error(const std::string& m) override {
    std::cerr << errorPrefix() << escapeForTerminal(spoken(m), true) << "\n";
  }
  void info(const std::string& m) override { std::cout << m << "\n"; }
  bool ask(const std::string& q) override {
    if (yes_) return true;
    // The answers it offers in the user's language ("[y/N]").
    const std::string yesNo = say(app::kTextYesNo);
    if (!isatty(STDIN_FILENO)) {
      std::cerr << q << " " << yesNo << " " << say(app::kTextNotATerminal) << "\n";
      return false;
    }
    std::cerr << q << " " << yesNo << " " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    return !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y' || answer[0] == 'o' ||
                               answer[0] == 'O' || answer[0] == 's' || answer[0] == 'S');
  }

 private:
  const bool& yes_;
};

struct Globals {
  std::string library;
  std::string config;
  bool yes = false;
  bool json = false;
  bool quiet = false;
};



// A resolved ITEM: the root (an empty path), a category or a disc/folder.
struct Target {
  ItemPath category;     // the category itself, or the item's category
  uint16_t number = 0;   // the item's number (0 when it has no usable one)
  xmlNode* node = nullptr;
  bool item = false;
  bool isItem() const { return item; }
};


// Writes picture bytes to `out` in the encoding its name asks for (".png",
// ".jpg"), complete or not at all: through an unnamed file put in place.
Status writePictureFile(std::string_view bytes, const std::string& out);

// Which of a category and an item of the same name a step takes.
enum class Prefer { none, category, item };

// ITEM is a path of steps from a top-level category down, joined by "/":
// each step is a category name or a disc/folder label (exact), or "#N".
// A step that matches more than one entry is an error that lists them,
// unless `prefer` settles a category/item pair. With `rest`, the steps after
// a disc or folder are the path inside it and go there.
Result<Target> resolve(CatalogDocument& doc, const std::string& text, Prefer prefer = Prefer::none,
                       std::vector<std::string>* rest = nullptr);
// A path as ls and find print it, escapes included, given back: the text
// itself when it names something, else the name its escapes stand for when
// that does (a name may hold a backslash of its own).
std::string pathAsTyped(catalog::Library& library, const std::string& text);
inline std::string pathAsTyped(App& app, const std::string& text) { return pathAsTyped(*app.library(), text); }

// Creates each missing category of a "/"-joined path (names compared without
// case); the comment goes to the last one when it is created. Returns the
// path's numbers.
Result<ItemPath> makeCategoryPath(CatalogDocument& doc, const std::string& text,
                                  const std::string& comment);

// Where a command writes a document: a new file put in place when
// complete (-o FILE), or standard output (no file).
class Output {
 public:
  static Result<Output> open(const std::string& path);
  bool toFile() const { return file_.has_value(); }
  Status write(std::string_view bytes);
  // Puts the file in place (nothing to do for standard output).
  Status finish();

 private:
  std::optional<AtomicFile> file_;
};

// Whether standard output is a pipe whose reader is gone (`| head` that
// ended): long work that writes there can stop before its next write.
bool outputPipeClosed();

// Connects to the shared catalogue at `url` and counts the libraries it
// holds. On failure says why and sets `rc`: 2 for an address that cannot be
// used (one holding a password), else 1.
std::unique_ptr<app::SharedCatalogue> connectToServer(const std::string& url, app::Notifier& n, int& rc,
                                                      size_t& libraries);

// The item's path for messages: category names and the label.
std::string itemPathText(const CatalogDocument& doc, const ItemPath& category, uint16_t number);

// The library of -L, or else the one the program opens by default (the
// setting DefaultLib, or the standard place), as a path.
std::string libraryOrDefault(App& app, const Globals& g);

// Names each damaged listing an export or report went past (the output
// holds the others): kExitFailure when there was one, else kExitOk.
int sayDamaged(app::Notifier& n, const std::vector<std::string>& damaged);

// The signal that asked a job to stop (SIGINT, SIGTERM), or 0.
extern std::atomic<int> interrupted;

// Ctrl-C and SIGTERM cancel a job cleanly while this lives, from the start
// of the command on: one that comes before the work cancels it at once. A
// second one ends the program.
struct CancelOnSignals {
  struct sigaction oldInt {}, oldTerm {};
  CancelOnSignals();
  ~CancelOnSignals();
};

// What a command does with the library.
enum class Access {
  none,    // the library is not opened
  look,    // the library is not opened, and the command only views other files
  view,    // read-only, shared with other viewers; never changes the file
  change,  // exclusive; refused at once on a library that cannot be written
};

// Runs `body` with the application started and the library open. What the
// body changed is saved only when it succeeds: a failing command changes
// nothing. Returns the exit status.
template <class F>
int withLibrary(const Globals& g, F&& body, Access access = Access::change) {
  ConsoleNotifier notifier(g.yes);
  App app;
  if (Status st = app.start({g.config}); !st) {
    notifier.error(st.message());
    return kExitFailure;
  }
  struct Speaking {
    explicit Speaking(const App& a) { setLanguage(&a); }
    ~Speaking() { setLanguage(nullptr); }
  } speaking(app);
  if (!app.settings().warning().empty()) std::cerr << warningPrefix() << app.settings().warning() << "\n";
  if (access == Access::view || access == Access::change) {
    if (Status st = app.openLibrary(g.library, access == Access::view); !st) {
      notifier.error(st.message());
      app.abandon();
      return kExitFailure;
    }
    if (access == Access::change && app.library()->readOnly()) {
      notifier.error(app.library()->path().string() + ": " + app.text(app::kTextLibraryReadOnly));
      app.abandon();
      return kExitFailure;
    }
  }
  int rc = body(app, notifier);
  if (rc != kExitOk) {
    app.abandon();
    return rc;
  }
  if (Status st = app.shutdown(); !st) {
    // A viewing command's result stands: settings it could not keep (the
    // search history in a folder it may not write) are a warning.
    if (access == Access::view || access == Access::look) {
      std::cerr << warningPrefix() << escapeForTerminal(st.message(), true) << "\n";
    } else {
      notifier.error(st.message());
      rc = kExitFailure;
    }
  }
  return rc;
}

}  // namespace tamber::cli
