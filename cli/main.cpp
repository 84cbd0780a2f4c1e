// tamber: the command-line front end.

#include <cstdio>
#include <cstdlib>
#include <iostream>

#include "commands.h"

int main(int argc, char** argv) {
  // Without TZ the C library looks at /etc/localtime again on every mktime:
  // one stat per recorded file time. Named once here, before any thread
  // starts, the zone is read once.
  setenv("TZ", ":/etc/localtime", 0);
  CLI::App app{"Tamber+ - catalogue discs and folders into library files (*.cds)", "tamber"};
  app.set_version_flag("--version", "tamber 0.1.0");
  app.require_subcommand(1);
  int status = tamber::cli::kExitOk;
  app.fallthrough();  // global options may follow the command
  auto globals = tamber::cli::registerCatalogCommands(app, status);
  tamber::cli::registerScanCommands(app, status, globals);
  tamber::cli::registerStorageCommands(app, status);
  tamber::cli::registerMediaCommand(app, status);
  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return tamber::cli::kExitUsage;
  }
  std::fflush(stdout);
  return status;
}
