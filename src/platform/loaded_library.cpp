#include "platform/loaded_library.h"

#include <dlfcn.h>

namespace tamber::platform {

bool loadFunctions(const char* soname, const std::string& name,
                   std::initializer_list<std::pair<const char*, void**>> functions, std::string& why) {
  void* handle = ::dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* e = ::dlerror();
    why = name + " cannot be loaded: " + (e ? e : soname);
    return false;
  }
  for (const auto& [function, slot] : functions) {
    *slot = ::dlsym(handle, function);
    if (!*slot) {
      why = name + " is too old: it lacks " + function;
      return false;
    }
  }
  return true;
}

}  // namespace tamber::platform
