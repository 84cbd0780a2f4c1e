#include "scan/add_folder_job.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <tuple>

#include "platform/mounts.h"
#include "platform/xml.h"
#include "scan/previous_scan.h"

namespace tamber::scan {

namespace {

std::string trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r\n");
  if (a == std::string::npos) return {};
  size_t b = s.find_last_not_of(" \t\r\n");
  return s.substr(a, b - a + 1);
}

std::string withoutTrailingSlashes(std::string p) {
  while (p.size() > 1 && p.back() == '/') p.pop_back();
  return p;
}

// The part of `path` below `root`, or nothing when it is not below it.
std::optional<std::string> relativeTo(const std::string& root, const std::string& path) {
  std::string r = root == "/" ? "/" : root + "/";
  if (path.size() <= r.size() || path.compare(0, r.size(), r) != 0) return std::nullopt;
  return withoutTrailingSlashes(path.substr(r.size()));
}

void removeField(xmlNode* item, int field) {
  while (xmlNode* n = xml::childElement(item, catalog::nameCode(field))) {
    xmlUnlinkNode(n);
    xmlFreeNode(n);
  }
}

std::string hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%X", v);
  return buf;
}

// Two scans with these options write the same record for the same file.
bool sameRecords(const AddFolderOptions& a, const AddFolderOptions& b) {
  auto rows = [](const AddFolderOptions& o) {
    std::vector<std::tuple<std::string, bool, bool, bool>> r;
    for (const auto& row : o.rows) {
      r.emplace_back(withoutTrailingSlashes(row.path), row.skip, row.noThumbnails, row.noArchives);
    }
    std::sort(r.begin(), r.end());
    return r;
  };
  auto filter = [](const AddFolderOptions& o) {
    return o.filterOn ? std::make_pair(trim(o.filter), o.exclude) : std::make_pair(std::string(), false);
  };
  return withoutTrailingSlashes(a.path) == withoutTrailingSlashes(b.path) &&
         a.thumbnails == b.thumbnails && a.tags == b.tags && a.documents == b.documents &&
         a.archives == b.archives && filter(a) == filter(b) && a.depthEntry == b.depthEntry &&
         rows(a) == rows(b);
}

}  // namespace

AddFolderJob::AddFolderJob(catalog::Library& library, AddFolderOptions options)
    : library_(&library), options_(std::move(options)) {}

AddFolderJob::AddFolderJob(AddFolderOptions options) : library_(nullptr), options_(std::move(options)) {
  options_.dryRun = true;
}

AddFolderJob::~AddFolderJob() {
  cancel();
  // A walk nobody waited for leaves no streams behind.
  if (scanner_) removeStreams(scanner_->streamsCreated());
}

Status AddFolderJob::validate(const AddFolderOptions& o) {
  if (o.disc) {
    // A disc without a label takes its volume label; an audio CD has no
    // folder to walk.
    if (o.label.find('/') != std::string::npos) {
      return Error{Errc::invalid_argument, "a label cannot hold \"/\": paths use it to separate names"};
    }
    if (o.depthEntry < 0 || o.depthEntry > kUnlimitedDepth) {
      return Error{Errc::invalid_argument, "the depth must be 0 (unlimited) or 1 to 255"};
    }
    return {};
  }
  if (trim(o.label).empty() && !o.update && !o.dryRun) {
    return Error{Errc::invalid_argument,
                 "Please specify a label for this folder to identify it in the library."};
  }
  if (o.label.find('/') != std::string::npos) {
    return Error{Errc::invalid_argument, "a label cannot hold \"/\": paths use it to separate names"};
  }
  if (o.path.empty()) return Error{Errc::invalid_argument, "no folder given"};
  if (o.depthEntry < 0 || o.depthEntry > kUnlimitedDepth) {
    return Error{Errc::invalid_argument, "the depth must be 0 (unlimited) or 1 to 255"};
  }
  std::string root = withoutTrailingSlashes(o.path);
  for (const auto& row : o.rows) {
    if (!relativeTo(root, withoutTrailingSlashes(row.path))) {
      return Error{Errc::invalid_argument, row.path + " is not a folder below " + root};
    }
  }
  // Never a folder of the kernel's (proc, sysfs, ...), which the walk does
  // not enter below a folder either.
  struct stat st {};
  if (::stat(root.c_str(), &st) == 0) {
    for (const auto& m : currentMounts()) {
      struct stat at {};
      if (isPseudoFileSystem(m.fsType) && ::stat(m.mountPoint.c_str(), &at) == 0 && at.st_dev == st.st_dev) {
        return Error{Errc::invalid_argument,
                     root + " is on a " + m.fsType + " file system, which holds no files to catalogue"};
      }
    }
  }
  return {};
}

