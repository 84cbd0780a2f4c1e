#include "app/shared_catalogue.h"

#include <libxml/tree.h>
#include <sys/random.h>
#include <unistd.h>
#include <xxhash.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>

#include "app/csv_export.h"
#include "app/libpq.h"
#include "app/presentation.h"
#include "catalog/catalog_document.h"
#include "disc/track.h"
#include "platform/hex_time.h"
#include "platform/json.h"
#include "scan/archive_records.h"
#include "scan/listing.h"
#include "scan/listing_reader.h"
#include "scan/listing_scanner.h"

namespace tamber::app {

namespace {

using catalog::CatalogDocument;

// The client library; connect() loads it before anything else calls it.
const Libpq& pq() {
  std::string why;
  return *loadLibpq(why);
}

// Version 1 of the schema. Every table starts with the library's id, and
// every key holds it: with Citus the tables are distributed by it, and a
// library's rows stay together on one node. The files are kept in a table
// of each library's own (a partition, "files_" and the id's digits): a
// library published for the first time fills its table before the table
// gets its indexes, which is several times faster than keeping them on
// every row, and then attaches it.
constexpr const char* kSchemaV1 = R"sql(
CREATE EXTENSION IF NOT EXISTS pg_trgm;
CREATE SCHEMA IF NOT EXISTS tamber;
CREATE TABLE tamber.schema_version (version integer NOT NULL);
INSERT INTO tamber.schema_version VALUES (1);
CREATE TABLE tamber.libraries (
  library_id uuid PRIMARY KEY,
  name text NOT NULL,
  path text,
  host text,
  published timestamptz NOT NULL DEFAULT now());
CREATE TABLE tamber.categories (
  library_id uuid NOT NULL,
  category text NOT NULL,
  path text NOT NULL,
  comment text,
  PRIMARY KEY (library_id, category));
CREATE TABLE tamber.items (
  library_id uuid NOT NULL,
  item_key text NOT NULL,
  path text NOT NULL,
  number integer NOT NULL,
  label text NOT NULL,
  kind integer,
  location text,
  comment text,
  root text,
  volume_label text,
  volume_uuid text,
  volume_filesystem text,
  volume_total bigint,
  volume_free bigint,
  files bigint NOT NULL DEFAULT 0,
  fingerprint bigint NOT NULL,
  published timestamptz NOT NULL DEFAULT now(),
  PRIMARY KEY (library_id, item_key));
CREATE TABLE tamber.files (
  library_id uuid NOT NULL,
  item_key text NOT NULL,
  path text NOT NULL,
  parent text NOT NULL,
  name text NOT NULL,
  type "char" NOT NULL,
  size bigint,
  modified timestamptz,
  kind text,
  hash text,
  properties jsonb) PARTITION BY LIST (library_id);
CREATE INDEX files_item ON tamber.files (library_id, item_key, parent);
CREATE INDEX files_name_trgm ON tamber.files USING gin (name gin_trgm_ops);
)sql";

// The advisory lock held while the schema is made or changed; a library's
// publish holds one of its own, derived from its id.
constexpr long long kSchemaLock = 0x74616d6265720001LL;

// A message of the server or of libpq on one line: its line breaks and
// the tabs that indent its continuation lines become spaces.
std::string trimmed(const char* message) {
  std::string m;
  for (const char* p = message ? message : ""; *p; ++p) {
    if (*p == '\n' || *p == '\t' || *p == '\r') {
      if (!m.empty() && m.back() != ' ') m.push_back(' ');
    } else {
      m.push_back(*p);
    }
  }
  while (!m.empty() && m.back() == ' ') m.pop_back();
  return m;
}

// The server's notices ("extension exists, skipping", "terminating
// connection") are not for the user: what fails comes with its result.
void ignoreNotice(void*, const char*) {}

// A text as a field of COPY's text format.
void copyField(std::string& out, std::string_view text) {
  for (char ch : text) {
    switch (ch) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out.push_back(ch);
    }
  }
}

// Digits alone, or "\N" (null).
std::string numberOrNull(const std::string& text) {
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos) return "\\N";
  return text;
}

// A LIKE pattern that matches the text as typed.
std::string likeEscaped(std::string_view text) {
  std::string out;
  for (char ch : text) {
    if (ch == '\\' || ch == '%' || ch == '_') out.push_back('\\');
    out.push_back(ch);
  }
  return out;
}

std::string utcText(std::time_t t, bool iso) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  char buf[40];
  std::strftime(buf, sizeof buf, iso ? "%Y-%m-%dT%H:%M:%SZ" : "%Y-%m-%d %H:%M:%S+00", &tm);
  return buf;
}

std::string hostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

}  // namespace

std::string globToRegex(const std::string& glob) {
  std::string out = "^";
  for (size_t i = 0; i < glob.size(); ++i) {
    char ch = glob[i];
    if (ch == '*') {
      out += ".*";
    } else if (ch == '?') {
      out += ".";
    } else if (ch == '[') {
      // A set runs to its closing bracket ("[]a]" holds the bracket);
      // without one the bracket is itself.
      size_t end = i + 1;
      if (end < glob.size() && (glob[end] == '!' || glob[end] == '^')) ++end;
      if (end < glob.size() && glob[end] == ']') ++end;
      end = glob.find(']', end);
      if (end == std::string::npos) {
        out += "\\[";
        continue;
      }
      std::string set = glob.substr(i + 1, end - i - 1);
      if (!set.empty() && set[0] == '!') set[0] = '^';
      std::string inner;
      for (char c : set) {
        if (c == '\\') inner += "\\\\";
        else inner.push_back(c);
      }
      out += "[" + inner + "]";
      i = end;
    } else if (std::strchr("\\.+()|{}^$", ch)) {
      out += "\\";
      out.push_back(ch);
    } else {
      out.push_back(ch);
    }
  }
  return out + "$";
}

