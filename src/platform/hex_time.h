// HexTime: a point in time stored as upper-case hexadecimal seconds since
// 1970-01-01 00:00 UTC ("%X").
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string>

namespace tamber {

inline std::string hexTime(std::time_t t) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(t < 0 ? 0 : t));
  return buf;
}

inline std::optional<std::time_t> parseHexTime(const std::string& s) {
  if (s.empty() || s.size() > 16) return std::nullopt;
  unsigned long long v = 0;
  for (char c : s) {
    int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                            : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
    if (d < 0) return std::nullopt;
    v = v * 16 + static_cast<unsigned>(d);
  }
  return static_cast<std::time_t>(v);
}

// A recorded time as local time in a strftime format; nothing for an
// empty, zero or malformed one.
inline std::optional<std::string> formatHexTime(const std::string& hexTime, const char* format) {
  auto t = parseHexTime(hexTime);
  if (!t || !*t) return std::nullopt;
  std::tm tm{};
  if (!localtime_r(&*t, &tm)) return std::nullopt;
  char buf[64];
  std::strftime(buf, sizeof buf, format, &tm);
  return std::string(buf);
}

// Local date and time for display: "2024-03-05 14:30".
inline std::string displayTime(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm);
  return buf;
}

}  // namespace tamber

namespace tamber {

// The HexTime of a file time as listings record it: the time as the local
// wall clock shows it, turned back into seconds by mktime (daylight saving
// unknown); the low 32 bits in upper-case hexadecimal. "0" for a time before
// 1900 or one that does not convert.
inline std::string fileHexTime(std::time_t t) {
  std::tm tm{};
  if (!localtime_r(&t, &tm) || tm.tm_year < 0) return "0";
  tm.tm_isdst = -1;
  errno = 0;
  std::time_t back = std::mktime(&tm);
  if (back == static_cast<std::time_t>(-1) && errno != 0) return "0";
  char buf[16];
  std::snprintf(buf, sizeof buf, "%X", static_cast<unsigned>(static_cast<uint32_t>(back)));
  return buf;
}

}  // namespace tamber
