#include "media/doc/property_set.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "media/text_util.h"

namespace tamber::media {

namespace {

constexpr uint8_t kSummaryInformation[16] = {0xE0, 0x85, 0x9F, 0xF2, 0xF9, 0x4F, 0x68, 0x10,
                                             0xAB, 0x91, 0x08, 0x00, 0x2B, 0x27, 0xB3, 0xD9};
constexpr uint16_t kI2 = 0x0002, kI4 = 0x0003, kString = 0x001E, kWideString = 0x001F, kFileTime = 0x0040;
constexpr uint32_t kCodePageId = 1;
// No set of summary information holds more properties than this.
constexpr uint32_t kMaxProperties = 1024;

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }
uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

struct UConverterClose {
  void operator()(UConverter* c) const { ucnv_close(c); }
};

std::u16string untilZero(std::u16string s) {
  size_t nul = s.find(u'\0');
  if (nul != std::u16string::npos) s.resize(nul);
  return s;
}

}  // namespace

std::u16string fromWindowsCodePage(std::string_view bytes, int codePage) {
  if (codePage == 65001) return fromUtf8(bytes);
  if (codePage == 1200) return fromUtf16(bytes, false);
  if (codePage == 1252 || codePage <= 0) return fromCodePage(bytes);
  std::string name = "windows-" + std::to_string(codePage);
  UErrorCode status = U_ZERO_ERROR;
  std::unique_ptr<UConverter, UConverterClose> conv(ucnv_open(name.c_str(), &status));
  if (U_FAILURE(status)) {
    status = U_ZERO_ERROR;
    name = "ibm-" + std::to_string(codePage);
    conv.reset(ucnv_open(name.c_str(), &status));
  }
  if (U_FAILURE(status) || !conv) return fromCodePage(bytes);
  std::u16string out(bytes.size() * 2 + 1, u'\0');
  status = U_ZERO_ERROR;
  int32_t n = ucnv_toUChars(conv.get(), out.data(), static_cast<int32_t>(out.size()), bytes.data(),
                            static_cast<int32_t>(bytes.size()), &status);
  if (U_FAILURE(status)) return fromCodePage(bytes);
  out.resize(static_cast<size_t>(n));
  return untilZero(out);
}

std::optional<std::map<uint32_t, PropertyValue>> readSummaryInformation(std::string_view stream) {
  const auto* b = reinterpret_cast<const uint8_t*>(stream.data());
  size_t size = stream.size();
  // The header: byte order FFFE, version, system, class id, set count, then
  // (format id, offset) per set.
  if (size < 48 || le16(b) != 0xFFFE) return std::nullopt;
  uint32_t sets = le32(b + 24);
  size_t setStart = 0;
  for (uint32_t i = 0; i < sets && i < 2; ++i) {
    size_t entry = 28 + i * 20;
    if (entry + 20 > size) return std::nullopt;
    if (std::memcmp(b + entry, kSummaryInformation, 16) == 0) {
      setStart = le32(b + entry + 16);
      break;
    }
  }
  if (setStart == 0 || setStart > size || size - setStart < 8) return std::nullopt;
  const uint8_t* set = b + setStart;
  size_t setSize = std::min<size_t>(le32(set), size - setStart);
  uint32_t count = le32(set + 4);
  if (count > kMaxProperties || 8 + static_cast<size_t>(count) * 8 > setSize) return std::nullopt;

  // The code page first: it decides how the 8-bit strings read.
  int codePage = 1252;
  struct Entry {
    uint32_t id;
    size_t at;
  };
  std::vector<Entry> entries;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t id = le32(set + 8 + i * 8);
    size_t at = le32(set + 12 + i * 8);
    if (at > setSize || setSize - at < 4) continue;
    entries.push_back({id, at});
    if (id == kCodePageId && le16(set + at) == kI2 && setSize - at >= 6) codePage = le16(set + at + 4);
  }
  std::map<uint32_t, PropertyValue> values;
  for (const Entry& e : entries) {
    if (e.id == kCodePageId) continue;
    const uint8_t* v = set + e.at + 4;
    size_t room = setSize - e.at - 4;
    switch (le16(set + e.at)) {
      case kI2:
        if (room >= 2) values[e.id] = static_cast<int32_t>(static_cast<int16_t>(le16(v)));
        break;
      case kI4:
        if (room >= 4) values[e.id] = static_cast<int32_t>(le32(v));
        break;
      case kString: {
        if (room < 4) break;
        size_t n = le32(v);
        if (n > room - 4) break;
        std::string_view bytes(reinterpret_cast<const char*>(v + 4), n);
        values[e.id] = fromWindowsCodePage(bytes, codePage);
        break;
      }
      case kWideString: {
        if (room < 4) break;
        size_t n = le32(v);
        if (n > (room - 4) / 2) break;
        values[e.id] = fromUtf16(std::string_view(reinterpret_cast<const char*>(v + 4), n * 2), false);
        break;
      }
      case kFileTime:
        if (room >= 8) values[e.id] = FileTime{le32(v) | static_cast<uint64_t>(le32(v + 4)) << 32};
        break;
      default:
        break;
    }
  }
  return values;
}

}  // namespace tamber::media
