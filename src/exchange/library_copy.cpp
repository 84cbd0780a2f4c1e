// Library export and import: categories, discs and folders copied from one
// library file into another with their streams.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <unordered_map>

#include "catalog/catalog_document.h"
#include "catalog/names.h"
#include "exchange/exchange.h"
#include "platform/text.h"

namespace tamber::exchange {

namespace {

using catalog::CatalogDocument;
using catalog::ItemPath;
using catalog::StreamKind;

// A label that must be made distinct is cut to 49 characters before the
// item's summary is added to it; names and labels are otherwise copied
// whole (cutting them would lose what the user typed).
std::string cut49(const std::string& text) {
  size_t chars = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && ++chars > 49) return text.substr(0, i);
  }
  return text;
}

// A name as the command line could have given it: no "/" (it separates the
// steps of a path) and neither "." nor "..", which no one could name.
std::string usableName(std::string name) {
  for (auto& c : name) {
    if (c == '/') c = '_';
  }
  if (name == "." || name == "..") name = "_" + name;
  return name;
}

ItemPath pathOf(const CatalogDocument& doc, const xmlNode* category) {
  if (!category || category == doc.root()) return {};
  ItemPath path = doc.parentPath(category);
  path.push_back(CatalogDocument::numberOf(category));
  return path;
}

int countItems(const xmlNode* n) {
  int count = 0;
  for (const xmlNode* c = n->children; c; c = c->next) {
    if (CatalogDocument::isItem(c)) ++count;
    if (CatalogDocument::isCategory(c)) count += countItems(c);
  }
  return count;
}

class Copier {
 public:
  Copier(catalog::Library& from, catalog::Library& to, const Progress& progress, int total)
      : from_(from), to_(to), progress_(progress), total_(total) {}

  // Copies a category into `parent`, or merges it into the category of its
  // name there: its own discs and folders first, then the categories below.
  Status category(const xmlNode* source, xmlNode* parent) {
    CatalogDocument& doc = to_.catalog();
    std::string name = usableName(from_.catalog().field(source, catalog::kCategoryName));
    if (name.empty()) name = "Imported";
    // The category of that name, else one whose name differs only in letter
    // case, else a new one added as the last child.
    Names& names = namesBelow(parent);
    std::string safe = xmlSafe(name);
    xmlNode* target = nullptr;
    if (auto exact = names.exact.find(name); exact != names.exact.end()) {
      target = exact->second;
    } else if (auto folded = names.folded.find(foldCase(safe)); folded != names.folded.end()) {
      target = folded->second;
    } else {
      if (safe.empty()) safe = "Imported";
      auto number = nextNumber(parent);
      if (!number) return number.error();
      auto made = doc.appendCategory(parent, safe, from_.catalog().field(source, catalog::kComment), *number);
      if (!made) return made.error();
      target = *made;
      names.add(safe, target);
      names.greatest = *number;
      std::string created = from_.catalog().field(source, catalog::kCreated);
      if (!created.empty()) doc.setField(target, catalog::kCreated, created);
      ++copied.categories;
    }
    return contents(source, target);
  }

  // The discs and folders of `source`, then its categories, into `target`.
  Status contents(const xmlNode* source, xmlNode* target) {
    for (const xmlNode* n = source->children; n; n = n->next) {
      if (!CatalogDocument::isItem(n)) continue;
      if (progress_ && !progress_(done_, total_)) return Error{Errc::io, "stopped"};
      if (Status st = item(n, target); !st) return st;
      ++done_;
    }
    for (const xmlNode* n = source->children; n; n = n->next) {
      if (!CatalogDocument::isCategory(n)) continue;
      if (Status st = category(n, target); !st) return st;
    }
    if (progress_) progress_(done_, total_);
    return {};
  }

  Copied copied;