struct SharedCatalogue::Connection {
  PGconn* conn = nullptr;
  ~Connection() {
    if (conn) pq().PQfinish(conn);
  }
  Error failure(const std::string& what) const {
    return Error{Errc::io, what + ": " + trimmed(pq().PQerrorMessage(conn))};
  }
};

namespace {

// One result, freed when it goes.
struct PgResult {
  PGresult* r = nullptr;
  explicit PgResult(PGresult* p) : r(p) {}
  PgResult(PgResult&& o) noexcept : r(o.r) { o.r = nullptr; }
  ~PgResult() {
    if (r) pq().PQclear(r);
  }
  int rows() const { return pq().PQntuples(r); }
  std::string text(int row, int column) const {
    if (column >= pq().PQnfields(r) || pq().PQgetisnull(r, row, column)) return "";
    return std::string(pq().PQgetvalue(r, row, column), static_cast<size_t>(pq().PQgetlength(r, row, column)));
  }
  bool null(int row, int column) const { return column >= pq().PQnfields(r) || pq().PQgetisnull(r, row, column); }
};

// A file's columns, from `first` on, in the order the queries give them:
// name, type, size, modified (ISO 8601), kind, hash, path.
constexpr const char* kFileColumns =
    "f.name, f.type, f.size, to_char(f.modified AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'), f.kind, "
    "f.hash, f.path";
void readFileColumns(const PgResult& r, int first, SharedCatalogue::Row& row) {
  row.name = r.text(0, first);
  std::string type = r.text(0, first + 1);
  row.type = type == "d" ? "folder" : type == "l" ? "link" : type == "m" || type == "M" ? "archive-member" : "file";
  row.folder = type == "d" || type == "M";
  row.size = r.null(0, first + 2) ? -1 : std::atoll(r.text(0, first + 2).c_str());
  row.modified = r.text(0, first + 3);
  row.kind = r.text(0, first + 4);
  row.hash = r.text(0, first + 5);
  row.path = r.text(0, first + 6);
}

Result<PgResult> run(PGconn* conn, const std::string& sql, const std::vector<std::string>& params = {}) {
  std::vector<const char*> values;
  for (const auto& p : params) values.push_back(p.c_str());
  PgResult r(pq().PQexecParams(conn, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                          nullptr, 0));
  ExecStatusType st = r.r ? pq().PQresultStatus(r.r) : PGRES_FATAL_ERROR;
  if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) {
    std::string m = r.r ? trimmed(pq().PQresultErrorMessage(r.r)) : trimmed(pq().PQerrorMessage(conn));
    if (pq().PQstatus(conn) != CONNECTION_OK) m = "the connection to the server was lost: " + m;
    return Error{Errc::io, m.empty() ? "the server refused the request" : m};
  }
  return r;
}

Status runAll(PGconn* conn, const char* sql) {
  PgResult r(pq().PQexec(conn, sql));
  ExecStatusType st = r.r ? pq().PQresultStatus(r.r) : PGRES_FATAL_ERROR;
  if (st != PGRES_COMMAND_OK && st != PGRES_TUPLES_OK) {
    return Error{Errc::io, r.r ? trimmed(pq().PQresultErrorMessage(r.r)) : trimmed(pq().PQerrorMessage(conn))};
  }
  return {};
}

// A transaction that rolls back unless committed.
struct Transaction {
  PGconn* conn;
  bool open = false;
  explicit Transaction(PGconn* c) : conn(c) {}
  Status begin() {
    if (Status st = runAll(conn, "BEGIN"); !st) return st;
    open = true;
    return {};
  }
  Status commit() {
    open = false;
    return runAll(conn, "COMMIT");
  }
  ~Transaction() {
    if (open && pq().PQstatus(conn) == CONNECTION_OK) pq().PQclear(pq().PQexec(conn, "ROLLBACK"));
  }
};

// Rows sent with COPY ... FROM STDIN in large pieces.
class CopyIn {
 public:
  CopyIn(PGconn* conn) : conn_(conn) {}
  Status start(const std::string& sql) {
    PgResult r(pq().PQexec(conn_, sql.c_str()));
    if (!r.r || pq().PQresultStatus(r.r) != PGRES_COPY_IN) {
      return Error{Errc::io, r.r ? trimmed(pq().PQresultErrorMessage(r.r)) : trimmed(pq().PQerrorMessage(conn_))};
    }
    return {};
  }
  std::string& buffer() { return buffer_; }
  Status flush(bool force) {
    if (buffer_.empty() || (!force && buffer_.size() < (1u << 20))) return {};
    if (pq().PQputCopyData(conn_, buffer_.data(), static_cast<int>(buffer_.size())) != 1) {
      return Error{Errc::io, "sending rows: " + trimmed(pq().PQerrorMessage(conn_))};
    }
    buffer_.clear();
    return {};
  }
  Status end() {
    if (Status st = flush(true); !st) return st;
    if (pq().PQputCopyEnd(conn_, nullptr) != 1) return Error{Errc::io, trimmed(pq().PQerrorMessage(conn_))};
    Status result;
    while (PGresult* r = pq().PQgetResult(conn_)) {
      if (pq().PQresultStatus(r) != PGRES_COMMAND_OK && result) result = Error{Errc::io, trimmed(pq().PQresultErrorMessage(r))};
      pq().PQclear(r);
    }
    return result;
  }
  // Ends a copy that failed on our side; the server drops its rows.
  void abandon() {
    pq().PQputCopyEnd(conn_, "stopped");
    while (PGresult* r = pq().PQgetResult(conn_)) pq().PQclear(r);
  }

