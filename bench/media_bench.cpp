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
    for (const auto& e : std::filesystem::directory_iterator(argv[a])) {
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
        if (tags.loadInfo(std::u16string(f.begin(), f.end()), kind)) {
          ++recognised;
          checksum += tags.track;
        }
      }
    });
    std::printf("loadInfo:  %8.0f files/s   (%d recognised)\n", n / ours, recognised);
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
