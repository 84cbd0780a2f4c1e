// tamber publish: libraries mirrored into the shared catalogue on a
// PostgreSQL server, which find --server and ls --server read.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <iostream>

#include "app/app.h"
#include "app/shared_catalogue.h"
#include "commands.h"
#include "common.h"
#include "app/language.h"
#include "platform/json.h"

namespace tamber::cli {

std::unique_ptr<app::SharedCatalogue> connectToServer(const std::string& url, app::Notifier& n, int& rc,
                                                      size_t& libraries) {
  auto server = app::SharedCatalogue::connect(url);
  if (!server) {
    n.error(server.message());
    rc = server.error().code == Errc::invalid_argument ? kExitUsage : kExitFailure;
    return nullptr;
  }
  auto names = (*server)->libraries();
  if (!names) {
    n.error(names.message());
    rc = kExitFailure;
    return nullptr;
  }
  libraries = names->size();
  return std::move(*server);
}

void registerSharedCommands(CLI::App& cli, int& status, std::shared_ptr<Globals> g) {
  struct Args {
    std::vector<std::string> libraries;
    std::string to, name;
  };
  auto a = std::make_shared<Args>();
  auto* publish = cli.add_subcommand(
      "publish", "Mirror libraries into the shared catalogue on a PostgreSQL server, for find --server and ls --server");
  publish->add_option("LIB", a->libraries, "Library files to publish (default: the library of -L, or the default one)");
  publish->add_option("--to", a->to,
                      "The server, as PostgreSQL connection strings are written (\"postgresql://user@host:5432/db\" "
                      "or \"host=... dbname=...\"; default: the setting App-Preference SharedCatalogue); the password goes in "
                      "PGPASSWORD or ~/.pgpass, never here")
      ->envname("TAMBER_SERVER");
  publish->add_option("--name", a->name,
                      "The name its hits carry on the server (default: the library file's name without .cds); only "
                      "with one LIB");
  publish->callback([&status, g, a] {
    CancelOnSignals cancelling;
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      std::vector<std::string> libraries = a->libraries;
      if (libraries.empty()) libraries.push_back(libraryOrDefault(app, *g));
      if (!a->name.empty() && libraries.size() > 1) {
        n.error("--name names one library: give one LIB with it");
        return kExitUsage;
      }
      std::string to = a->to.empty() ? app.settings().getText("App-Preference", "SharedCatalogue") : a->to;
      if (to.empty()) {
        n.error("publish needs the server: --to ADDRESS, TAMBER_SERVER, or the setting App-Preference SharedCatalogue");
        return kExitUsage;
      }
      auto server = app::SharedCatalogue::connect(to);
      if (!server) {
        n.error(server.message());
        return server.error().code == Errc::invalid_argument ? kExitUsage : kExitFailure;
      }
      if (Status st = (*server)->prepare(); !st) {
        n.error(st.message());
        return kExitFailure;
      }
      const bool progress = isatty(STDERR_FILENO) && !g->quiet && !g->json;
      int rc = kExitOk;
      std::string json = "[";
      for (const auto& path : libraries) {
        auto start = std::chrono::steady_clock::now();
        // Read-only and shared while a job writes; opened for changes only
        // once, to store the id a library gets when first published.
        auto lib = catalog::Library::open(path, true);
        if (!lib) {
          n.error(app.inUserLanguage(lib.error(), path).message);
          rc = kExitFailure;
          continue;
        }
        auto id = app::libraryId(**lib, false);
        if (id && id->empty()) {
          lib->reset();
          auto writable = catalog::Library::open(path, false);
          if (!writable || (*writable)->readOnly()) {
            n.error(path + ": the library gets its id when first published, and cannot be changed now" +
                    (writable ? std::string() : " (" + app.inUserLanguage(writable.error(), path).message + ")"));
            rc = kExitFailure;
            continue;
          }
          id = app::libraryId(**writable, true);
          if (id) {
            if (Status st = (*writable)->save(); !st) id = st.error();
          }
          lib = std::move(writable);
        }
        if (!id) {
          n.error(path + ": " + id.message());
          rc = kExitFailure;
          continue;
        }
        std::string name = a->name;
        if (name.empty()) name = std::filesystem::path(path).stem().string();
        auto shown = std::chrono::steady_clock::now();
        auto r = (*server)->publish(**lib, *id, name, [&](long long files) {
          if (progress && std::chrono::steady_clock::now() - shown > std::chrono::milliseconds(200)) {
            shown = std::chrono::steady_clock::now();
            std::cerr << "\r" << escapeForTerminal(name) << ": " << files << " files sent…" << std::flush;
          }
          return interrupted.load() == 0;
        });
        if (progress) std::cerr << "\r\033[K" << std::flush;
        if (!r) {
          n.error(path + ": " + r.message() + " (the server keeps what it had)");
          if (r.error().code == Errc::cancelled) return 128 + interrupted.load();
          rc = kExitFailure;
          continue;
        }
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (g->json) {
          json += std::string(json.size() > 1 ? "," : "") + "{\"library\":" + jsonString(path) + ",\"name\":" +
                  jsonString(name) + ",\"id\":" + jsonString(*id) + ",\"itemsSent\":" +
                  std::to_string(r->itemsSent) + ",\"itemsUnchanged\":" + std::to_string(r->itemsUnchanged) +
                  ",\"itemsRemoved\":" + std::to_string(r->itemsRemoved) + ",\"files\":" + std::to_string(r->files) +
                  ",\"seconds\":" + std::to_string(seconds) + "}";
        } else if (!g->quiet) {
          char secondsText[32];
          std::snprintf(secondsText, sizeof secondsText, "%.1f", seconds);
          std::cout << escapeForTerminal(say(app::kTextPublished,
                                             {name, std::to_string(r->itemsSent), std::to_string(r->files),
                                              std::to_string(r->itemsUnchanged), std::to_string(r->itemsRemoved),
                                              secondsText}))
                    << "\n" << std::flush;
        }
      }
      if (g->json) std::cout << json << "]\n";
      return rc;
    }, Access::look);
  });
}

}  // namespace tamber::cli
