// Helpers shared by the storage tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "storage/compound_file.h"
#include "storage/format.h"
#include "tests/temp_dir.h"

namespace tamber::storage {

// Builds under AddressSanitizer or ThreadSanitizer run the sampling tests
// (every stop point of a workload, thousands of transactions) on fewer
// samples: the same code, several times slower there; the optimised build
// takes them all.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kInstrumented = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
inline constexpr bool kInstrumented = true;
#else
inline constexpr bool kInstrumented = false;
#endif
#else
inline constexpr bool kInstrumented = false;
#endif

inline std::string randomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed * 2654435761u + 17);
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

inline void putStream(Storage st, const std::string& name, const std::string& data) {
  auto s = st.createStream(name);
  ASSERT_TRUE(s) << name << ": " << s.message();
  ASSERT_TRUE(s->write(data));
  ASSERT_TRUE(s->commit());
}

// Every stream below `st`, by its path with "/" between storages; false
// and what failed in `why` when an element cannot be read (usable from any
// thread: no test assertion).
inline bool readStreams(Storage st, const std::string& prefix, std::map<std::string, std::string>& out,
                        std::string& why) {
  auto list = st.elements();
  if (!list) return why = prefix + ": " + list.message(), false;
  for (const auto& el : list.value()) {
    if (el.type == ElementType::storage) {
      auto sub = st.openStorage(el.name);
      if (!sub) return why = prefix + el.name + ": " + sub.message(), false;
      if (!readStreams(sub.value(), prefix + el.name + "/", out, why)) return false;
      continue;
    }
    auto s = st.openStream(el.name);
    if (!s) return why = prefix + el.name + ": " + s.message(), false;
    auto data = s->readAll();
    if (!data) return why = prefix + el.name + ": " + data.message(), false;
    out[prefix + el.name] = data.value();
  }
  return true;
}

inline void readTreeInto(Storage st, const std::string& prefix, std::map<std::string, std::string>& out) {
  std::string why;
  ASSERT_TRUE(readStreams(st, prefix, out, why)) << why;
}

inline std::map<std::string, std::string> readTree(CompoundFile& f) {
  std::map<std::string, std::string> out;
  readTreeInto(f.root(), "", out);
  return out;
}

// The FAT entry of one sector, read from the raw file without the engine.
inline uint32_t rawFatEntry(FileIo& io, uint32_t sector) {
  using namespace detail;
  uint8_t h[512];
  if (!io.read(0, h, 512)) return 0;
  uint32_t shift = getLe16(h + 30);
  uint32_t size = 1u << shift, per = size / 4;
  std::vector<uint32_t> fat;
  for (uint32_t i = 0; i < 109; ++i) fat.push_back(getLe32(h + 76 + 4 * i));
  std::vector<uint8_t> buf(size);
  uint32_t d = getLe32(h + 68);
  for (uint32_t n = 0; n < getLe32(h + 72); ++n) {
    (void)io.read((uint64_t{d} + 1) << shift, buf.data(), size);
    for (uint32_t i = 0; i + 1 < per; ++i) fat.push_back(getLe32(buf.data() + 4 * i));
    d = getLe32(buf.data() + size - 4);
  }
  uint32_t where = fat.at(sector / per);
  (void)io.read(((uint64_t{where} + 1) << shift) + 4 * (sector % per), buf.data(), 4);
  return getLe32(buf.data());
}

// What differs between two trees, in a few words per stream ("" when equal).
inline std::string treeDiff(const std::map<std::string, std::string>& got,
                            const std::map<std::string, std::string>& want) {
  std::string out;
  for (const auto& [k, v] : want) {
    auto it = got.find(k);
    if (it == got.end()) {
      out += "missing " + k + " (" + std::to_string(v.size()) + " bytes); ";
    } else if (it->second != v) {
      size_t at = 0;
      while (at < v.size() && at < it->second.size() && v[at] == it->second[at]) ++at;
      out += k + ": " + std::to_string(it->second.size()) + " bytes, want " +
             std::to_string(v.size()) + ", first difference at " + std::to_string(at) + "; ";
    }
  }
  for (const auto& [k, v] : got) {
    if (!want.count(k)) out += "unexpected " + k + " (" + std::to_string(v.size()) + " bytes); ";
  }
  return out;
}

using test_support::TempDir;

}  // namespace tamber::storage
