// loadInfo over folders of audio files, files per second, against TagLib
// (properties and tag of each file) and the mediainfo command on the same
// files, one line per format found: MP3, Ogg Vorbis, WMA, Monkey's Audio,
// FLAC, Opus and MPEG-4 audio.
// The folders are made by bench/make_mp3_set.sh and bench/make_audio_set.sh.
//
//   media_bench DIR...

#include <chrono>

#include "bench_util.h"
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "media/media.h"

#ifdef TAMBER_HAVE_TAGLIB
#include <taglib/audioproperties.h>
#include <taglib/fileref.h>
#include <taglib/tag.h>
#endif

using tamber::bench::bestOf;

// Bytes this process has read through read(2) and pread(2) so far.
uint64_t bytesRead() {
  std::ifstream io("/proc/self/io");
  std::string key;
  uint64_t value = 0;
  while (io >> key >> value) {
    if (key == "rchar:") return value;
  }
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: media_bench DIR...\n");
    return 2;
  }
  const std::map<std::string, int> kinds{
      {".mp3", kAudioMpeg}, {".ogg", kAudioOggVorbis}, {".wma", kAudioAsf}, {".ape", kAudioApe},
      {".flac", kAudioFlac}, {".opus", kAudioOpus}, {".m4a", kAudioMp4}};
  std::map<std::string, std::vector<std::string>> files;
  for (int a = 1; a < argc; ++a) {
    for (const auto& e : std::filesystem::recursive_directory_iterator(argv[a])) {
      std::string ext = e.path().extension().string();
      if (kinds.count(ext)) files[ext].push_back(e.path().string());
    }
  }
  if (files.empty()) {
    std::fprintf(stderr, "media_bench: no audio files\n");
    return 1;
  }
  CGeneralTagsInfo tags;
  tags.CreateForAnalysis();
  long checksum = 0;
  for (const auto& [ext, list] : files) {
    int kind = kinds.at(ext);
    uint64_t bytes = 0;
    for (const auto& f : list) bytes += std::filesystem::file_size(f);
    double n = static_cast<double>(list.size());
    std::printf("== %s: %zu files, %.0f MB\n", ext.c_str() + 1, list.size(), static_cast<double>(bytes) / 1e6);
    int recognised = 0;
    double ours = bestOf(5, [&] {
      recognised = 0;
      for (const auto& f : list) {
        if (tags.loadInfo(std::filesystem::path(f).u16string(), kind)) {
          ++recognised;
          checksum += tags.track;
        }
      }
    });
    std::printf("loadInfo:  %8.0f files/s   (%d recognised)\n", n / ours, recognised);
    // What one pass reads through read(2), per file, against the file's size.
    uint64_t before = bytesRead();
    for (const auto& f : list) tags.loadInfo(std::filesystem::path(f).u16string(), kind);
    std::printf("read:      %8.0f bytes per file of %.0f (%.2f %%)\n",
                static_cast<double>(bytesRead() - before) / n, static_cast<double>(bytes) / n,
                100.0 * static_cast<double>(bytesRead() - before) / static_cast<double>(bytes));
#ifdef TAMBER_HAVE_TAGLIB
    double taglib = bestOf(5, [&] {
      for (const auto& f : list) {
        TagLib::FileRef ref(f.c_str(), true, TagLib::AudioProperties::Fast);
        if (!ref.isNull() && ref.tag()) checksum += static_cast<long>(ref.tag()->track());
      }
    });
    std::printf("TagLib:    %8.0f files/s   (loadInfo is %.2f x TagLib)\n", n / taglib, taglib / ours);
#endif
    // mediainfo on the same files, named in a list file.
    std::string listPath = "/tmp/media_bench_list.txt";
    {
      std::ofstream out(listPath);
      for (const auto& f : list) out << f << "\n";
    }
    std::string cmd = "xargs -d '\\n' mediainfo --Output=JSON < " + listPath + " >/dev/null 2>&1";
    double mediainfo = bestOf(3, [&] {
      if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "media_bench: mediainfo failed\n");
    });
    std::printf("mediainfo: %8.0f files/s   (loadInfo is %.2f x mediainfo)\n", n / mediainfo, mediainfo / ours);
  }
  return checksum == -1 ? 1 : 0;
}
