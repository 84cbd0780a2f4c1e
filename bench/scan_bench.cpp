// Thumbnails per second over a folder of photographs against vipsthumbnail
// and ImageMagick, on one thread; archive listings per second against
// bsdtar -tvf. The folders are made by bench/make_scan_set.sh.
//
//   scan_bench PHOTOS ARCHIVES

#include <vips/vips.h>

#include <algorithm>
#include <chrono>

#include "bench_util.h"
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "decomp/extract.h"
#include "scan/image_info.h"
#include "storage/compound_file.h"

using tamber::bench::bestOf;

namespace {


std::vector<std::string> filesIn(const std::string& dir) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir)) out.push_back(e.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

void runOrComplain(const std::string& cmd) {
  if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "scan_bench: failed: %s\n", cmd.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: scan_bench PHOTOS ARCHIVES\n");
    return 2;
  }
  auto photos = filesIn(argv[1]);
  auto archives = filesIn(argv[2]);
  tamber::scan::ImageInfoReader reader;
  vips_concurrency_set(1);  // one thread, like the scan
  size_t bytes = 0;
  double ours = bestOf(3, [&] {
    for (const auto& p : photos) {
      int w, h, bpp;
      tamber::scan::ImageProperties props;
      auto pic = reader.read(p, 64, 64, w, h, bpp, &props, true);
      std::string out;
      if (pic && reader.encodeThumbnail(*pic, out)) bytes += out.size();
    }
  });
  auto out = std::filesystem::temp_directory_path() / "tamber-scan-bench";
  std::filesystem::create_directories(out);
  std::string list;
  for (const auto& p : photos) list += " '" + p + "'";
  double vips = bestOf(3, [&] {
    runOrComplain("VIPS_CONCURRENCY=1 vipsthumbnail -s 64x64 -o '" + out.string() + "/%s.jpg'" + list);
  });
  double magick = bestOf(1, [&] {
    runOrComplain("MAGICK_THREAD_LIMIT=1 mogrify -path '" + out.string() +
                  "' -format jpg -thumbnail 64x64" + list);
  });
  double n = static_cast<double>(photos.size());
  std::printf("%zu photographs\n", photos.size());
  std::printf("ImageInfoReader: %7.1f thumbnails/s\n", n / ours);
  std::printf("vipsthumbnail:   %7.1f thumbnails/s   (ours is %.2f x)\n", n / vips, vips / ours);
  std::printf("ImageMagick:     %7.1f thumbnails/s   (ours is %.2f x)\n", n / magick, magick / ours);

  auto lib = tamber::storage::CompoundFile::create(out / "bench.cds");
  auto stream = lib->root().createStream("arc1-1");
  CExtract extract;
  double listing = bestOf(3, [&] {
    for (const auto& a : archives) {
      std::u16string path(a.begin(), a.end());
      unsigned long offset = static_cast<unsigned long>(-1);
      extract.WriteDecompressedArchive2Stream(path.c_str(), u"", 1, kArchiveGzipTar, &stream.value(),
                                              &offset, nullptr);
    }
  });
  double bsdtar = bestOf(3, [&] {
    for (const auto& a : archives) runOrComplain("bsdtar -tvf '" + a + "' >/dev/null");
  });
  double m = static_cast<double>(archives.size());
  std::printf("%zu archives\n", archives.size());
  std::printf("CExtract:        %7.0f listings/s\n", m / listing);
  std::printf("bsdtar -tvf:     %7.0f listings/s   (ours is %.2f x; bsdtar starts a process per archive)\n",
              m / bsdtar, bsdtar / listing);
  std::filesystem::remove_all(out);
  return bytes == 0 ? 1 : 0;
}