 private:
  // What the copy asks of one category of the target, again and again:
  // the names of the categories in it, the labels of its discs and folders
  // and the greatest number taken there. Indexed once and kept up to date by
  // the copy, which is then linear however many stand side by side.
  struct Names {
    std::unordered_map<std::string, xmlNode*> exact, folded;  // folded: the first of that name
    std::unordered_map<std::string, const xmlNode*> labels;
    unsigned greatest = 0;
    void add(const std::string& name, xmlNode* node) {
      exact.emplace(name, node);
      folded.emplace(foldCase(name), node);
    }
  };
  Names& namesBelow(xmlNode* parent) {
    auto [at, fresh] = names_.try_emplace(parent);
    if (fresh) {
      Names& names = at->second;
      for (xmlNode* n = parent->children; n; n = n->next) {
        if (CatalogDocument::isCategory(n)) names.add(to_.catalog().field(n, catalog::kCategoryName), n);
        if (CatalogDocument::isItem(n)) names.labels.emplace(to_.catalog().field(n, catalog::kLabel), n);
        if (CatalogDocument::isCategory(n) || CatalogDocument::isItem(n)) {
          names.greatest = std::max<unsigned>(names.greatest, CatalogDocument::numberOf(n));
        }
      }
    }
    return at->second;
  }
  // The number the next category, disc or folder in `parent` gets.
  Result<uint16_t> nextNumber(xmlNode* parent) {
    Names& names = namesBelow(parent);
    if (names.greatest >= 65535) return to_.catalog().nextItemNumber(parent);  // its error
    return static_cast<uint16_t>(names.greatest + 1);
  }
  std::unordered_map<const xmlNode*, Names> names_;

  // A label not yet taken in `category`: the label with the item's summary
  // ("Holiday (650M 12 track(s))"), and a number after it while that is
  // taken too.
  std::string distinctLabel(const xmlNode* source, xmlNode* category, const std::string& label) {
    std::string summary = from_.catalog().itemSummary(source);
    // The summary ends with the quoted label, already in front.
    if (size_t quote = summary.find('"'); quote != std::string::npos) summary.erase(quote);
    while (!summary.empty() && summary.back() == ' ') summary.pop_back();
    std::string collapsed;
    for (char c : summary) {
      if (c == ' ' && !collapsed.empty() && collapsed.back() == ' ') continue;
      collapsed += c;
    }
    std::string base = label + " (" + (collapsed.empty() ? std::string("imported") : collapsed) + ")";
    std::string candidate = base;
    const Names& names = namesBelow(category);
    for (int n = 2; names.labels.count(candidate); ++n) candidate = base + " " + std::to_string(n);
    return candidate;
  }

  // The streams an item answers to, as (kind, part).
  static std::vector<std::pair<StreamKind, int>> streamSlots(const CatalogDocument& doc, const xmlNode* item) {
    std::vector<std::pair<StreamKind, int>> slots{{StreamKind::listing, 0}};
    long parts = std::strtol(doc.field(item, catalog::kListingParts).c_str(), nullptr, 10);
    for (long k = 1; k <= std::min(parts, 65535L); ++k) slots.emplace_back(StreamKind::listing, static_cast<int>(k));
    for (auto kind : {StreamKind::thumbnails, StreamKind::archives, StreamKind::cover}) slots.emplace_back(kind, 0);
    return slots;
  }

  static Status copyStream(storage::Storage from, const std::string& fromName, storage::Storage to,
                           const std::string& toName) {
    auto in = from.openStream(fromName);
    if (!in) return in.error();
    auto out = to.createStream(toName);
    if (!out) return out.error();
    std::string buffer(1 << 20, '\0');
    while (true) {
      auto n = in->read(buffer.data(), buffer.size());
      if (!n) return n.error();
      if (*n == 0) break;
      if (Status st = out->write(buffer.data(), *n); !st) return st;
    }
    return out->commit();
  }

