// loadInfo over a folder of MP3 files, files per second, against TagLib
// (properties and tag of each file) and the mediainfo command on the same
// files. The folder is made by bench/make_mp3_set.sh.
//
//   media_bench DIR

#include <chrono>

#include "bench_util.h"
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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
    std::fprintf(stderr, "usage: media_bench DIR\n");
    return 2;
  }
  std::vector<std::string> files;
  for (const auto& e : std::filesystem::directory_iterator(argv[1])) {
    if (e.path().extension() == ".mp3") files.push_back(e.path().string());
  }
  if (files.empty()) {
    std::fprintf(stderr, "media_bench: no .mp3 files in %s\n", argv[1]);
    return 1;
  }
  CGeneralTagsInfo tags;
  tags.CreateForAnalysis();
  long checksum = 0;
  double ours = bestOf(5, [&] {
    for (const auto& f : files) {
      if (tags.loadInfo(std::u16string(f.begin(), f.end()), kAudioMpeg)) checksum += tags.track;
    }
  });
  double n = static_cast<double>(files.size());
  std::printf("%zu files\n", files.size());
  std::printf("loadInfo:  %8.0f files/s\n", n / ours);
#ifdef TAMBER_HAVE_TAGLIB
  double taglib = bestOf(5, [&] {
    for (const auto& f : files) {
      TagLib::FileRef ref(f.c_str(), true, TagLib::AudioProperties::Fast);
      if (!ref.isNull() && ref.tag()) checksum += static_cast<long>(ref.tag()->track());
    }
  });
  std::printf("TagLib:    %8.0f files/s   (loadInfo is %.2f x TagLib)\n", n / taglib, taglib / ours);
#endif
  std::string cmd = std::string("mediainfo --Output=JSON '") + argv[1] + "' >/dev/null 2>&1";
  double mediainfo = bestOf(3, [&] {
    if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "media_bench: mediainfo failed\n");
  });
  std::printf("mediainfo: %8.0f files/s   (loadInfo is %.2f x mediainfo)\n", n / mediainfo,
              mediainfo / ours);
  return checksum == -1 ? 1 : 0;
}