AddFolderOptions AddFolderJob::recordedOptions(const catalog::CatalogDocument& doc,
                                               const xmlNode* item) {
  AddFolderOptions o;
  o.label = doc.field(item, catalog::kLabel);
  // The scan root is kept beside the settings; the location field is the
  // user's to change (a shelf number), and older items have only that.
  const char* settingsName = catalog::nameCode(catalog::kScanSettings);
  std::string root = doc.field(item, catalog::kSubfolderPath, settingsName);
  o.path = root.empty() ? doc.field(item, catalog::kLocation) : root;
  std::string depth = doc.field(item, catalog::kDepth, settingsName);
  o.depthEntry = depth.empty() ? 0 : std::clamp(std::atoi(depth.c_str()), 0, kUnlimitedDepth);
  std::string bitsText = doc.field(item, catalog::kScanBits, settingsName);
  if (!bitsText.empty()) {
    auto bits = static_cast<uint32_t>(std::strtoul(bitsText.c_str(), nullptr, 16));
    o.thumbnails = (bits & kScanThumbnails) != 0;
    o.tags = (bits & kScanTags) != 0;
    o.documents = (bits & kScanDocuments) != 0;
    o.archives = (bits & kScanArchives) != 0;
    o.exclude = (bits & 0x40) != 0;
  }
  o.filter = doc.field(item, catalog::kFilterText);
  o.filterOn = !o.filter.empty();
  if (!o.filterOn) {
    o.filter = "*.*";
    o.exclude = false;
  }
  const xmlNode* settings = xml::childElement(item, settingsName);
  for (const xmlNode* r = settings ? settings->children : nullptr; r; r = r->next) {
    if (r->type != XML_ELEMENT_NODE ||
        xmlStrcmp(r->name, xml::u(catalog::nameCode(catalog::kSubfolderSettings))) != 0) {
      continue;
    }
    std::string rel = xml::content(xml::childElement(r, catalog::nameCode(catalog::kSubfolderPath)));
    std::string bitsOf = xml::content(xml::childElement(r, catalog::nameCode(catalog::kSubfolderBits)));
    if (rel.empty() || bitsOf.empty()) continue;
    std::replace(rel.begin(), rel.end(), '\\', '/');
    auto bits = static_cast<uint32_t>(std::strtoul(bitsOf.c_str(), nullptr, 16));
    SubfolderRow row;
    row.path = withoutTrailingSlashes(o.path) + "/" + rel;
    row.skip = (bits & kScanSubfolders) == 0;
    row.noThumbnails = (bits & kScanThumbnails) == 0;
    row.noArchives = (bits & kScanArchives) == 0;
    o.rows.push_back(std::move(row));
  }
  return o;
}

uint32_t AddFolderJob::scanFlags() const {
  uint32_t flags = kScanAll;
  if (!options_.archives) flags &= ~kScanArchives;
  if (!options_.thumbnails) flags &= ~kScanThumbnails;
  if (!options_.tags) flags &= ~kScanTags;
  if (!options_.documents) flags &= ~kScanDocuments;
  return flags;
}

uint32_t AddFolderJob::savedOptionBits() const {
  uint32_t bits = scanFlags() & ~0xC0u;
  if (options_.filterOn && options_.exclude) bits |= 0x40;
  return bits;
}

void AddFolderJob::start() {
  cells_.running.store(true);
  if (!prepare()) return;
  worker_ = std::jthread([this] { execute(); });
}

void AddFolderJob::cancel() {
  cells_.running.store(false);
  if (worker_.joinable()) worker_.join();
}

bool AddFolderJob::waitFor(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(doneMutex_);
  return doneCv_.wait_for(lock, timeout, [this] { return finished_.load(); });
}