 private:
  PGconn* conn_;
  std::string buffer_;
};

struct LocalItem {
  xmlNode* node = nullptr;
  std::string key, path;
  catalog::ItemPath category;
  uint16_t number = 0;
  int parts = 0;
  long long fingerprint = 0;
};

std::vector<std::string> listingStreams(const LocalItem& item) {
  std::vector<std::string> names;
  for (int k = 0; k <= item.parts; ++k) {
    names.push_back(catalog::streamName(catalog::StreamKind::listing, item.category, item.number, k));
  }
  names.push_back(catalog::streamName(catalog::StreamKind::archives, item.category, item.number));
  return names;
}

// What identifies an item's state: its record in the catalog, where it
// stands, and the bytes of its listings.
Result<long long> fingerprintOf(catalog::Library& library, const LocalItem& item) {
  XXH3_state_t* state = XXH3_createState();
  if (!state) return Error{Errc::io, "out of memory"};
  struct Free {
    XXH3_state_t* s;
    ~Free() { XXH3_freeState(s); }
  } release{state};
  XXH3_64bits_reset(state);
  // What an item's rows hold: a change to it sends every item again once
  // (archive members have been sent since the second).
  constexpr std::string_view kRowsVersion = "rows 2";
  XXH3_64bits_update(state, kRowsVersion.data(), kRowsVersion.size());
  XXH3_64bits_update(state, item.key.data(), item.key.size());
  XXH3_64bits_update(state, item.path.data(), item.path.size() + 1);
  xmlBufferPtr buf = xmlBufferCreate();
  xmlNodeDump(buf, item.node->doc, item.node, 0, 0);
  XXH3_64bits_update(state, xmlBufferContent(buf), static_cast<size_t>(xmlBufferLength(buf)));
  xmlBufferFree(buf);
  std::string piece(1 << 20, '\0');
  for (const auto& name : listingStreams(item)) {
    auto s = library.file().root().openStream(name);
    if (!s) {
      if (s.error().code == Errc::not_found) continue;
      return s.error();
    }
    XXH3_64bits_update(state, name.data(), name.size() + 1);
    for (;;) {
      auto n = s->read(piece.data(), piece.size());
      if (!n) return n.error();
      if (*n == 0) break;
      XXH3_64bits_update(state, piece.data(), *n);
    }
  }
  return static_cast<long long>(XXH3_64bits_digest(state));
}

std::string arrayLiteral(const std::vector<std::string>& texts) {
  std::string out = "{";
  for (size_t i = 0; i < texts.size(); ++i) {
    if (i) out += ",";
    out += "\"";
    for (char ch : texts[i]) {
      if (ch == '"' || ch == '\\') out.push_back('\\');
      out.push_back(ch);
    }
    out += "\"";
  }
  return out + "}";
}

}  // namespace

// The archives' members of an item, as rows of type "m" below their
// archive's row: records of a 4-byte length and the description of one
// archive, whose recorded path is made relative to the item's root.
Result<long long> copyArchiveMembers(catalog::Library& library, const LocalItem& item, const std::string& id,
                                     const std::string& root, std::string& out) {
  auto s = library.file().root().openStream(
      catalog::streamName(catalog::StreamKind::archives, item.category, item.number));
  if (!s) return s.error().code == Errc::not_found ? Result<long long>(0LL) : Result<long long>(s.error());
  auto bytes = s->readAll();
  if (!bytes) return bytes.error();
  long long count = 0;
  std::string name, size, modified, archive;  // the archive's path below the item's root
  scan::ArchiveWalk walk;
  walk.archive = [&](const std::string& recorded) { archive = scan::pathBelowRoot(recorded, root); };
  walk.member = [&](const scan::ListingScanner& m, bool folder) {
    if (!m.attribute("name", name)) return;
    std::string member = name;
    std::replace(member.begin(), member.end(), '\\', '/');
    while (!member.empty() && member.back() == '/') member.pop_back();
    if (member.empty()) return;
    std::string path = archive + "/" + member;
    size_t slash = path.rfind('/');
    out += id + "\t" + item.key + "\t";
    copyField(out, path);
    out += "\t";
    copyField(out, path.substr(0, slash));
    out += "\t";
    copyField(out, path.substr(slash + 1));
    // Folders inside the archive are "M", its files "m".
    out += folder ? "\tM\t" : "\tm\t";
    out += m.attribute("size", size) ? numberOrNull(size) : "\\N";
    out += "\t";
    auto t = m.attribute("modified", modified) ? parseHexTime(modified) : std::nullopt;
    out += t ? utcText(*t, false) : "\\N";
    out += "\t\\N\t\\N\t\\N\n";
    ++count;
  };
  std::string error;
  if (!scan::walkArchiveRecords(*bytes, walk, error)) return Error{Errc::corrupt, error};
  return count;
}

