// Fuzz target: the video probe (container readers of libavformat, confined
// as a scan confines them, and the decoder of the thumbnail's frame) on
// untrusted bytes.

#include <cstddef>
#include <cstdint>

#include "media/video/video_probe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  tamber::media::VideoRecord record;
  // Half the inputs also decode a frame, as a scan with thumbnails does.
  tamber::media::ProbeOptions options;
  options.frameBox = size % 2 ? 256 : 0;
  tamber::media::probeVideoBytes(data, size, record, nullptr, options);
  return 0;
}