const AddFolderResult& AddFolderJob::wait() {
  if (worker_.joinable()) worker_.join();
  complete();
  return result_;
}

const AddFolderResult& AddFolderJob::run() {
  cells_.running.store(true);
  if (prepare()) execute();
  complete();
  return result_;
}

void AddFolderJob::removeStreams(const std::vector<std::string>& names) {
  if (!library_) return;
  auto root = library_->file().root();
  for (const auto& n : names) (void)root.destroy(n);
}

void AddFolderJob::markFinished() {
  {
    std::lock_guard<std::mutex> lock(doneMutex_);
    finished_.store(true);
  }
  doneCv_.notify_all();
}

void AddFolderJob::finish(JobOutcome outcome, std::string message) {
  result_.outcome = outcome;
  result_.message = std::move(message);
  result_.elapsed = std::chrono::steady_clock::now() - started_;
  markFinished();
}

bool AddFolderJob::prepare() {
  started_ = std::chrono::steady_clock::now();
  result_ = AddFolderResult{};
  if (Status st = validate(options_); !st) {
    finish(JobOutcome::failed, st.message());
    return false;
  }
  if (options_.dryRun) {
    // Nothing is written: the library is not looked at.
    context_.listingNumber = 1;
    return true;
  }
  if (library_->readOnly()) {
    finish(JobOutcome::failed, library_->path().string() + ": Permission denied");
    return false;
  }
  // The number the new listing is written under.
  auto& doc = library_->catalog();
  xmlNode* category = doc.category(options_.category);
  if (!category || category == doc.root()) {
    finish(JobOutcome::failed, "discs and folders are filed in a category");
    return false;
  }
  if (options_.update && !doc.item(options_.category, *options_.update)) {
    finish(JobOutcome::failed, "the item to update does not exist");
    return false;
  }
  // A re-scan with the options of the earlier one takes over the records of
  // the files that did not change; other options would change every record.
  reuseFrom_.reset();
  if (options_.update && !options_.full) {
    AddFolderOptions was = recordedOptions(doc, doc.item(options_.category, *options_.update));
    if (sameRecords(was, options_)) reuseFrom_ = options_.update;
  }
  auto number = doc.nextItemNumber(category);
  if (!number) {
    finish(JobOutcome::failed, number.error().message);
    return false;
  }
  context_.listingNumber = *number;
  return true;
}

void AddFolderJob::execute() {
  try {
    executeSteps();
  } catch (const std::exception& e) {
    // Nothing escapes the worker thread: the job fails with the reason.
    if (scanner_) removeStreams(scanner_->streamsCreated());
    scanner_.reset();
    finish(JobOutcome::failed, e.what());
  }
}

void AddFolderJob::executeSteps() {
  if (options_.disc) return executeDiscSteps();
  // The folder as an absolute path without trailing separators.
  std::error_code ec;
  std::string path = withoutTrailingSlashes(
      std::filesystem::absolute(options_.path, ec).lexically_normal().string());
  if (ec) return finish(JobOutcome::failed, options_.path + ": " + ec.message());
  char resolved[PATH_MAX];
  struct stat st;
  if (!realpath(path.c_str(), resolved) || ::stat(resolved, &st) != 0) {
    return finish(JobOutcome::failed, path + ": " + std::strerror(errno));
  }
  if (!S_ISDIR(st.st_mode)) return finish(JobOutcome::failed, path + ": not a folder");

  // The kind of drive, and for the root of a mount its used bytes.
  auto mounts = currentMounts();
  auto mount = mountHolding(mounts, resolved);
  int kind = options_.itemKind;
  if (kind == 0) kind = mount ? driveKindOf(*mount) : catalog::kKindFixedFolder;
  result_.itemKind = kind;
  bool bareDrive = mount && mount->mountPoint == resolved;
  uint64_t driveBytes = 0;
  if (bareDrive) {
    if (auto used = usedBytes(resolved); used && *used > 0) {
      driveBytes = *used;
      cells_.total.store(driveBytes);
      countBytes_.store(true);
    } else {
      bareDrive = false;
    }
  }

  walk(path, kind, bareDrive, driveBytes);
}

