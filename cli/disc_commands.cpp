// tamber drives and tamber disc: the machine's optical drives, and what the
// disc in one holds.

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <iostream>

#include "app/disc_database.h"
#include "app/presentation.h"
#include "common.h"
#include "disc/cd_text.h"
#include "disc/cddb.h"
#include "disc/drive_manager.h"
#include "disc/track.h"
#include "platform/json.h"

namespace tamber::cli {

namespace {

std::string msf(const disc::TocEntry& e) {
  char t[16];
  std::snprintf(t, sizeof t, "%02d:%02d:%02d", e.minute, e.second, e.frame);
  return t;
}

std::string jsonStrings(const std::vector<std::string>& list) {
  std::string out = "[";
  for (size_t i = 0; i < list.size(); ++i) out += (i ? "," : "") + jsonString(list[i]);
  return out + "]";
}

std::string cdTextJson(const disc::CdText& t) {
  if (t.empty()) return "null";
  auto items = [](const disc::CdTextItems& i) {
    return "\"title\":" + jsonString(i.title) + ",\"performer\":" + jsonString(i.performer) +
           ",\"songwriter\":" + jsonString(i.songwriter) + ",\"composer\":" + jsonString(i.composer) +
           ",\"code\":" + jsonString(i.code);
  };
  std::string out = "{" + items(t.disc) + ",\"genre\":" + jsonString(t.genre) +
                    ",\"artist\":" + jsonString(disc::discArtist(t)) + ",\"tracks\":[";
  for (size_t i = 0; i < t.tracks.size(); ++i) out += std::string(i ? "," : "") + "{" + items(t.tracks[i]) + "}";
  return out + "]}";
}

}  // namespace

void registerDiscCommands(CLI::App& cli, int& status, std::shared_ptr<Globals> g) {
  auto drive = std::make_shared<std::string>();

  auto* drives = cli.add_subcommand("drives", "List the optical drives (index, device, name, tray)");
  drives->callback([&status, g] {
    status = withLibrary(*g, [&](App&, app::Notifier&) {
      disc::CdDriveManager m;
      m.enumerate();
      for (const auto& p : m.problems()) std::cerr << warningPrefix() << p << "\n";
      if (g->json) {
        std::cout << "[";
        for (int i = 0; i < m.driveCount(); ++i) {
          const auto* r = m.record(i);
          std::cout << (i ? "," : "") << "{\"index\":" << i << ",\"device\":" << jsonString(r->device)
                    << ",\"name\":" << jsonString(r->driveName)
                    << ",\"trayOpen\":" << (r->eventStatusSupported ? (r->trayOpen ? "true" : "false") : "null")
                    << ",\"mountPoint\":" << jsonString(m.mountPoint(i)) << "}";
        }
        std::cout << "]\n";
        return kExitOk;
      }
      if (m.driveCount() == 0) {
        std::cerr << "tamber: " << say(app::kTextNoDrive) << "\n";
        return kExitFailure;
      }
      for (int i = 0; i < m.driveCount(); ++i) {
        const auto* r = m.record(i);
        std::string mount = m.mountPoint(i);
        std::cout << i << "  " << r->device << "  " << escapeForTerminal(r->driveName)
                  << (r->eventStatusSupported ? (r->trayOpen ? "  (tray open)" : "") : "")
                  << (mount.empty() ? "" : "  mounted on " + escapeForTerminal(mount)) << "\n";
      }
      return kExitOk;
    }, Access::none);
  });

  auto* show = cli.add_subcommand(
      "disc", "Read the disc in a drive: kind, table of contents, disc ids, catalog number, ISRCs, CD-TEXT");
  show->add_option("--drive", *drive, "Drive index, device path (/dev/sr0) or sim:FILE (a simulated drive)");
  show->callback([&status, g, drive] {
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      disc::CdDriveManager m;
      auto index = m.select(*drive);
      if (!index) {
        n.error(index.message());
        return kExitFailure;
      }
      if (Status st = m.readDisc(*index); !st) {
        n.error(st.message());
        return kExitFailure;
      }
      const disc::DriveRecord& r = *m.record(*index);
      disc::DiscIdentity id;
      bool audio = !r.isDvd && disc::computeDiscIdentity(r.toc, id);
      std::string mb = r.isDvd ? std::string() : disc::musicBrainzDiscId(r.toc);
      disc::CdText text;
      if (r.discType == disc::kDiscAudio || r.discType == disc::kDiscEnhanced) {
        auto packs = m.readCdText(*index);
        if (!packs) {
          std::cerr << warningPrefix() << packs.message() << "\n";
        } else {
          text = disc::decodeCdText(*packs);
        }
      }
      std::vector<std::string> isrcs = r.isrcList;
      if (g->json) {
        std::string frames = "[";
        for (int i = 0; i < r.trackCount && !r.isDvd; ++i) {
          frames += (i ? "," : "") + std::to_string(r.trackFrames[static_cast<size_t>(i)]);
        }
        frames += "]";
        std::cout << "{\"drive\":" << jsonString(r.device) << ",\"discType\":" << r.discType
                  << ",\"discKind\":" << app::kindJson(app, r.discType) << ",\"isDvd\":" << (r.isDvd ? "true" : "false")
                  << ",\"trackCount\":" << r.trackCount << ",\"lastAudioTrack\":" << r.lastAudioTrack
                  << ",\"trackFrames\":" << frames << ",\"capacityBytes\":" << r.capacityBytes
                  << ",\"catalogNumber\":" << jsonString(r.catalogNumber) << ",\"isrcList\":" << jsonStrings(isrcs)
                  << ",\"label\":" << jsonString(r.label)
                  << ",\"discId\":" << (audio ? jsonString(disc::discIdText(id.discId)) : "null")
                  << ",\"musicbrainzDiscId\":" << (mb.empty() ? "null" : jsonString(mb))
                  << ",\"offsets\":" << jsonString(id.offsets) << ",\"discSeconds\":" << id.discSeconds
                  << ",\"cdText\":" << cdTextJson(text) << "}\n";
        return kExitOk;
      }
      std::cout << r.device << "  " << escapeForTerminal(r.driveName) << "\n"
                << app::kindText(app, r.discType) << "  \"" << escapeForTerminal(r.label) << "\"  "
                << say(app::kTextMegabytes, {std::to_string(r.capacityBytes / 1048576)}) << "\n";
      auto field = [&](const std::string& label, const std::string& value) {
        std::cout << app::withColon(app, label) << " " << value << "\n";
      };
      if (!r.isDvd) {
        // A track's kind, "audio" or "data", padded to the longer word of
        // the user's language.
        std::string kinds[2] = {app.text(app::kTextAudioTrackKind), app.text(app::kTextAudioTrackKind + 1)};
        auto letters = [](const std::string& w) {
          return std::count_if(w.begin(), w.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; });
        };
        auto width = std::max(letters(kinds[0]), letters(kinds[1]));
        for (auto& k : kinds) k.append(static_cast<size_t>(width - letters(k)), ' ');
        for (int i = 0; i < r.trackCount; ++i) {
          const auto& t = r.toc.tracks[static_cast<size_t>(i)];
          uint32_t f = r.trackFrames[static_cast<size_t>(i)];
          std::printf("%3d  %s  %s  %6s", t.number, kinds[t.audio() ? 0 : 1].c_str(), msf(t).c_str(),
                      f ? disc::trackLengthText(f).c_str() : "");
          std::string isrc = static_cast<size_t>(i) < isrcs.size() ? isrcs[static_cast<size_t>(i)] : "";
          std::string title = static_cast<size_t>(i) < text.tracks.size() ? text.tracks[static_cast<size_t>(i)].title : "";
          std::string performer =
              static_cast<size_t>(i) < text.tracks.size() ? text.tracks[static_cast<size_t>(i)].performer : "";
          std::printf("  %-12s  %s%s\n", isrc.c_str(), escapeForTerminal(title).c_str(),
                      performer.empty() ? "" : (" / " + escapeForTerminal(performer)).c_str());
        }
        std::fflush(stdout);
        field(app.text(app::kTextLeadOut), msf(r.toc.leadout));
        field(app::itemFieldLabel(app, "playingTime"),
              disc::trackLengthText(static_cast<uint64_t>(r.spanMinutes * 4500 + r.spanSeconds * 75 + r.spanFrames)));
        if (audio) {
          field(app.text(app::kTextCddbDiscId), disc::discIdText(id.discId) + " (" +
                                                    app::countedText(app, id.trackCount, app::kTextTrackCount) + ", " +
                                                    std::to_string(id.discSeconds) + " s; " +
                                                    app.text(app::kTextOffsets) + " " + id.offsets + ")");
        }
        if (!mb.empty()) field(app.text(app::kTextMusicBrainzDiscId), mb);
        if (!r.catalogNumber.empty()) field(app::itemFieldLabel(app, "catalogNumber"), r.catalogNumber);
        if (!text.empty()) {
          field("CD-TEXT", escapeForTerminal(text.disc.title) + " / " + escapeForTerminal(disc::discArtist(text)) +
                               (text.genre.empty() ? "" : " (" + escapeForTerminal(text.genre) + ")"));
        }
      }
      return kExitOk;
    }, Access::none);
  });

  struct CddbArgs {
    std::string drive, server, email, proxy, category, discId;
  };
  auto c = std::make_shared<CddbArgs>();
  auto* cddb = cli.add_subcommand("cddb", "Ask a disc database server: query, read an entry, list its sites");
  cddb->require_subcommand(1);
  auto common = [&](CLI::App* sub) {
    sub->add_option("--server", c->server, "The server, HOST[:PORT][/PATH] (default gnudb.gnudb.org)");
    sub->add_option("--email", c->email, "The e-mail address the server is greeted with (USER@HOST)");
    sub->add_option("--proxy", c->proxy, "An HTTP proxy, HOST[:PORT]");
  };
  auto* query = cddb->add_subcommand("query", "The entries that match the disc in a drive");
  query->add_option("--drive", c->drive, "Drive index, device path or sim:FILE");
  common(query);
  auto* read = cddb->add_subcommand("read", "One entry: its disc and track titles");
  read->add_option("CATEGORY", c->category, "The entry's category (rock, jazz, ...)")->required();
  read->add_option("DISCID", c->discId, "The entry's disc id (8 hexadecimal digits)")->required();
  common(read);
  auto* sites = cddb->add_subcommand("sites", "The mirror servers the server lists");
  common(sites);

  // Runs one request with the client and server the settings and options say.
  auto withClient = [&status, g, c](auto&& body) {
    status = withLibrary(*g, [&](App& app, app::Notifier& n) {
      // Ctrl-C and SIGTERM end a request at its next wait.
      CancelOnSignals cancelling;
      disc::CddbClient client;
      if (Status st = app::configureCddbClient(app.settings(), {c->server, c->email, c->proxy}, client); !st) {
        n.error(st.message());
        return kExitUsage;
      }
      client.cancelled = [] { return interrupted.load() != 0; };
      auto site = app::cddbServer(app.settings(), c->server);
      if (!site) {
        n.error(site.message());
        return kExitUsage;
      }
      int rc = body(app, n, client, *site);
      return interrupted.load() != 0 ? 128 + interrupted.load() : rc;
    }, Access::none);
  };
  query->callback([withClient, g, c] {
    withClient([&](App&, app::Notifier& n, disc::CddbClient& client, const disc::CddbSite& site) {
      disc::CdDriveManager m;
      auto index = m.select(c->drive);
      if (!index) {
        n.error(index.message());
        return kExitFailure;
      }
      disc::DiscIdentity id;
      if (!m.computeDiscIdentity(*index, id)) {
        n.error(say(app::kTextNoAudioToLookUp, {m.record(*index)->device}));
        return kExitFailure;
      }
      std::vector<disc::CddbMatch> matches;
      bool found = client.query(site, id, matches);
      if (!found && client.lastError() != 0) {
        n.error(client.errorText());
        return kExitFailure;
      }
      if (g->json) {
        std::cout << "{\"discId\":" << jsonString(disc::discIdText(id.discId)) << ",\"matches\":[";
        for (size_t i = 0; i < matches.size(); ++i) {
          std::cout << (i ? "," : "") << "{\"category\":" << jsonString(matches[i].category)
                    << ",\"discId\":" << jsonString(disc::discIdText(matches[i].discId))
                    << ",\"artist\":" << jsonString(matches[i].artist) << ",\"title\":" << jsonString(matches[i].title)
                    << "}";
        }
        std::cout << "]}\n";
      } else if (matches.empty()) {
        std::cerr << site.host << " has no entry for disc " << disc::discIdText(id.discId) << "\n";
      }
      for (size_t i = 0; i < matches.size() && !g->json; ++i) {
        std::cout << matches[i].category << "  " << disc::discIdText(matches[i].discId) << "  "
                  << escapeForTerminal(matches[i].artist) << (matches[i].artist.empty() ? "" : " / ")
                  << escapeForTerminal(matches[i].title) << "\n";
      }
      return found ? kExitOk : kExitFailure;
    });
  });
  read->callback([withClient, g, c] {
    withClient([&](App&, app::Notifier& n, disc::CddbClient& client, const disc::CddbSite& site) {
      char* end = nullptr;
      unsigned long id = std::strtoul(c->discId.c_str(), &end, 16);
      if (c->discId.empty() || c->discId.size() > 8 || *end) {
        n.error(say(app::kTextNotADiscId, {c->discId}));
        return kExitUsage;
      }
      disc::DiscEntry e;
      if (!client.read(site, c->category, static_cast<uint32_t>(id), e)) {
        n.error(client.errorText());
        return kExitFailure;
      }
      if (g->json) {
        std::cout << "{\"discId\":" << jsonString(disc::discIdText(e.discId)) << ",\"artist\":" << jsonString(e.artist)
                  << ",\"title\":" << jsonString(e.title) << ",\"year\":" << e.year << ",\"genre\":" << jsonString(e.genre)
                  << ",\"discLengthSeconds\":" << e.discLengthSeconds << ",\"revision\":" << e.revision
                  << ",\"trackTitles\":" << jsonStrings(e.trackTitles) << "}\n";
        return kExitOk;
      }
      std::cout << escapeForTerminal(e.artist) << " / " << escapeForTerminal(e.title);
      if (e.year) std::cout << " (" << e.year << ")";
      if (!e.genre.empty()) std::cout << "  " << escapeForTerminal(e.genre);
      std::cout << "\n";
      for (size_t i = 0; i < e.trackTitles.size(); ++i) {
        std::cout << std::setw(3) << i + 1 << "  " << escapeForTerminal(e.trackTitles[i]) << "\n";
      }
      return kExitOk;
    });
  });
  sites->callback([withClient, g] {
    withClient([&](App&, app::Notifier& n, disc::CddbClient& client, const disc::CddbSite& site) {
      std::vector<disc::CddbSite> list;
      if (!client.sites(site, list)) {
        n.error(client.errorText());
        return kExitFailure;
      }
      if (g->json) {
        std::cout << "[";
        for (size_t i = 0; i < list.size(); ++i) {
          std::cout << (i ? "," : "") << "{\"host\":" << jsonString(list[i].host) << ",\"port\":" << list[i].port
                    << ",\"path\":" << jsonString(list[i].path) << ",\"description\":" << jsonString(list[i].description)
                    << "}";
        }
        std::cout << "]\n";
        return kExitOk;
      }
      for (const auto& s : list) std::cout << escapeForTerminal(disc::siteText(s)) << "  " << s.path << "\n";
      return kExitOk;
    });
  });
}

}  // namespace tamber::cli
