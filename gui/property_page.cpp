#include "gui/property_page.h"

#include <QLocale>

#include <filesystem>
#include <map>

#include "app/presentation.h"
#include "catalog/catalog_document.h"
#include "disc/track.h"
#include "gui/gui_text.h"
#include "gui/texts.h"

namespace tamber::gui {

namespace {

using catalog::CatalogDocument;

// A page shows at most this much of one text: a text laid out as one
// unbroken line costs the layout time that grows faster than its length (a
// damaged library's label of a million letters held the window for minutes).
constexpr qsizetype kLongestText = 4000;
// and this many entries of an archive.
constexpr size_t kMostMembers = 5000;

QString esc(const std::string& s) { return shown(s, kLongestText).toHtmlEscaped(); }

// A page: a title and rows of name and value.
class Html {
 public:
  explicit Html(const QString& title) {
    html_ = "<html><body style='font-family: sans-serif'><h2>" + shown(title, kLongestText).toHtmlEscaped() + "</h2>";
  }
  void row(const QString& name, const QString& valueHtml) {
    if (valueHtml.isEmpty()) return;
    if (!open_) html_ += "<table cellspacing='0' cellpadding='3'>";
    open_ = true;
    html_ += "<tr><td style='color:#555'>" + name.toHtmlEscaped() + "</td><td>" + valueHtml + "</td></tr>";
  }
  void row(const QString& name, const std::string& value) { row(name, esc(value)); }
  void close() {
    if (open_) html_ += "</table>";
    open_ = false;
  }
  void raw(const QString& html) {
    close();
    html_ += html;
  }
  QString done() {
    close();
    return html_ + "</body></html>";
  }

