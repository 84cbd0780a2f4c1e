// A throwaway PostgreSQL cluster for the shared catalogue's tests: made with
// initdb in a test's folder, listening on a socket there alone (no TCP),
// stopped when it goes.
#pragma once

#include <glob.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/run_command.h"

namespace tamber::test_support {

class PgCluster {
 public:
  // Makes and starts the cluster in `parent`/pg. Returns what went wrong,
  // or an empty text.
  std::string start(const std::filesystem::path& parent) {
    bin_ = programs();
    if (bin_.empty()) return "the PostgreSQL server's programs are missing: run scripts/setup.sh";
    dir_ = parent / "pg";
    std::filesystem::create_directory(dir_);
    // The server refuses to run as root: there it runs as the account the
    // packages made for it, in a folder it owns.
    if (geteuid() == 0) {
      std::filesystem::permissions(parent, std::filesystem::perms::owner_all | std::filesystem::perms::group_exec |
                                               std::filesystem::perms::others_exec);
      if (runCommand("chown postgres " + shellQuote(dir_.string())).status != 0) return "cannot give the folder to postgres";
      as_ = "runuser -u postgres -- ";
    }
    auto init = runCommand(as_ + bin_ + "/initdb -D " + shellQuote((dir_ / "data").string()) +
                           " -U tamber --auth=trust --encoding=UTF8 --locale=C.UTF-8 -N");
    if (init.status != 0) return init.out;
    auto up = runCommand(as_ + bin_ + "/pg_ctl -D " + shellQuote((dir_ / "data").string()) + " -l " +
                         shellQuote((dir_ / "log").string()) + " -w -o " +
                         shellQuote("-k " + dir_.string() + " -p 5439 -c listen_addresses='' -c fsync=off") + " start");
    if (up.status != 0) return up.out;
    started_ = true;
    url_ = "host=" + dir_.string() + " port=5439 user=tamber dbname=postgres";
    return {};
  }
  ~PgCluster() {
    if (started_) runCommand(as_ + bin_ + "/pg_ctl -D " + shellQuote((dir_ / "data").string()) + " -m immediate stop");
  }
  const std::string& url() const { return url_; }
  // What the server answers to `query`: rows on lines, columns joined by |.
  CommandResult sql(const std::string& query) const {
    auto r = runCommand("psql -X -q -tA " + shellQuote(url_) + " -c " + shellQuote(query));
    while (!r.out.empty() && r.out.back() == '\n') r.out.pop_back();
    return r;
  }

 private:
  // The folder of the server's programs (initdb, pg_ctl), newest version first.
  static std::string programs() {
    glob_t g{};
    std::string found;
    if (glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &g) == 0 && g.gl_pathc > 0) {
      found = std::filesystem::path(g.gl_pathv[g.gl_pathc - 1]).parent_path().string();
    }
    globfree(&g);
    return found;
  }
  std::filesystem::path dir_;
  std::string bin_, as_, url_;
  bool started_ = false;
};

}  // namespace tamber::test_support
