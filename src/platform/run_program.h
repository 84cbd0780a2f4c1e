// A program run without a shell, its output read within a time and a size
// limit: what the readers of the user's own and the desktop program's calls
// to systemctl need.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tamber::platform {

struct ProgramLimits {
  int timeLimitMs = 30000;
  size_t outputLimit = 1 << 20;
  bool errorsToo = false;  // standard error goes with the output (else to /dev/null)
};

struct ProgramRun {
  enum class End {
    exited,      // `status` is its exit status
    signalled,   // ended by a signal
    timedOut,    // stopped: it took longer than the limit
    outputFull,  // stopped: it said as much as the limit takes
    notStarted,  // `why` says why
  };
  End end = End::notStarted;
  int status = -1;
  std::string output;  // at most the limit's bytes
  std::string why;
};

// Runs argv[0] (found in PATH) with standard input from /dev/null, in a
// process group of its own with the default signals, so that whatever it
// starts is stopped with it when it takes too long or says too much.
ProgramRun runProgram(const std::vector<std::string>& argv, const ProgramLimits& limits);

}  // namespace tamber::platform
