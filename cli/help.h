// Help, suggestions and the words of the command line: what `tamber help`,
// the error messages and the generated completions and manual page share.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace tamber::cli {

// The names of the commands below `app` (not hidden ones).
std::vector<std::string> commandNames(const CLI::App& app);
// Every long and short option of a command ("--long", "-l"), the global
// ones of its parents included.
std::vector<std::string> optionNames(const CLI::App& app);
// The command `name` directly below `app`, or null.
CLI::App* findCommand(CLI::App& app, const std::string& name);
// "config get" for that command, "" for the program.
std::string commandPath(const CLI::App& app);
// The candidate closest to `word` (by edits, at most a third of its length
// and at least one), or "" when none is close.
std::string nearest(const std::string& word, const std::vector<std::string>& candidates);

// The help in the user's language: the descriptions, footers and groups of
// the program, its commands and their options, and the layout's own words
// ("Usage", "OPTIONS", the kinds of values), from the language's help file
// (help_CODE.xml beside the language texts, English text to translation;
// footers are translated paragraph by paragraph). A text the file lacks
// stays as it is; English needs no file.
void speakHelp(CLI::App& app, const std::string& code);
// One text of the help file in the language the command line speaks (a
// setting's meaning, the kind of its value); as it is when there is none.
std::string helpWords(const std::string& english);

// `tamber help [COMMAND...]`.
void registerHelpCommand(CLI::App& app, int& status);

}  // namespace tamber::cli
