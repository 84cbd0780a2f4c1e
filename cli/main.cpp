// tamber: the command-line front end.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <regex>
#include <set>
#include <sstream>

#include "commands.h"
#include "common.h"
#include "generate.h"
#include "help.h"
#include "platform/quick_heap.h"
#include "search/name_index.h"

namespace {

using tamber::cli::kExitFailure;
using tamber::cli::kExitUsage;
using tamber::cli::say;
using tamber::cli::unknownName;

// Global options that take a value: the word after them is not the command.
bool takesValue(const std::string& arg) {
  return arg == "-L" || arg == "--library" || arg == "--config";
}

// Where the first word that is not an option stands: the command as typed
// (argc when there is none).
int commandAt(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--") return i + 1;
    if (takesValue(arg)) {
      ++i;
      continue;
    }
    if (!arg.empty() && arg[0] == '-') continue;
    return i;
  }
  return argc;
}

std::string commandWord(int argc, char** argv) {
  int at = commandAt(argc, argv);
  return at < argc ? argv[at] : "";
}

// Output that could not be written (a full disk, /dev/full) is a failure,
// said once; else `status`.
int outputWritten(int status) {
  std::cout.flush();
  // A command that failed has said why; its output failing is no news.
  if (status != tamber::cli::kExitOk) return status;
  if (std::fflush(stdout) != 0 || std::ferror(stdout) || !std::cout.good()) {
    int err = errno;
    std::cerr << tamber::cli::errorPrefix()
              << tamber::cli::say(tamber::app::kTextCannotWriteOutput, {err ? std::strerror(err) : "write error"})
              << "\n";
    return status == tamber::cli::kExitOk ? kExitFailure : status;
  }
  return status;
}

int usageError(const std::string& message, const std::string& hint) {
  std::cerr << tamber::cli::errorPrefix() << message << "\n";
  if (!hint.empty()) std::cerr << hint << "\n";
  return kExitUsage;
}

// What the parser found wrong, in the user's language: the parser's own
// English sentences are taken apart for the option and value they name.
// Empty when the sentence is not one of those (it is then shown as it is).
std::string ownWords(const CLI::ParseError& e) {
  using namespace tamber::app;
  const std::string text = e.what();
  auto cut = [&](std::string_view from, std::string_view sep, std::string& a, std::string& b) {
    size_t at = text.find(sep, from.size());
    if (text.compare(0, from.size(), from) != 0 || at == std::string::npos) return false;
    a = text.substr(from.size(), at - from.size());
    b = text.substr(at + sep.size());
    return true;
  };
  auto ends = [&](std::string_view tail) {
    return text.size() > tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
  };
  std::string name, rest, value, low, high;
  if (dynamic_cast<const CLI::RequiredError*>(&e)) {
    if (text.rfind("A subcommand", 0) == 0) return say(kTextCommandNeeded);
    if (ends(" is required") && text.find(' ') == text.size() - 12) return say(kTextOptionRequired, {text.substr(0, text.size() - 12)});
    return {};
  }
  if (dynamic_cast<const CLI::ArgumentMismatch*>(&e)) {
    if (!cut("", ": ", name, rest)) return {};
    if (ends(" missing")) return say(kTextOptionNeedsValue, {name});
    return say(kTextOptionValueCount, {name});
  }
  if (dynamic_cast<const CLI::ConversionError*>(&e)) {
    if (cut("Could not convert: ", " = ", name, value)) return say(kTextOptionBadValue, {name, value});
    if (cut("", ": too many inputs for a flag", name, rest) && rest.empty()) return say(kTextOptionTakesNoValue, {name});
    if (cut("The value ", " is not an allowed value for ", value, name)) return say(kTextOptionBadValue, {name, value});
    return {};
  }
  if (dynamic_cast<const CLI::ValidationError*>(&e)) {
    if (!cut("", ": ", name, rest)) return {};
    // "Value 7 not in range 0 to 5", "Value x could not be converted",
    // "x not in {a,b}"
    static const std::regex range(R"(Value (.*) not in range (\S+) to (\S+))");
    static const std::regex unconverted(R"(Value (.*) could not be converted.*)");
    static const std::regex member(R"((.*) not in (\{.*\}))");
    std::smatch m;
    if (std::regex_match(rest, m, range)) {
      // The same words when the value is no number at all.
      std::string value = m[1].str();
      char* end = nullptr;
      errno = 0;
      (void)std::strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0') return say(kTextOptionBadValue, {name, value});
      // A positive number's range runs to the largest double.
      if (m[3].str().size() > 20) return say(kTextOptionNotPositive, {name, value});
      auto plain = [](std::string n) {  // "0.000000" is 0
        if (n.find('.') != std::string::npos) {
          while (!n.empty() && n.back() == '0') n.pop_back();
          if (!n.empty() && n.back() == '.') n.pop_back();
        }
        return n;
      };
      return say(kTextOptionOutOfRange, {name, value, plain(m[2].str()), plain(m[3].str())});
    }
    if (std::regex_match(rest, m, unconverted)) return say(kTextOptionBadValue, {name, m[1].str()});
    if (std::regex_match(rest, m, member)) return say(kTextOptionNotOneOf, {name, m[1].str(), m[2].str()});
    return {};
  }
  if (dynamic_cast<const CLI::ExcludesError*>(&e) && cut("", " excludes ", name, rest)) {
    return say(kTextOptionExcludes, {name, rest});
  }
  if (dynamic_cast<const CLI::RequiresError*>(&e) && cut("", " requires ", name, rest)) {
    return say(kTextOptionRequires, {name, rest});
  }
  return {};
}