Result<std::unique_ptr<SharedCatalogue>> SharedCatalogue::connect(const std::string& url) {
  if (std::string why; !loadLibpq(why)) return Error{Errc::unsupported, why};
  char* err = nullptr;
  PQconninfoOption* options = pq().PQconninfoParse(url.c_str(), &err);
  if (!options) {
    std::string m = err ? trimmed(err) : "out of memory";
    if (err) pq().PQfreemem(err);
    return Error{Errc::invalid_argument, "the server's address cannot be read: " + m};
  }
  bool password = false;
  for (PQconninfoOption* o = options; o->keyword; ++o) {
    if (std::strcmp(o->keyword, "password") == 0 && o->val && *o->val) password = true;
  }
  pq().PQconninfoFree(options);
  if (password) {
    return Error{Errc::invalid_argument,
                 "the server's address holds a password: give it in PGPASSWORD or ~/.pgpass instead, where other "
                 "users of this machine cannot read it"};
  }
  // The address given overrides the waiting time; the texts go as UTF-8
  // whatever the server's own encoding.
  const char* keys[] = {"connect_timeout", "fallback_application_name", "dbname", "client_encoding", nullptr};
  const char* values[] = {"10", "tamber", url.c_str(), "UTF8", nullptr};
  std::unique_ptr<SharedCatalogue> c(new SharedCatalogue());
  c->c_ = std::make_unique<Connection>();
  c->c_->conn = pq().PQconnectdbParams(keys, values, 1);
  if (!c->c_->conn) return Error{Errc::io, "cannot connect to the shared catalogue: out of memory"};
  if (pq().PQstatus(c->c_->conn) != CONNECTION_OK) return c->c_->failure("cannot connect to the shared catalogue");
  pq().PQsetNoticeProcessor(c->c_->conn, ignoreNotice, nullptr);
  return c;
}

SharedCatalogue::~SharedCatalogue() = default;

Result<int> SharedCatalogue::schemaVersion() {
  auto r = run(c_->conn, "SELECT to_regclass('tamber.schema_version') IS NOT NULL");
  if (!r) return r.error();
  if (r->rows() != 1 || r->text(0, 0) != "t") return 0;
  auto v = run(c_->conn, "SELECT max(version) FROM tamber.schema_version");
  if (!v) return v.error();
  std::string text = v->rows() == 1 ? v->text(0, 0) : "";
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos) {
    return Error{Errc::corrupt, "the server's table tamber.schema_version holds no version this program can read"};
  }
  return std::stoi(text);
}

namespace {

Status checkVersion(int version) {
  if (version > kSharedSchemaVersion) {
    return Error{Errc::unsupported, "the shared catalogue on this server has schema version " +
                                        std::to_string(version) + ", newer than this program's (" +
                                        std::to_string(kSharedSchemaVersion) + "): use a newer tamber"};
  }
  return {};
}

}  // namespace

Status SharedCatalogue::prepare() {
  Transaction t(c_->conn);
  if (Status st = t.begin(); !st) return st;
  if (auto r = run(c_->conn, "SELECT pg_advisory_xact_lock(" + std::to_string(kSchemaLock) + ")"); !r) {
    return r.error();
  }
  auto v = schemaVersion();
  if (!v) return v.error();
  if (Status st = checkVersion(*v); !st) return st;
  if (*v == kSharedSchemaVersion) return t.commit();
  if (*v == 0) {
    if (Status st = runAll(c_->conn, kSchemaV1); !st) {
      return Error{Errc::io, "cannot make the shared catalogue's tables: " + st.message()};
    }
  }
  return t.commit();
}

