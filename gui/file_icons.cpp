#include "gui/file_icons.h"

#include <QFileInfo>
#include <QMimeDatabase>

#include "catalog/names.h"

namespace tamber::gui {

namespace {

// The theme's icon of `names` in turn, else the bundled one.
QIcon themed(std::initializer_list<QString> names, const QString& fallback) {
  for (const QString& n : names) {
    if (!n.isEmpty() && QIcon::hasThemeIcon(n)) return QIcon::fromTheme(n);
  }
  return FileIcons::bundled(fallback);
}

}  // namespace

QIcon FileIcons::bundled(const QString& name) { return QIcon(":/types/" + name + ".svg"); }

QString FileIcons::genericName(const QString& mime) {
  if (mime.startsWith("audio/")) return "audio";
  if (mime.startsWith("image/")) return "image";
  if (mime.startsWith("video/")) return "video";
  if (mime == "application/pdf" || mime.contains("opendocument") || mime.contains("officedocument") ||
      mime == "application/msword" || mime.contains("ms-excel") || mime.contains("ms-powerpoint") ||
      mime == "application/rtf" || mime == "text/rtf" || mime == "application/postscript") {
    return "document";
  }
  if (mime.contains("zip") || mime.contains("tar") || mime.contains("7z") || mime.contains("rar") ||
      mime.contains("compressed") || mime.contains("archive") || mime.contains("cd-image") ||
      mime.contains("xz") || mime.contains("bzip") || mime.contains("gzip") || mime.contains("zstd") ||
      mime.contains("lzma") || mime.contains("cab") || mime.contains("arj") || mime.contains("lha")) {
    return "archive";
  }
  if (mime.contains("executable") || mime.contains("msdownload") || mime.contains("sharedlib") ||
      mime.contains("x-ms-dos") || mime.contains("portable")) {
    return "executable";
  }
  if (mime.startsWith("text/")) return "text";
  return "file";
}

QString recordedKind(const scan::ListingEntry& e) {
  if (e.field("a9")) return "archive";
  if (e.field("z") || e.field("y")) return "image";
  if (e.field("m") || e.field("n") || e.field("o")) return "audio";
  if (e.field("c2")) return "document";
  return {};
}

const QIcon& FileIcons::entry(const scan::ListingEntry& e) {
  if (e.folder) return folder();
  return file(QString::fromStdString(e.name), recordedKind(e));
}

const QIcon& FileIcons::file(const QString& name, const QString& hint) {
  QString suffix = QFileInfo(name).suffix().toLower();
  QString key = hint + "|" + suffix;
  auto it = bySuffix_.find(key);
  if (it != bySuffix_.end()) return *it;
  static QMimeDatabase mimes;
  QMimeType type = suffix.isEmpty() ? QMimeType() : mimes.mimeTypeForFile(name, QMimeDatabase::MatchExtension);
  QString generic = type.isValid() && !type.isDefault() ? genericName(type.name()) : QString("file");
  // What the file held when it was read wins over what its name says.
  if (!hint.isEmpty() && hint != generic) {
    return *bySuffix_.insert(key, themed({hint == "image" ? "image-x-generic" : hint == "audio" ? "audio-x-generic"
                                          : hint == "archive" ? "package-x-generic" : "x-office-document"},
                                         hint));
  }
  QIcon icon = type.isValid() && !type.isDefault()
                   ? themed({type.iconName(), type.genericIconName()}, generic)
                   : themed({"text-x-generic"}, "file");
  return *bySuffix_.insert(key, icon);
}

const QIcon& FileIcons::folder() {
  static const QIcon icon = themed({"folder"}, "folder");
  return icon;
}

const QIcon& FileIcons::category() {
  static const QIcon icon = bundled("category");
  return icon;
}

const QIcon& FileIcons::library() {
  static const QIcon icon = bundled("library");
  return icon;
}

const QIcon& FileIcons::item(int kind) {
  // 0-7 CDs, 8-12 DVDs, 13-18 folders by the drive they were on.
  static const QIcon cdData = themed({"media-optical"}, "cd-data");
  static const QIcon cdAudio = themed({"media-optical-audio"}, "cd-audio");
  static const QIcon cdExtra = themed({"media-optical-mixed-cd"}, "cd-extra");
  static const QIcon dvd = themed({"media-optical-dvd"}, "dvd");
  static const QIcon hard = themed({"drive-harddisk"}, "harddisk");
  static const QIcon optical = themed({"drive-optical"}, "optical-drive");
  static const QIcon ram = bundled("ramdisk");
  static const QIcon network = themed({"folder-remote", "network-server"}, "network");
  static const QIcon removable = themed({"drive-removable-media"}, "removable");
  switch (kind) {
    case catalog::kKindAudioCd: return cdAudio;
    case catalog::kKindCdExtra: case 5: return cdExtra;
    case 13: return hard;
    case 14: case 17: return optical;
    case 15: return ram;
    case 16: return network;
    case 18: return removable;
    default: return kind >= 8 && kind <= 12 ? dvd : kind > 18 ? hard : cdData;
  }
}

}  // namespace tamber::gui