void AddFolderJob::executeDiscSteps() {
  const DiscJob& d = *options_.disc;
  result_.itemKind = d.kind;
  std::string path;
  // The data session, when the disc has one and it is mounted.
  if (!options_.path.empty() && d.kind != catalog::kKindAudioCd) {
    char resolved[PATH_MAX];
    struct stat st;
    if (!realpath(options_.path.c_str(), resolved) || ::stat(resolved, &st) != 0) {
      return finish(JobOutcome::failed, options_.path + ": " + std::strerror(errno));
    }
    if (!S_ISDIR(st.st_mode)) return finish(JobOutcome::failed, options_.path + ": not a folder");
    path = resolved;
  }
  cells_.total.store(d.capacityBytes);
  countBytes_.store(true);
  walk(path, d.kind, false, 0);
}

void AddFolderJob::walk(const std::string& path, int kind, bool bareDrive, uint64_t driveBytes) {
  const bool isDisc = options_.disc.has_value();
  // A filter that does not compile is refused: scanning everything instead
  // would record what the user asked to leave out.
  if (!isDisc && options_.filterOn) {
    if (std::string why = FileFilter::problem(trim(options_.filter)); !why.empty()) {
      return finish(JobOutcome::failed, "the file-name filter \"" + trim(options_.filter) + "\" is not valid: " + why);
    }
  }
  if (!options_.dryRun && !path.empty()) volume_ = volumeFactsOf(path);
  ScanContext& context = context_;
  context.itemPath = options_.category;
  context.maxDepth = options_.depthEntry == 0 ? kUnlimitedDepth : options_.depthEntry;
  context.cells = &cells_;
  uint32_t flags = scanFlags();
  for (const auto& row : options_.rows) {
    SubfolderRule rule;
    rule.path = withoutTrailingSlashes(row.path);
    // Options switched off for the whole job stay off in the rule's folders.
    rule.flags = kScanAll & (flags | kScanSubfolders);
    if (row.skip) rule.flags &= ~kScanSubfolders;
    if (row.noThumbnails) rule.flags &= ~kScanThumbnails;
    if (row.noArchives) rule.flags &= ~kScanArchives;
    auto below = relativeTo(path, rule.path);
    if (!below) continue;
    std::string rel = *below;
    int depth = 1 + static_cast<int>(std::count(rel.begin(), rel.end(), '/'));
    if (depth < 32) context.ruleLevels |= 1u << depth;
    context.rules.push_back(std::move(rule));
  }
  context.excludeMode = options_.filterOn && options_.exclude;

  context.jobs = options_.jobs;
  context.archiveBudget = options_.archiveBudget;
  context.userReaders = options_.userReaders;
  context.countOnly = options_.dryRun;
  // The earlier scan's records, indexed before the walk; a listing that
  // cannot be read makes this a full scan.
  std::unique_ptr<PreviousScan> previous;
  if (reuseFrom_ && library_ && !path.empty()) {
    cells_.text.setText(kStatisticsText);
    if (auto p = PreviousScan::load(library_->file().root(), options_.category, *reuseFrom_, cells_.running)) {
      previous = std::move(*p);
    }
  }
  context.previous = previous.get();
  result_.incremental = previous != nullptr;
  context.hash = options_.hash || (previous && previous->hashed() > 0);
  result_.hashed = context.hash && !context.countOnly;

  scanner_ = std::make_unique<Scanner>();
  Scanner& scanner = *scanner_;
  scanner.begin(context, library_ ? library_->file().root() : storage::Storage(), path.empty() ? "/" : path,
                countBytes_.load());
  bool filtered = !isDisc && options_.filterOn && scanner.setFilter(trim(options_.filter));
  result_.filterUsed = filtered;
  // Without a total from the drive, a second thread counts the files for the
  // progress while the walk runs (as deep as the walk reads, which also keeps
  // the two within the descriptor limit); a count cut short is not used.
  std::atomic<bool> counting{true};
  std::jthread counter;
  if (!countBytes_.load()) {
    cells_.text.setText(kStatisticsText);
    int depth = context.maxDepth;
    counter = std::jthread([this, &counting, path, filtered, depth,
                            pattern = trim(options_.filter)] {
      TreeCounts counts;
      if (filtered) {
        FileFilter filter;
        FileFilter::compile(pattern, filter);
        counts = statisticsPassFiltered(path, filter, counting, depth);
      } else {
        counts = statisticsPass(path, counting, depth);
      }
      if (counting.load()) cells_.total.store(counts.files);
    });
  }
  walking_.store(true);

  bool ok = scanner.startListing(kind);
  if (ok && isDisc) {
    // An audio disc's tracks come first, then the data session's files.
    const DiscJob& d = *options_.disc;
    if (d.kind == catalog::kKindAudioCd || d.kind == catalog::kKindCdExtra) {
      for (const auto& row : d.tracks) {
        if (!cells_.running.load()) break;
        ok = ok && scanner.writeRootItem(disc::trackItemFields(row));
      }
    }
    if (ok && cells_.running.load() && d.kind != catalog::kKindAudioCd && !path.empty()) {
      scanner.walkDisc(path, flags);
    }
    ok = scanner.endListing() && ok && context.error == kScanOk;
  } else if (ok) {
    scanner.walkFolder(path, flags);
    ok = scanner.endListing() && context.error == kScanOk;
  }
  counting.store(false);
  if (counter.joinable()) counter.join();
  context.previous = nullptr;
  result_.readAnew = cells_.readAnew.load();
  result_.reused = cells_.reused.load();
  result_.kinds = scanner.kindCounts();
  result_.unreadable = scanner.unreadableFolders();
  if (!ok || !cells_.running.load()) {
    removeStreams(scanner.streamsCreated());
    scanner_.reset();
    if (context.error == kScanCancelled || !cells_.running.load()) {
      return finish(JobOutcome::cancelled);
    }
    std::string why = context.errorText.empty() ? "the folder could not be catalogued"
                                                : context.errorText;
    return finish(JobOutcome::failed, why);
  }
  if (options_.dryRun) {
    scanner_.reset();
    result_.files = cells_.files.load();
    result_.folders = cells_.folders.load();
    result_.bytes = cells_.totalBytes.load();
    result_.depth = std::max(1, std::min(context.maxDepth, cells_.deepestLevel.load()));
    result_.splitParts = std::max(0, cells_.splitCount.load());
    return finish(JobOutcome::done);
  }
  // The catalog is changed by the thread that waits for the job (complete),
  // so that a front end may read it while the folder is walked.
  root_ = path;
  bareDrive_ = bareDrive;
  driveBytes_ = driveBytes;
  result_.elapsed = std::chrono::steady_clock::now() - started_;
  markFinished();
}

