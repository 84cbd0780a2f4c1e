// tamber media FILE...: what the extractors find in files.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <filesystem>
#include <atomic>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "storage/compound_file.h"

#include "browse.h"
#include "commands.h"
#include "common.h"
#include "decomp/extract.h"  // the archive kinds
#include "platform/json.h"
#include "media/video/dvd_video.h"
#include "media/video/video_probe.h"
#include "scan/content_hash.h"
#include "scan/extractors.h"
#include "scan/listing_reader.h"
#include "platform/hex_time.h"
#include "platform/utf.h"
#include "platform/xml.h"
#include "scan/image_info.h"
#include "scan/listing.h"
#include "scan/signatures.h"
#include "app/add_folder.h"
#include "app/presentation.h"

namespace tamber::cli {

namespace {

std::string utf8(const std::u16string& s) { return utf16ToUtf8(s); }

// One line of a text dump: the name a person reads, in the user's
// language, then the value.
void printField(const App& app, const std::string& label, const std::string& value) {
  std::cout << "  " << app::withColon(app, label) << " " << value << "\n";
}

// The same for a property under its JSON key ("Bit rate" for "bitRateText").
void printProperty(const App& app, const std::string& key, const std::string& value) {
  printField(app, app::propertyLabel(app, key), app::propertyValueText(app, key, value));
}

// The audio reader an extension calls for; -1 when none.
int audioKindOf(const std::filesystem::path& p) {
  std::string ext = p.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  if (ext == ".mp3" || ext == ".mp2" || ext == ".mp1" || ext == ".mpa" || ext == ".mpga") return kAudioMpeg;
  if (ext == ".ogg" || ext == ".oga") return kAudioOggVorbis;
  if (ext == ".wma" || ext == ".asf") return kAudioAsf;
  if (ext == ".ape" || ext == ".apl" || ext == ".mac") return kAudioApe;
  if (ext == ".flac") return kAudioFlac;
  if (ext == ".opus") return kAudioOpus;
  if (ext == ".m4a" || ext == ".m4b") return kAudioMp4;
  return -1;
}

// The file's first bytes (fewer when it is shorter); empty when it
// cannot be read.
std::string headOf(const std::string& file) {
  std::string head(scan::kSignatureBytes, '\0');
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {};
  ssize_t n = ::read(fd, head.data(), head.size());
  ::close(fd);
  head.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return head;
}

// The archive kind a file calls for, -1 when it is no archive: its name
// says whether it may be one, its first bytes which lister reads it.
int archiveKindOf(const std::filesystem::path& p, std::string_view head) {
  std::string ext = scan::extensionOf(p.filename().string());
  // An ISO 9660 image shows itself 32 KB in, past the bytes looked at.
  if (ext == "iso") return kArchiveGzipTar;
  static const scan::ExtensionTable table;
  auto cls = table.classify(ext);
  return cls ? scan::listerFor(scan::archiveFormatOf(head), *cls) : -1;
}

// Lists an archive the way a scan stores it and shows the stored
// description read back.
bool describeArchive(scan::Extractors& x, const std::string& file, int kind, bool asJson, const App& app) {
  std::string ext = std::filesystem::path(file).extension().string();
  if (!ext.empty()) ext.erase(0, 1);
  std::u16string path = utf8ToUtf16(file).value_or(std::u16string());
  std::u16string extension = utf8ToUtf16(ext).value_or(std::u16string());
  std::string text;
  if (!x.describeArchive(path, extension, kind, path, text)) return false;
  auto stored = scan::parseStoredArchive(text);
  if (!stored) return false;
  std::string out;
  if (asJson) {
    out = "{\"file\":" + jsonString(file) + ",\"recognised\":true,\"kind\":\"archive\",\"path\":" +
          jsonString(stored->path) + ",\"comment\":" + jsonString(stored->comment) + ",\"entries\":[";
  } else {
    out = file + "\n  " + app::withColon(app, app.text(app::kTextArchive)) + " " + stored->path + "\n";
    if (!stored->comment.empty()) {
      out += "  " + app::withColon(app, app::propertyLabel(app, "comment")) + " " + stored->comment + "\n";
    }
  }
  bool first = true;
  for (const auto& m : stored->members) {
    std::string modified;
    if (auto t = parseHexTime(m.modified)) modified = displayTime(*t);
    if (asJson) {
      out += std::string(first ? "" : ",") + "{\"name\":" + jsonString(m.name) + ",\"type\":" +
             (m.folder ? "\"folder\"" : "\"file\"") + ",\"folder\":" + (m.folder ? "true" : "false") +
             ",\"size\":" + numberJson(m.size) + ",\"packed\":" + numberJson(m.packed) +
             ",\"modified\":" + isoTimeJson(m.modified) + ",\"attributes\":" + jsonString(m.attributes) + "}";
    } else {
      char line[64];
      std::snprintf(line, sizeof line, "  %12s %12s  %-16s  ", m.folder ? "<dir>" : m.size.c_str(),
                    m.packed.c_str(), modified.c_str());
      out += line + m.name + "\n";
    }
    first = false;
  }
  if (asJson) {
    out += "],\"partial\":" + (stored->partial.empty() ? std::string("null") : jsonString(stored->partial)) + "}\n";
  } else if (!stored->partial.empty()) {
    out += "  " + app::partialListingText(app, stored->partial) + "\n";
  }
  std::cout << out;
  return true;
}

bool isPicture(const std::filesystem::path& p) {
  std::string ext = p.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  for (const char* e : {".jpg", ".jpeg", ".jpe", ".png", ".gif", ".bmp", ".tif", ".tiff", ".ico",
                        ".webp", ".pcx", ".tga", ".emf", ".wmf"}) {
    if (ext == e) return true;
  }
  return false;
}

bool describePicture(const std::string& file, bool asJson, const std::string& thumbnailOut, const App& app) {
  scan::ImageInfoReader reader;
  scan::ImageProperties props;
  int w = 0, h = 0, bpp = 0;
  int box = thumbnailOut.empty() ? 0 : 64;
  auto pic = reader.read(file, box, box, w, h, bpp, &props, true);
  if (!pic && w > 0) {  // read from its header alone
    if (asJson) {
      std::cout << "{\"file\":" << jsonString(file) << ",\"recognised\":true,\"kind\":\"picture\""
                << ",\"width\":" << w << ",\"height\":" << h << ",\"bitsPerPixel\":" << bpp << "}\n";
    } else {
      std::cout << file << "\n";
      printProperty(app, "size", std::to_string(w) + " x " + std::to_string(h));
      printProperty(app, "bitsPerPixel", std::to_string(bpp) + " " + app.text(app::kTextFromHeaderOnly));
    }
    return true;
  }
  if (!pic) return false;
  if (!thumbnailOut.empty()) {
    std::string bytes;
    if (!reader.encodeThumbnail(*pic, bytes)) {
      std::cerr << errorPrefix() << say(app::kTextThumbnailNotMade, {file}) << "\n";
      return false;
    }
    // The encoding the name asks for ("th.jpg" gets a JPEG), like thumb.
    if (Status st = writePictureFile(bytes, thumbnailOut); !st) {
      std::cerr << errorPrefix() << st.message() << "\n";
      return false;
    }
  }
  const std::pair<const char*, const std::u16string*> texts[] = {
      {"exposureTime", &props.exposureTime}, {"fNumber", &props.fNumber},
      {"takenDate", &props.takenDate},       {"comment", &props.comment},
      {"cameraMake", &props.cameraMake},     {"cameraModel", &props.cameraModel}};
  if (asJson) {
    std::string out = "{\"file\":" + jsonString(file) + ",\"recognised\":true,\"kind\":\"picture\"" +
                      ",\"width\":" + std::to_string(w) + ",\"height\":" + std::to_string(h) +
                      ",\"bitsPerPixel\":" + std::to_string(bpp) +
                      ",\"hasAlpha\":" + (reader.hasAlpha() ? "true" : "false");
    if (!thumbnailOut.empty()) {
      out += ",\"thumbnailWidth\":" + std::to_string(pic->width()) +
             ",\"thumbnailHeight\":" + std::to_string(pic->height());
    }
    for (const auto& [k, v] : texts) out += ",\"" + std::string(k) + "\":" + jsonString(utf8(*v));
    out += ",\"exposureProgram\":" + std::to_string(props.exposureProgram) + "}";
    std::cout << out << "\n";
    return true;
  }
  std::cout << file << "\n";
  printProperty(app, "size", std::to_string(w) + " x " + std::to_string(h));
  printProperty(app, "bitsPerPixel",
                std::to_string(bpp) + (reader.hasAlpha() ? ", " + app.text(app::kTextWithTransparency) : ""));
  if (!thumbnailOut.empty()) {
    printProperty(app, "thumbnail", std::to_string(pic->width()) + " x " + std::to_string(pic->height()));
  }
  for (const auto& [k, v] : texts) {
    if (!v->empty()) printProperty(app, k, utf8(*v));
  }
  if (props.exposureProgram) printProperty(app, "exposureProgram", std::to_string(int{props.exposureProgram}));
  return true;
}

// One field of a document record: its JSON key, its text, whether the
// text is a HexTime, and the property a scan records it as (named as
// `ls -l` and the property page name it), when that is another key.
struct DocField {
  const char* key;
  std::u16string value;
  bool time = false;
  const char* recordedAs = nullptr;
};

// The record a document extractor finds, by the extension's subtype; false
// when the extension is no document's or nothing was found.
bool describeDocument(scan::Extractors& x, const std::string& file, bool asJson, const App& app) {
  std::string ext = std::filesystem::path(file).extension().string();
  if (!ext.empty()) ext.erase(0, 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  static const scan::ExtensionTable table;
  auto cls = table.classify(ext);
  if (!cls || (cls->kind != scan::FileKind::document && cls->kind != scan::FileKind::executable)) return false;
  auto converted = utf8ToUtf16(file);
  std::u16string path = converted ? *converted : std::u16string(file.begin(), file.end());
  std::string family;
  std::vector<DocField> fields;
  std::vector<std::pair<const char*, int32_t>> numbers;
  uint8_t subtype = cls->kind == scan::FileKind::executable ? scan::kSubtypeExecutable : cls->subtype;
  if (subtype == scan::kDocModule || subtype == scan::kSubtypeExecutable) {
    CExecutable::tag_ModuleInfo info;
    auto* i = x.executable(path, info) ? &info : nullptr;
    if (!i) return false;
    family = "executable";
    fields = {{"comments", i->comments, false, "comment"},
              {"companyName", i->companyName},
              {"fileDescription", i->fileDescription, false, "description"},
              {"fileVersion", i->fileVersion},
              {"languages", i->languages},
              {"internalName", i->internalName},
              {"legalCopyright", i->legalCopyright},
              {"legalTrademarks", i->legalTrademarks},
              {"originalFileName", i->originalFileName, false, "originalName"},
              {"productName", i->productName},
              {"productVersion", i->productVersion}, {"specialBuild", i->specialBuild}};
  } else if (subtype == scan::kDocHtml) {
    std::u16string ext16(ext.begin(), ext.end());
    CHTMLExtract::tag_HTMLInfo info;
    auto* i = x.html(path, ext16, info) ? &info : nullptr;
    if (!i) return false;
    family = "html";
    fields = {{"title", i->title}, {"description", i->description}, {"keywords", i->keywords}};
  } else if (subtype == scan::kDocPdf) {
    CPDFExtract::tag_PDFSummary info;
    auto* i = x.pdf(path, info) ? &info : nullptr;
    if (!i) return false;
    family = "pdf";
    fields = {{"title", i->title},       {"subject", i->subject},   {"author", i->author},
              {"keywords", i->keywords}, {"creator", i->creator},   {"producer", i->producer},
              {"version", i->version, false, "fileVersion"},
              {"creationDate", i->creationDate, true, "created"},
              {"modificationDate", i->modificationDate, true, "lastSaved"}};
    numbers = {{"pageCount", i->pageCount}};
  } else {
    COfficeExtract::tag_OFFICEPROPS info;
    auto* i = x.office(path, info) ? &info : nullptr;
    if (!i) return false;
    family = "office";
    fields = {{"title", i->title},
              {"subject", i->subject},
              {"author", i->author},
              {"keywords", i->keywords},
              {"comments", i->comments, false, "comment"},
              {"template", i->templateName},
              {"lastAuthor", i->lastAuthor},
              {"applicationName", i->applicationName, false, "application"},
              {"editTime", i->editTime, true},
              {"lastPrinted", i->lastPrinted, true},
              {"created", i->created, true},
              {"lastSaved", i->lastSaved, true}};
    numbers = {{"revisionNumber", i->revisionNumber}, {"pageCount", i->pageCount}};
  }
  if (asJson) {
    std::string out = "{\"file\":" + jsonString(file) + ",\"recognised\":true,\"kind\":\"document\",\"family\":\"" +
                      family + "\"";
    for (const auto& f : fields) {
      std::string v = utf8(f.value);
      // Times as ISO text (null when there is none); the rest as found.
      out += ",\"" + std::string(f.key) + "\":" + (f.time ? (v.empty() ? "null" : isoTimeJson(v)) : jsonString(v));
    }
    for (const auto& [k, v] : numbers) out += ",\"" + std::string(k) + "\":" + std::to_string(v);
    std::cout << out << "}\n";
    return true;
  }
  // The family as the property page names it: HTML, PDF, office, program.
  static const char* const kFamilies[] = {"html", "pdf", "office", "executable"};
  int familyIndex = static_cast<int>(std::find(std::begin(kFamilies), std::end(kFamilies), family) - std::begin(kFamilies));
  std::cout << file << "\n  " << app.text(app::kTextDocumentFamily + familyIndex) << "\n";
  for (const auto& f : fields) {
    if (f.value.empty()) continue;
    std::string v = utf8(f.value);
    if (f.time) {
      if (auto t = parseHexTime(v)) v = displayTime(*t);
    }
    printProperty(app, f.recordedAs ? f.recordedAs : f.key, v);
  }
  for (const auto& [k, v] : numbers) printProperty(app, k, std::to_string(v));
  return true;
}

// A video's container, streams and tags: false when the first bytes are no
// video container's or the container cannot be read. The JSON keys are
// those ffprobe users know, in the program's own spelling.
bool describeVideo(scan::Extractors& x, const std::string& file, std::string_view head, bool asJson,
                   const std::string& thumbnailOut, const App& app) {
  if (!media::isVideoHead(head.data(), head.size())) return false;
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY);
  if (fd < 0) return false;
  media::VideoRecord v;
  std::string why;
  bool ok = x.video(fd, thumbnailOut.empty() ? 0 : 256, v, why);
  ::close(fd);
  if (!ok) return false;
  // The thumbnail a scan would record, made from a frame as a picture's is.
  int thumbWidth = 0, thumbHeight = 0;
  if (!thumbnailOut.empty()) {
    scan::ImageInfoReader reader;
    auto pic = reader.thumbnailOfRgb(v.frameRgb, v.frameWidth, v.frameHeight, 64, 64);
    std::string bytes;
    if (!pic || !reader.encodeThumbnail(*pic, bytes)) {
      std::cerr << errorPrefix() << say(app::kTextThumbnailNotMade, {file}) << "\n";
    } else if (Status st = writePictureFile(bytes, thumbnailOut); !st) {
      std::cerr << errorPrefix() << st.message() << "\n";
    } else {
      thumbWidth = pic->width();
      thumbHeight = pic->height();
    }
  }
  std::string subtitles = media::subtitlesText(v.subtitleLanguages);
  const std::pair<const char*, std::string> texts[] = {
      {"container", v.container}, {"videoCodec", v.videoCodec}, {"title", v.title},
      {"artist", v.artist},       {"date", v.date},             {"comment", v.comment}};
  if (asJson) {
    auto number = [](double d) {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.6g", d);
      return std::string(buf);
    };
    std::string out = "{\"file\":" + jsonString(file) + ",\"recognised\":true,\"kind\":\"video\"";
    for (const auto& [k, t] : texts) out += ",\"" + std::string(k) + "\":" + jsonString(t);
    out += ",\"seconds\":" + (v.seconds > 0 ? number(v.seconds) : std::string("null")) +
           ",\"durationText\":" + jsonString(v.seconds > 0 ? media::durationText(v.seconds) : "") +
           ",\"bitRate\":" + (v.bitRate > 0 ? std::to_string(v.bitRate) : std::string("null")) +
           ",\"width\":" + std::to_string(v.width) + ",\"height\":" + std::to_string(v.height) +
           ",\"frameRate\":" + (v.frameRate > 0 ? number(v.frameRate) : std::string("null"));
    if (thumbWidth > 0) {
      out += ",\"thumbnailWidth\":" + std::to_string(thumbWidth) + ",\"thumbnailHeight\":" + std::to_string(thumbHeight);
    }
    out += ",\"audio\":[";
    for (size_t i = 0; i < v.audio.size(); ++i) {
      out += std::string(i ? "," : "") + "{\"codec\":" + jsonString(v.audio[i].codec) +
             ",\"channels\":" + std::to_string(v.audio[i].channels) +
             ",\"language\":" + jsonString(v.audio[i].language) + "}";
    }
    out += "],\"subtitles\":[";
    for (size_t i = 0; i < v.subtitleLanguages.size(); ++i) {
      out += std::string(i ? "," : "") + jsonString(v.subtitleLanguages[i]);
    }
    std::cout << out << "]}\n";
    return true;
  }
  std::cout << file << "\n";
  printProperty(app, "container", v.container);
  if (v.seconds > 0) printProperty(app, "durationText", media::durationText(v.seconds));
  if (v.bitRate > 0) printProperty(app, "bitRateText", media::bitRateText(v.bitRate));
  if (!v.videoCodec.empty()) {
    printProperty(app, "videoCodec", v.videoCodec);
    printProperty(app, "size", std::to_string(v.width) + " x " + std::to_string(v.height));
  }
  if (v.frameRate > 0) {
    printProperty(app, "frameRate", say(app::kTextFramesPerSecond, {media::frameRateText(v.frameRate)}));
  }
  if (thumbWidth > 0) printProperty(app, "thumbnail", std::to_string(thumbWidth) + " x " + std::to_string(thumbHeight));
  if (!v.audio.empty()) printProperty(app, "audioTracks", media::audioTracksText(v.audio));
  if (!subtitles.empty()) printProperty(app, "subtitles", subtitles);
  for (size_t i = 2; i < std::size(texts); ++i) {
    if (!texts[i].second.empty()) printProperty(app, texts[i].first, texts[i].second);
  }
  return true;
}

// The titles of a DVD-Video folder, told by its VIDEO_TS.IFO.
bool describeDvd(scan::Extractors& x, const std::string& file, std::string_view head, bool asJson, const App& app) {
  if (head.substr(0, 12) != "DVDVIDEO-VMG") return false;
  std::string folder = std::filesystem::path(file).parent_path().string();
  std::vector<media::DvdTitle> titles;
  std::string why;
  if (!x.dvdTitles(folder.empty() ? "." : folder, titles, why)) return false;
  if (asJson) {
    std::string out = "{\"file\":" + jsonString(file) + ",\"recognised\":true,\"kind\":\"dvd-video\",\"titles\":[";
    for (size_t i = 0; i < titles.size(); ++i) {
      const auto& t = titles[i];
      out += std::string(i ? "," : "") + "{\"title\":" + std::to_string(t.number) +
             ",\"seconds\":" + std::to_string(static_cast<long long>(t.seconds)) +
             ",\"chapters\":" + std::to_string(t.chapters) + ",\"angles\":" + std::to_string(t.angles) +
             ",\"audioLanguages\":[";
      for (size_t a = 0; a < t.audioLanguages.size(); ++a) out += std::string(a ? "," : "") + jsonString(t.audioLanguages[a]);
      out += "]}";
    }
    std::cout << out << "]}\n";
    return true;
  }
  std::cout << file << "\n  DVD-Video, " << app::countedText(app, titles.size(), app::kTextTitleCount) << "\n";
  for (const auto& t : titles) std::cout << "  " << app::propertyValueText(app, "dvdTitles", media::dvdTitlesText({t})) << "\n";
  return true;
}

// Why a file cannot be described: empty when it is a regular file this
// process may read. A FIFO, a device or a folder is never opened (a FIFO
// would hold the program until someone writes to it).
std::string whyUnreadable(const std::string& file) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0) return std::strerror(errno);
  if (S_ISDIR(st.st_mode)) return "it is a folder";
  if (S_ISFIFO(st.st_mode)) return "it is a FIFO, not a regular file";
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "it is a device, not a regular file";
  if (!S_ISREG(st.st_mode)) return "it is not a regular file";
  if (::access(file.c_str(), R_OK) != 0) return std::strerror(errno);
  return {};
}

