// The shared catalogue: libraries mirrored into a PostgreSQL database that
// every machine of a household or an organisation can search and browse.
//
// The tables live in the schema "tamber" (see kSharedSchemaVersion and the
// README): libraries, categories, items and files, each keyed by the
// library's id first, so that the table can be distributed by it. A publish
// sends, inside one transaction, only the discs and folders whose listing or
// record changed since the last one: a publish that fails or is killed
// leaves the server as it was.
#pragma once

#include <ctime>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "catalog/library.h"
#include "platform/result.h"

namespace tamber::app {

// The schema this program writes and reads. A server whose schema is newer
// is refused (it was made by a newer program); an older one is brought up
// to date by the next publish.
inline constexpr int kSharedSchemaVersion = 1;

// The stream of a library that holds its id (a UUID in text), made the
// first time the library is published.
inline constexpr const char* kLibraryIdStream = "libraryid";

class SharedCatalogue {
 public:
  // Connects to the server named by `url`, written as PostgreSQL connection
  // strings are ("postgresql://user@host:5432/db" or "host=... dbname=...").
  // A password written in it is refused: it belongs in PGPASSWORD or
  // ~/.pgpass, not on a command line that every user of the machine sees.
  static Result<std::unique_ptr<SharedCatalogue>> connect(const std::string& url);
  ~SharedCatalogue();
  SharedCatalogue(const SharedCatalogue&) = delete;
  SharedCatalogue& operator=(const SharedCatalogue&) = delete;

  // Creates the schema, or brings an older one up to date.
  Status prepare();
  // The schema version found on the server: 0 when there is none.
  Result<int> schemaVersion();

  struct PublishStats {
    long long itemsSent = 0, itemsUnchanged = 0, itemsRemoved = 0, files = 0;
    std::vector<std::string> damaged;  // "ITEM: what is wrong"; the item is not sent
  };
  // Mirrors the library's categories, discs and folders with every recorded
  // file. `libraryId` keys its rows; `name` is how hits name it.
  // `progress(files)` is told every so many files; false stops (and nothing
  // is changed on the server).
  Result<PublishStats> publish(catalog::Library& library, const std::string& libraryId, const std::string& name,
                               const std::function<bool(long long files)>& progress = {});

  struct Query {
    std::string text;
    bool regex = false;          // a POSIX regular expression, as the server reads them
    bool glob = false;           // * ? [..] wildcards; the whole name must match
    bool whole = false;          // the whole name equals the text
    bool caseSensitive = false;
    bool fullPath = false;       // compared with ITEM/path instead of the name
    bool properties = false;     // the recorded properties (tags, titles) too
    std::optional<std::time_t> from, to;
    std::optional<long long> minBytes, maxBytes;
    std::vector<std::string> types;  // "file", "folder"
    std::string library;             // only this library (its name)
  };
  struct Row {
    std::string library, item, path, name, type, kind, modified, hash;  // modified: ISO 8601 or empty
    std::string field = "name", text;  // what matched
    long long size = -1;               // -1: none (folders)
    int itemNumber = 0;
    bool folder = false;               // a folder, on the disc or inside an archive
  };
  // The files and folders that match, ordered by library, item and path,
  // handed over one by one; false from `each` stops.
  Status find(const Query& query, const std::function<bool(const Row&)>& each);
  // The entries directly inside `path` ("ITEM/folder", or a category), or
  // the items when it is empty. Error not_found when nothing is there.
  Status list(const std::string& path, const std::string& library, const std::function<bool(const Row&)>& each);
  // The names of the libraries published, sorted.
  Result<std::vector<std::string>> libraries();

 private:
  SharedCatalogue() = default;
  struct Connection;
  std::unique_ptr<Connection> c_;
};

// The library's id, made and stored in the library (which must then be
// writable) when it has none; `make` false only reads it (empty when none).
Result<std::string> libraryId(catalog::Library& library, bool make);

// A glob's translation into a POSIX regular expression matching the whole
// text (for the server's "~" and "~*").
std::string globToRegex(const std::string& glob);

}  // namespace tamber::app
