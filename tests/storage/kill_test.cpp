// A real writer process killed with SIGKILL at random moments: the file must
// open, pass the check, hold a state the writer committed, and keep every
// commit the writer saw complete.

#include <gtest/gtest.h>

#include <iostream>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iostream>

#include "tests/storage/storage_helpers.h"
#include "tests/storage/workload.h"

namespace tamber::storage {
namespace {

uint64_t lastLogged(const std::filesystem::path& log) {
  std::ifstream in(log);
  uint64_t last = 0, v;
  while (in >> v) last = v;
  return last;
}

TEST(KillNine, AWriterKilledAtRandomMomentsLeavesACommittedState) {
  TempDir dir;
  auto path = dir.path / "lib.cds";
  auto log = dir.path / "log";
  const unsigned seed = 5;
  Workload model(seed);
  std::mt19937 rng(42);
  uint64_t seen = 0;
  int tails = 0;
  for (int kill = 0; kill < 100; ++kill) {
    uint64_t before = lastLogged(log);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      execl(TAMBER_CRASH_WRITER, TAMBER_CRASH_WRITER, path.c_str(), std::to_string(seed).c_str(),
            log.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    // Every other kill waits until this run of the writer has completed a
    // commit (at most 5 s), so that the writer gets on even on a busy
    // machine; the others may strike while it starts.
    if (kill % 2 == 1) {
      for (int waited = 0; waited < 5000 && lastLogged(log) <= before; ++waited) usleep(1000);
    }
    usleep(1000 + rng() % 40000);
    ::kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the writer ended by itself with " << WEXITSTATUS(status);
    if (!std::filesystem::exists(path)) continue;  // killed before the file was made
    auto f = CompoundFile::open(path, OpenMode::read_only);
    ASSERT_TRUE(f) << "kill " << kill << ": " << f.message();
    auto report = f->check();
    // A commit cut short while it grew the file leaves a tail: a viewer
    // names it and leaves it, the next writer cuts it.
    if (report.faults.size() == 1 && report.faults[0].find("past its last sector in use") != std::string::npos) {
      ++tails;
      auto size = std::filesystem::file_size(path);
      {
        auto w = CompoundFile::open(path, OpenMode::read_write);
        ASSERT_TRUE(w) << w.message();
        ASSERT_TRUE(w->check().ok());
      }
      ASSERT_LT(std::filesystem::file_size(path), size);
      report = f->check();
    }
    ASSERT_TRUE(report.ok()) << "kill " << kill << ": " << report.faults[0];
    auto tree = readTree(f.value());
    uint64_t generation = tree.count("generation") ? std::stoull(tree["generation"]) : 0;
    tree.erase("generation");
    uint64_t logged = lastLogged(log);
    ASSERT_GE(generation, logged) << "kill " << kill << ": a completed commit was lost";
    ASSERT_GE(generation, seen);
    seen = generation;
    while (model.transactions() < generation) model.runTransaction(nullptr);
    ASSERT_EQ(treeDiff(tree, model.committed()), "") << "kill " << kill << ", generation "
                                                     << generation;
  }
  EXPECT_GT(seen, 20u) << "the writer should have committed many times";
  std::cout << "[ kill     ] " << tails << " of 100 kills left a tail past the last sector in use\n";
}

}  // namespace
}  // namespace tamber::storage
