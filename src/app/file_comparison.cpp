#include "app/file_comparison.h"

#include <stdlib.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <string_view>
#include <unordered_map>

#include "app/volumes.h"
#include "catalog/names.h"
#include "scan/listing.h"

namespace tamber::app {

Result<FileSet> readFileSet(const scan::ListingOpener& open, const std::function<bool()>& stop) {
  FileSet set;
  bool stopped = false;
  auto take = [&](scan::ListingEntry& e, const std::string& folder, bool) {
    FileFacts f;
    f.path = folder + e.name;
    f.size = e.size;
    f.modified = std::move(e.modified);
    if (const std::string* target = e.field("l9")) {
      f.isLink = true;
      f.link = *target;
    }
    const std::string* hash = e.field(scan::kContentHashCode);
    const std::string* problem = e.field(scan::kHashProblemCode);
    if (problem) f.problem = *problem;
    if (hash && !problem && scan::isContentHash(*hash)) {
      f.hash = *hash;
      ++set.hashed;
    }
    set.files.push_back(std::move(f));
  };
  auto asked = [&] {
    if (stop && stop()) stopped = true;
    return stopped;
  };
  if (Status st = scan::walkFiles(open, take, asked); !st) return st.error();
  if (stopped) return Error{Errc::cancelled, "cancelled"};
  return set;
}

const char* differenceKey(Difference d) {
  switch (d) {
    case Difference::missing: return "missing";
    case Difference::added: return "added";
    case Difference::changed: return "changed";
    case Difference::damaged: return "damaged";
    case Difference::moved: return "moved";
    case Difference::unreadable: return "unreadable";
  }
  return "";
}

size_t Comparison::count(Difference kind) const {
  return static_cast<size_t>(
      std::count_if(differences.begin(), differences.end(), [&](const FileDifference& d) { return d.kind == kind; }));
}

namespace {

std::string_view nameOf(const FileFacts& f) {
  size_t slash = f.path.rfind('/');
  return slash == std::string::npos ? std::string_view(f.path) : std::string_view(f.path).substr(slash + 1);
}

}  // namespace

Comparison compareFileSets(const FileSet& before, const FileSet& after, bool findMoves) {
  Comparison out;
  std::unordered_map<std::string_view, const FileFacts*> byPath;
  byPath.reserve(after.files.size());
  for (const auto& f : after.files) byPath.emplace(f.path, &f);
  std::vector<const FileFacts*> missing;
  for (const auto& b : before.files) {
    auto it = byPath.find(b.path);
    if (it == byPath.end()) {
      missing.push_back(&b);
      continue;
    }
    const FileFacts& a = *it->second;
    byPath.erase(it);
    std::string what;
    auto note = [&](const char* fact) { what += (what.empty() ? "" : ",") + std::string(fact); };
    if (b.isLink != a.isLink || b.link != a.link) note("link");
    if (b.size != a.size) note("size");
    if (b.modified != a.modified) note("time");
    if (!what.empty()) {
      out.differences.push_back({Difference::changed, &b, &a, what});
    } else if (!b.hash.empty() && !a.hash.empty()) {
      if (b.hash != a.hash) {
        out.differences.push_back({Difference::damaged, &b, &a, "hash"});
      } else {
        ++out.same;
        ++out.hashCompared;
      }
    } else if (!b.hash.empty() && !a.problem.empty()) {
      // A hash was recorded and none could be made now: the content is unknown.
      out.differences.push_back({Difference::unreadable, &b, &a, a.problem});
    } else {
      ++out.same;
    }
  }
  // What is left of `after` was added, in the order it was listed.
  std::vector<const FileFacts*> added;
  for (const auto& f : after.files) {
    if (byPath.count(f.path)) added.push_back(&f);
  }
  if (findMoves && !missing.empty() && !added.empty()) {
    std::vector<bool> taken(added.size(), false);
    // The same content first; then, where either side has no hash, the same
    // name and size.
    std::multimap<std::string_view, size_t> byHash;
    std::multimap<std::pair<std::string_view, uint64_t>, size_t> byName;
    for (size_t i = 0; i < added.size(); ++i) {
      if (added[i]->isLink) continue;
      if (!added[i]->hash.empty()) byHash.emplace(added[i]->hash, i);
      byName.emplace(std::make_pair(nameOf(*added[i]), added[i]->size), i);
    }
    std::vector<const FileFacts*> still;
    for (const FileFacts* m : missing) {
      std::optional<size_t> match;
      if (!m->isLink && !m->hash.empty()) {
        for (auto [it, end] = byHash.equal_range(m->hash); it != end && !match; ++it) {
          if (!taken[it->second]) match = it->second;
        }
      }
      if (!match && !m->isLink) {
        for (auto [it, end] = byName.equal_range({nameOf(*m), m->size}); it != end && !match; ++it) {
          const FileFacts* a = added[it->second];
          if (!taken[it->second] && (m->hash.empty() || a->hash.empty())) match = it->second;
        }
      }
      if (match) {
        taken[*match] = true;
        out.differences.push_back({Difference::moved, m, added[*match], {}});
      } else {
        still.push_back(m);
      }
    }
    missing = std::move(still);
    std::vector<const FileFacts*> left;
    for (size_t i = 0; i < added.size(); ++i) {
      if (!taken[i]) left.push_back(added[i]);
    }
    added = std::move(left);
  }
  for (const FileFacts* m : missing) out.differences.push_back({Difference::missing, m, nullptr, {}});
  for (const FileFacts* a : added) out.differences.push_back({Difference::added, nullptr, a, {}});
  auto pathOf = [](const FileDifference& d) -> const std::string& { return d.before ? d.before->path : d.after->path; };
  std::stable_sort(out.differences.begin(), out.differences.end(), [&](const FileDifference& x, const FileDifference& y) {
    if (x.kind != y.kind) return x.kind < y.kind;
    return pathOf(x) < pathOf(y);
  });
  return out;
}

Result<std::unique_ptr<ScratchLibrary>> ScratchLibrary::create() {
  std::error_code ec;
  std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  if (ec) base = "/tmp";
  std::string pattern = (base / "tamber-scratch-XXXXXX").string();
  if (!mkdtemp(pattern.data())) return Error{Errc::io, pattern + ": " + std::strerror(errno)};
  std::unique_ptr<ScratchLibrary> s(new ScratchLibrary);
  s->folder_ = pattern;
  auto lib = catalog::Library::create(std::filesystem::path(pattern) / "scratch.cds");
  if (!lib) return lib.error();
  s->library_ = std::move(lib.value());
  auto number = s->library_->catalog().addCategory({}, "scratch", "");
  if (!number) return number.error();
  s->category_ = {*number};
  return s;
}

ScratchLibrary::~ScratchLibrary() {
  library_.reset();
  std::error_code ec;
  if (!folder_.empty()) std::filesystem::remove_all(folder_, ec);
}

Result<std::unique_ptr<FolderReading>> FolderReading::prepare(scan::AddFolderOptions o) {
  auto scratch = ScratchLibrary::create();
  if (!scratch) return scratch.error();
  std::unique_ptr<FolderReading> r(new FolderReading);
  r->scratch_ = std::move(scratch.value());
  o.thumbnails = o.tags = o.documents = o.archives = false;
  o.category = r->scratch_->category();
  o.update.reset();
  o.dryRun = false;
  if (o.label.empty()) o.label = "-";
  r->job_ = std::make_unique<scan::AddFolderJob>(r->scratch_->library(), std::move(o));
  return r;
}

Result<FileSet> FolderReading::files() {
  const auto& result = job_->wait();
  if (result.outcome != scan::JobOutcome::done) return Error{Errc::cancelled, result.message};
  return readFileSet(scan::streamListing(scratch_->library().file().root(), scratch_->category(), result.number));
}

bool isFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

Result<scan::AddFolderOptions> verifyOptions(const catalog::CatalogDocument& doc, const xmlNode* item,
                                             const std::string& path, bool hash) {
  int kind = doc.itemKind(item);
  if (kind == catalog::kKindAudioCd) return Error{Errc::unsupported, "an audio disc has no files"};
  scan::AddFolderOptions o = scan::AddFolderJob::recordedOptions(doc, item);
  std::string root = path.empty() ? o.path : path;
  if (path.empty() && !isFolder(root)) {
    // Not where it was read from: the same volume mounted elsewhere.
    if (auto mounted = mountedRoot(recordedVolume(doc, item))) root = *mounted;
  }
  if (root.empty() || !isFolder(root)) return Error{Errc::not_found, root};
  // The recorded rules hang below the recorded root; another folder takes them along.
  std::error_code ec;
  std::string to = std::filesystem::absolute(root, ec).lexically_normal().string();
  while (to.size() > 1 && to.back() == '/') to.pop_back();
  for (auto& row : o.rows) {
    if (row.path.compare(0, o.path.size(), o.path) == 0) row.path = to + row.path.substr(o.path.size());
  }
  o.path = to;
  o.hash = hash;
  if (catalog::isDiscKind(kind)) {
    // A disc is walked as a disc: hidden folders too, no file filter.
    scan::DiscJob disc;
    disc.kind = kind == catalog::kKindCdExtra ? 2 : kind;
    o.disc = disc;
    o.filterOn = false;
  }
  return o;
}

void dropTracks(FileSet& recorded) {
  std::erase_if(recorded.files,
                [](const FileFacts& f) { return f.path.find('/') == std::string::npos && f.modified.empty(); });
}

}  // namespace tamber::app
