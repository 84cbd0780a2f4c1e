// What the document readers share. Private to TamberMedia.
#pragma once

#include <cstdint>
#include <cstring>
#include <ctime>
#include <new>
#include <string>

#include "media/media.h"
#include "media/text_util.h"

namespace tamber::media {

// The caller's scratch buffer, zeroed; a missing one is the out-of-memory
// error the constructors let through.
inline void requireScratch(uint8_t* scratch, int size) {
  if (!scratch || size <= 0) throw std::bad_alloc();
  std::memset(scratch, 0, static_cast<size_t>(size));
}

// A calendar time from its parts (month 1-12).
inline std::tm calendarTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return tm;
}

// The HexTime of a local calendar time given by its parts; empty when it
// does not convert or lies before 1900.
inline std::u16string localHexTime(int year, int month, int day, int hour, int minute, int second) {
  return HexTimeOfLocalTime(calendarTime(year, month, day, hour, minute, second)).value_or(u"");
}

// The path the readers open: the UTF-8 form of the caller's UTF-16 path.
inline std::string nativePath(const std::u16string& path) { return toUtf8(path); }

}  // namespace tamber::media