// CLI11's messages in the program's own style, unknown options with the
// nearest known one.
int parseError(CLI::App& app, const CLI::ParseError& e) {
  CLI::App* where = &app;
  while (true) {
    auto used = where->get_subcommands();
    if (used.empty()) break;
    where = used.front();
  }
  std::string path = tamber::cli::commandPath(*where);
  std::string hint = say(tamber::app::kTextHelpForOptions, {"tamber" + (path.empty() ? std::string() : " " + path)});
  if (dynamic_cast<const CLI::ExtrasError*>(&e)) {
    // "The following argument(s) was/were not expected: A B"
    std::string text = e.what();
    std::istringstream extras(text.substr(text.find(": ") == std::string::npos ? text.size()
                                                                                : text.find(": ") + 2));
    std::string extra;
    while (extras >> extra) {
      if (extra.empty() || extra[0] != '-') {
        return usageError(say(tamber::app::kTextUnexpectedArgument, {extra}), hint);
      }
      std::string name = extra.substr(0, extra.find('='));
      std::string near = tamber::cli::nearest(name, tamber::cli::optionNames(*where));
      return usageError(unknownName(tamber::app::kTextUnknownOption, name, near), hint);
    }
  }
  if (auto said = ownWords(e); !said.empty()) return usageError(said, hint);
  std::string text = e.what();
  // A sentence starts in lower case after "tamber: error: "; a name in
  // capitals ("STREAM is required") stays as it is.
  bool word = text.size() > 1 && std::isupper(static_cast<unsigned char>(text[1]));
  if (!text.empty() && !word) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return usageError(text, hint);
}

// The commands, a group at a time, in the order the help lists them, with
// the words each group adds. A line that names a command makes only its
// group (the others cost a millisecond the quick commands feel); the help,
// an unknown word or a group that turns out not to hold the word make them
// all.
using Globals = std::shared_ptr<tamber::cli::Globals>;
struct CommandGroup {
  void (*add)(CLI::App&, int&, Globals);
  std::initializer_list<const char*> words;
};
const CommandGroup kCommandGroups[] = {
    {tamber::cli::registerCatalogCommands,
     {"new", "default", "recent", "info", "tree", "mkcat", "rename", "mv", "rm", "set", "cover", "show", "config"}},
    {tamber::cli::registerScanCommands, {"add-folder", "update", "add-disc", "set-track", "thumb", "archive"}},
    {tamber::cli::registerBrowseCommands, {"ls", "du", "__complete"}},
    {tamber::cli::registerFindCommand, {"find"}},
    {tamber::cli::registerIndexCommand, {"index"}},
    {tamber::cli::registerDiscCommands, {"drives", "disc", "cddb"}},
    {tamber::cli::registerReportCommand, {"report"}},
    {tamber::cli::registerExchangeCommands, {"export-xml", "export", "import", "export-csv", "export-html"}},
    {tamber::cli::registerSharedCommands, {"publish"}},
    {tamber::cli::registerWatchCommand, {"watch"}},
    {[](CLI::App& app, int& status, Globals) { tamber::cli::registerStorageCommands(app, status); }, {"storage"}},
    {tamber::cli::registerMediaCommand, {"media"}},
    {tamber::cli::registerHashCommand, {"hash"}},
    {tamber::cli::registerDupesCommand, {"dupes"}},
    {tamber::cli::registerVerifyCommands, {"verify", "which", "diff"}},
    // The help needs every other command: it names no word of its own.
    {[](CLI::App& app, int& status, Globals) { tamber::cli::registerHelpCommand(app, status); }, {}},
};

