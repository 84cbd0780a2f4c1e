// Running a shell command in tests: its exit status and what it printed.
#pragma once

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <string>

namespace tamber::test_support {

struct CommandResult {
  int status;
  std::string out;
};

// Runs `command` with /bin/sh; standard error joins standard output when
// `withStderr` is set.
inline CommandResult runCommand(const std::string& command, bool withStderr = true) {
  CommandResult r{-1, {}};
  FILE* p = popen((command + (withStderr ? " 2>&1" : "")).c_str(), "r");
  if (!p) return r;
  std::array<char, 65536> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

// `s` as one word for /bin/sh.
inline std::string shellQuote(const std::string& s) {
  std::string out = "'";
  for (char ch : s) out += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
  return out + "'";
}

}  // namespace tamber::test_support
