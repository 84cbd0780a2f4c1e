#include "platform/run_program.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

extern char** environ;

namespace tamber::platform {

ProgramRun runProgram(const std::vector<std::string>& words, const ProgramLimits& limits) {
  ProgramRun run;
  if (words.empty()) {
    run.why = "no command";
    return run;
  }
  std::vector<std::string> copy = words;
  std::vector<char*> argv;
  for (auto& w : copy) argv.push_back(w.data());
  argv.push_back(nullptr);

  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    run.why = std::strerror(errno);
    return run;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  if (limits.errorsToo) {
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
  } else {
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // The signals the caller ignores or catches are the defaults again.
  posix_spawnattr_setpgroup(&attr, 0);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  int rc = ::posix_spawnp(&pid, argv[0], &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ::close(out[1]);
  if (rc != 0) {
    ::close(out[0]);
    run.why = words[0] + ": " + std::strerror(rc);
    return run;
  }

  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(limits.timeLimitMs);
  bool timedOut = false, full = false;
  char buf[4096];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    pollfd p{out[0], POLLIN, 0};
    int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000)));
    if (ready <= 0) continue;  // interrupted, or a second gone: the deadline decides
    ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    size_t room = limits.outputLimit - std::min(limits.outputLimit, run.output.size());
    run.output.append(buf, std::min(static_cast<size_t>(n), room));
    if (run.output.size() >= limits.outputLimit) {
      full = true;
      break;
    }
  }
  ::close(out[0]);
  if (timedOut || full) ::kill(-pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (timedOut) {
    run.end = ProgramRun::End::timedOut;
  } else if (full) {
    run.end = ProgramRun::End::outputFull;
  } else if (WIFEXITED(status)) {
    run.end = ProgramRun::End::exited;
    run.status = WEXITSTATUS(status);
  } else {
    run.end = ProgramRun::End::signalled;
  }
  return run;
}

}  // namespace tamber::platform
