// Command-line tests on a library of their own: a new library and a
// settings file in a temporary folder, and the program run on them.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "tests/run_command.h"
#include "tests/temp_dir.h"

namespace tamber::test_support {

// A file's whole content.
inline std::string fileText(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Tests built on it define TAMBER_CLI, the program; one that also needs
// the simulated discs defines TAMBER_DISCS.
class CliLibrary : public ::testing::Test {
 protected:
  TempDir dir;
  std::string lib, config;

  // Derived set-ups call this first, and stop when it failed.
  void SetUp() override {
    lib = (dir.path / "lib.cds").string();
    config = (dir.path / "tamber.cfg").string();
    ASSERT_EQ(runCommand(std::string(TAMBER_CLI) + " new " + shellQuote(lib)).status, 0);
  }
  // The program with `args` on `library` (the test's own by default).
  CommandResult on(const std::string& library, const std::string& args, bool withStderr = true) const {
    return runCommand(std::string(TAMBER_CLI) + " -L " + shellQuote(library) + " --config " + shellQuote(config) +
                          " " + args,
                      withStderr);
  }
  CommandResult tamber(const std::string& args, bool withStderr = true) const { return on(lib, args, withStderr); }
#ifdef TAMBER_DISCS
  // "--drive sim:FILE" for a simulated disc of tests/disc/discs.
  static std::string sim(const std::string& name) {
    return "--drive " + shellQuote("sim:" + std::string(TAMBER_DISCS) + "/" + name);
  }
#endif
};

}  // namespace tamber::test_support
