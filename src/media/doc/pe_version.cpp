#include "media/doc/pe_version.h"

#include <unicode/uloc.h>

#include <algorithm>
#include <cstring>

#include "media/media_file.h"
#include "media/text_util.h"

namespace tamber::media {

namespace {

constexpr uint32_t kVersionType = 16;  // RT_VERSION
// No version resource is larger than this.
constexpr uint32_t kMaxResourceBytes = 1 << 20;
// Entries of one resource directory looked at.
constexpr uint32_t kMaxEntries = 4096;
constexpr int kMaxDepth = 8;

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

struct Section {
  uint32_t virtualAddress, virtualSize, rawSize, rawOffset;
};

class Image {
 public:
  explicit Image(const MediaFile& file) : file_(file) {}

  bool load() {
    uint8_t dos[64];
    if (!file_.readAll(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    uint32_t pe = le32(dos + 0x3C);
    uint8_t h[24];
    if (!file_.readAll(pe, h, sizeof h) || std::memcmp(h, "PE\0\0", 4) != 0) return false;
    uint16_t sections = le16(h + 6);
    uint16_t optionalSize = le16(h + 20);
    std::string opt(optionalSize, '\0');
    if (optionalSize < 2 || !file_.readAll(pe + 24, opt.data(), opt.size())) return false;
    const auto* o = reinterpret_cast<const uint8_t*>(opt.data());
    uint16_t magic = le16(o);
    size_t countAt = magic == 0x20B ? 108 : magic == 0x10B ? 92 : 0;
    if (countAt == 0 || opt.size() < countAt + 4) return false;
    uint32_t directories = le32(o + countAt);
    size_t resourceAt = countAt + 4 + 2 * 8;  // the third directory
    if (directories < 3 || opt.size() < resourceAt + 8) return false;
    resourceRva_ = le32(o + resourceAt);
    if (resourceRva_ == 0) return false;
    uint64_t table = pe + 24 + optionalSize;
    for (uint16_t i = 0; i < sections && i < 96; ++i) {
      uint8_t s[40];
      if (!file_.readAll(table + i * 40, s, sizeof s)) return false;
      sections_.push_back({le32(s + 12), le32(s + 8), le32(s + 16), le32(s + 20)});
    }
    return true;
  }

  // The file offset of a relative virtual address.
  std::optional<uint64_t> offsetOf(uint32_t rva) const {
    for (const Section& s : sections_) {
      uint32_t span = std::max(s.virtualSize, s.rawSize);
      if (rva >= s.virtualAddress && rva - s.virtualAddress < span) {
        return static_cast<uint64_t>(s.rawOffset) + (rva - s.virtualAddress);
      }
    }
    return std::nullopt;
  }

  // The first entry of a resource directory with the id `id` (any id when
  // `id` is 0): its offset field.
  std::optional<uint32_t> entry(uint32_t directory, uint32_t id) const {
    auto at = offsetOf(resourceRva_ + directory);
    uint8_t d[16];
    if (!at || !file_.readAll(*at, d, sizeof d)) return std::nullopt;
    uint32_t count = std::min<uint32_t>(static_cast<uint32_t>(le16(d + 12)) + le16(d + 14), kMaxEntries);
    for (uint32_t i = 0; i < count; ++i) {
      uint8_t e[8];
      if (!file_.readAll(*at + 16 + i * 8, e, sizeof e)) return std::nullopt;
      uint32_t name = le32(e);
      if (id == 0 || (!(name & 0x80000000u) && name == id)) return le32(e + 4);
    }
    return std::nullopt;
  }

  std::optional<std::string> versionResource() const {
    // The version type's directory, then the first name's; the first
    // language there holds the data entry.
    uint32_t at = 0;
    for (int level = 0; level < 2; ++level) {
      auto next = entry(at, level == 0 ? kVersionType : 0);
      if (!next || !(*next & 0x80000000u)) return std::nullopt;
      at = *next & 0x7FFFFFFFu;
    }
    auto lang = entry(at, 0);
    if (!lang || (*lang & 0x80000000u)) return std::nullopt;
    auto dataAt = offsetOf(resourceRva_ + *lang);
    uint8_t d[16];
    if (!dataAt || !file_.readAll(*dataAt, d, sizeof d)) return std::nullopt;
    uint32_t size = le32(d + 4);
    auto bytesAt = offsetOf(le32(d));
    if (!bytesAt || size == 0 || size > kMaxResourceBytes) return std::nullopt;
    std::string bytes(size, '\0');
    bytes.resize(file_.read(*bytesAt, bytes.data(), bytes.size()));
    return bytes;
  }

 private:
  const MediaFile& file_;
  uint32_t resourceRva_ = 0;
  std::vector<Section> sections_;
};

// One block of the version resource: length, value length, type, key, value
// and children, each aligned to 4 bytes.
struct Block {
  std::u16string key;
  std::string_view value;
  std::string_view children;
};

size_t align4(size_t n) { return (n + 3) & ~static_cast<size_t>(3); }

std::optional<Block> blockAt(std::string_view bytes, size_t at, size_t& next) {
  if (bytes.size() < at + 6) return std::nullopt;
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data()) + at;
  size_t length = le16(p);
  size_t valueLength = le16(p + 2);
  bool text = le16(p + 4) == 1;
  if (length < 6 || length > bytes.size() - at) return std::nullopt;
  std::string_view block = bytes.substr(at, length);
  Block b;
  size_t i = 6;
  for (; i + 1 < block.size(); i += 2) {
    char16_t c = static_cast<char16_t>(static_cast<uint8_t>(block[i]) | static_cast<uint8_t>(block[i + 1]) << 8);
    if (c == 0) break;
    b.key += c;
  }
  i = align4(i + 2);
  size_t valueBytes = text ? valueLength * 2 : valueLength;
  if (i > block.size()) i = block.size();
  valueBytes = std::min(valueBytes, block.size() - i);
  b.value = block.substr(i, valueBytes);
  size_t childrenAt = std::min(align4(i + valueBytes), block.size());
  b.children = block.substr(childrenAt);
  next = at + align4(length);
  return b;
}

bool sameKey(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i] >= u'a' && a[i] <= u'z' ? a[i] - 32 : a[i];
    char16_t y = b[i] >= u'a' && b[i] <= u'z' ? b[i] - 32 : b[i];
    if (x != y) return false;
  }
  return true;
}

// The version resource of a 16-bit (NE) program is laid out as the 32-bit
// one without its type word, with 8-bit keys and texts. It is rewritten in
// the 32-bit layout, so that one query reads both: `kind` 0 for an ordinary
// block, 1 for the string tables below "StringFileInfo", 2 for their
// strings (whose values are texts).
bool widenBlock(std::string_view bytes, int kind, int depth, std::string& out, size_t& used) {
  if (depth > kMaxDepth || bytes.size() < 4) return false;
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  size_t length = le16(p), valueLength = le16(p + 2);
  if (length < 4 || length > bytes.size()) return false;
  std::string_view block = bytes.substr(0, length);
  size_t keyEnd = block.find('\0', 4);
  if (keyEnd == std::string_view::npos) return false;
  std::string_view key = block.substr(4, keyEnd - 4);
  size_t valueAt = std::min(align4(keyEnd + 1), block.size());
  std::string_view value = block.substr(valueAt, std::min(valueLength, block.size() - valueAt));
  size_t childrenAt = std::min(align4(valueAt + value.size()), block.size());

  size_t start = out.size();
  out.append(6, '\0');
  auto put16 = [&](char16_t c) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  };
  auto widen = [&](std::string_view text) {
    std::u16string wide = fromCodePage(text, false);
    for (char16_t c : wide) put16(c);
    put16(0);
    return wide.size();
  };
  widen(key);
  out.append(align4(out.size() - start) - (out.size() - start), '\0');
  bool text = kind == 2;
  size_t writtenValue = value.size();
  if (text) {
    writtenValue = widen(value.substr(0, std::min(value.find('\0'), value.size()))) + 1;  // the zero included
  } else {
    out.append(value);
  }
  for (std::string_view rest = block.substr(childrenAt); !rest.empty();) {
    out.append(align4(out.size() - start) - (out.size() - start), '\0');
    int childKind = kind == 0 && key == "StringFileInfo" ? 1 : kind == 1 ? 2 : 0;
    size_t childUsed = 0;
    if (!widenBlock(rest, childKind, depth + 1, out, childUsed)) break;
    rest.remove_prefix(std::min(rest.size(), align4(childUsed)));
  }
  size_t total = out.size() - start;
  if (total > 0xFFFF || writtenValue > 0xFFFF) return false;
  out[start] = static_cast<char>(total & 0xFF);
  out[start + 1] = static_cast<char>(total >> 8);
  out[start + 2] = static_cast<char>(writtenValue & 0xFF);
  out[start + 3] = static_cast<char>(writtenValue >> 8);
  out[start + 4] = text ? 1 : 0;
  used = length;
  return true;
}

