#include "scan/user_readers.h"

#include <fnmatch.h>

#include <cerrno>
#include <cstring>

#include "platform/run_program.h"
#include "platform/text.h"

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
    // Searched on after the path put in: a file may be named "a{}b".
    for (size_t at = 0; (at = w.find("{}", at)) != std::string::npos; at += path.size()) {
      w.replace(at, 2, path);
      placed = true;
    }
  }
  if (!placed) words.push_back(path);
  platform::ProgramLimits limits;
  limits.timeLimitMs = reader.timeLimitMs;
  limits.outputLimit = reader.outputLimit;
  platform::ProgramRun run = platform::runProgram(words, limits);
  using End = platform::ProgramRun::End;
  switch (run.end) {
    case End::notStarted: fail(why, run.why); return std::nullopt;
    case End::timedOut: fail(why, "took longer than " + std::to_string(reader.timeLimitMs) + " ms"); return std::nullopt;
    case End::signalled: fail(why, "ended by a signal"); return std::nullopt;
    case End::exited:
      if (run.status != 0) {
        fail(why, "ended with status " + std::to_string(run.status));
        return std::nullopt;
      }
      break;
    case End::outputFull: break;
  }
  std::string text = std::move(run.output);
  const bool full = run.end == End::outputFull;
  if (full) dropCutCharacter(text);
  std::string result = trimmed(toValidUtf8(text));
  if (result.empty()) {
    fail(why, "printed nothing");
    return std::nullopt;
  }
  return result;
}

}  // namespace tamber::scan