int describe(const std::string& file, bool asJson, scan::Extractors& x, const std::string& thumbnailOut,
             const App& app) {
  if (std::string why = whyUnreadable(file); !why.empty()) {
    std::cerr << errorPrefix() << say(app::kTextCannotBeRead, {file}) << " (" << why << ")\n";
    return kExitFailure;
  }
  if (isPicture(file) && describePicture(file, asJson, thumbnailOut, app)) return kExitOk;
  std::string head = headOf(file);
  int archive = archiveKindOf(file, head);
  if (archive >= 0 && describeArchive(x, file, archive, asJson, app)) return kExitOk;
  if (describeDocument(x, file, asJson, app)) return kExitOk;
  if (describeVideo(x, file, head, asJson, thumbnailOut, app)) return kExitOk;
  if (describeDvd(x, file, head, asJson, app)) return kExitOk;
  // The extension says whether the file is audio; its first bytes say which
  // reader reads it. A file of another name is read as audio only when its
  // first bytes are those of an audio format.
  int kind = audioKindOf(file);
  kind = x.audioKindOfHead(head.data(), std::min<size_t>(head.size(), 64), kind);
  // File names that are not UTF-8 cannot travel as UTF-16; such a file is
  // read through the bytes widened one by one, which names it exactly.
  auto converted = utf8ToUtf16(file);
  std::u16string path = converted ? *converted : std::u16string(file.begin(), file.end());
  bool recognised = false;
  scan::TagRecord tags;
  if (kind >= 0 && archive < 0 && !isPicture(file)) recognised = x.tags(path, kind, tags);
  const std::pair<const char*, const std::u16string*> texts[] = {
      {"codecText", &tags.codecText}, {"channelsText", &tags.channelsText},
      {"bitRateText", &tags.bitRateText}, {"durationText", &tags.durationText},
      {"title", &tags.title}, {"artist", &tags.artist}, {"album", &tags.album},
      {"genre", &tags.genre}, {"comment", &tags.comment}, {"lyrics", &tags.lyrics},
      {"vendorText", &tags.vendorText}, {"compressionText", &tags.compressionText},
      {"otherTags", &tags.otherTags}};
  const std::pair<const char*, int32_t> numbers[] = {{"sampleRate", tags.sampleRate},
                                                     {"fileSize", tags.fileSize},
                                                     {"year", tags.year},
                                                     {"track", tags.track}};
  if (asJson) {
    std::string out = "{\"file\":" + jsonString(file) + ",\"recognised\":" + (recognised ? "true" : "false");
    if (recognised) {
      out += ",\"kind\":\"audio\"";
      for (const auto& [k, v] : texts) out += ",\"" + std::string(k) + "\":" + jsonString(utf8(*v));
      for (const auto& [k, v] : numbers) out += ",\"" + std::string(k) + "\":" + std::to_string(v);
    }
    std::cout << out << "}\n";
    return kExitOk;
  }
  std::cout << file << "\n";
  if (!recognised) {
    std::cout << "  " << say(app::kTextNotRecognised) << "\n";
    return kExitOk;
  }
  for (const auto& [k, v] : texts) {
    if (!v->empty()) printProperty(app, k, utf8(*v));
  }
  for (const auto& [k, v] : numbers) {
    // No year or track number is 0 in the tags, not a year or track 0.
    if (std::string_view(k) == "fileSize") {
      printField(app, app.text(app::kTextFileSize), std::to_string(v));
    } else if (v != 0) {
      printProperty(app, k, std::to_string(v));
    }
  }
  return kExitOk;
}

}  // namespace

