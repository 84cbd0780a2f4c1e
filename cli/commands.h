// Subcommands of the tamber program register themselves on the CLI11 app.
#pragma once

#include <CLI/CLI.hpp>

#include <memory>

namespace tamber::cli {

// Exit status: 0 success, 1 failure (message on stderr), 2 usage error.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Each register function adds its subcommands; the callback it installs stores
// the exit status in `status`.
void registerStorageCommands(CLI::App& app, int& status);
struct Globals;  // -L/--library, --config, -y/--yes, --json, -q/--quiet
std::shared_ptr<Globals> registerGlobalOptions(CLI::App& app);
void registerCatalogCommands(CLI::App& app, int& status, std::shared_ptr<Globals> globals);
void registerScanCommands(CLI::App& app, int& status, std::shared_ptr<Globals> globals);
void registerMediaCommand(CLI::App& app, int& status, std::shared_ptr<Globals> globals);
void registerHashCommand(CLI::App& app, int& status, std::shared_ptr<Globals> globals);
void registerDupesCommand(CLI::App& app, int& status, std::shared_ptr<Globals> globals);
void registerVerifyCommands(CLI::App& app, int& status, std::shared_ptr<Globals> globals);
void registerBrowseCommands(CLI::App& app, int& status, std::shared_ptr<Globals> globals);
void registerFindCommand(CLI::App& app, int& status, std::shared_ptr<Globals> globals);
void registerIndexCommand(CLI::App& app, int& status, std::shared_ptr<Globals> globals);
void registerDiscCommands(CLI::App& app, int& status, std::shared_ptr<Globals> globals);
void registerReportCommand(CLI::App& app, int& status, std::shared_ptr<Globals> globals);
void registerExchangeCommands(CLI::App& app, int& status, std::shared_ptr<Globals> globals);
void registerSharedCommands(CLI::App& app, int& status, std::shared_ptr<Globals> globals);
void registerWatchCommand(CLI::App& app, int& status, std::shared_ptr<Globals> globals);

}  // namespace tamber::cli
