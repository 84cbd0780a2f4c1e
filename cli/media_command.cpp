// tamber media FILE...: what the extractors find in files.

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "commands.h"
#include "json.h"
#include "media/media.h"
#include "platform/utf.h"

namespace tamber::cli {

namespace {

std::string utf8(const std::u16string& s) { return utf16ToUtf8(s); }

// The audio reader an extension calls for; -1 when none.
int audioKindOf(const std::filesystem::path& p) {
  std::string ext = p.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
  if (ext == ".mp3" || ext == ".mp2" || ext == ".mp1" || ext == ".mpa" || ext == ".mpga") return kAudioMpeg;
  if (ext == ".ogg" || ext == ".oga") return kAudioOggVorbis;
  if (ext == ".wma" || ext == ".asf") return kAudioAsf;
  if (ext == ".ape" || ext == ".mac") return kAudioApe;
  return -1;
}

int describe(const std::string& file, bool asJson, CGeneralTagsInfo& tags) {
  if (::access(file.c_str(), R_OK) != 0 || std::filesystem::is_directory(file)) {
    std::cerr << "tamber: " << file << ": cannot be read\n";
    return kExitFailure;
  }
  int kind = audioKindOf(file);
  // File names that are not UTF-8 cannot travel as UTF-16; such a file is
  // read through the bytes widened one by one, which names it exactly.
  auto converted = utf8ToUtf16(file);
  std::u16string path = converted ? *converted : std::u16string(file.begin(), file.end());
  bool recognised = false;
  for (int k : kind >= 0 ? std::vector<int>{kind} : std::vector<int>{kAudioMpeg}) {
    if (tags.loadInfo(path, k)) {
      recognised = true;
      break;
    }
  }
  const std::pair<const char*, const std::u16string*> texts[] = {
      {"codecText", &tags.codecText}, {"channelsText", &tags.channelsText},
      {"bitRateText", &tags.bitRateText}, {"durationText", &tags.durationText},
      {"title", &tags.title}, {"artist", &tags.artist}, {"album", &tags.album},
      {"genre", &tags.genre}, {"comment", &tags.comment}, {"lyrics", &tags.lyrics},
      {"vendorText", &tags.vendorText}, {"compressionText", &tags.compressionText},
      {"otherTags", &tags.otherTags}};
  const std::pair<const char*, int32_t> numbers[] = {{"sampleRate", tags.sampleRate},
                                                     {"fileSize", tags.fileSize},
                                                     {"year", tags.year},
                                                     {"track", tags.track}};
  if (asJson) {
    std::string out = "{\"file\":" + jsonString(file) + ",\"recognised\":" + (recognised ? "true" : "false");
    if (recognised) {
      out += ",\"kind\":\"audio\"";
      for (const auto& [k, v] : texts) out += ",\"" + std::string(k) + "\":" + jsonString(utf8(*v));
      for (const auto& [k, v] : numbers) out += ",\"" + std::string(k) + "\":" + std::to_string(v);
    }
    std::cout << out << "}\n";
    return kExitOk;
  }
  std::cout << file << "\n";
  if (!recognised) {
    std::cout << "  not recognised by any extractor\n";
    return kExitOk;
  }
  for (const auto& [k, v] : texts) {
    if (!v->empty()) std::cout << "  " << k << ": " << utf8(*v) << "\n";
  }
  for (const auto& [k, v] : numbers) std::cout << "  " << k << ": " << v << "\n";
  return kExitOk;
}

}  // namespace

void registerMediaCommand(CLI::App& cli, int& status) {
  struct Args {
    std::vector<std::string> files;
    bool json = false;
  };
  auto args = std::make_shared<Args>();
  auto* media = cli.add_subcommand("media", "Show the metadata the extractors find in files");
  media->add_option("FILE", args->files, "Files to read")->required();
  media->add_flag("--json", args->json, "One JSON object per file");
  media->callback([&status, args] {
    CGeneralTagsInfo tags;
    tags.CreateForAnalysis();
    status = kExitOk;
    for (const auto& f : args->files) {
      if (describe(f, args->json, tags) != kExitOk) status = kExitFailure;
    }
  });
}

}  // namespace tamber::cli
