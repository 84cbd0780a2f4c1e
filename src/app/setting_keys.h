// The settings the program reads, with their types, defaults and meanings:
// what `tamber config keys` prints and `config set` checks a value against.
#pragma once

#include <span>
#include <string>
#include <string_view>

namespace tamber::app {

enum class SettingType { integer, flag, text, list };

struct SettingKey {
  const char* section;
  const char* key;
  SettingType type;
  const char* fallback;  // the value used while none is stored
  long low, high;        // the range of an integer
  const char* meaning;
};

// Every setting a person may set, in the order `config keys` shows them.
std::span<const SettingKey> settingKeys();
// The setting SECTION/KEY names, letter case aside; null when none.
const SettingKey* findSettingKey(std::string_view section, std::string_view key);
// Sections the desktop program keeps for itself (window places, toolbars,
// column widths): their keys are known, though not listed.
bool isLayoutSection(std::string_view section);
// Why `value` does not fit the setting, in a sentence; empty when it does.
std::string settingValueProblem(const SettingKey& key, const std::string& value);
const char* settingTypeName(SettingType type);

}  // namespace tamber::app