Result<SharedCatalogue::PublishStats> SharedCatalogue::publish(catalog::Library& library, const std::string& id,
                                                               const std::string& name,
                                                               const std::function<bool(long long)>& progress) {
  PGconn* conn = c_->conn;
  PublishStats stats;
  CatalogDocument& doc = library.catalog();
  CatalogDocument::NumberCounts counts(doc);

  // The library's discs and folders, and its categories, as they stand.
  std::vector<LocalItem> items;
  std::vector<std::pair<std::string, const xmlNode*>> categories;
  std::function<void(xmlNode*)> visit = [&](xmlNode* n) {
    for (xmlNode* c = n->children; c; c = c->next) {
      if (CatalogDocument::isCategory(c)) {
        catalog::ItemPath p = doc.parentPath(c);
        p.push_back(CatalogDocument::numberOf(c));
        categories.emplace_back(catalog::joinPath(p), c);
        visit(c);
      } else if (CatalogDocument::isItem(c) && doc.hasOwnNumber(c)) {
        LocalItem item;
        item.node = c;
        item.category = doc.parentPath(c);
        item.number = CatalogDocument::numberOf(c);
        item.parts = std::clamp(std::atoi(doc.field(c, catalog::kListingParts).c_str()), 0, 65535);
        item.key = catalog::joinPath(item.category) + "/" + std::to_string(item.number);
        item.path = doc.namePath(c);
        items.push_back(std::move(item));
      }
    }
  };
  visit(doc.root());
  for (auto& item : items) {
    auto f = fingerprintOf(library, item);
    if (!f) return Error{f.error().code, item.path + ": " + f.message()};
    item.fingerprint = *f;
  }

  if (id.size() != 36 || id.find_first_not_of("0123456789abcdef-") != std::string::npos) {
    return Error{Errc::invalid_argument, "the library's id is damaged"};
  }
  std::string digits;
  for (char ch : id) {
    if (ch != '-') digits.push_back(ch);
  }
  const std::string part = "tamber.files_" + digits;

  Transaction t(conn);
  if (Status st = t.begin(); !st) return st;
  // Machines that publish the same library wait for each other.
  if (auto r = run(conn, "SELECT pg_advisory_xact_lock(hashtextextended($1, 7))", {id}); !r) return r.error();
  auto v = schemaVersion();
  if (!v) return v.error();
  if (*v == 0) return Error{Errc::not_found, "the server holds no shared catalogue"};
  if (Status st = checkVersion(*v); !st) return st;
  std::error_code ec;
  std::string where = std::filesystem::absolute(library.path(), ec).string();
  if (auto r = run(conn,
                   "INSERT INTO tamber.libraries (library_id, name, path, host, published) VALUES ($1, $2, $3, $4, "
                   "now()) ON CONFLICT (library_id) DO UPDATE SET name = EXCLUDED.name, path = EXCLUDED.path, "
                   "host = EXCLUDED.host, published = now()",
                   {id, name, where, hostName()});
      !r) {
    return r.error();
  }
  auto known = run(conn, "SELECT item_key, fingerprint FROM tamber.items WHERE library_id = $1", {id});
  if (!known) return known.error();
  std::map<std::string, std::string> onServer;
  for (int i = 0; i < known->rows(); ++i) onServer[known->text(i, 0)] = known->text(i, 1);
  auto attached = run(conn, "SELECT to_regclass($1) IS NOT NULL", {part});
  if (!attached) return attached.error();
  const bool fresh = attached->rows() != 1 || attached->text(0, 0) != "t";
  if (fresh) {
    // Every item is sent into the new table.
    for (auto& [key, fingerprint] : onServer) fingerprint.clear();
    if (Status st = runAll(conn, ("CREATE TABLE " + part + " (LIKE tamber.files INCLUDING DEFAULTS)").c_str()); !st) {
      return st.error();
    }
  }

  std::vector<const LocalItem*> changed;
  std::vector<std::string> gone;
  std::set<std::string> here;
  for (const auto& item : items) {
    here.insert(item.key);
    auto it = onServer.find(item.key);
    if (it != onServer.end() && it->second == std::to_string(item.fingerprint)) {
      ++stats.itemsUnchanged;
    } else {
      changed.push_back(&item);
      gone.push_back(item.key);
    }
  }
  for (const auto& [key, fingerprint] : onServer) {
    if (!here.count(key)) {
      gone.push_back(key);
      ++stats.itemsRemoved;
    }
  }
  if (!gone.empty()) {
    std::string keys = arrayLiteral(gone);
    for (const std::string& table : {part, std::string("tamber.items")}) {
      auto r = run(conn, "DELETE FROM " + table + " WHERE library_id = $1 AND item_key = ANY ($2::text[])", {id, keys});
      if (!r) return r.error();
    }
  }
  if (auto r = run(conn, "DELETE FROM tamber.categories WHERE library_id = $1", {id}); !r) return r.error();

  CopyIn copy(conn);
  if (!categories.empty()) {
    if (Status st = copy.start("COPY tamber.categories (library_id, category, path, comment) FROM STDIN"); !st) {
      return st.error();
    }
    for (const auto& [key, node] : categories) {
      std::string& out = copy.buffer();
      out += id + "\t" + key + "\t";
      copyField(out, doc.namePath(node));
      out += "\t";
      copyField(out, doc.field(node, catalog::kComment));
      out += "\n";
    }
    if (Status st = copy.end(); !st) return st.error();
  }

  // The files of the changed items, in one COPY; their item rows after
  // them, with the number of files each holds.
  std::vector<long long> fileCounts;
  if (!changed.empty()) {
    if (Status st = copy.start("COPY " + part + " (library_id, item_key, path, parent, name, type, size, modified, "
                               "kind, hash, properties) FROM STDIN");
        !st) {
      return st.error();
    }
    Status failure;
    bool stopped = false;
    for (const LocalItem* item : changed) {
      long long count = 0;
      std::vector<std::string> folders;
      std::string parent;
      scan::ListingVisitor visitor;
      visitor.entry = [&](scan::ListingEntry& entry, int depth) {
        const std::string* type = entry.field("f");
        bool track = depth == 0 && !entry.folder && disc::isAudioTrackItem(entry.name, type ? *type : "");
        std::string& out = copy.buffer();
        out += id + "\t" + item->key + "\t";
        copyField(out, parent.empty() ? entry.name : parent + "/" + entry.name);
        out += "\t";
        copyField(out, parent);
        out += "\t";
        copyField(out, entry.name);
        out += entry.folder ? "\td\t\\N\t" : entry.field("l9") ? "\tl\t" : "\tf\t";
        if (!entry.folder) out += std::to_string(track ? entry.size * 2352 : entry.size) + "\t";
        auto t = parseHexTime(entry.modified);
        out += t ? utcText(*t, false) : "\\N";
        out += "\t";
        copyField(out, entryKind(entry, track));
        std::string hash, properties;
        for (const auto& [key, value] : propertiesText(entry.fields)) {
          if (key == "contentHash") hash = value;
          properties += (properties.empty() ? "{" : ",") + jsonString(key) + ":" + jsonString(value);
        }
        if (track && properties.find("\"title\"") == std::string::npos) {
          properties += (properties.empty() ? "{" : ",") + std::string("\"title\":") + jsonString(entry.name);
        }
        out += "\t";
        if (hash.empty()) out += "\\N";
        else copyField(out, hash);
        out += "\t";
        if (properties.empty()) out += "\\N";
        else copyField(out, properties + "}");
        out += "\n";
        ++count;
        if (failure) failure = copy.flush(false);
        if (progress && (stats.files + count) % 4096 == 0 && !progress(stats.files + count)) stopped = true;
        if (entry.folder) {
          folders.push_back(entry.name);
          parent += (parent.empty() ? "" : "/") + entry.name;
        }
        return entry.folder;
      };
      visitor.leave = [&](const scan::ListingEntry&, int) {
        folders.pop_back();
        parent.clear();
        for (const auto& f : folders) parent += (parent.empty() ? "" : "/") + f;
      };
      visitor.stop = [&] { return stopped || !failure; };
      Status walked = scan::walkListing(scan::streamListing(library.file().root(), item->category, item->number),
                                        visitor);
      if (!failure || stopped) {
        copy.abandon();
        if (stopped) return Error{Errc::cancelled, "the publish was stopped"};
        return failure.error();
      }
      if (!walked && walked.error().code != Errc::not_found) {
        // The rows read of it stay out of it: the item is sent whole or not
        // at all, and stays as the server had it.
        copy.abandon();
        return Error{walked.error().code, item->path + ": " + walked.message()};
      }
      auto members = copyArchiveMembers(library, *item, id, doc.field(item->node, catalog::kLocation), copy.buffer());
      if (!members) {
        copy.abandon();
        return Error{members.error().code, item->path + ": " + members.message()};
      }
      if (Status st = copy.flush(false); !st) {
        copy.abandon();
        return st.error();
      }
      fileCounts.push_back(count);
      stats.files += count;
    }
    if (Status st = copy.end(); !st) return st.error();

    if (Status st = copy.start("COPY tamber.items (library_id, item_key, path, number, label, kind, location, "
                               "comment, root, volume_label, volume_uuid, volume_filesystem, volume_total, "
                               "volume_free, files, fingerprint) FROM STDIN");
        !st) {
      return st.error();
    }
    const char* settings = catalog::nameCode(catalog::kScanSettings);
    for (size_t i = 0; i < changed.size(); ++i) {
      const LocalItem& item = *changed[i];
      std::string& out = copy.buffer();
      out += id + "\t" + item.key + "\t";
      copyField(out, item.path);
      out += "\t" + std::to_string(item.number) + "\t";
      copyField(out, doc.field(item.node, catalog::kLabel));
      out += "\t" + numberOrNull(doc.field(item.node, catalog::kKind)) + "\t";
      for (int f : {catalog::kLocation, catalog::kComment, catalog::kOriginalName}) {
        copyField(out, doc.field(item.node, f));
        out += "\t";
      }
      for (int f : {catalog::kVolumeLabel, catalog::kVolumeUuid, catalog::kVolumeFileSystem}) {
        copyField(out, doc.field(item.node, f, settings));
        out += "\t";
      }
      out += numberOrNull(doc.field(item.node, catalog::kVolumeTotal, settings)) + "\t";
      out += numberOrNull(doc.field(item.node, catalog::kVolumeFree, settings)) + "\t";
      out += std::to_string(fileCounts[i]) + "\t" + std::to_string(item.fingerprint) + "\n";
    }
    if (Status st = copy.end(); !st) return st.error();
  }
  if (fresh) {
    // The indexes the catalogue's own have, made once over all the rows;
    // the check spares the attach a scan of them.
    std::string name = part.substr(std::string("tamber.").size());
    std::string steps = "SET LOCAL maintenance_work_mem = '256MB'; ALTER TABLE " + part + " ADD CONSTRAINT " + name +
                        "_library CHECK (library_id = '" + id + "'); CREATE INDEX " + name + "_item ON " + part +
                        " (library_id, item_key, parent); CREATE INDEX " + name + "_name ON " + part +
                        " USING gin (name gin_trgm_ops); ALTER TABLE tamber.files ATTACH PARTITION " + part +
                        " FOR VALUES IN ('" + id + "')";
    if (Status st = runAll(conn, steps.c_str()); !st) return st.error();
  }
  if (Status st = t.commit(); !st) return st.error();
  stats.itemsSent = static_cast<long long>(changed.size());
  return stats;
}