 private:
  QString html_;
  bool open_ = false;
};

QString number(long long v) { return QLocale().toString(qlonglong(v)); }

// A recorded field's key as a person reads it: "bitsPerPixel" is "Bits per
// pixel", "capacityMB" "Capacity MB".
QString human(const std::string& key) {
  QString in = qs(key), out;
  for (int i = 0; i < in.size(); ++i) {
    QChar c = in[i];
    bool afterLower = i > 0 && in[i - 1].isLower();
    bool acronym = i + 1 < in.size() && in[i + 1].isUpper();
    if (c.isUpper() && afterLower) {
      out += ' ';
      out += acronym ? c : c.toLower();
    } else {
      out += i == 0 ? c.toUpper() : c;
    }
  }
  return out;
}

}  // namespace

QString libraryPage(const app::App& app, catalog::Library& library) {
  auto s = library.catalog().libraryStatistics();
  Html h(text(app, kLibrary));
  h.row(text(app, kLibraryFile), library.path().string());
  h.row(text(app, kStatCategories), number(s.categories));
  h.row(text(app, kStatDiscs), number(s.discs));
  h.row(text(app, kStatFolders), number(s.folders));
  h.row(text(app, kStatTracks), number(s.audioTracks));
  h.row(text(app, kStatPrice), QLocale().toString(s.totalPrice, 'f', 2));
  return h.done();
}

QString categoryPage(const app::App& app, catalog::Library& library, xmlNode* category) {
  auto& doc = library.catalog();
  auto s = doc.categoryStatistics(category);
  Html h(qs(doc.field(category, catalog::kCategoryName)));
  h.row(text(app, kStatDiscs), number(s.discs));
  h.row(text(app, kStatFolders), number(s.folders));
  h.row(text(app, kStatTracks), number(s.audioTracks));
  h.row(text(app, kStatPrice), QLocale().toString(s.totalPrice, 'f', 2));
  h.row(text(app, kColCreated), app::localTimeText(s.created));
  h.row(qs(app::propertyLabel(app, "comment")), s.comment);
  return h.done();
}

// A disc's or folder's field by its name in the user's language: the
// language texts follow the order of app::itemFields().
QString itemFieldName(const app::App& app, size_t index, const std::string& key) {
  const int id = kFieldLabel + static_cast<int>(index);
  return id <= kFieldListingParts ? text(app, static_cast<GuiText>(id)) : human(key);
}

QString recordedFieldName(const app::App& app, const std::string& code, bool discField) {
  std::string key = app::fieldName(code, discField);
  if (discField) {
    const auto& fields = app::itemFields();
    for (size_t i = 0; i < fields.size(); ++i) {
      if (key == fields[i].first) return itemFieldName(app, i, key);
    }
    return human(key);
  }
  return qs(app::propertyLabel(app, key));
}

QString itemPage(const app::App& app, catalog::Library& library, xmlNode* item) {
  auto& doc = library.catalog();
  // A disc is headed by what it is, "CD: " or "DVD: ", then its label; a
  // folder by its label alone (it is neither).
  int kind = doc.itemKind(item);
  QString heading = kind >= 0 && kind < 8 ? "CD: " : kind >= 8 && kind <= 12 ? "DVD: " : QString();
  Html h(heading + qs(doc.field(item, catalog::kLabel)));
  const auto& fields = app::itemFields();
  for (size_t i = 0; i < fields.size(); ++i) {
    const auto& [name, field] = fields[i];
    std::string value = doc.field(item, field);
    if (field == catalog::kKind) value = app::kindText(app, doc.itemKind(item));
    // Seconds as a person reads a playing time ("43:01").
    if (field == catalog::kPlayingTime && !value.empty()) {
      value = disc::trackLengthText(std::strtoull(value.c_str(), nullptr, 10) * 75);
    }
    if (field == catalog::kLabel || value.empty()) continue;
    h.row(itemFieldName(app, i, name), value);
  }
  // What the scan read besides names, as the add-folder dialog names it.
  if (auto read = app::scanOptionsOf(doc, item)) {
    static const std::map<std::string, GuiText> box{
        {"thumbnails", kThumbnails}, {"tags", kTags}, {"documents", kDocuments}, {"archives", kArchives}};
    QStringList named;
    for (const auto& o : *read) named << plain(text(app, box.at(o)));
    h.row(text(app, kScannedFor), ss(named.isEmpty() ? text(app, kNamesOnly) : named.join(", ")));
  }
  // The volume it was read from, and when a verify last found it whole.
  for (const auto& [key, value] : app::volumeFields(doc, item)) {
    h.row(qs(app::itemFieldLabel(app, key)), app::volumeValueText(key, value));
  }
  h.row(text(app, kColCreated), app::localTimeText(doc.field(item, catalog::kCreated)));
  return h.done();
}

FilePage filePage(const app::App& app, catalog::Library& library, xmlNode* item,
                  const std::vector<std::string>& folder, const scan::ListingEntry& entry) {
  auto& doc = library.catalog();
  FilePage page;
  Html h(qs(entry.name));
  std::string where = doc.field(item, catalog::kLabel);
  for (const auto& step : folder) where += "/" + step;
  h.row(text(app, kColPath), where);
  // An audio track's size is its length in CD frames: shown as its playing time.
  const std::string* type = entry.field("f");
  if (!entry.folder && disc::isAudioTrackItem(entry.name, type ? *type : std::string())) {
    h.row(qs(app::propertyLabel(app, "durationText")), disc::trackLengthText(entry.size));
  } else if (!entry.folder) {
    h.row(text(app, kColSize), QLocale().toString(qulonglong(entry.size)));
  }
  h.row(text(app, kColModified), app::localTimeText(entry.modified));
  if (!entry.created.empty()) h.row(text(app, kColCreated), app::localTimeText(entry.created));
  for (const auto& [key, value] : app::propertiesForPeople(app, entry.fields)) {
    h.row(qs(app::propertyLabel(app, key)), value);
  }

  std::vector<std::string> steps = folder;
  steps.push_back(entry.name);
  auto root = library.file().root();
  auto category = doc.parentPath(item);
  auto number = CatalogDocument::numberOf(item);
  if (entry.field("y")) {
    auto bytes = scan::fileRecord(root, category, number, steps, "y", catalog::StreamKind::thumbnails);
    if (bytes && page.thumbnail.loadFromData(QByteArray::fromStdString(*bytes))) {
      h.raw("<h3>" + text(app, kThumbnail).toHtmlEscaped() + "</h3><p><img src='tamber:thumbnail'></p>");
    }
  }
  if (entry.field("a9")) {
    auto bytes = scan::fileRecord(root, category, number, steps, "a9", catalog::StreamKind::archives);
    auto archive = bytes ? scan::parseStoredArchive(*bytes) : std::nullopt;
    if (archive) {
      QString t = "<h3>" + text(app, kArchiveContents).toHtmlEscaped() + "</h3>";
      // The archive's own name heads its contents; its comment keeps its lines.
      if (!archive->path.empty()) {
        t += "<p><b>" + esc(std::filesystem::path(archive->path).filename().string()) + "</b></p>";
      }
      if (!archive->comment.empty()) t += "<p>" + esc(archive->comment).replace("\n", "<br>") + "</p>";
      if (!archive->partial.empty()) t += "<p><i>" + esc(app::partialListingText(app, archive->partial)) + "</i></p>";
      t += "<table cellspacing='0' cellpadding='0'>";
      size_t shown = 0;
      for (const auto& m : archive->members) {
        if (++shown > kMostMembers) break;
        t += "<tr><td align='right' style='padding-right:12px'>" +
             (m.folder ? QString() : QLocale().toString(qulonglong(std::strtoull(m.size.c_str(), nullptr, 10)))) +
             "</td><td style='padding-right:12px'>" + qs(app::localTimeText(m.modified)).toHtmlEscaped() +
             "</td><td>" + esc(m.name) +
             (m.folder ? "/" : "") + "</td></tr>";
      }
      t += "</table>";
      if (archive->members.size() > kMostMembers) {
        t += "<p>" + text(app, kMoreEntries, {QLocale().toString(qulonglong(archive->members.size() - kMostMembers))})
                         .toHtmlEscaped() + "</p>";
      }
      h.raw(t);
    }
  }
  page.html = h.done();
  return page;
}

QString memberPage(const app::App& app, catalog::Library& library, xmlNode* item,
                   const std::vector<std::string>& archive, const std::vector<std::string>& inside,
                   const scan::ListingEntry& member) {
  auto& doc = library.catalog();
  Html h(qs(member.name));
  std::string where = doc.field(item, catalog::kLabel);
  for (const auto& step : archive) where += "/" + step;
  for (const auto& step : inside) where += "/" + step;
  h.row(text(app, kColPath), where);
  h.row(QString(), text(app, kInsideArchive, {esc(archive.empty() ? std::string() : archive.back())}));
  if (!member.folder) h.row(text(app, kColSize), QLocale().toString(qulonglong(member.size)));
  if (!member.modified.empty()) h.row(text(app, kColModified), app::localTimeText(member.modified));
  return h.done();
}

}  // namespace tamber::gui
