// Fuzz target: a settings file, outside data (it may be shared or copied
// from elsewhere). Loads it and reads every value back.

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/settings_store.h"
#include "fuzz/memfd_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  MemfdFile file(data, size);
  if (!file.ok()) return 0;
  tamber::app::SettingsStore store;
  if (!store.load(file.path(), "fuzz")) return 0;
  for (const auto& e : store.entries()) {
    if (store.getText(e.section, e.key).size() > size) __builtin_trap();
    (void)store.getInt(e.section, e.key, 0);
    (void)store.findIgnoringCase(e.section, e.key);
    (void)store.getList(e.section, e.key);
  }
  store.putText("App-Preference", "DefaultDepth", "3");
  if (store.getInt("App-Preference", "DefaultDepth", 0) != 3) __builtin_trap();
  return 0;
}
