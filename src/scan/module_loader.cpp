#include "scan/module_loader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

namespace tamber::scan {

void* moduleEntry(const char* file, const char* installedDir, const char* builtPath, const char* entry,
                  std::string& why) {
  std::vector<std::string> candidates;
  std::error_code ec;
  auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) candidates.push_back((exe.parent_path() / installedDir / file).string());
  candidates.push_back(builtPath);
  why = std::string(file) + " is not installed";
  for (const auto& path : candidates) {
    if (::access(path.c_str(), R_OK) != 0) continue;
    void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
      const char* e = ::dlerror();
      why = e ? e : path;
      continue;
    }
    if (void* f = ::dlsym(module, entry)) return f;
    why = path + " has no " + entry;
    ::dlclose(module);
  }
  return nullptr;
}

}  // namespace tamber::scan
