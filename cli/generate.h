// Shell completions (bash, zsh, fish) and the manual page from the command
// definitions: `tamber --generate bash|zsh|fish|man`, run at build time.
#pragma once

#include <CLI/CLI.hpp>

#include <ostream>
#include <string>

namespace tamber::cli {

// Writes `what` for `app`; false for a kind it does not know.
bool generate(const CLI::App& app, const std::string& what, std::ostream& out);

}  // namespace tamber::cli