void AddFolderJob::complete() {
  if (!scanner_) return;
  std::unique_ptr<Scanner> scanner = std::move(scanner_);
  auto stepStarted = std::chrono::steady_clock::now();
  if (!cells_.running.load()) {
    // Cancelled after the walk ended: nothing is filed.
    removeStreams(scanner->streamsCreated());
    return finish(JobOutcome::cancelled);
  }
  if (Status w = writeItem(*scanner, context_, root_, bareDrive_, driveBytes_); !w) {
    removeStreams(scanner->streamsCreated());
    return finish(JobOutcome::failed, w.message());
  }
  library_->noteStreamsChanged();
  // The time the job took does not count the wait before this step.
  auto walked = result_.elapsed;
  finish(JobOutcome::done);
  result_.elapsed = walked + (std::chrono::steady_clock::now() - stepStarted);
}

Status AddFolderJob::writeItem(Scanner& scanner, const ScanContext& context,
                               const std::string& path, bool bareDrive, uint64_t driveBytes) {
  auto& doc = library_->catalog();
  auto root = library_->file().root();
  const auto& cat = options_.category;
  const uint16_t scanned = context.listingNumber;
  int parts = cells_.splitCount.load();
  if (parts < 0) parts = 0;

  auto created = scanner.streamsCreated();
  auto wasCreated = [&](const std::string& n) {
    return std::find(created.begin(), created.end(), n) != created.end();
  };
  // Moves the new streams to the names of item `target`.
  auto renameStreams = [&](uint16_t target) -> Status {
    using catalog::StreamKind;
    std::vector<std::pair<StreamKind, int>> kinds{{StreamKind::listing, 0}};
    for (int k = 1; k <= parts; ++k) kinds.emplace_back(StreamKind::listing, k);
    kinds.emplace_back(StreamKind::thumbnails, 0);
    kinds.emplace_back(StreamKind::archives, 0);
    for (auto [kind, part] : kinds) {
      std::string from = catalog::streamName(kind, cat, scanned, part);
      if (!wasCreated(from)) continue;
      std::string to = catalog::streamName(kind, cat, target, part);
      (void)root.destroy(to);
      if (Status st = root.rename(from, to); !st) return st;
    }
    return {};
  };

  xmlNode* item = nullptr;
  bool keepLocation = false;
  if (options_.update) {
    item = doc.item(cat, *options_.update);
    if (!item) return Error{Errc::not_found, "the item to update does not exist"};
    // The old listing, its parts, thumbnails and archive listings go; the
    // cover picture stays.
    uint16_t old = *options_.update;
    int oldParts = std::atoi(doc.field(item, catalog::kListingParts).c_str());
    for (int k = 1; k <= 0xFFFF; ++k) {
      std::string part = catalog::streamName(catalog::StreamKind::listing, cat, old, k);
      if (k > oldParts && !root.contains(part)) break;
      (void)root.destroy(part);
    }
    for (auto kind : {catalog::StreamKind::listing, catalog::StreamKind::thumbnails,
                      catalog::StreamKind::archives}) {
      (void)root.destroy(catalog::streamName(kind, cat, old));
    }
    if (Status st = renameStreams(old); !st) return st;
    result_.number = old;
    // The location stays when the user made it something else than the
    // folder scanned last time (a shelf number).
    std::string lastRoot = recordedOptions(doc, item).path;
    keepLocation = options_.disc ? options_.disc->location.empty()
                                 : doc.field(item, catalog::kLocation) != lastRoot;
    for (int f : {catalog::kOriginalName, catalog::kDepth, catalog::kCapacity, catalog::kKind,
                  catalog::kFolders, catalog::kFiles, catalog::kFilterText,
                  catalog::kListingParts, catalog::kTracks, catalog::kPlayingTime}) {
      removeField(item, f);
    }
    if (!keepLocation) removeField(item, catalog::kLocation);
    removeField(item, catalog::kScanSettings);
  } else {
    auto added = doc.addItem(cat);
    if (!added) return added.error();
    item = *added;
    uint16_t n = catalog::CatalogDocument::numberOf(item);
    if (n != scanned) {
      if (Status st = renameStreams(n); !st) {
        xmlUnlinkNode(item);
        xmlFreeNode(item);
        return st;
      }
    }
    result_.number = n;
  }

  const DiscJob* disc = options_.disc ? &*options_.disc : nullptr;
  int deepest = cells_.deepestLevel.load();
  int depth = std::max(1, std::min(context.maxDepth, deepest));
  uint64_t bytes = bareDrive && context.maxDepth == kUnlimitedDepth ? driveBytes
                                                                    : cells_.totalBytes.load();
  // A disc's size is its capacity, whatever it holds.
  uint64_t megabytes = disc ? (disc->capacityBytes >> 20) & 0xFFFFFFFF : std::max<uint64_t>(1, bytes >> 20);
  std::string name = disc ? disc->volumeLabel : std::filesystem::path(path).filename().string();
  auto setIfAny = [&](int field, const std::string& text) {
    if (std::string t = trim(text); !t.empty()) doc.setField(item, field, t);
  };

  if (!name.empty()) doc.setField(item, catalog::kOriginalName, name);
  std::string label = trim(options_.label);
  if (label.empty() && disc) label = name;
  if (!label.empty()) doc.setField(item, catalog::kLabel, label);
  doc.setField(item, catalog::kDepth, std::to_string(depth));
  doc.setField(item, catalog::kCapacity, std::to_string(megabytes));
  if (disc) doc.setField(item, catalog::kTracks, std::to_string(disc->trackCount));
  doc.setField(item, catalog::kKind, std::to_string(result_.itemKind));
  if (disc && (disc->kind == catalog::kKindAudioCd || disc->kind == catalog::kKindCdExtra)) {
    doc.setField(item, catalog::kPlayingTime, std::to_string(disc->playingSeconds));
  }
  doc.setField(item, catalog::kFolders, std::to_string(cells_.folders.load()));
  doc.setField(item, catalog::kFiles, std::to_string(cells_.files.load()));
  if (disc) {
    setIfAny(catalog::kArtist, disc->texts.artist);
    setIfAny(catalog::kAlbum, disc->texts.album);
    setIfAny(catalog::kGenre, disc->texts.genre);
    setIfAny(catalog::kLocation, disc->location);
    // A disc's comment stands between its location and its catalog number.
    if (!options_.comment.empty()) doc.setField(item, catalog::kComment, options_.comment);
    setIfAny(catalog::kCatalogNumber, disc->catalogNumber);
    setIfAny(catalog::kYear, disc->texts.year);
    setIfAny(catalog::kPrice, disc->price);
  } else if (!keepLocation) {
    doc.setField(item, catalog::kLocation, path);
  }
  if (!disc && !options_.comment.empty()) doc.setField(item, catalog::kComment, options_.comment);
  if (result_.filterUsed) doc.setField(item, catalog::kFilterText, trim(options_.filter));
  if (parts > 0) doc.setField(item, catalog::kListingParts, std::to_string(parts));

  // The scan settings: the flags and one entry per subfolder rule.
  uint32_t bits = disc ? scanFlags() : (scanFlags() & ~0xC0u) | 0x01;
  if (!disc && options_.filterOn && options_.exclude) bits |= 0x40;
  xmlNode* settings = xmlNewChild(item, nullptr, xml::u(catalog::nameCode(catalog::kScanSettings)),
                                  nullptr);
  catalog::setFieldText(
      xmlNewChild(settings, nullptr, xml::u(catalog::nameCode(catalog::kScanBits)), nullptr),
      hex(bits));
  if (disc && !disc->musicBrainzId.empty()) {
    catalog::setFieldText(
        xmlNewChild(settings, nullptr, xml::u(catalog::nameCode(catalog::kMusicBrainzId)), nullptr),
        disc->musicBrainzId);
  }
  // The scan root and the depth limit, for a re-scan (a disc is read from
  // its drive again).
  if (!disc) {
    catalog::setFieldText(
        xmlNewChild(settings, nullptr, xml::u(catalog::nameCode(catalog::kSubfolderPath)), nullptr),
        path);
  }
  if (context.maxDepth != kUnlimitedDepth) {
    catalog::setFieldText(
        xmlNewChild(settings, nullptr, xml::u(catalog::nameCode(catalog::kDepth)), nullptr),
        std::to_string(context.maxDepth));
  }
  // The volume the root was read from: what identifies it when it is
  // mounted again, and how full it was.
  if (volume_.known()) {
    auto put = [&](int field, const std::string& text) {
      if (!text.empty()) {
        catalog::setFieldText(xmlNewChild(settings, nullptr, xml::u(catalog::nameCode(field)), nullptr), text);
      }
    };
    put(catalog::kVolumeFileSystem, volume_.fsType);
    put(catalog::kVolumeUuid, volume_.uuid);
    put(catalog::kVolumeLabel, volume_.label);
    put(catalog::kVolumeSerial, volume_.serial);
    if (volume_.total > 0) {
      put(catalog::kVolumeTotal, std::to_string(volume_.total));
      put(catalog::kVolumeUsed, std::to_string(volume_.used));
      put(catalog::kVolumeFree, std::to_string(volume_.free));
    }
    put(catalog::kVolumeFolder, volume_.inside.empty() ? "/" : volume_.inside);
  }
  for (const auto& rule : context.rules) {
    xmlNode* r = xmlNewChild(settings, nullptr,
                             xml::u(catalog::nameCode(catalog::kSubfolderSettings)), nullptr);
    std::string rel = *relativeTo(path, rule.path);
    std::replace(rel.begin(), rel.end(), '/', '\\');
    catalog::setFieldText(
        xmlNewChild(r, nullptr, xml::u(catalog::nameCode(catalog::kSubfolderPath)), nullptr), rel);
    catalog::setFieldText(
        xmlNewChild(r, nullptr, xml::u(catalog::nameCode(catalog::kSubfolderBits)), nullptr),
        hex(rule.flags));
  }
  doc.setModified();

  result_.files = cells_.files.load();
  result_.folders = cells_.folders.load();
  result_.bytes = bytes;
  result_.splitParts = parts;
  result_.depth = depth;
  return {};
}

}  // namespace tamber::scan
