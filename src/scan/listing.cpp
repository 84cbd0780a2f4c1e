#include "scan/listing.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "media/video/video_probe.h"
#include "platform/hex_time.h"
#include "platform/text.h"

namespace tamber::scan {

namespace {

struct Row {
  FileKind kind;
  uint8_t subtype;
  const char* extensions;
};

// 164 extensions: the 119 every library has known, FLAC, Opus and MPEG-4
// audio, the Office Open XML and OpenDocument formats, the archives and
// compressed tars of today (their first bytes choose the lister), 21
// video containers and DVD-Video's information files.
constexpr Row kRows[] = {
    {FileKind::archive, 0, "cab"},
    {FileKind::archive, 1, "jar moz sar zip z"},
    {FileKind::archive, 2, "rar"},
    {FileKind::archive, 3, "gz gzip tar tgz tz taz tzb tpz txf"},
    {FileKind::archive, 3, "7z xz txz bz2 tbz tbz2 zst tzst lz tlz lzma lz4 cpio"},
    {FileKind::archive, 4, "arj"},
    {FileKind::archive, 5, "ace"},
    {FileKind::archive, 6, "lzh lha lhw lzw lzs lzx"},
    {FileKind::archive, 7, "sfx"},
    {FileKind::document, kDocModule, "dll ole olb sys vbx vxd"},
    {FileKind::document, kDocHtml, "hta htm html htt htx jsp php php3 phtml"},
    {FileKind::document, kDocOffice,
     "doc dot eml ldb lko msi mdb mad maf mar maq mat mde mer mmf msc msp ppi pps ppt pwz pxl "
     "qef rtf vsd vss vsw wpt wab wpg wpk wpm xls xla xlb xlc xld xlk xll xlm xlv xlw "
     "docx xlsx pptx odt ods odp"},
    {FileKind::document, kDocPdf, "pdf"},
    {FileKind::audio, 0, "mp3 mp2"},
    {FileKind::audio, 1, "ogg ogm"},
    {FileKind::audio, 2, "asf wma"},
    {FileKind::audio, 3, "ape apl mac"},
    {FileKind::audio, 4, "flac"},
    {FileKind::audio, 5, "opus"},
    {FileKind::audio, 6, "m4a m4b"},
    {FileKind::image, 0,
     "bmp bm bah bal brh brl dib ddb dah dal emf gif ico jpg jff jif jfif jpeg jpe jtf png pbm "
     "raw rdi tif tiff"},
    {FileKind::executable, kSubtypeExecutable, "exe"},
    // Video containers; the first bytes say which reader.
    {FileKind::video, 0,
     "mp4 m4v mov qt 3gp 3g2 mkv webm avi divx mpg mpeg mpe vob ts m2ts mts m2t flv f4v wmv"},
    {FileKind::video, kVideoDvdInformation, "ifo"},
};

constexpr const char* kImageExtensions[] = {"bmp", "bm",  "bah", "bal",  "brh",  "brl",
                                            "dib", "ddb", "dah", "dal",  "emf",  "gif",
                                            "ico", "jpg", "jff", "jif",  "jfif", "jpeg",
                                            "jpe", "jtf", "png", "pbm",  "tif",  "tiff"};

bool plainText(std::string_view s) {
  for (unsigned char c : s) {
    if (c < 0x20 || c > 0x7E || c == '<' || c == '>' || c == '&') return false;
  }
  return true;
}

}  // namespace

void appendVideoFields(std::string& head, std::string& tail, const media::VideoRecord& v) {
  appendTextElement(head, kVideoContainerCode, v.container);
  if (v.seconds > 0) appendTextElement(head, "q", media::durationText(v.seconds));
  if (v.bitRate > 0) appendTextElement(head, "o", media::bitRateText(v.bitRate));
  appendTextElement(head, kVideoCodecCode, v.videoCodec);
  appendTextElement(head, kFrameRateCode, media::frameRateText(v.frameRate));
  appendTextElement(head, kAudioTracksCode, media::audioTracksText(v.audio));
  appendTextElement(head, kSubtitlesCode, media::subtitlesText(v.subtitleLanguages));
  appendTextElement(head, "r", v.title);
  appendTextElement(head, "s", v.artist);
  appendTextElement(head, kVideoDateCode, v.date);
  appendTextElement(head, "v", v.comment);
  if (v.width > 0 && v.height > 0) appendDimension(tail, v.width, v.height);
}

ExtensionTable::ExtensionTable() {
  for (const Row& row : kRows) {
    for (std::string_view ext : splitNonEmpty(row.extensions, ' ')) {
      Entry e{};
      std::memcpy(e.rest, ext.data() + 1, ext.size() - 1);
      e.kind = row.kind;
      e.subtype = row.subtype;
      buckets_[bucketOf(ext[0])].push_back(e);
    }
  }
}

std::optional<FileClass> ExtensionTable::classify(std::string_view ext) const {
  int bucket = ext.empty() ? -1 : bucketOf(ext[0]);
  if (bucket < 0) return std::nullopt;
  std::string_view rest = ext.substr(1);
  if (rest.size() > 4) return std::nullopt;
  for (const Entry& e : buckets_[bucket]) {
    if (rest == e.rest) return FileClass{e.kind, e.subtype};
  }
  return std::nullopt;
}

int ExtensionTable::bucketOf(char first) {
  if (first >= 'a' && first <= 'z') return first - 'a';
  if (first >= '0' && first <= '9') return 26 + (first - '0');
  return -1;
}

size_t ExtensionTable::size() const {
  size_t n = 0;
  for (const auto& b : buckets_) n += b.size();
  return n;
}

bool isImageExtension(std::string_view ext) {
  for (const char* e : kImageExtensions) {
    if (ext == e) return true;
  }
  return false;
}

bool isContentHash(std::string_view text) {
  if (text.size() != 32) return false;
  for (char ch : text) {
    if (!((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f'))) return false;
  }
  return true;
}

std::string extensionOf(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return {};
  std::string ext(name.substr(dot + 1));
  for (char& c : ext) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return ext;
}

void appendTextElement(std::string& out, const char* code, std::string_view text) {
  if (text.empty()) return;
  out += '<';
  out += code;
  out += '>';
  if (plainText(text)) {
    out += text;
  } else {
    std::string safe = xmlSafe(text);
    if (safe.find_first_of("<>&") != std::string::npos) {
      out += "<![CDATA[";
      size_t pos = 0;
      for (size_t at; (at = safe.find("]]>", pos)) != std::string::npos; pos = at + 2) {
        out.append(safe, pos, at + 2 - pos);
        out += "]]><![CDATA[";
      }
      out.append(safe, pos, std::string::npos);
      out += "]]>";
    } else {
      for (char c : safe) {
        if (c == '\r') out += "&#13;";
        else out += c;
      }
    }
  }
  out += "</";
  out += code;
  out += '>';
}

void appendNumberElement(std::string& out, const char* code, const char* format, long long value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, format, value);
  appendTextElement(out, code, buf);
}

void appendDimension(std::string& out, int width, int height) {
  appendNumberElement(out, "z", "%llX",
                      static_cast<long long>((static_cast<uint32_t>(height & 0xFFFF) << 16) |
                                             static_cast<uint32_t>(width & 0xFFFF)));
}

std::string listingHeader(int kindCode) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a1 xmlns=\"urn:CDs\" i=\"" +
         std::to_string(kindCode) + "\">";
}

std::string HexTimeCache::operator()(std::time_t t) {
  long long bucket = static_cast<long long>(t) / 900 - (t < 0 && t % 900 != 0 ? 1 : 0);
  Slot& s = slots_[static_cast<uint64_t>(bucket) & 255];
  if (s.bucket != bucket) {
    std::time_t start = static_cast<std::time_t>(bucket * 900);
    std::string h = fileHexTime(start);
    s.bucket = bucket;
    s.zero = h == "0";
    s.delta = s.zero ? 0 : static_cast<long long>(std::strtoull(h.c_str(), nullptr, 16)) -
                               static_cast<long long>(static_cast<uint32_t>(start));
  }
  if (s.zero) return fileHexTime(t);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%X",
                static_cast<unsigned>(static_cast<uint32_t>(static_cast<long long>(t) + s.delta)));
  return buf;
}

}  // namespace tamber::scan
