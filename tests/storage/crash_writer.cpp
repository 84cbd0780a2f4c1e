// Runs the storage workload on a real file until it is killed. Each commit
// also records its transaction number in the stream "generation", and the
// number goes to LOG (synced) once the commit has returned. On start the
// writer replays the model up to the file's generation and carries on.
//
//   storage_crash_writer FILE SEED LOG

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "tests/storage/workload.h"

using namespace tamber::storage;

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: storage_crash_writer FILE SEED LOG\n");
    return 2;
  }
  std::filesystem::path path = argv[1];
  unsigned seed = static_cast<unsigned>(std::stoul(argv[2]));
  auto file = std::filesystem::exists(path) ? CompoundFile::open(path, OpenMode::read_write)
                                            : CompoundFile::create(path);
  if (!file) {
    std::fprintf(stderr, "crash_writer: %s\n", file.message().c_str());
    return 1;
  }
  uint64_t generation = 0;
  if (auto g = file->root().openStream("generation")) {
    auto text = g->readAll();
    if (text) generation = std::stoull(text.value());
  }
  Workload w(seed);
  while (w.transactions() < generation) w.runTransaction(nullptr);
  int log = ::open(argv[3], O_WRONLY | O_APPEND | O_CREAT, 0644);
  w.setBeforeCommit([](CompoundFile& f, uint64_t tx) {
    auto g = f.root().createStream("generation");
    return g && g->write(std::to_string(tx)) && g->commit();
  });
  for (;;) {
    if (!w.runTransaction(file.value())) {
      std::fprintf(stderr, "crash_writer: transaction failed\n");
      return 1;
    }
    // A reverted transaction commits nothing; only commits are logged.
    if (w.lastWasCommit()) {
      std::string line = std::to_string(w.transactions()) + "\n";
      if (::write(log, line.data(), line.size()) < 0) return 1;
      ::fsync(log);
    }
  }
}
