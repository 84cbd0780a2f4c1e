// tamber new|default|recent|info|tree|mkcat|rename|mv|rm|set|cover|show|config
//
// ITEM is a path of steps from a top-level category down, joined by "/":
// each step is a category name or a disc/folder label (exact), or "#N" for
// item number N ("Music/Rock/#3").

#include <algorithm>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

#include "app/app.h"
#include "app/item_edit.h"
#include "app/setting_keys.h"
#include "browse.h"
#include "catalog/library_tree.h"
#include "commands.h"
#include "common.h"
#include "help.h"
#include "disc/track.h"
#include "platform/json.h"
#include "platform/atomic_file.h"
#include "platform/hex_time.h"
#include "platform/text.h"
#include "scan/image_info.h"

#include <cmath>
#include <optional>

namespace tamber::cli {

namespace {

using app::formatPrice;

void printTree(const std::vector<catalog::TreeNode>& nodes, App& app, int depth) {
  for (const auto& n : nodes) {
    std::cout << std::string(depth * 2, ' ') << "#" << n.number << " " << escapeForTerminal(n.caption);
    if (n.isCategory) {
      std::cout << "/";
    } else if (n.kind >= 0 && n.kind <= catalog::kMaxKind) {
      std::cout << "  (" << app.text(app::kTextKindBase + n.kind) << ")";
    }
    std::cout << "\n";
    printTree(n.children, app, depth + 1);
  }
}

std::string treeJson(const std::vector<catalog::TreeNode>& nodes, const App& app) {
  std::string out = "[";
  for (size_t i = 0; i < nodes.size(); ++i) {
    const auto& n = nodes[i];
    if (i) out += ",";
    out += "{\"number\":" + std::to_string(n.number) + ",\"type\":" +
           (n.isCategory ? "\"category\"" : "\"item\"") + ",\"name\":" + jsonString(n.caption) +
           ",\"caption\":" + jsonString(n.caption);
    if (!n.isCategory) out += ",\"kind\":" + kindJson(app, n.kind) + ",\"kindCode\":" + std::to_string(n.kind);
    if (n.isCategory) out += ",\"children\":" + treeJson(n.children, app);
    out += "}";
  }
  return out + "]";
}

int saved(App& app, app::Notifier& n) {
  if (Status st = app.saveLibrary(); !st) {
    n.error(st.message());
    return kExitFailure;
  }
  return kExitOk;
}

// SECTION and KEY as the setting is named: as the program knows it, else as
// it is stored (letter case aside); the known setting, or null.
const app::SettingKey* canonicalSetting(const app::SettingsStore& settings, std::string& section, std::string& key) {
  if (const app::SettingKey* k = app::findSettingKey(section, key)) {
    section = k->section;
    key = k->key;
    return k;
  }
  if (!settings.has(section, key)) {
    if (auto stored = settings.findIgnoringCase(section, key)) {
      section = stored->section;
      key = stored->key;
    }
  }
  return nullptr;
}

}  // namespace

std::shared_ptr<Globals> registerGlobalOptions(CLI::App& cli) {
  auto g = std::make_shared<Globals>();
  // Given twice (an alias and the line typed after it), the last counts.
  cli.add_option("-L,--library", g->library, "Library file (default: the DefaultLib setting, "
                                             "else $XDG_DATA_HOME/tamber/library.cds)")
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  cli.add_option("--config", g->config, "Settings file")->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  cli.add_flag("-y,--yes", g->yes, "Answer yes to every question");
  cli.add_flag("--json", g->json, "Print data as JSON");
  cli.add_flag("-q,--quiet", g->quiet, "Print no progress");
  return g;
}

void registerCatalogCommands(CLI::App& cli, int& status, std::shared_ptr<Globals> g) {

  struct Args {
    std::string a, b, comment;
    std::vector<std::string> list;
    bool force = false;
    bool asInt = false;
  };
  auto args = std::make_shared<Args>();

  auto* mk = cli.add_subcommand("new", "Create a new, empty library file");
  mk->add_option("FILE", args->a, "Library file to create")->required();
  mk->add_flag("--force", args->force, "Replace an existing file");
  mk->callback([&status, g, args] {
    std::error_code ec;
    if (std::filesystem::exists(args->a, ec) && !args->force) {
      std::cerr << errorPrefix() << say(app::kTextExistsAlready, {args->a}) << "\n";
      status = kExitFailure;
      return;
    }
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      if (Status st = app.createLibrary(args->a); !st) {
        n.error(st.message());
        return kExitFailure;
      }
      n.info(fillIn(app.text(app::kTextLibraryCreated), {args->a}));
      return kExitOk;
    }, Access::none);
  });

  auto* def = cli.add_subcommand("default", "Show or set the library opened by default");
  def->add_option("FILE", args->a, "Library file (must exist)");
  def->callback([&status, g, args] {
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      if (args->a.empty()) {
        std::string current = app.settings().getText("App-Preference", "DefaultLib");
        std::cout << (current.empty() ? app::defaultLibraryPath().string() : current) << "\n";
        return kExitOk;
      }
      std::error_code ec;
      auto abs = std::filesystem::absolute(args->a, ec);
      if (!std::filesystem::exists(abs, ec)) {
        n.error(say(app::kTextNoSuchLibraryFile, {abs.string()}));
        return kExitFailure;
      }
      // It must open as a library (a FIFO, a device or another file is
      // refused at once, before anything is read from it).
      if (auto lib = catalog::Library::open(abs, true); !lib) {
        n.error(app.inUserLanguage(lib.error(), abs).message);
        return kExitFailure;
      }
      app.settings().putText("App-Preference", "DefaultLib", abs.string());
      return kExitOk;
    }, Access::none);
  });

  auto* recent = cli.add_subcommand("recent", "List the libraries opened last");
  recent->callback([&status, g] {
    status = withLibrary(*g, [&](App& app, app::Notifier&) {
      const auto& e = app.recent().entries();
      if (g->json) {
        std::string out = "[";
        for (size_t i = 0; i < e.size(); ++i) out += (i ? "," : "") + jsonString(e[i]);
        std::cout << out << "]\n";
      } else {
        for (const auto& p : e) std::cout << p << "\n";
      }
      return kExitOk;
    }, Access::none);
  });

  auto* info = cli.add_subcommand("info", "Library statistics");
  info->callback([&status, g] {
    status = withLibrary(*g, [&](App& app, app::Notifier&) {
      auto* lib = app.library();
      auto s = lib->catalog().libraryStatistics();
      if (g->json) {
        std::cout << "{\"library\":" << jsonString(lib->path().string())
                  << ",\"categories\":" << s.categories << ",\"discs\":" << s.discs
                  << ",\"folders\":" << s.folders << ",\"audioTracks\":" << s.audioTracks
                  << ",\"totalPrice\":" << formatPrice(s.totalPrice)
                  << ",\"readOnly\":" << (lib->writable() ? "false" : "true") << "}\n";
        return kExitOk;
      }
      // Counts and the price as the user's language writes numbers.
      const std::string& code = app.language().code();
      auto num = [&](uint64_t v) { return app::groupedNumber(v, code); };
      std::string price = formatPrice(s.totalPrice);
      if (code == "fr" || code == "it") std::replace(price.begin(), price.end(), '.', ',');
      auto label = [&](int id) { return app::withColon(app, app.text(id)) + " "; };
      std::cout << label(app::kTextLibrary) << lib->path().string()
                << (lib->writable() ? "" : " (" + app.text(app::kTextReadOnly) + ")") << "\n"
                << label(app::kTextCategories) << num(s.categories) << "\n"
                << label(app::kTextDiscs) << num(s.discs) << "\n"
                << label(app::kTextFolders) << num(s.folders) << "\n"
                << label(app::kTextAudioTracks) << num(s.audioTracks) << "\n"
                << label(app::kTextTotalPrice) << price << "\n";
      return kExitOk;
    }, Access::view);
  });

  auto* tree = cli.add_subcommand("tree", "Categories, discs and folders with their numbers");
  tree->add_option("CATEGORY", args->a, "Show only this category (path, names joined by /)");
  tree->callback([&status, g, args] {
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      auto& doc = app.library()->catalog();
      auto t = resolve(doc, args->a, Prefer::category);
      if (!t) {
        n.error(t.message());
        return kExitFailure;
      }
      if (t->isItem()) {
        n.error(say(app::kTextTreeOfItem, {args->a}));
        return kExitFailure;
      }
      auto nodes = catalog::buildLibraryTree(doc.currentText());
      if (!nodes) {
        n.error(nodes.message());
        return kExitFailure;
      }
      // The category's place among its siblings, level by level, leads to
      // its subtree (numbers may repeat in stored files; places do not).
      std::vector<size_t> places;
      for (xmlNode* at = t->node; at && at != doc.root(); at = at->parent) {
        size_t place = 0;
        for (xmlNode* c = at->parent ? at->parent->children : nullptr; c && c != at; c = c->next) {
          if (CatalogDocument::isCategory(c) || CatalogDocument::isItem(c)) ++place;
        }
        places.insert(places.begin(), place);
      }
      const std::vector<catalog::TreeNode>* level = &nodes.value();
      std::vector<catalog::TreeNode> one;
      for (size_t i = 0; i < places.size(); ++i) {
        if (places[i] >= level->size()) {
          n.error(say(app::kTextNoSuchStep, {args->a, args->a}));
          return kExitFailure;
        }
        if (i + 1 == places.size()) {
          one = {(*level)[places[i]]};
          level = &one;
        } else {
          level = &(*level)[places[i]].children;
        }
      }
      if (g->json) {
        std::cout << treeJson(*level, app) << "\n";
      } else {
        printTree(*level, app, 0);
      }
      return kExitOk;
    }, Access::view);
  });

  auto* mkcat = cli.add_subcommand("mkcat", "Create each missing category of PATH");
  mkcat->add_option("PATH", args->a, "Category path, names joined by /")->required();
  mkcat->add_option("--comment", args->comment, "Comment of the last category");
  mkcat->callback([&status, g, args] {
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      auto path = makeCategoryPath(app.library()->catalog(), args->a, args->comment);
      if (!path) {
        n.error(path.error().message);
        return path.error().code == Errc::invalid_argument ? kExitUsage : kExitFailure;
      }
      uint16_t number = path->back();
      if (int rc = saved(app, n); rc != kExitOk) return rc;
      std::cout << number << "\n";
      return kExitOk;
    });
  });

  auto* rename = cli.add_subcommand("rename", "Rename a category, disc or folder");
  rename->add_option("ITEM", args->a, "Item path")->required();
  rename->add_option("TEXT", args->b, "New name or label")->required();
  rename->callback([&status, g, args] {
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      auto& doc = app.library()->catalog();
      auto t = resolve(doc, args->a);
      if (!t || t->node == doc.root()) {
        n.error(t ? say(app::kTextLibraryItself) : t.message());
        return kExitFailure;
      }
      if (args->b.empty()) {
        n.error(say(app::kTextNameEmpty));
        return kExitUsage;
      }
      if (args->b.find('/') != std::string::npos) {
        n.error(say(app::kTextNameHoldsSlash));
        return kExitUsage;
      }
      if (!doc.rename(t->node, args->b)) {
        n.error(say(app::kTextCategoryNameTaken, {args->b}));
        return kExitFailure;
      }
      return saved(app, n);
    });
  });

  auto* mv = cli.add_subcommand("mv", "Move a category, disc or folder into a category");
  mv->add_option("ITEM", args->a, "Item path")->required();
  mv->add_option("CATEGORY", args->b, "Target category path (/ for the top level)")->required();
  mv->callback([&status, g, args] {
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      auto& doc = app.library()->catalog();
      auto src = resolve(doc, args->a);
      auto dst = resolve(doc, args->b, Prefer::category);
      if (!src || !dst) {
        n.error(!src ? src.message() : dst.message());
        return kExitFailure;
      }
      if (dst->isItem()) {
        n.error(say(app::kTextNotACategory, {args->b}));
        return kExitFailure;
      }
      if (src->node == doc.root()) {
        n.error(say(app::kTextLibraryItself));
        return kExitFailure;
      }
      auto r = app.library()->move(src->node, dst->category);
      if (!r) {
        n.error(r.message());
        return kExitFailure;
      }
      if (int rc = saved(app, n); rc != kExitOk) return rc;
      std::cout << r.value() << "\n";
      return kExitOk;
    });
  });

  auto* rm = cli.add_subcommand("rm", "Delete a category, disc or folder with its streams");
  rm->add_option("ITEM", args->a, "Item path")->required();
  rm->add_flag("-y,--yes", g->yes, "Delete without asking");
  rm->callback([&status, g, args] {
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      auto* lib = app.library();
      auto& doc = lib->catalog();
      auto t = resolve(doc, args->a);
      if (!t || t->node == doc.root()) {
        n.error(t ? say(app::kTextLibraryItself) : t.message());
        return kExitFailure;
      }
      std::string name = doc.field(t->node, t->isItem() ? catalog::kLabel : catalog::kCategoryName);
      int question = t->isItem() ? app::kTextConfirmDeleteItem : app::kTextConfirmDeleteCategory;
      if (!n.ask(fillIn(app.text(question), {name}))) {
        n.error(app.text(app::kTextCancelled));
        return kExitFailure;
      }
      Status st = lib->remove(t->node);
      if (!st) {
        n.error(st.message());
        return kExitFailure;
      }
      return saved(app, n);
    });
  });

  auto* set = cli.add_subcommand("set", "Set fields of a disc or folder (FIELD=VALUE)");
  set->add_option("ITEM", args->a, "Disc or folder path")->required();
  set->add_option("FIELDS", args->list,
                  "comment, location, price, and for audio discs artist, album, genre, year, "
                  "catalog")
      ->required();
  set->callback([&status, g, args] {
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      auto& doc = app.library()->catalog();
      auto t = resolve(doc, args->a, Prefer::item);
      if (!t || !t->isItem()) {
        n.error(t ? say(app::kTextNotAnItem, {args->a}) : t.message());
        return kExitFailure;
      }
      // Every field is checked before any is stored: all or nothing.
      std::vector<std::pair<std::string, std::string>> edits;
      for (const auto& assignment : args->list) {
        auto eq = assignment.find('=');
        if (eq == std::string::npos) {
          n.error(say(app::kTextNotAField, {assignment}));
          return kExitUsage;
        }
        edits.emplace_back(assignment.substr(0, eq), assignment.substr(eq + 1));
      }
      auto changes = app::checkItemEdits(app, doc, t->node, edits);
      if (!changes) {
        n.error(changes.message());
        return changes.error().code == Errc::unsupported ? kExitFailure : kExitUsage;
      }
      for (const auto& [field, value] : *changes) doc.setField(t->node, field, value);
      return saved(app, n);
    });
  });

  auto* cover = cli.add_subcommand("cover", "Store a picture as the cover of a disc or folder");
  cover->add_option("ITEM", args->a, "Disc or folder path")->required();
  cover->add_option("PICTURE", args->b, "Picture file")->required();
  cover->callback([&status, g, args] {
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      auto t = resolve(app.library()->catalog(), args->a, Prefer::item);
      if (!t || !t->isItem()) {
        n.error(t ? say(app::kTextNotAnItem, {args->a}) : t.message());
        return kExitFailure;
      }
      auto picture = readRegularFile(args->b, catalog::Library::kMaxCoverBytes);
      if (!picture) {
        n.error(picture.message());
        return kExitFailure;
      }
      if (!scan::isDecodablePicture(*picture)) {
        n.error(say(app::kTextNotAPicture, {args->b}));
        return kExitFailure;
      }
      if (Status st = app.library()->setCover(t->node, args->b); !st) {
        n.error(st.message());
        return kExitFailure;
      }
      return saved(app, n);
    });
  });

  auto* show = cli.add_subcommand("show", "Fields of a disc or folder, or a category's statistics");
  show->add_option("ITEM", args->a, "Item path")->required();
  show->callback([&status, g, args] {
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      auto& doc = app.library()->catalog();
      auto t = resolve(doc, args->a, Prefer::item);
      if (!t) {
        n.error(t.message());
        return kExitFailure;
      }
      // A category of the same name beside the item: say which one this is.
      if (t->isItem() && t->node->parent) {
        std::string label = doc.field(t->node, catalog::kLabel);
        for (xmlNode* c = t->node->parent->children; c; c = c->next) {
          if (CatalogDocument::isCategory(c) && doc.field(c, catalog::kCategoryName) == label) {
            std::cerr << "tamber: " << say(app::kTextNoteWord) << ": "
                      << say(app::kTextItemBesideCategory, {args->a, std::to_string(CatalogDocument::rawNumber(t->node)),
                                                            std::to_string(CatalogDocument::rawNumber(c))})
                      << "\n";
            break;
          }
        }
      }
      std::vector<std::pair<std::string, std::string>> rows;
      std::string scannedJson;  // what the scan read, as JSON strings
      if (t->isItem()) {
        rows.push_back({"number", std::to_string(CatalogDocument::rawNumber(t->node))});
        for (const auto& [name, field] : app::itemFields()) {
          std::string v = doc.field(t->node, field);
          if (!v.empty()) rows.push_back({name, v});
        }
        if (auto read = app::scanOptionsOf(doc, t->node)) {
          std::string v;
          for (const auto& o : *read) {
            v += (v.empty() ? "" : ", ") + o;
            scannedJson += (scannedJson.empty() ? "" : ",") + jsonString(o);
          }
          rows.push_back({"scanned", app::scanOptionsText(app, *read)});
        }
        // The volume it was read from, and when a verify last found it whole.
        for (auto& row : app::volumeFields(doc, t->node)) rows.push_back(std::move(row));
      } else if (t->node == doc.root()) {
        auto s = doc.libraryStatistics();
        rows = {{"categories", std::to_string(s.categories)},
                {"discs", std::to_string(s.discs)},
                {"folders", std::to_string(s.folders)},
                {"audioTracks", std::to_string(s.audioTracks)},
                {"totalPrice", formatPrice(s.totalPrice)}};
      } else {
        auto s = doc.categoryStatistics(t->node);
        rows = {{"number", std::to_string(t->category.back())},
                {"name", doc.field(t->node, catalog::kCategoryName)},
                {"discs", std::to_string(s.discs)},
                {"folders", std::to_string(s.folders)},
                {"audioTracks", std::to_string(s.audioTracks)},
                {"totalPrice", formatPrice(s.totalPrice)}};
        if (parseHexTime(s.created)) rows.push_back({"created", s.created});
        if (!s.comment.empty()) rows.push_back({"comment", s.comment});
      }
      // Counts, sizes, years and prices are numbers; the kind is a word
      // with its code beside it.
      static const std::set<std::string> numeric{
          "number", "capacityMB", "depth", "folders", "files", "tracks", "playingTime", "year",
          "price", "categories", "discs", "audioTracks", "totalPrice", "listingParts",
          "totalSpace", "usedSpace", "freeSpace"};
      if (g->json) {
        std::string out = "{\"type\":" + std::string(t->isItem() ? "\"item\"" : t->node == doc.root() ? "\"library\"" : "\"category\"");
        for (const auto& [key, value] : rows) {
          std::string json = jsonString(value);
          if (key == "created" || key == "lastVerified") {
            out += ",\"" + key + "\":" + isoTimeJson(value);
            continue;
          }
          if (key == "kind") {
            out += ",\"kind\":" + kindJson(app, std::atoi(value.c_str())) + ",\"kindCode\":" + value;
            continue;
          }
          if (key == "scanned") {
            // What the scan read besides names, as a list.
            out += ",\"scanned\":[" + scannedJson + "]";
            continue;
          }
          if (numeric.count(key)) {
            char* end = nullptr;
            double v = std::strtod(value.c_str(), &end);
            if (!value.empty() && *end == '\0' && std::isfinite(v)) json = value;
          }
          out += "," + jsonString(key) + ":" + json;
        }
        std::cout << out << "}\n";
      } else {
        // Each field named as the property page names it, in the user's
        // language (--json keeps the keys); a playing time in minutes and
        // seconds, as `disc` shows it (--json keeps the seconds).
        const std::string& code = app.language().code();
        for (const auto& [k, v] : rows) {
          std::string shown = k == "created"       ? localTimeText(v)
                              : k == "lastVerified" || k.ends_with("Space") ? app::volumeValueText(k, v)
                              : k == "kind"        ? kindText(app, std::atoi(v.c_str())) + " (" + v + ")"
                              : k == "playingTime" ? disc::trackLengthText(std::strtoull(v.c_str(), nullptr, 10) * 75)
                                                   : v;
          if (numeric.count(k) && k != "number" && k != "year" && !shown.empty() &&
              shown.find_first_not_of("0123456789") == std::string::npos) {
            shown = app::groupedNumber(std::strtoull(shown.c_str(), nullptr, 10), code);
          }
          if ((k == "price" || k == "totalPrice") && (code == "fr" || code == "it")) {
            std::replace(shown.begin(), shown.end(), '.', ',');
          }
          std::cout << app::withColon(app, app::itemFieldLabel(app, k)) << " " << escapeForTerminal(shown) << "\n";
        }
      }
      return kExitOk;
    }, Access::view);
  });

  auto* config = cli.add_subcommand("config", "Read or write a setting");
  config->require_subcommand(1);
  auto* get = config->add_subcommand("get", "Print a setting");
  get->add_option("SECTION", args->a)->required();
  get->add_option("KEY", args->b)->required();
  get->callback([&status, g, args] {
    status = withLibrary(*g, [&](App& app, app::Notifier&) {
      // Letter case is no part of a setting's name, for get as for set.
      std::string section = args->a, key = args->b;
      canonicalSetting(app.settings(), section, key);
      // A setting that is not stored prints nothing and fails, as git
      // config does, so scripts can tell it from an empty one.
      if (!app.settings().has(section, key)) return kExitFailure;
      std::cout << app.settings().getText(section, key) << "\n";
      return kExitOk;
    }, Access::none);
  });
  auto* keys = config->add_subcommand("keys", "List every setting the program reads: type, default, meaning");
  keys->callback([&status, g] {
    std::string out = g->json ? "[" : "";
    bool first = true;
    for (const app::SettingKey& k : app::settingKeys()) {
      if (g->json) {
        out += std::string(first ? "" : ",") + "{\"section\":" + jsonString(k.section) + ",\"key\":" +
               jsonString(k.key) + ",\"type\":" + jsonString(app::settingTypeName(k.type)) +
               ",\"default\":" + jsonString(k.fallback) + ",\"meaning\":" + jsonString(k.meaning) + "}";
      } else {
        std::string name = std::string(k.section) + " " + k.key;
        // The kind and meaning in the user's language (the JSON keeps them
        // as scripts know them).
        std::string type = helpWords(app::settingTypeName(k.type));
        if (*k.fallback) type = say(app::kTextSettingDefault, {type, k.fallback});
        out += name + "\n    " + app::withColon(languageCode(), type) + " " + helpWords(k.meaning) + "\n";
      }
      first = false;
    }
    std::cout << out << (g->json ? "]\n" : "");
    status = kExitOk;
  });
  auto* list = config->add_subcommand("list", "Print every setting, or those of one section");
  list->add_option("SECTION", args->a, "A section (and the sections below it)");
  list->callback([&status, g, args] {
    status = withLibrary(*g, [&](App& app, app::Notifier&) {
      auto entries = app.settings().entries(args->a);
      std::string out;
      if (g->json) {
        out = "[";
        for (size_t i = 0; i < entries.size(); ++i) {
          out += std::string(i ? "," : "") + "{\"section\":" + jsonString(entries[i].section) +
                 ",\"key\":" + jsonString(entries[i].key) + ",\"value\":" + jsonString(entries[i].value) + "}";
        }
        out += "]\n";
      } else {
        std::string section = "\x01";
        for (const auto& e : entries) {
          if (e.section != section) {
            section = e.section;
            out += (out.empty() ? "" : "\n") + std::string("[") + escapeForTerminal(section) + "]\n";
          }
          out += escapeForTerminal(e.key) + " = " + escapeForTerminal(e.value) + "\n";
        }
      }
      std::cout << out;
      return kExitOk;
    }, Access::none);
  });
  auto* put = config->add_subcommand("set", "Store a setting (see `tamber config keys`)");
  put->add_option("SECTION", args->a)->required();
  put->add_option("KEY", args->b)->required();
  put->add_option("VALUE", args->comment)->required();
  put->add_flag("--int", args->asInt, "Store the value as an integer (known settings take their own type)");
  put->add_flag("--force", args->force, "Store a setting the program does not know");
  put->callback([&status, g, args] {
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      if (!app.settings().savable()) {
        n.error(say(app::kTextSettingsNotChanged, {app.settings().path().string()}));
        return kExitFailure;
      }
      std::string section = args->a, key = args->b;
      const app::SettingKey* known = canonicalSetting(app.settings(), section, key);
      bool integer = args->asInt;
      if (known) {
        if (std::string why = app::settingValueProblem(*known, args->comment); !why.empty()) {
          n.error(say(app::kTextSettingDoesNotFit, {section + " " + key, args->comment, why}));
          return kExitUsage;
        }
        integer = known->type == app::SettingType::integer || known->type == app::SettingType::flag;
      } else if (!app::isLayoutSection(section) && !args->force) {
        std::vector<std::string> names;
        for (const app::SettingKey& k : app::settingKeys()) names.push_back(std::string(k.section) + " " + k.key);
        std::string close = nearest(section + " " + key, names);
        n.error(unknownName(app::kTextNoSuchSetting, section + " " + key, close) + " " + say(app::kTextConfigKeysHint));
        return kExitUsage;
      }
      if (integer) {
        errno = 0;
        char* end = nullptr;
        long v = std::strtol(args->comment.c_str(), &end, 10);
        if (*end != '\0' || args->comment.empty() || errno == ERANGE || v < INT32_MIN || v > INT32_MAX) {
          n.error(say(app::kTextNotAnInteger, {args->comment}));
          return kExitUsage;
        }
        app.settings().putInt(section, key, static_cast<int>(v));
      } else {
        app.settings().putText(section, key, args->comment);
      }
      return kExitOk;
    }, Access::none);
  });
}

}  // namespace tamber::cli
