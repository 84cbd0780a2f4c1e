#include "scan/picture_codec.h"

#include <cstdio>
#include <string>

#include "scan/module_loader.h"

namespace tamber::scan {

namespace {

const PictureCodec* load() {
  std::string why;
  using Entry = const PictureCodec* (*)();
  auto entry = reinterpret_cast<Entry>(moduleEntry("libtamberpicture.so", TAMBER_PICTURE_MODULE_INSTALLED,
                                                   TAMBER_PICTURE_MODULE_BUILT, "tamber_picture_codec", why));
  const PictureCodec* codec = entry ? entry() : nullptr;
  if (codec && codec->version == kPictureCodecVersion) return codec;
  if (codec) why = "libtamberpicture.so belongs to another build";
  std::fprintf(stderr, "tamber: warning: pictures cannot be read: %s\n", why.c_str());
  return nullptr;
}

}  // namespace

const PictureCodec* pictureCodec() {
  static const PictureCodec* codec = load();
  return codec;
}

}  // namespace tamber::scan