Result<std::vector<std::string>> SharedCatalogue::libraries() {
  auto v = schemaVersion();
  if (!v) return v.error();
  if (*v == 0) return Error{Errc::not_found, "the server holds no shared catalogue (publish a library first)"};
  if (Status st = checkVersion(*v); !st) return st.error();
  auto r = run(c_->conn, "SELECT name FROM tamber.libraries ORDER BY name");
  if (!r) return r.error();
  std::vector<std::string> names;
  for (int i = 0; i < r->rows(); ++i) names.push_back(r->text(i, 0));
  return names;
}

namespace {

// Runs a query whose rows come one at a time; false from `each` cancels it.
Status streamRows(PGconn* conn, const std::string& sql, const std::vector<std::string>& params,
                  const std::function<bool(const PgResult&)>& each) {
  std::vector<const char*> values;
  for (const auto& p : params) values.push_back(p.c_str());
  if (!pq().PQsendQueryParams(conn, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                         nullptr, 0)) {
    return Error{Errc::io, trimmed(pq().PQerrorMessage(conn))};
  }
  pq().PQsetSingleRowMode(conn);
  Status result;
  bool stopped = false;
  while (PGresult* raw = pq().PQgetResult(conn)) {
    PgResult r(raw);
    ExecStatusType st = pq().PQresultStatus(raw);
    if (st == PGRES_SINGLE_TUPLE) {
      if (!stopped && !each(r)) {
        stopped = true;
        if (PGcancel* cancel = pq().PQgetCancel(conn)) {
          char err[256];
          pq().PQcancel(cancel, err, sizeof err);
          pq().PQfreeCancel(cancel);
        }
      }
    } else if (st != PGRES_TUPLES_OK && st != PGRES_COMMAND_OK && !stopped && result) {
      result = Error{Errc::io, trimmed(pq().PQresultErrorMessage(raw))};
    }
  }
  return result;
}

}  // namespace

