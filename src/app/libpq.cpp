#include "app/libpq.h"

#include "platform/loaded_library.h"

namespace tamber::app {

const Libpq* loadLibpq(std::string& why) {
  struct Loaded {
    Libpq api;
    std::string why;
    bool ok = false;
  };
  static const Loaded loaded = [] {
    Loaded l;
    // By its soname: the one the package depends on.
#define TAMBER_LIBPQ_SLOT(name) TAMBER_FUNCTION_SLOT(l.api, name),
    l.ok = platform::loadFunctions("libpq.so.5", "the PostgreSQL client library",
                                   {TAMBER_LIBPQ_FUNCTIONS(TAMBER_LIBPQ_SLOT)}, l.why);
#undef TAMBER_LIBPQ_SLOT
    return l;
  }();
  why = loaded.why;
  return loaded.ok ? &loaded.api : nullptr;
}

}  // namespace tamber::app
