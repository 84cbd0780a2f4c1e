// Scans with several reading threads and re-scans that take unchanged files
// from the previous scan: both must write exactly the bytes of a scan on
// one thread that reads every file. Scans that hash every file record
// xxhsum's digests and keep them for unchanged files.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "catalog/library.h"
#include "scan/add_folder_job.h"
#include "scan/listing_reader.h"
#include "scan/listing.h"
#include "scan/scanner.h"
#include "tests/run_command.h"
#include "tests/storage/storage_helpers.h"

namespace tamber::scan {
namespace {

namespace fs = std::filesystem;
using catalog::StreamKind;
using storage::TempDir;

// The media fixtures, made once for every test of this file.
const fs::path& mediaSeed() {
  static TempDir dir;
  static bool made = false;
  if (!made) {
    for (auto [sub, script] : {std::pair{"music", "media/make_fixtures.sh"},
                               std::pair{"pics", "scan/make_images.sh"},
                               std::pair{"arch", "decomp/make_archives.sh"}}) {
      std::string cmd = std::string(TAMBER_TESTS_DIR) + "/" + script + " '" +
                        (dir.path / sub).string() + "' >/dev/null 2>&1";
      EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
    made = true;
  }
  return dir.path;
}

std::string fileText(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class Parallel : public ::testing::Test {
 protected:
  void SetUp() override {
    auto lib = catalog::Library::create(dir.path / "lib.cds");
    ASSERT_TRUE(lib) << lib.error().message;
    library = std::move(*lib);
    auto n = library->catalog().addCategory({}, "Cat", "");
    ASSERT_TRUE(n);
    category = {*n};
    root = dir.path / "tree";
    fs::create_directories(root);
  }

  AddFolderOptions options(int jobs) {
    AddFolderOptions o;
    o.path = root.string();
    o.label = "Label";
    o.category = category;
    o.jobs = jobs;
    return o;
  }

  AddFolderResult add(AddFolderOptions o) {
    AddFolderJob job(*library, std::move(o));
    AddFolderResult r = job.run();
    EXPECT_EQ(r.outcome, JobOutcome::done) << r.message;
    return r;
  }

  // Every stream of an item, by kind and part, as bytes.
  std::map<std::string, std::string> streams(uint16_t number) {
    std::map<std::string, std::string> out;
    auto lib = library->file().root();
    auto take = [&](const std::string& key, const std::string& name) {
      auto s = lib.openStream(name);
      if (!s) return false;
      std::string bytes(s->size(), '\0');
      auto n = s->read(bytes.data(), bytes.size());
      EXPECT_TRUE(n && *n == bytes.size()) << name;
      out[key] = std::move(bytes);
      return true;
    };
    take("listing", catalog::streamName(StreamKind::listing, category, number));
    for (int part = 1; take("part" + std::to_string(part),
                            catalog::streamName(StreamKind::listing, category, number, part));
         ++part) {
    }
    take("thumbnails", catalog::streamName(StreamKind::thumbnails, category, number));
    take("archives", catalog::streamName(StreamKind::archives, category, number));
    return out;
  }

  void expectSameStreams(const std::map<std::string, std::string>& a,
                         const std::map<std::string, std::string>& b, const std::string& what) {
    ASSERT_EQ(a.size(), b.size()) << what;
    for (const auto& [key, bytes] : a) {
      ASSERT_TRUE(b.count(key)) << what << ": " << key;
      if (bytes == b.at(key)) continue;
      size_t at = 0;
      while (at < bytes.size() && at < b.at(key).size() && bytes[at] == b.at(key)[at]) ++at;
      ADD_FAILURE() << what << ": " << key << " differs at byte " << at << ": ..."
                    << bytes.substr(at > 60 ? at - 60 : 0, 160) << "\n  against ..."
                    << b.at(key).substr(at > 60 ? at - 60 : 0, 160);
    }
  }

  // A random tree: folders of random depth and width with media files of
  // the seed mixed among plain ones, and one folder big enough for a part.
  void makeRandomTree(uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<fs::path> media;
    for (const auto& e : fs::recursive_directory_iterator(mediaSeed())) {
      if (e.is_regular_file()) media.push_back(e.path());
    }
    std::vector<fs::path> folders{root};
    for (int i = 0; i < 40; ++i) {
      fs::path parent = folders[rng() % folders.size()];
      fs::path f = parent / ("d" + std::to_string(i) + (rng() % 3 == 0 ? " é" : ""));
      fs::create_directories(f);
      folders.push_back(f);
    }
    for (int i = 0; i < 300; ++i) {
      fs::path into = folders[rng() % folders.size()];
      if (rng() % 2) {
        const fs::path& from = media[rng() % media.size()];
        fs::copy_file(from, into / (std::to_string(i) + "_" + from.filename().string()),
                      fs::copy_options::overwrite_existing);
      } else {
        std::ofstream(into / ("note" + std::to_string(i) + ".txt")) << std::string(rng() % 5000, 'x');
      }
    }
    fs::create_directories(root / "big");
    for (int i = 0; i < 1100; ++i) std::ofstream(root / "big" / ("f" + std::to_string(i))) << i;
    for (const auto& e : media) {
      if (e.extension() == ".jpg") fs::copy_file(e, root / "big" / e.filename(), fs::copy_options::overwrite_existing);
    }
  }

  TempDir dir;
  std::unique_ptr<catalog::Library> library;
  catalog::ItemPath category;
  fs::path root;
};

TEST_F(Parallel, OneTwoAndEightJobsWriteTheSameBytes) {
  fs::create_directories(root / "media");
  fs::copy(mediaSeed(), root / "media", fs::copy_options::recursive);
  for (uint32_t seed : {1u, 2u}) {
    fs::remove_all(root / "random");
    fs::path keep = root;
    root = root / "random";
    fs::create_directories(root);
    makeRandomTree(seed);
    root = keep;
    auto one = add(options(1));
    auto reference = streams(one.number);
    ASSERT_TRUE(reference.count("thumbnails"));
    ASSERT_TRUE(reference.count("archives"));
    ASSERT_TRUE(reference.count("part1"));
    for (int jobs : {2, 8}) {
      auto r = add(options(jobs));
      EXPECT_EQ(r.files, one.files);
      EXPECT_EQ(r.readAnew, one.readAnew);
      expectSameStreams(reference, streams(r.number),
                        "seed " + std::to_string(seed) + ", " + std::to_string(jobs) + " jobs");
    }
  }
}

// A reader inside one picture finishes it; under ThreadSanitizer a picture
// takes ten times longer.
#if defined(__SANITIZE_THREAD__)
constexpr auto kCancelAnswers = std::chrono::seconds(10);
#else
constexpr auto kCancelAnswers = std::chrono::seconds(1);
#endif

TEST_F(Parallel, CancelWithSeveralJobsLeavesTheLibraryAsItWas) {
  fs::copy(mediaSeed(), root, fs::copy_options::recursive);
  for (int copy = 0; copy < 6; ++copy) {
    fs::copy(mediaSeed(), root / ("copy" + std::to_string(copy)), fs::copy_options::recursive);
  }
  auto names = [&] {
    std::set<std::string> out;
    auto elements = library->file().root().elements();
    for (const auto& e : *elements) out.insert(e.name);
    return out;
  };
  std::set<std::string> before = names();
  std::string catalogBefore = library->catalog().text();
  std::mt19937 rng(5);
  int cancelled = 0;
  for (int round = 0; round < 8; ++round) {
    AddFolderJob job(*library, options(round % 2 ? 8 : 3));
    job.start();
    // At a random point: before the walk, among the first files, or later.
    auto wait = std::chrono::microseconds(rng() % 60000);
    std::this_thread::sleep_for(wait);
    auto asked = std::chrono::steady_clock::now();
    job.cancel();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, kCancelAnswers);
    const auto& r = job.wait();
    if (r.outcome == JobOutcome::done) {
      ASSERT_TRUE(library->removeItem(category, r.number));
      ASSERT_TRUE(library->catalog().loadText(catalogBefore));
      library->catalog().setModified(false);
      continue;
    }
    ++cancelled;
    EXPECT_EQ(library->catalog().text(), catalogBefore);
    EXPECT_EQ(names(), before);
  }
  EXPECT_GE(cancelled, 3);
}

// Sets a file's modification time (seconds since 1970).
void setTime(const fs::path& p, time_t t) {
  struct utimbuf times {t, t};
  ASSERT_EQ(utime(p.c_str(), &times), 0) << p;
}

TEST_F(Parallel, ReScanReadsOnlyChangedFilesAndWritesTheBytesOfAFullScan) {
  fs::copy(mediaSeed(), root, fs::copy_options::recursive);
  fs::copy(mediaSeed(), root / "again", fs::copy_options::recursive);
  auto first = add(options(2));
  ASSERT_GT(first.readAnew, 20u);
  EXPECT_FALSE(first.incremental);

  // Nothing changed: nothing is read, and the bytes are the first scan's.
  auto before = streams(first.number);
  auto o = options(2);
  o.update = first.number;
  auto same = add(o);
  EXPECT_TRUE(same.incremental);
  EXPECT_EQ(same.readAnew, 0u);
  EXPECT_EQ(same.reused, first.readAnew);
  expectSameStreams(before, streams(first.number), "unchanged");

  // Added, removed, renamed, and changed in time only or in size only.
  fs::path photo = root / "pics/photo.jpg";
  fs::copy_file(photo, root / "again/added.jpg");
  fs::remove(root / "music/id3v23.mp3");
  fs::rename(root / "arch/t.zip", root / "arch/renamed.zip");
  std::string tagged = fileText(root / "again/music/id3v23.mp3");
  struct stat st {};
  ASSERT_EQ(stat((root / "again/music/id3v23.mp3").c_str(), &st), 0);
  // Same size, other time: a different picture of the same length would
  // pass unnoticed by size alone.
  std::string other = fileText(root / "pics/small.png");
  ASSERT_FALSE(other.empty());
  {
    std::ofstream(root / "again/pics/photo.jpg", std::ios::binary | std::ios::trunc) << other;
  }
  setTime(root / "again/pics/photo.jpg", st.st_mtime + 100);
  // Same time, other size: bytes added at the end and the time put back.
  std::string retitled = tagged + std::string(100, '\0');
  {
    std::ofstream(root / "again/music/id3v23.mp3", std::ios::binary | std::ios::trunc) << retitled;
  }
  setTime(root / "again/music/id3v23.mp3", st.st_mtime);

  o = options(2);
  o.update = first.number;
  auto updated = add(o);
  EXPECT_TRUE(updated.incremental);
  // The added picture, the renamed archive and the two changed files.
  EXPECT_EQ(updated.readAnew, 4u);
  auto incremental = streams(first.number);
  auto full = add(options(1));
  EXPECT_EQ(full.files, updated.files);
  expectSameStreams(streams(full.number), incremental, "after changes");

  // --full reads everything again, with the same result.
  o.full = true;
  auto forced = add(o);
  EXPECT_FALSE(forced.incremental);
  EXPECT_EQ(forced.readAnew, full.readAnew);
  expectSameStreams(streams(full.number), streams(first.number), "full");

  // Other options change every record: a re-scan without thumbnails reads all.
  o = options(2);
  o.update = first.number;
  o.thumbnails = false;
  auto unthumbed = add(o);
  EXPECT_FALSE(unthumbed.incremental);
}

TEST_F(Parallel, DryRunCountsWhatAScanRecordsAndWritesNothing) {
  fs::copy(mediaSeed(), root, fs::copy_options::recursive);
  makeRandomTree(7);
  std::string catalogBefore = library->catalog().text();
  auto o = options(0);
  o.dryRun = true;
  AddFolderJob dry(o);
  const auto& d = dry.run();
  ASSERT_EQ(d.outcome, JobOutcome::done) << d.message;
  EXPECT_EQ(library->catalog().text(), catalogBefore);
  auto r = add(options(0));
  EXPECT_EQ(d.files, r.files);
  EXPECT_EQ(d.folders, r.folders);
  EXPECT_EQ(d.bytes, r.bytes);
  EXPECT_EQ(d.splitParts, r.splitParts);
  EXPECT_EQ(d.kinds.pictures + d.kinds.audio + d.kinds.documents + d.kinds.archives, r.readAnew);
  EXPECT_GT(d.kinds.pictures, 0u);
  EXPECT_GT(d.kinds.audio, 0u);
  EXPECT_GT(d.kinds.archives, 0u);
}


// Every file's recorded fields by its path below the root.
using Fields = std::vector<std::pair<std::string, std::string>>;
std::map<std::string, Fields> fieldsByPath(storage::Storage lib, const catalog::ItemPath& category,
                                           uint16_t number) {
  std::map<std::string, Fields> out;
  std::vector<std::string> folders;
  ListingVisitor v;
  v.entry = [&](ListingEntry& e, int depth) {
    folders.resize(static_cast<size_t>(depth));
    std::string path;
    for (const auto& f : folders) path += f + "/";
    if (e.folder) {
      folders.push_back(e.name);
      return true;
    }
    out[path + e.name] = e.fields;
    return false;
  };
  Status st = walkListing(streamListing(lib, category, number), v);
  EXPECT_TRUE(st) << st.message();
  return out;
}

std::string fieldOf(const Fields& fields, std::string_view code) {
  for (const auto& [k, v] : fields) {
    if (k == code) return v;
  }
  return {};
}

Fields withoutHash(Fields fields) {
  std::erase_if(fields, [](const auto& f) { return f.first == kContentHashCode || f.first == kHashProblemCode; });
  return fields;
}

// xxhsum's digest of every regular file below `root`, by relative path.
std::map<std::string, std::string> xxhsums(const fs::path& root) {
  auto r = test_support::runCommand("cd " + test_support::shellQuote(root.string()) +
                                        " && find . -type f -printf '%P\\0' | xargs -0 xxhsum -H2", false);
  EXPECT_EQ(r.status, 0) << r.out;
  std::map<std::string, std::string> out;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.size() > 34) out[line.substr(34)] = line.substr(0, 32);
  }
  return out;
}

TEST_F(Parallel, HashedScansRecordXxhsumsDigestAndLeaveEveryOtherFieldAsItWas) {
  makeRandomTree(11);
  std::ofstream(root / "empty.bin").close();
  fs::create_symlink("empty.bin", root / "link.bin");
  auto plain = add(options(1));
  auto o = options(1);
  o.hash = true;
  auto one = add(o);
  EXPECT_TRUE(one.hashed);
  o.jobs = 4;
  auto four = add(o);
  // Any number of reading threads writes the same bytes.
  expectSameStreams(streams(one.number), streams(four.number), "four jobs");
  auto lib = library->file().root();
  auto without = fieldsByPath(lib, category, plain.number);
  auto with = fieldsByPath(lib, category, one.number);
  auto expected = xxhsums(root);
  ASSERT_GT(expected.size(), 1000u);
  ASSERT_EQ(with.size(), without.size());
  for (const auto& [path, fields] : with) {
    SCOPED_TRACE(path);
    EXPECT_EQ(withoutHash(fields), without[path]);
    EXPECT_EQ(fieldOf(fields, kHashProblemCode), "");
    if (path == "link.bin") {
      EXPECT_EQ(fieldOf(fields, kContentHashCode), "");  // a link is never read through
    } else {
      EXPECT_EQ(fieldOf(fields, kContentHashCode), expected[path]);
    }
  }
  // Thumbnails and archive listings are those of a scan without hashes.
  auto a = streams(plain.number), b = streams(one.number);
  EXPECT_EQ(a["thumbnails"], b["thumbnails"]);
  EXPECT_EQ(a["archives"], b["archives"]);
}

void setTimeOf(const fs::path& p, time_t t) {
  struct utimbuf times {t, t};
  ASSERT_EQ(::utime(p.c_str(), &times), 0);
}

TEST_F(Parallel, ReScansHashWhatTheyReadAndKeepTheHashesOfUnchangedFiles) {
  fs::copy(mediaSeed(), root, fs::copy_options::recursive);
  std::ofstream(root / "notes.txt") << "first";
  std::ofstream(root / "other.txt") << "kept";
  auto first = add(options(2));
  ASSERT_FALSE(first.hashed);

  // Asked for hashes, a re-scan hashes every file but reads none with its
  // readers again.
  auto o = options(2);
  o.update = first.number;
  o.hash = true;
  auto hashed = add(o);
  EXPECT_TRUE(hashed.incremental);
  EXPECT_TRUE(hashed.hashed);
  auto lib = library->file().root();
  auto recorded = fieldsByPath(lib, category, first.number);
  auto expected = xxhsums(root);
  for (const auto& [path, fields] : recorded) EXPECT_EQ(fieldOf(fields, kContentHashCode), expected[path]) << path;

  // An item with hashes goes on hashing; only the changed file is read.
  std::ofstream(root / "notes.txt", std::ios::trunc) << "second!";
  setTimeOf(root / "notes.txt", std::time(nullptr) + 100);
  o.hash = false;
  auto updated = add(o);
  EXPECT_TRUE(updated.hashed);
  EXPECT_EQ(updated.readAnew, 1u);
  recorded = fieldsByPath(lib, category, first.number);
  expected = xxhsums(root);
  for (const auto& [path, fields] : recorded) EXPECT_EQ(fieldOf(fields, kContentHashCode), expected[path]) << path;
  // The same bytes as a hashed scan that reads everything.
  o.update.reset();
  o.hash = true;
  auto full = add(o);
  expectSameStreams(streams(full.number), streams(first.number), "incremental against full");
}

void loseOrGrow(const std::string& path) {
  if (path.ends_with("gone.txt")) ::unlink(path.c_str());
  if (path.ends_with("grown.txt")) std::ofstream(path, std::ios::app) << "more";
}

TEST_F(Parallel, AFileThatCannotBeHashedRecordsWhyAndTheScanGoesOn) {
  for (const char* name : {"gone.txt", "grown.txt", "fine.txt"}) std::ofstream(root / name) << name;
  beforeReaderOpenHook = loseOrGrow;
  auto o = options(1);
  o.hash = true;
  auto r = add(o);
  beforeReaderOpenHook = nullptr;
  ASSERT_EQ(r.outcome, JobOutcome::done);
  auto recorded = fieldsByPath(library->file().root(), category, r.number);
  EXPECT_EQ(fieldOf(recorded["gone.txt"], kContentHashCode), "");
  EXPECT_EQ(fieldOf(recorded["gone.txt"], kHashProblemCode), std::strerror(ENOENT));
  EXPECT_EQ(fieldOf(recorded["grown.txt"], kContentHashCode), "");
  EXPECT_EQ(fieldOf(recorded["grown.txt"], kHashProblemCode), kChangedWhileRead);
  EXPECT_EQ(fieldOf(recorded["fine.txt"], kContentHashCode), xxhsums(root)["fine.txt"]);

  // A re-scan does not trust what it could not hash: both are read again.
  std::ofstream(root / "gone.txt") << "back";
  o.update = r.number;
  auto again = add(o);
  EXPECT_EQ(again.readAnew, 2u);
  recorded = fieldsByPath(library->file().root(), category, r.number);
  auto expected = xxhsums(root);
  for (const char* name : {"gone.txt", "grown.txt", "fine.txt"}) {
    EXPECT_EQ(fieldOf(recorded[name], kContentHashCode), expected[name]) << name;
    EXPECT_EQ(fieldOf(recorded[name], kHashProblemCode), "") << name;
  }
}

TEST(ListingWithHashes, DamagedHashesAreRefusedByNameAndOthersReadThemAsPlainFields) {
  auto parse = [](const std::string& fields) {
    std::string text = listingHeader(0) + "<b><c>song.mp3</c><e>5</e>" + fields + "</b>" + std::string(kListingFooter);
    PartLoader none = [](int) { return std::optional<std::string>(); };
    return parseListing(text, none);
  };
  const std::string good(32, 'a');
  auto ok = parse("<x1>" + std::string(32, 'A') + "</x1><x2>changed while read</x2>");
  ASSERT_TRUE(ok) << ok.error().message;
  EXPECT_EQ(*ok->entries[0].field(kContentHashCode), good);  // read in lower case
  for (const auto& [fields, why] : std::vector<std::pair<std::string, std::string>>{
           {"<x1>abc</x1>", "is not 32 hexadecimal digits"},
           {"<x1>" + std::string(32, 'g') + "</x1>", "is not 32 hexadecimal digits"},
           {"<x1>" + good + "0</x1>", "is not 32 hexadecimal digits"},
           {"<x1></x1>", "is not 32 hexadecimal digits"},
           {"<x1>" + good + "</x1><x1>" + good + "</x1>", "is given twice"},
           {"<x2>a</x2><x2>b</x2>", "is given twice"}}) {
    auto r = parse(fields);
    ASSERT_FALSE(r) << fields;
    EXPECT_NE(r.error().message.find("content hash of \"song.mp3\" " + why), std::string::npos)
        << r.error().message;
  }
  // An XML reader that knows nothing of the hash reads the record around it.
  TempDir dir;
  std::ofstream(dir.path / "listing.xml")
      << listingHeader(0) << "<b><c>a.txt</c><e>5</e><x1>" << good << "</x1></b><b><c>b.txt</c></b>" << kListingFooter;
  auto names = test_support::runCommand(
      "xmllint --xpath '//*[local-name()=\"c\"]/text()' " + test_support::shellQuote((dir.path / "listing.xml").string()),
      false);
  EXPECT_EQ(names.status, 0);
  std::erase(names.out, '\n');
  EXPECT_EQ(names.out, "a.txtb.txt");
}

}  // namespace
}  // namespace tamber::scan
