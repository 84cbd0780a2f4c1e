// Modules loaded on first use: parts of the program that bring large
// libraries with them (the picture decoder, the extractors) are built as
// modules of their own, so that a command that never needs them does not
// load those libraries when it starts.
#pragma once

#include <string>

namespace tamber::scan {

// Opens the module named `file`: beside the libraries of an installed
// program (`installedDir`, relative to the program's folder), then at
// `builtPath` where the build put it; returns its function `entry`, or
// null with `why` set.
void* moduleEntry(const char* file, const char* installedDir, const char* builtPath, const char* entry,
                  std::string& why);

}  // namespace tamber::scan
