// A reader of the summary information property set of compound documents
// ("\005SummaryInformation"). Private to TamberMedia.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace tamber::media {

// One property's value: text (already converted to UTF-16 from the set's
// code page), an integer (16 or 32 bits), or a file time (100 ns since
// 1601, UTC).
struct FileTime {
  uint64_t ticks;
};
using PropertyValue = std::variant<std::u16string, int32_t, FileTime>;

// The properties of the set with the summary information's format id
// F29F85E0-4FF9-1068-AB91-08002B27B3D9, by identifier; nothing when the
// bytes hold no such set. Properties of other types are left out; 8-bit
// strings are converted with the set's code page (property 1), else
// Windows-1252.
std::optional<std::map<uint32_t, PropertyValue>> readSummaryInformation(std::string_view stream);

// The text of 8-bit bytes in a Windows code page (1252, 65001, 1200, and
// whatever else the system's converters know); Windows-1252 for one they
// do not.
std::u16string fromWindowsCodePage(std::string_view bytes, int codePage);

}  // namespace tamber::media
