// The version resource of PE programs and libraries (32 and 64 bit), found
// through the resource directory, and of 16-bit (NE) programs, found
// through their resource table and rewritten in the 32-bit layout; and queried by path like the platform's
// version calls ("\", "\VarFileInfo\Translation",
// "\StringFileInfo\040904B0\CompanyName"). Private to TamberMedia.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamber::media {

class MediaFile;

// The bytes of the file's first version resource (a 16-bit program's in the
// 32-bit layout); nothing when it has none (or is no PE or NE file).
std::optional<std::string> readVersionResource(const MediaFile& file);

// The value of the block at `path` in a version resource: its bytes (for a
// text value, UTF-16 little-endian up to the terminating zero); nothing
// when the path names no block.
std::optional<std::string_view> queryVersionValue(std::string_view resource, std::u16string_view path);

// The English name of a Windows language identifier, as the platform names
// it: 0x0409 "English (United States)", 0 "Language Neutral".
std::u16string languageName(uint16_t languageId);

}  // namespace tamber::media
