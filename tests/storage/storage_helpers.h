// Helpers shared by the storage tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <random>
#include <string>

#include "storage/compound_file.h"

namespace tamber::storage {

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

// Every stream of the file, by its path with "/" between storages.
inline void readTreeInto(Storage st, const std::string& prefix,
                         std::map<std::string, std::string>& out) {
  auto list = st.elements();
  ASSERT_TRUE(list) << list.message();
  for (const auto& el : list.value()) {
    if (el.type == ElementType::storage) {
      auto sub = st.openStorage(el.name);
      ASSERT_TRUE(sub) << sub.message();
      readTreeInto(sub.value(), prefix + el.name + "/", out);
      continue;
    }
    auto s = st.openStream(el.name);
    ASSERT_TRUE(s) << prefix << el.name << ": " << s.message();
    auto data = s->readAll();
    ASSERT_TRUE(data) << prefix << el.name << ": " << data.message();
    out[prefix + el.name] = data.value();
  }
}

inline std::map<std::string, std::string> readTree(CompoundFile& f) {
  std::map<std::string, std::string> out;
  readTreeInto(f.root(), "", out);
  return out;
}

struct TempDir {
  std::filesystem::path path;
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "tamber-test-XXXXXX").string();
    path = mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

}  // namespace tamber::storage