void registerMediaCommand(CLI::App& cli, int& status, std::shared_ptr<Globals> g) {
  struct Args {
    std::vector<std::string> files;
    std::string thumbnail;
    bool json = false;
  };
  auto args = std::make_shared<Args>();
  auto* media = cli.add_subcommand("media", "Show the metadata the extractors find in files");
  media->add_option("FILE", args->files, "Files to read")->required();
  media->add_flag("--json", args->json, "One JSON object per file");
  media->add_option("--thumbnail", args->thumbnail,
                    "Write the thumbnail a picture or video would get (64 x 64 box; PNG or JPEG) to this file");
  media->callback([&status, args, g] {
    status = withLibrary(*g, [&](App& app, app::Notifier&) {
      auto extractors = scan::newExtractors();
      if (!extractors) return kExitFailure;
      // Archives are listed within the budget a scan keeps.
      scan::ArchiveBudget budget = app::archiveBudget(app.settings());
      extractors->setArchiveBudget(budget.bytes, budget.milliseconds);
      int rc = kExitOk;
      for (const auto& f : args->files) {
        if (describe(f, args->json || g->json, *extractors, args->thumbnail, app) != kExitOk) rc = kExitFailure;
      }
      return rc;
    }, Access::none);
  });
}

void registerHashCommand(CLI::App& cli, int& status, std::shared_ptr<Globals> g) {
  struct Args {
    std::vector<std::string> files;
    unsigned jobs = 1;
  };
  auto args = std::make_shared<Args>();
  auto* hash = cli.add_subcommand("hash", "Content hashes (XXH3-128) of files, as xxhsum -H2 prints them");
  hash->add_option("FILE", args->files, "Files to hash")->required();
  hash->add_option("-j,--jobs", args->jobs, "Files read at once (default 1)")->check(CLI::Range(1, 64));
  hash->callback([&status, args, g] {
    CancelOnSignals signals;
    // The files are shared out among the jobs; the lines come in the
    // order the files were given.
    const auto& files = args->files;
    std::vector<std::optional<Result<scan::ContentHash>>> done(files.size());
    std::mutex lock;
    std::condition_variable ready;
    std::atomic<size_t> next{0};
    scan::HashOptions options;
    options.progress = [](uint64_t) { return interrupted.load() == 0; };
    auto work = [&] {
      for (size_t i; (i = next.fetch_add(1)) < files.size();) {
        auto r = scan::hashFile(files[i], options);
        std::lock_guard<std::mutex> hold(lock);
        done[i] = std::move(r);
        ready.notify_all();
      }
    };
    std::vector<std::thread> workers;
    for (unsigned k = 1; k < std::min<size_t>(args->jobs, files.size()); ++k) workers.emplace_back(work);
    std::thread own(work);
    int rc = kExitOk;
    std::string json;
    for (size_t i = 0; i < files.size(); ++i) {
      std::unique_lock<std::mutex> hold(lock);
      ready.wait(hold, [&] { return done[i].has_value(); });
      Result<scan::ContentHash> r = std::move(*done[i]);
      hold.unlock();
      if (!r) {
        if (r.error().code == Errc::cancelled) break;
        std::cerr << errorPrefix() << escapeForTerminal(files[i]) << ": " << r.message() << "\n";
        rc = kExitFailure;
        continue;
      }
      if (r->changedWhileRead) {
        std::cerr << warningPrefix() << escapeForTerminal(files[i]) << ": " << say(app::kTextChangedWhileRead) << "\n";
      }
      if (g->json) {
        json += std::string(json.empty() ? "[" : ",") + "{\"file\":" + jsonString(files[i]) + ",\"hash\":\"" + r->hex +
                "\",\"bytes\":" + std::to_string(r->bytes) +
                ",\"changedWhileRead\":" + (r->changedWhileRead ? "true" : "false") + "}";
      } else {
        std::cout << r->hex << "  " << escapeForTerminal(files[i]) << "\n";
      }
    }
    own.join();
    for (auto& w : workers) w.join();
    if (interrupted.load() != 0) {
      status = 128 + interrupted.load();
      return;
    }
    if (g->json) std::cout << (json.empty() ? "[" : json) << "]\n";
    status = rc;
  });
}

}  // namespace tamber::cli