Status SharedCatalogue::find(const Query& q, const std::function<bool(const Row&)>& each) {
  auto v = schemaVersion();
  if (!v) return v.error();
  if (*v == 0) return Error{Errc::not_found, "the server holds no shared catalogue (publish a library first)"};
  if (Status st = checkVersion(*v); !st) return st;
  std::vector<std::string> params;
  std::string op, pattern;
  if (q.regex || q.glob) {
    op = q.caseSensitive ? "~" : "~*";
    pattern = q.glob ? globToRegex(q.text) : q.text;
  } else {
    op = q.caseSensitive ? "LIKE" : "ILIKE";
    pattern = q.whole ? likeEscaped(q.text) : "%" + likeEscaped(q.text) + "%";
  }
  params.push_back(pattern);
  std::string subject = q.fullPath ? "(i.path || '/' || f.path)" : "f.name";
  std::string sql = std::string("SELECT l.name, i.path, i.number, ") + kFileColumns + ", ";
  std::string match = subject + " " + op + " $1";
  if (q.properties) {
    sql += "m.key, m.value FROM tamber.files f JOIN tamber.items i USING (library_id, item_key) "
           "JOIN tamber.libraries l USING (library_id) "
           "LEFT JOIN LATERAL (SELECT p.key, p.value FROM jsonb_each_text(f.properties) p WHERE p.key <> "
           "'contentHash' AND p.value " + op + " $1 LIMIT 1) m ON true WHERE (" + match + " OR m.key IS NOT NULL)";
  } else {
    sql += "NULL, NULL FROM tamber.files f JOIN tamber.items i USING (library_id, item_key) "
           "JOIN tamber.libraries l USING (library_id) WHERE " + match;
  }
  auto param = [&](const std::string& value) {
    params.push_back(value);
    return "$" + std::to_string(params.size());
  };
  if (q.from) sql += " AND f.modified >= to_timestamp(" + param(std::to_string(*q.from)) + ")";
  if (q.to) sql += " AND f.modified <= to_timestamp(" + param(std::to_string(*q.to)) + ")";
  if (q.minBytes) sql += " AND f.size >= " + param(std::to_string(*q.minBytes));
  if (q.maxBytes) sql += " AND f.size <= " + param(std::to_string(*q.maxBytes));
  if (!q.types.empty()) {
    std::string letters;
    for (const auto& t : q.types) {
      if (t == "file") letters += "fl";
      if (t == "folder") letters += "d";
      if (t == "archive-member") letters += "mM";
    }
    std::vector<std::string> each;
    for (char ch : letters) each.emplace_back(1, ch);
    sql += " AND f.type::text = ANY (" + param(arrayLiteral(each)) + "::text[])";
  }
  if (!q.library.empty()) sql += " AND l.name = " + param(q.library);
  sql += " ORDER BY l.name, i.path, i.number, f.path";
  Row row;
  return streamRows(c_->conn, sql, params, [&](const PgResult& r) {
    row.library = r.text(0, 0);
    row.item = r.text(0, 1);
    row.itemNumber = std::atoi(r.text(0, 2).c_str());
    readFileColumns(r, 3, row);
    if (!r.null(0, 10)) {
      // A property matched and the name did not: the row says which.
      bool byName = false;
      if (!q.regex && !q.glob) {
        std::string s = q.fullPath ? row.item + "/" + row.path : row.name;
        auto lower = [&](std::string t) {
          if (!q.caseSensitive) {
            for (auto& ch : t) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
          }
          return t;
        };
        byName = q.whole ? lower(s) == lower(q.text) : lower(s).find(lower(q.text)) != std::string::npos;
      }
      row.field = byName ? "name" : r.text(0, 10);
      row.text = byName ? row.name : r.text(0, 11);
    } else {
      row.field = "name";
      row.text = row.name;
    }
    return each(row);
  });
}

