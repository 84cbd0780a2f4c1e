#include "app/libpq.h"

#include <dlfcn.h>

namespace tamber::app {

namespace {

struct Loaded {
  Libpq api;
  std::string why;
  bool ok = false;
};

Loaded load() {
  Loaded l;
  // The soname: the one the package depends on, whatever the development
  // files installed.
  void* handle = ::dlopen("libpq.so.5", RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* e = ::dlerror();
    l.why = "the PostgreSQL client library cannot be loaded: " + std::string(e ? e : "libpq.so.5");
    return l;
  }
#define TAMBER_LIBPQ_LOOKUP(name)                                                           \
  l.api.name = reinterpret_cast<decltype(&::name)>(::dlsym(handle, #name));                 \
  if (!l.api.name) {                                                                        \
    l.why = "the PostgreSQL client library is too old: it lacks " #name;                    \
    return l;                                                                               \
  }
  TAMBER_LIBPQ_FUNCTIONS(TAMBER_LIBPQ_LOOKUP)
#undef TAMBER_LIBPQ_LOOKUP
  // Kept loaded for the life of the process, as a linked library would be.
  l.ok = true;
  return l;
}

}  // namespace

const Libpq* loadLibpq(std::string& why) {
  static const Loaded loaded = load();
  why = loaded.why;
  return loaded.ok ? &loaded.api : nullptr;
}

}  // namespace tamber::app
