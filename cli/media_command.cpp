// tamber media FILE...: what the extractors find in files.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "storage/compound_file.h"

#include "browse.h"
#include "commands.h"
#include "common.h"
#include "decomp/extract.h"
#include "platform/json.h"
#include "media/media.h"
#include "platform/hex_time.h"
#include "platform/utf.h"
#include "platform/xml.h"
#include "scan/image_info.h"
#include "scan/listing.h"

namespace tamber::cli {

namespace {

std::string utf8(const std::u16string& s) { return utf16ToUtf8(s); }

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

// The file's first 64 bytes (fewer when it is shorter); empty when it
// cannot be read.
std::string headOf(const std::string& file) {
  std::string head(64, '\0');
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return {};
  ssize_t n = ::read(fd, head.data(), head.size());
  ::close(fd);
  head.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return head;
}

// The archive subtype an extension calls for; -1 when it is no archive.
int archiveKindOf(const std::filesystem::path& p) {
  std::string ext = p.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  if (ext == ".cab") return kArchiveCab;
  if (ext == ".zip" || ext == ".jar") return kArchiveZip;
  if (ext == ".rar") return kArchiveRar;
  if (ext == ".gz" || ext == ".tgz" || ext == ".tar" || ext == ".bz2" || ext == ".xz" ||
      ext == ".7z" || ext == ".iso" || ext == ".z") {
    return kArchiveGzipTar;
  }
  if (ext == ".arj") return kArchiveArj;
  if (ext == ".ace") return kArchiveAce;
  if (ext == ".lzh" || ext == ".lha") return kArchiveLzh;
  if (ext == ".exe") return kArchiveExe;
  return -1;
}

// Lists an archive the way a scan stores it: the description goes into a
// stream of a scratch compound file and is read back from there.
bool describeArchive(const std::string& file, int kind, bool asJson) {
  auto scratch = std::filesystem::temp_directory_path() /
                 ("tamber-media-" + std::to_string(::getpid()) + ".cds");
  auto f = storage::CompoundFile::create(scratch);
  if (!f) return false;
  std::filesystem::remove(scratch);  // the open file stays usable
  auto stream = f->root().createStream("arc");
  if (!stream) return false;
  CExtract extract;
  unsigned long offset = static_cast<unsigned long>(-1);
  std::string ext = std::filesystem::path(file).extension().string();
  if (!ext.empty()) ext.erase(0, 1);
  std::u16string path = utf8ToUtf16(file).value_or(std::u16string());
  std::u16string extension = utf8ToUtf16(ext).value_or(std::u16string());
  if (extract.WriteDecompressedArchive2Stream(path.c_str(), extension.c_str(), 1,
                                              static_cast<unsigned char>(kind), &stream.value(),
                                              &offset, nullptr) != 0 ||
      offset == static_cast<unsigned long>(-1)) {
    return false;
  }
  // Read back: a 4-byte length at the offset, then the description.
  uint8_t len[4];
  if (!stream->seek(static_cast<int64_t>(offset)) || stream->read(len, 4).value_or(0) != 4) return false;
  size_t n = len[0] | len[1] << 8 | len[2] << 16 | static_cast<size_t>(len[3]) << 24;
  std::string text(n, '\0');
  if (stream->read(text.data(), n).value_or(0) != n) return false;
  xml::Doc doc(xmlReadMemory(text.data(), static_cast<int>(n), nullptr, "UTF-8", XML_PARSE_NONET));
  if (!doc) return false;
  std::u16string comment, recorded;
  CExtract::GetArchiveComments(doc.get(), comment);
  CExtract::GetArchivefullPath(doc.get(), recorded);
  std::string out;
  if (asJson) {
    out = "{\"file\":" + jsonString(file) + ",\"recognised\":true,\"kind\":\"archive\",\"path\":" +
          jsonString(utf16ToUtf8(recorded)) + ",\"comment\":" + jsonString(utf16ToUtf8(comment)) +
          ",\"entries\":[";
  } else {
    out = file + "\n  archive: " + utf16ToUtf8(recorded) + "\n";
    if (!comment.empty()) out += "  comment: " + utf16ToUtf8(comment) + "\n";
  }
  bool first = true;
  for (xmlNode* e = xmlDocGetRootElement(doc.get())->children; e; e = e->next) {
    if (e->type != XML_ELEMENT_NODE) continue;
    bool folder = utf8ToUtf16(xml::c(e->name)) == std::u16string(ARCHIVE::SimpleXSDNames[1]);
    bool fileEntry = utf8ToUtf16(xml::c(e->name)) == std::u16string(ARCHIVE::SimpleXSDNames[3]);
    if (!folder && !fileEntry) continue;
    auto prop = [&](int i) {
      xml::String v(xmlGetProp(e, xml::u(utf16ToUtf8(ARCHIVE::SimpleXSDNames[i]).c_str())));
      return v ? std::string(xml::c(v.get())) : std::string();
    };
    std::string modified;
    if (auto t = parseHexTime(prop(9))) modified = displayTime(*t);
    if (asJson) {
      out += std::string(first ? "" : ",") + "{\"name\":" + jsonString(prop(4)) + ",\"type\":" +
             (folder ? "\"folder\"" : "\"file\"") + ",\"folder\":" + (folder ? "true" : "false") +
             ",\"size\":" + numberJson(prop(2)) + ",\"packed\":" + numberJson(prop(5)) +
             ",\"modified\":" + isoTimeJson(prop(9)) + ",\"attributes\":" + jsonString(prop(8)) + "}";
    } else {
      char line[64];
      std::snprintf(line, sizeof line, "  %12s %12s  %-16s  ", folder ? "<dir>" : prop(2).c_str(),
                    prop(5).c_str(), modified.c_str());
      out += line + prop(4) + "\n";
    }
    first = false;
  }
  std::cout << out << (asJson ? "]}\n" : "");
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

bool describePicture(const std::string& file, bool asJson, const std::string& thumbnailOut) {
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
      std::cout << file << "\n  size: " << w << " x " << h << ", " << bpp
                << " bits per pixel (from the header; no thumbnail)\n";
    }
    return true;
  }
  if (!pic) return false;
  if (!thumbnailOut.empty()) {
    std::string bytes;
    if (!reader.encodeThumbnail(*pic, bytes)) {
      std::cerr << "tamber: error: " << say(app::kTextThumbnailNotMade, {file}) << "\n";
      return false;
    }
    // The encoding the name asks for ("th.jpg" gets a JPEG), like thumb.
    if (Status st = writePictureFile(bytes, thumbnailOut); !st) {
      std::cerr << "tamber: error: " << st.message() << "\n";
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
  std::cout << file << "\n  size: " << w << " x " << h << ", " << bpp << " bits per pixel"
            << (reader.hasAlpha() ? ", alpha" : "") << "\n";
  if (!thumbnailOut.empty()) std::cout << "  thumbnail: " << pic->width() << " x " << pic->height() << "\n";
  for (const auto& [k, v] : texts) {
    if (!v->empty()) std::cout << "  " << k << ": " << utf8(*v) << "\n";
  }
  if (props.exposureProgram) std::cout << "  exposureProgram: " << int{props.exposureProgram} << "\n";
  return true;
}

// One field of a document record: its JSON key, its text, and whether the
// text is a HexTime.
struct DocField {
  const char* key;
  std::u16string value;
  bool time = false;
};

// The record a document extractor finds, by the extension's subtype; false
// when the extension is no document's or nothing was found.
bool describeDocument(const std::string& file, bool asJson) {
  std::string ext = std::filesystem::path(file).extension().string();
  if (!ext.empty()) ext.erase(0, 1);
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  static const scan::ExtensionTable table;
  auto cls = table.classify(ext);
  if (!cls || (cls->kind != scan::FileKind::document && cls->kind != scan::FileKind::executable)) return false;
  auto converted = utf8ToUtf16(file);
  std::u16string path = converted ? *converted : std::u16string(file.begin(), file.end());
  std::vector<uint8_t> scratch(4096);
  int size = static_cast<int>(scratch.size());
  std::string family;
  std::vector<DocField> fields;
  std::vector<std::pair<const char*, int32_t>> numbers;
  uint8_t subtype = cls->kind == scan::FileKind::executable ? scan::kSubtypeExecutable : cls->subtype;
  if (subtype == scan::kDocModule || subtype == scan::kSubtypeExecutable) {
    CExecutable x(path, scratch.data(), size);
    auto* i = x.getfileInfo();
    if (!i) return false;
    family = "executable";
    fields = {{"comments", i->comments},         {"companyName", i->companyName},
              {"fileDescription", i->fileDescription}, {"fileVersion", i->fileVersion},
              {"languages", i->languages},       {"internalName", i->internalName},
              {"legalCopyright", i->legalCopyright}, {"legalTrademarks", i->legalTrademarks},
              {"originalFileName", i->originalFileName}, {"productName", i->productName},
              {"productVersion", i->productVersion}, {"specialBuild", i->specialBuild}};
  } else if (subtype == scan::kDocHtml) {
    std::u16string ext16(ext.begin(), ext.end());
    CHTMLExtract x(path, scratch.data(), size, ext16.c_str());
    auto* i = x.getHtmlInfo();
    if (!i) return false;
    family = "html";
    fields = {{"title", i->title}, {"description", i->description}, {"keywords", i->keywords}};
  } else if (subtype == scan::kDocPdf) {
    CPDFExtract x(path, scratch.data(), size);
    auto* i = x.getPDFInfo();
    if (!i) return false;
    family = "pdf";
    fields = {{"title", i->title},       {"subject", i->subject},   {"author", i->author},
              {"keywords", i->keywords}, {"creator", i->creator},   {"producer", i->producer},
              {"version", i->version},   {"creationDate", i->creationDate, true},
              {"modificationDate", i->modificationDate, true}};
    numbers = {{"pageCount", i->pageCount}};
  } else {
    COfficeExtract x(path, scratch.data(), size);
    auto* i = x.getOfficefileInfo();
    if (!i) return false;
    family = "office";
    fields = {{"title", i->title},
              {"subject", i->subject},
              {"author", i->author},
              {"keywords", i->keywords},
              {"comments", i->comments},
              {"template", i->templateName},
              {"lastAuthor", i->lastAuthor},
              {"applicationName", i->applicationName},
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
  std::cout << file << "\n  " << family << " document\n";
  for (const auto& f : fields) {
    if (f.value.empty()) continue;
    std::string v = utf8(f.value);
    if (f.time) {
      if (auto t = parseHexTime(v)) v = displayTime(*t);
    }
    std::cout << "  " << f.key << ": " << v << "\n";
  }
  for (const auto& [k, v] : numbers) std::cout << "  " << k << ": " << v << "\n";
  return true;
}

int describe(const std::string& file, bool asJson, CGeneralTagsInfo& tags,
             const std::string& thumbnailOut) {
  if (::access(file.c_str(), R_OK) != 0 || std::filesystem::is_directory(file)) {
    std::cerr << "tamber: error: " << say(app::kTextCannotBeRead, {file}) << "\n";
    return kExitFailure;
  }
  if (isPicture(file) && describePicture(file, asJson, thumbnailOut)) return kExitOk;
  if (int archive = archiveKindOf(file); archive >= 0 && describeArchive(file, archive, asJson)) {
    return kExitOk;
  }
  if (describeDocument(file, asJson)) return kExitOk;
  // The extension says whether the file is audio; its first bytes say which
  // reader reads it. A file of another name is read as audio only when its
  // first bytes are those of an audio format.
  int kind = audioKindOf(file);
  std::string head = headOf(file);
  kind = AudioKindOfHead(head.data(), head.size(), kind);
  // File names that are not UTF-8 cannot travel as UTF-16; such a file is
  // read through the bytes widened one by one, which names it exactly.
  auto converted = utf8ToUtf16(file);
  std::u16string path = converted ? *converted : std::u16string(file.begin(), file.end());
  bool recognised = false;
  if (kind >= 0 && archiveKindOf(file) < 0 && !isPicture(file)) recognised = tags.loadInfo(path, kind) != 0;
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
    std::cout << "  not recognised by any extractor\n";
    return kExitOk;
  }
  for (const auto& [k, v] : texts) {
    if (!v->empty()) std::cout << "  " << k << ": " << utf8(*v) << "\n";
  }
  for (const auto& [k, v] : numbers) std::cout << "  " << k << ": " << v << "\n";
  return kExitOk;
}

}  // namespace

void registerMediaCommand(CLI::App& cli, int& status) {
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
                    "Write the thumbnail a picture would get (64 x 64 box; PNG or JPEG) to this file");
  media->callback([&status, args] {
    CGeneralTagsInfo tags;
    tags.CreateForAnalysis();
    status = kExitOk;
    for (const auto& f : args->files) {
      if (describe(f, args->json, tags, args->thumbnail) != kExitOk) status = kExitFailure;
    }
  });
}

}  // namespace tamber::cli