Status SharedCatalogue::list(const std::string& rawPath, const std::string& library,
                             const std::function<bool(const Row&)>& each) {
  auto v = schemaVersion();
  if (!v) return v.error();
  if (*v == 0) return Error{Errc::not_found, "the server holds no shared catalogue (publish a library first)"};
  if (Status st = checkVersion(*v); !st) return st;
  std::string path = rawPath;
  while (!path.empty() && path.back() == '/') path.pop_back();
  while (!path.empty() && path.front() == '/') path.erase(0, 1);
  std::vector<std::string> params{path, library};
  // The items at or above the path: the longest one of each library holds it.
  auto items = run(c_->conn,
                   "SELECT l.name, i.item_key, i.path, i.number, i.files, i.library_id FROM tamber.items i "
                   "JOIN tamber.libraries l USING (library_id) WHERE ($2 = '' OR l.name = $2) AND "
                   "($1 = '' OR i.path = $1 OR left($1, length(i.path) + 1) = i.path || '/' OR "
                   "left(i.path, length($1) + 1) = $1 || '/') ORDER BY l.name, i.path, i.number",
                   params);
  if (!items) return items.error();
  // The path inside an item: its files and folders there.
  std::map<std::string, std::pair<std::string, std::string>> inside;  // library -> (id, key) of the longest item
  std::map<std::string, size_t> longest;
  for (int i = 0; i < items->rows(); ++i) {
    std::string lib = items->text(i, 0), itemPath = items->text(i, 2);
    if (path.empty() || (itemPath != path && path.compare(0, itemPath.size() + 1, itemPath + "/") != 0)) continue;
    if (!longest.count(lib) || itemPath.size() > longest[lib]) {
      longest[lib] = itemPath.size();
      inside[lib] = {items->text(i, 5), items->text(i, 1)};
    }
  }
  Row row;
  bool any = false;
  if (!inside.empty()) {
    for (const auto& entry : inside) {
      // Named, not bound: a lambda below uses them.
      const std::string& lib = entry.first;
      const auto& which = entry.second;
      std::string rest = path.size() > longest[lib] ? path.substr(longest[lib] + 1) : "";
      Status st = streamRows(
          c_->conn,
          std::string("SELECT ") + kFileColumns +
              " FROM tamber.files f WHERE f.library_id = $1 AND f.item_key = $2 AND f.parent = $3 ORDER BY f.type <> "
              "'d', f.name",
          {which.first, which.second, rest}, [&](const PgResult& r) {
            any = true;
            row.library = lib;
            row.item = path.substr(0, longest[lib]);
            readFileColumns(r, 0, row);
            return each(row);
          });
      if (!st) return st;
    }
    if (!any) {
      // An empty folder is there all the same; a path that is not is an error.
      bool folder = false;
      for (const auto& [lib, which] : inside) {
        std::string rest = path.size() > longest[lib] ? path.substr(longest[lib] + 1) : "";
        if (rest.empty()) folder = true;
        else if (auto r = run(c_->conn,
                              "SELECT 1 FROM tamber.files WHERE library_id = $1 AND item_key = $2 AND path = $3 "
                              "AND type = 'd' LIMIT 1",
                              {which.first, which.second, rest});
                 r && r->rows() > 0) {
          folder = true;
        }
      }
      if (!folder) return Error{Errc::not_found, path + ": no such disc, folder or category on the server"};
    }
    return {};
  }
  // A category (or the top): the next step of every item and category path
  // below it, categories that hold nothing included.
  auto cats = run(c_->conn,
                  "SELECT l.name, c.path FROM tamber.categories c JOIN tamber.libraries l USING (library_id) "
                  "WHERE ($2 = '' OR l.name = $2) AND ($1 = '' OR left(c.path, length($1) + 1) = $1 || '/')",
                  params);
  if (!cats) return cats.error();
  std::map<std::pair<std::string, std::string>, Row> below;
  auto step = [&](const std::string& lib, const std::string& whole, int itemRow) {
    std::string rest = path.empty() ? whole : whole.substr(std::min(whole.size(), path.size() + 1));
    size_t slash = rest.find('/');
    std::string name = rest.substr(0, slash);
    if (name.empty()) return;
    Row& r = below[{lib, name}];
    if (!r.type.empty() && (r.type == "item" || itemRow < 0 || slash != std::string::npos)) return;
    r = Row{};
    r.library = lib;
    r.name = name;
    r.path = path.empty() ? name : path + "/" + name;
    r.type = slash == std::string::npos && itemRow >= 0 ? "item" : "category";
    if (r.type == "item") {
      r.item = whole;
      r.itemNumber = std::atoi(items->text(itemRow, 3).c_str());
      r.size = std::atoll(items->text(itemRow, 4).c_str());  // files recorded
    }
  };
  for (int i = 0; i < items->rows(); ++i) step(items->text(i, 0), items->text(i, 2), i);
  for (int i = 0; i < cats->rows(); ++i) step(cats->text(i, 0), cats->text(i, 1), -1);
  if (below.empty()) {
    bool category = false;
    for (int i = 0; i < cats->rows() && !category; ++i) category = cats->text(i, 1) == path;
    if (!path.empty()) {
      if (auto r = run(c_->conn,
                       "SELECT 1 FROM tamber.categories c JOIN tamber.libraries l USING (library_id) WHERE c.path = $1 "
                       "AND ($2 = '' OR l.name = $2)",
                       params);
          r && r->rows() > 0) {
        category = true;
      }
    }
    if (category) return {};  // an empty category
    return Error{Errc::not_found, path.empty() ? "the server's catalogue holds no discs or folders"
                                               : path + ": no such disc, folder or category on the server"};
  }
  for (const auto& [key, r] : below) {
    if (!each(r)) break;
  }
  return {};
}

Result<std::string> libraryId(catalog::Library& library, bool make) {
  auto s = library.file().root().openStream(kLibraryIdStream);
  if (s) {
    auto text = s->readAll();
    if (!text) return text.error();
    // 36 characters of a UUID; anything else is not ours to trust.
    if (text->size() == 36 && text->find_first_not_of("0123456789abcdef-") == std::string::npos) return *text;
    if (!make) return Error{Errc::corrupt, "the library's id is damaged"};
  } else if (s.error().code != Errc::not_found) {
    return s.error();
  }
  if (!make) return std::string();
  unsigned char bytes[16];
  if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    return Error{Errc::io, std::string("no random bytes for the library's id: ") + std::strerror(errno)};
  }
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0f) | 0x40);  // version 4
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3f) | 0x80);
  char text[40];
  std::snprintf(text, sizeof text, "%02x%02x%02x%02x-%02x%02x-%02x%02x-%02x%02x-%02x%02x%02x%02x%02x%02x", bytes[0],
                bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8], bytes[9], bytes[10],
                bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
  auto out = library.file().root().createStream(kLibraryIdStream);
  if (!out) return out.error();
  if (Status st = out->write(std::string_view(text, 36)); !st) return st.error();
  if (Status st = out->commit(); !st) return st.error();
  library.noteStreamsChanged();
  return std::string(text, 36);
}

}  // namespace tamber::app
