// CExecutable: the version information of a program or library: the fixed
// version block, the translations and their language names, and the
// version strings of the chosen translation.
#include <cstdio>
#include <cstring>
#include <vector>

#include "media/doc/doc_util.h"
#include "media/doc/pe_version.h"
#include "media/media.h"
#include "media/media_file.h"

using namespace tamber::media;

namespace {

constexpr uint32_t kFixedSignature = 0xFEEF04BD;
// Each language name keeps at most this many characters.
constexpr size_t kMaxLanguageName = 55;

uint32_t le32(const char* p) {
  const auto* b = reinterpret_cast<const uint8_t*>(p);
  return b[0] | b[1] << 8 | b[2] << 16 | static_cast<uint32_t>(b[3]) << 24;
}

std::u16string textValue(std::string_view value) { return fromUtf16(value, false, true); }

struct Translation {
  uint16_t language, codePage;
};

}  // namespace

CExecutable::CExecutable(const std::u16string& path, uint8_t* scratch, int size) {
  ResetPorps(info_);
  MediaFile::Cache cache;
  MediaFile file(nativePath(path), cache);
  if (!file.ok()) return;
  auto resource = readVersionResource(file);
  if (!resource) return;
  auto fixed = queryVersionValue(*resource, u"\\");
  if (!fixed || fixed->size() < 52 || le32(fixed->data()) != kFixedSignature) return;
  auto list = queryVersionValue(*resource, u"\\VarFileInfo\\Translation");
  if (!list || list->size() < 4) return;
  std::vector<Translation> translations;
  for (size_t i = 0; i + 4 <= list->size(); i += 4) {
    uint32_t v = le32(list->data() + i);
    translations.push_back({static_cast<uint16_t>(v & 0xFFFF), static_cast<uint16_t>(v >> 16)});
  }
  requireScratch(scratch, size);
  // What fits in the caller's buffer as UTF-16 with its terminating zero.
  size_t maxChars = static_cast<size_t>(size) / 2 > 0 ? static_cast<size_t>(size) / 2 - 1 : 0;

  for (const Translation& t : translations) {
    std::u16string name = languageName(t.language);
    if (name.size() > kMaxLanguageName) name.resize(kMaxLanguageName);
    info_.languages += (info_.languages.empty() ? u"" : u",") + name;
  }
  auto query = [&](const Translation& t, const char16_t* key, std::u16string& field) {
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, "\\StringFileInfo\\%04X%04X\\", t.language, t.codePage);
    std::u16string p(prefix, prefix + std::strlen(prefix));
    auto v = queryVersionValue(*resource, p + key);
    if (!v) return;
    std::u16string text = scrubbed(textValue(*v));
    if (text.size() > maxChars) text.resize(maxChars);
    field = std::move(text);
  };
  query(translations[0], u"SpecialBuild", info_.specialBuild);
  // A language-neutral Unicode translation is preferred, else the first.
  size_t chosen = 0;
  if (!(translations[0].language == 0 && translations[0].codePage == 1200)) {
    for (size_t i = 0; i < translations.size(); ++i) {
      if (translations[i].language == 0 && translations[i].codePage == 1200) {
        chosen = i;
        break;
      }
    }
  }
  uint32_t ms = le32(fixed->data() + 8), ls = le32(fixed->data() + 12);
  char version[64];
  std::snprintf(version, sizeof version, "%d.%d.%d.%d", ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF);
  info_.fileVersion = std::u16string(version, version + std::strlen(version));
  const Translation& t = translations[chosen];
  query(t, u"Comments", info_.comments);
  query(t, u"CompanyName", info_.companyName);
  query(t, u"FileDescription", info_.fileDescription);
  query(t, u"InternalName", info_.internalName);
  query(t, u"LegalCopyright", info_.legalCopyright);
  query(t, u"LegalTrademarks", info_.legalTrademarks);
  query(t, u"OriginalFilename", info_.originalFileName);
  query(t, u"ProductName", info_.productName);
  query(t, u"ProductVersion", info_.productVersion);
  query(t, u"SpecialBuild", info_.specialBuild);
  valid_ = 1;
}

void CExecutable::ResetPorps(tag_ModuleInfo& i) { i = tag_ModuleInfo{}; }
