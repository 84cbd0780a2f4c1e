// tamber: the command-line front end.

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

#include "commands.h"
#include "common.h"
#include "generate.h"
#include "help.h"

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
  std::string text = e.what();
  // A sentence starts in lower case after "tamber: error: "; a name in
  // capitals ("STREAM is required") stays as it is.
  bool word = text.size() > 1 && std::isupper(static_cast<unsigned char>(text[1]));
  if (!text.empty() && !word) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return usageError(text, hint);
}

}  // namespace

int main(int argc, char** argv) {
  // Without TZ the C library looks at /etc/localtime again on every mktime:
  // one stat per recorded file time. Named once here, before any thread
  // starts, the zone is read once.
  setenv("TZ", ":/etc/localtime", 0);
  CLI::App app{"Tamber+ - catalogue discs and folders into library files (*.cds)", "tamber"};
  app.set_version_flag("--version", "tamber 0.1.0");
  app.require_subcommand(0, 1);
  int status = tamber::cli::kExitOk;
  app.fallthrough();  // global options may follow the command
  auto globals = tamber::cli::registerCatalogCommands(app, status);
  tamber::cli::registerScanCommands(app, status, globals);
  tamber::cli::registerBrowseCommands(app, status, globals);
  tamber::cli::registerFindCommand(app, status, globals);
  tamber::cli::registerDiscCommands(app, status, globals);
  tamber::cli::registerReportCommand(app, status, globals);
  tamber::cli::registerExchangeCommands(app, status, globals);
  tamber::cli::registerStorageCommands(app, status);
  tamber::cli::registerMediaCommand(app, status, globals);
  tamber::cli::registerHashCommand(app, status, globals);
  tamber::cli::registerDupesCommand(app, status, globals);
  tamber::cli::registerVerifyCommands(app, status, globals);
  tamber::cli::registerHelpCommand(app, status);

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
  // "tamber" alone prints the help; a command that does not exist is named
  // with the nearest one.
  std::string word = commandWord(argc, argv);
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
