#include "scan/user_readers.h"

#include <fcntl.h>
#include <fnmatch.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/text.h"

extern char** environ;

namespace tamber::scan {

std::optional<std::vector<std::string>> splitCommandLine(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quote == '\'') {
      if (c == '\'') {
        quote = 0;
      } else {
        word += c;
      }
    } else if (c == '\\' && i + 1 < line.size() && (quote == 0 || line[i + 1] == '"' || line[i + 1] == '\\')) {
      word += line[++i];
      inWord = true;
    } else if (quote == '"') {
      if (c == '"') {
        quote = 0;
      } else {
        word += c;
      }
    } else if (c == '\'' || c == '"') {
      quote = c;
      inWord = true;
    } else if (c == ' ' || c == '\t' || c == '\n') {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (quote != 0) return std::nullopt;
  if (inWord) words.push_back(std::move(word));
  return words;
}

bool userReaderMatchesFolded(const UserReader& reader, const std::string& foldedPattern,
                             const std::string& foldedName) {
  if (reader.pattern.empty() || reader.argv.empty()) return false;
  return ::fnmatch(foldedPattern.c_str(), foldedName.c_str(), FNM_PERIOD) == 0;
}

bool userReaderMatches(const UserReader& reader, std::string_view name) {
  return userReaderMatchesFolded(reader, foldCase(reader.pattern), foldCase(name));
}

namespace {

// Bytes cut at the output limit may end inside a character: that piece goes.
void dropCutCharacter(std::string& s) {
  size_t i = 0, lastGood = 0;
  while (i < s.size()) {
    char32_t cp;
    size_t n = decodeUtf8(s, i, cp);
    if (n == 0) {
      unsigned char lead = static_cast<unsigned char>(s[i]);
      if (lead >= 0xC0 && s.size() - i < 4) {
        s.resize(i);
        return;
      }
      n = 1;
    }
    i += n;
    lastGood = i;
  }
  s.resize(lastGood);
}

std::string trimmed(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return {};
  size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

bool fail(std::string* why, std::string text) {
  if (why) *why = std::move(text);
  return false;
}

}  // namespace

std::optional<std::string> runUserReader(const UserReader& reader, const std::string& path, std::string* why) {
  if (reader.argv.empty()) {
    fail(why, "no command");
    return std::nullopt;
  }
  std::vector<std::string> words = reader.argv;
  bool placed = false;
  for (auto& w : words) {
    for (size_t at; (at = w.find("{}")) != std::string::npos;) {
      w.replace(at, 2, path);
      placed = true;
    }
  }
  if (!placed) words.push_back(path);
  std::vector<char*> argv;
  for (auto& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);

  int out[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    fail(why, std::strerror(errno));
    return std::nullopt;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  // A group of its own, so that whatever it starts is stopped with it; the
  // signals the scan ignores or catches are the defaults again.
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
    fail(why, words[0] + ": " + std::strerror(rc));
    return std::nullopt;
  }

  using Clock = std::chrono::steady_clock;
  auto deadline = Clock::now() + std::chrono::milliseconds(reader.timeLimitMs);
  std::string text;
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
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(std::min<size_t>(static_cast<size_t>(n), reader.outputLimit - std::min(reader.outputLimit, text.size()))));
    if (text.size() >= reader.outputLimit) {
      full = true;
      break;
    }
  }
  ::close(out[0]);
  // Whatever is still running of it stops now: it has said enough, or
  // taken too long.
  if (timedOut || full) ::kill(-pid, SIGKILL);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (timedOut) {
    fail(why, "took longer than " + std::to_string(reader.timeLimitMs) + " ms");
    return std::nullopt;
  }
  if (!full && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
    fail(why, WIFEXITED(status) ? "ended with status " + std::to_string(WEXITSTATUS(status)) : "ended by a signal");
    return std::nullopt;
  }
  if (full) dropCutCharacter(text);
  std::string result = trimmed(toValidUtf8(text));
  if (result.empty()) {
    fail(why, "printed nothing");
    return std::nullopt;
  }
  return result;
}

}  // namespace tamber::scan
