#include "scan/picture_codec.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace tamber::scan {

namespace {

// Where the module is looked for: beside the libraries of an installed
// program, then where the build put it.
std::vector<std::string> candidates() {
  std::vector<std::string> out;
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    out.push_back((exe.parent_path() / TAMBER_PICTURE_MODULE_INSTALLED / "libtamberpicture.so").string());
  }
  out.push_back(TAMBER_PICTURE_MODULE_BUILT);
  return out;
}

const PictureCodec* load() {
  std::string why = "libtamberpicture.so is not installed";
  for (const auto& path : candidates()) {
    if (::access(path.c_str(), R_OK) != 0) continue;
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
      const char* e = ::dlerror();
      why = e ? e : path;
      continue;
    }
    using Entry = const PictureCodec* (*)();
    auto entry = reinterpret_cast<Entry>(::dlsym(module, "tamber_picture_codec"));
    const PictureCodec* codec = entry ? entry() : nullptr;
    if (codec && codec->version == kPictureCodecVersion) return codec;
    why = path + " belongs to another build";
    ::dlclose(module);
  }
  std::fprintf(stderr, "tamber: warning: pictures cannot be read: %s\n", why.c_str());
  return nullptr;
}

}  // namespace

const PictureCodec* pictureCodec() {
  static const PictureCodec* codec = load();
  return codec;
}

}  // namespace tamber::scan