void registerCommands(CLI::App& app, int& status, const Globals& globals, const std::string& word, bool every) {
  const CommandGroup* only = nullptr;
  for (const auto& group : kCommandGroups) {
    for (const char* w : group.words) {
      if (word == w && !every) only = &group;
    }
  }
  if (only) {
    only->add(app, status, globals);
    if (tamber::cli::findCommand(app, word)) return;
  }
  for (const auto& group : kCommandGroups) {
    if (&group != only) group.add(app, status, globals);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Without TZ the C library looks at /etc/localtime again on every mktime:
  // one stat per recorded file time. Named once here, before any thread
  // starts, the zone is read once.
  setenv("TZ", ":/etc/localtime", 0);
  // The commands people run to look something up are over in milliseconds,
  // where first touches of memory weigh (the jobs keep their threads' heaps).
  const std::string word = commandWord(argc, argv);
  static const std::set<std::string> quick = {"find", "ls", "tree", "show", "info", "du", "which"};
  if (quick.count(word)) tamber::platform::prepareQuickHeap(size_t{2} << 20);
  // Every save keeps the search's name index in step with the listings.
  tamber::search::installNameIndex();
  CLI::App app{"Tamber+ - catalogue discs and folders into library files (*.cds)", "tamber"};
  app.set_version_flag("--version", "tamber 0.1.0");
  app.require_subcommand(0, 1);
  int status = tamber::cli::kExitOk;
  app.fallthrough();  // global options may follow the command
  // Held here: the options write into it whether or not a command keeps it.
  const auto globals = tamber::cli::registerGlobalOptions(app);
  registerCommands(app, status, globals, word, argc > 1 && std::string(argv[1]) == "--generate");

  // Every command's help names the options it shares with all the others,
  // after what the command says of itself.
  for (CLI::App* sub : app.get_subcommands([](CLI::App*) { return true; })) {
    std::string own = sub->get_footer();
    sub->footer(
        (own.empty() ? std::string() : own + "\n\n") +
        "Options of every command, accepted anywhere on the line:\n"
        "  -L,--library FILE  the library (default: the DefaultLib setting)\n"
        "  --config FILE      the settings file\n"
        "  --json             data as JSON\n"
        "  -y,--yes           answer yes to every question\n"
        "  -q,--quiet         no progress");
  }
  app.footer(
      "Shell completions and the manual page: tamber --generate bash|zsh|fish|man\n"
      "(eval \"$(tamber --generate bash)\" in ~/.bashrc; the package installs them).\n"
      "tamber help COMMAND shows a command's options.");
  // The build writes the completions and the manual page with this.
  if (argc == 3 && std::string(argv[1]) == "--generate") {
    if (tamber::cli::generate(app, argv[2], std::cout)) return tamber::cli::kExitOk;
    return usageError(std::string("--generate ") + argv[2] + ": use bash, zsh, fish or man", "");
  }
  // Everything after this speaks the user's language, the help included
  // (the completions and the manual page above stay in English).
  tamber::cli::speakHelp(app, tamber::cli::languageCode());
  // "tamber" alone prints the help; a command that does not exist is named
  // with the nearest one.
  if (argc == 1) {
    std::cout << app.help();
    return outputWritten(tamber::cli::kExitOk);
  }
  CLI::App* command = word.empty() ? nullptr : tamber::cli::findCommand(app, word);
  if (!word.empty() && !command) {
    std::string near = tamber::cli::nearest(word, tamber::cli::commandNames(app));
    return usageError(unknownName(tamber::app::kTextUnknownCommand, word, near),
                      say(tamber::app::kTextHelpForCommands));
  }
  // The same one level down ("config gte"), for the word right after a
  // command made of commands.
  if (int at = commandAt(argc, argv); command && at + 1 < argc &&
      !command->get_subcommands([](CLI::App*) { return true; }).empty()) {
    std::string next = argv[at + 1];
    if (!next.empty() && next[0] != '-' && !tamber::cli::findCommand(*command, next)) {
      std::string near = tamber::cli::nearest(next, tamber::cli::commandNames(*command));
      return usageError(unknownName(tamber::app::kTextUnknownCommand, word + " " + next, near),
                        say(tamber::app::kTextHelpForSubcommands, {"tamber " + word}));
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return outputWritten(app.exit(e));  // --help, --version
  } catch (const CLI::ParseError& e) {
    return parseError(app, e);
  }
  if (app.get_subcommands().empty()) {
    return usageError(say(tamber::app::kTextCommandNeeded), say(tamber::app::kTextHelpForCommands));
  }
  return outputWritten(status);
}
