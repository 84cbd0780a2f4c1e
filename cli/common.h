// What the command groups share: the global options, the console notifier,
// ITEM resolution and running a command with the library open.
#pragma once

#include <unistd.h>

#include <iostream>
#include <memory>
#include <string>

#include "app/app.h"
#include "catalog/catalog_document.h"
#include "commands.h"

namespace tamber::cli {

using app::App;
using catalog::CatalogDocument;
using catalog::ItemPath;

class ConsoleNotifier final : public app::Notifier {
 public:
  explicit ConsoleNotifier(const bool& yes) : yes_(yes) {}
  void error(const std::string& m) override { std::cerr << "tamber: " << m << "\n"; }
  void info(const std::string& m) override { std::cout << m << "\n"; }
  bool ask(const std::string& q) override {
    if (yes_) return true;
    if (!isatty(STDIN_FILENO)) {
      std::cerr << q << " [y/N] no (not a terminal; use --yes)\n";
      return false;
    }
    std::cerr << q << " [y/N] " << std::flush;
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
};


// A resolved ITEM: a category (number 0) or a disc/folder in `category`.
struct Target {
  ItemPath category;
  uint16_t number = 0;
  xmlNode* node = nullptr;
  bool isItem() const { return number != 0; }
};

// ITEM is a path of steps from a top-level category down, joined by "/":
// each step is a category name or a disc/folder label (exact), or "#N".
Result<Target> resolve(CatalogDocument& doc, const std::string& text);

// Creates each missing category of a "/"-joined path (names compared without
// case); the comment goes to the last one when it is created. Returns the
// path's numbers.
Result<ItemPath> makeCategoryPath(CatalogDocument& doc, const std::string& text,
                                  const std::string& comment);

// Runs `body` with the application started and the library open; saves and
// shuts down after it. Returns the exit status.
template <class F>
int withLibrary(const Globals& g, F&& body, bool needLibrary = true) {
  ConsoleNotifier notifier(g.yes);
  App app;
  if (Status st = app.start({g.config}); !st) {
    notifier.error(st.message());
    return kExitFailure;
  }
  if (needLibrary) {
    if (Status st = app.openLibrary(g.library); !st) {
      notifier.error(st.message());
      (void)app.shutdown();
      return kExitFailure;
    }
  }
  int rc = body(app, notifier);
  if (Status st = app.shutdown(); !st) {
    notifier.error(st.message());
    if (rc == kExitOk) rc = kExitFailure;
  }
  return rc;
}

}  // namespace tamber::cli
