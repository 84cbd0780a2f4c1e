// Readers of the user's own: programs run for files whose names match a
// pattern during a scan, their output recorded as the file's description.
//
// A reader runs without a shell: its command line is split into words here
// ('single' and "double" quotes and backslashes group and escape), "{}"
// stands for the file's path (or the path comes last when no word holds
// it), standard input is /dev/null and standard error is dropped. It runs
// in a process group of its own, which is killed when the time limit
// passes or the output limit is reached. A reader that fails, times out or
// cannot be started records nothing and never fails the scan.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tamber::scan {

struct UserReader {
  std::string pattern;            // wildcards (* ? [..]) over the file's name, without regard to case
  std::vector<std::string> argv;  // the program and its arguments
  int timeLimitMs = 5000;
  size_t outputLimit = 4096;      // bytes recorded, at most
};

// The words of a command line; nothing when a quote is left open.
std::optional<std::vector<std::string>> splitCommandLine(std::string_view line);

// Whether the reader is for a file of this name.
bool userReaderMatches(const UserReader& reader, std::string_view name);
// The same with the pattern and the name already case-folded (a scan folds
// the patterns once and each name once).
bool userReaderMatchesFolded(const UserReader& reader, const std::string& foldedPattern,
                             const std::string& foldedName);

// What the reader prints for the file at `path` (the first outputLimit
// bytes, made valid UTF-8, blanks at its ends trimmed); nothing when it
// fails, says nothing, or is stopped by its time limit. `why` says what
// went wrong.
std::optional<std::string> runUserReader(const UserReader& reader, const std::string& path,
                                         std::string* why = nullptr);

}  // namespace tamber::scan