  // Copies a disc or folder, its streams first: when one cannot be copied,
  // those copied are removed and the catalog is left as it was.
  Status item(const xmlNode* source, xmlNode* category) {
    CatalogDocument& doc = to_.catalog();
    std::string label = usableName(from_.catalog().field(source, catalog::kLabel));
    Names& names = namesBelow(category);
    bool taken = names.labels.count(label) != 0;
    if (taken) label = distinctLabel(source, category, cut49(label));
    auto number = nextNumber(category);
    if (!number) return number.error();
    ItemPath targetPath = pathOf(doc, category);

    std::vector<std::string> made;
    storage::Storage fromRoot = from_.file().root(), toRoot = to_.file().root();
    long long raw = CatalogDocument::rawNumber(source);
    if (raw >= 1 && raw <= 65535) {
      ItemPath sourcePath = from_.catalog().parentPath(source);
      for (const auto& [kind, part] : streamSlots(from_.catalog(), source)) {
        std::string fromName = catalog::streamName(kind, sourcePath, static_cast<uint16_t>(raw), part);
        if (!fromRoot.contains(fromName)) continue;
        std::string toName = catalog::streamName(kind, targetPath, *number, part);
        // The number is new in its category: a stream of its name can only
        // be left over from work that never finished.
        if (toRoot.contains(toName)) (void)toRoot.destroy(toName);
        Status st = copyStream(fromRoot, fromName, toRoot, toName);
        if (st) made.push_back(toName);
        if (!st) {
          (void)toRoot.destroy(toName);
          for (const std::string& name : made) (void)toRoot.destroy(name);
          return Error{st.error().code, "\"" + label + "\" could not be copied: " + st.message()};
        }
      }
    }
    xmlNode* copy = xmlDocCopyNode(const_cast<xmlNode*>(source), category->doc, 1);
    if (!copy || !xmlAddChild(category, copy)) {
      if (copy) xmlFreeNode(copy);
      for (const std::string& name : made) (void)toRoot.destroy(name);
      return Error{Errc::io, "\"" + label + "\" could not be copied: out of memory"};
    }
    CatalogDocument::setAttribute(copy, catalog::nameCode(catalog::kNumber), std::to_string(*number));
    doc.setField(copy, catalog::kLabel, label);
    doc.setModified();
    names.labels.emplace(label, copy);
    names.greatest = *number;
    if (!made.empty()) to_.noteStreamsChanged();
    ++copied.items;
    if (taken) ++copied.relabelled;
    return {};
  }

  catalog::Library& from_;
  catalog::Library& to_;
  const Progress& progress_;
  int total_;
  int done_ = 0;
};

}  // namespace

std::string withFileName(const char* message, const std::filesystem::path& file) {
  std::string text = message;
  if (size_t at = text.find("%s"); at != std::string::npos) text.replace(at, 2, file.string());
  return text;
}

bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
  struct ::stat sa {}, sb{};
  if (::stat(a.c_str(), &sa) != 0 || ::stat(b.c_str(), &sb) != 0) return false;
  return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

Result<Copied> exportLibrary(catalog::Library& library, const xmlNode* category,
                             const std::filesystem::path& target, const Progress& progress) {
  if (!category || !CatalogDocument::isCategory(category)) return Error{Errc::invalid_argument, "no such category"};
  if (sameFile(target, library.path())) {
    return Error{Errc::invalid_argument, "the open library cannot be exported onto itself"};
  }
  // The new library is made in an unnamed file beside the target and put in
  // its place, with the replaced file's mode, when complete: a failed or
  // killed export leaves nothing behind.
  std::error_code ec;
  if (std::filesystem::is_directory(target, ec)) return Error{Errc::io, withFileName(kExportCannotCreate, target)};
  AtomicFile file;
  auto made = catalog::Library::createUnnamed(target, file);
  if (!made) return Error{made.error().code, withFileName(kExportCannotCreate, target)};
  catalog::Library& out = **made;
  Copier copier(library, out, progress, countItems(category));
  if (Status st = copier.category(category, out.catalog().root()); !st) return st.error();
  if (Status st = out.save(); !st) return Error{st.error().code, withFileName(kExportCannotSave, target)};
  if (Status st = file.commit(); !st) return Error{st.error().code, withFileName(kExportCannotSave, target) + " " + st.message()};
  return copier.copied;
}

Result<Copied> importLibrary(catalog::Library& library, const std::filesystem::path& source, xmlNode* into,
                             const Progress& progress, Copied* copiedSoFar) {
  std::error_code ec;
  if (!std::filesystem::exists(source, ec)) return Error{Errc::not_found, withFileName(kImportMissing, source)};
  if (sameFile(source, library.path())) {
    return Error{Errc::invalid_argument, "the open library cannot be imported into itself"};
  }
  if (!std::filesystem::is_regular_file(source, ec)) return Error{Errc::corrupt, withFileName(kImportCorrupt, source)};
  auto opened = catalog::Library::open(source, true);
  if (!opened) return Error{Errc::corrupt, withFileName(kImportCorrupt, source)};
  catalog::Library& from = **opened;
  xmlNode* target = into ? into : library.catalog().root();
  Copier copier(from, library, progress, countItems(from.catalog().root()));
  Status st = copier.contents(from.catalog().root(), target);
  if (copiedSoFar) *copiedSoFar = copier.copied;
  if (!st) return st.error();
  return copier.copied;
}

}  // namespace tamber::exchange
