// A system library loaded by its soname when a command first needs it,
// rather than linked and loaded at every start of the program, and kept
// for the life of the process.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>

namespace tamber::platform {

// Loads `soname` and sets each function pointer to the library's function
// of that name. False, with the reason in `why` ("NAME cannot be loaded:
// ...", "NAME is too old: it lacks F"), when the library or a function is
// missing; `name` is how the library is called in that reason.
bool loadFunctions(const char* soname, const std::string& name,
                   std::initializer_list<std::pair<const char*, void**>> functions, std::string& why);

// The pair for loadFunctions: a function's name and its pointer.
#define TAMBER_FUNCTION_SLOT(api, function) std::pair<const char*, void**>(#function, reinterpret_cast<void**>(&(api).function))

}  // namespace tamber::platform