// A 16-bit program's version resource (type 0x8010 in its resource table),
// in the 32-bit layout.
std::optional<std::string> neVersionResource(const MediaFile& file) {
  uint8_t dos[64], h[64], a[2];
  if (!file.readAll(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return std::nullopt;
  uint64_t ne = le32(dos + 0x3C);
  if (!file.readAll(ne, h, sizeof h) || h[0] != 'N' || h[1] != 'E') return std::nullopt;
  uint64_t at = ne + le16(h + 0x24);
  if (!file.readAll(at, a, sizeof a)) return std::nullopt;
  unsigned shift = le16(a);
  if (shift > 16) return std::nullopt;
  at += 2;
  for (uint32_t types = 0; types < kMaxEntries; ++types) {
    uint8_t t[8];
    if (!file.readAll(at, t, sizeof t) || le16(t) == 0) return std::nullopt;
    uint16_t type = le16(t), count = le16(t + 2);
    at += 8;
    if (type == 0x8010 && count > 0) {
      uint8_t n[12];
      if (!file.readAll(at, n, sizeof n)) return std::nullopt;
      uint64_t offset = static_cast<uint64_t>(le16(n)) << shift, length = static_cast<uint64_t>(le16(n + 2)) << shift;
      if (length == 0 || length > kMaxResourceBytes) return std::nullopt;
      std::string bytes(length, '\0');
      bytes.resize(file.read(offset, bytes.data(), bytes.size()));
      std::string wide;
      size_t used = 0;
      if (!widenBlock(bytes, 0, 0, wide, used)) return std::nullopt;
      return wide;
    }
    at += static_cast<uint64_t>(count) * 12;
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> readVersionResource(const MediaFile& file) {
  Image image(file);
  if (image.load()) return image.versionResource();
  return neVersionResource(file);
}

std::optional<std::string_view> queryVersionValue(std::string_view resource, std::u16string_view path) {
  size_t next = 0;
  auto root = blockAt(resource, 0, next);
  if (!root) return std::nullopt;
  Block current = *root;
  int depth = 0;
  size_t p = 0;
  while (p < path.size() && path[p] == u'\\') ++p;
  while (p < path.size()) {
    if (++depth > kMaxDepth) return std::nullopt;
    size_t end = path.find(u'\\', p);
    std::u16string_view part = path.substr(p, end == std::u16string_view::npos ? std::u16string_view::npos : end - p);
    p = end == std::u16string_view::npos ? path.size() : end + 1;
    std::optional<Block> found;
    std::string_view children = current.children;
    for (size_t at = 0, n = 0; at < children.size() && n < kMaxEntries; ++n) {
      size_t after = 0;
      auto child = blockAt(children, at, after);
      if (!child || after <= at) break;
      if (sameKey(child->key, part)) {
        found = child;
        break;
      }
      at = after;
    }
    if (!found) return std::nullopt;
    current = *found;
  }
  return current.value;
}

std::u16string languageName(uint16_t languageId) {
  if (languageId == 0) return u"Language Neutral";
  char locale[ULOC_FULLNAME_CAPACITY] = {};
  UErrorCode status = U_ZERO_ERROR;
  int32_t n = uloc_getLocaleForLCID(languageId, locale, sizeof locale, &status);
  if (U_FAILURE(status) || n <= 0) return u"Language Neutral";
  UChar name[128] = {};
  status = U_ZERO_ERROR;
  int32_t len = uloc_getDisplayName(locale, "en", name, 128, &status);
  if (U_FAILURE(status) || len <= 0) return u"Language Neutral";
  return std::u16string(reinterpret_cast<const char16_t*>(name), static_cast<size_t>(std::min(len, 127)));
}

}  // namespace tamber::media
