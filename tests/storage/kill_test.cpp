// A real writer process killed with SIGKILL at random moments: the file must
// open, pass the check, hold a state the writer committed, and keep every
// commit the writer saw complete.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

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
  // 100 kills; on a busy machine, where the writer gets less done between
  // kills, more until it has committed many times.
  for (int kill = 0; kill < 100 || (seen <= 20 && kill < 400); ++kill) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      execl(TAMBER_CRASH_WRITER, TAMBER_CRASH_WRITER, path.c_str(), std::to_string(seed).c_str(),
            log.c_str(), static_cast<char*>(nullptr));
      _exit(127);
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
}

}  // namespace
}  // namespace tamber::storage
