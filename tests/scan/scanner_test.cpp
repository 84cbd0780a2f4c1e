// The scanner and the add-folder job on trees built in temporary folders:
// every listing must be well-formed and read back to the tree on disk.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <thread>

#include "catalog/library.h"
#include "media/media.h"
#include "platform/hex_time.h"
#include "platform/mounts.h"
#include "scan/add_folder_job.h"
#include "scan/listing.h"
#include "scan/listing_reader.h"
#include "scan/scanner.h"
#include "tests/storage/storage_helpers.h"

namespace tamber::scan {
namespace {

namespace fs = std::filesystem;
using storage::TempDir;

// Builds a tree: "a/b.txt" is a file holding its own path, "a/c/" a folder.
void makeTree(const fs::path& root, const std::vector<std::string>& paths) {
  for (const auto& p : paths) {
    if (!p.empty() && p.back() == '/') {
      fs::create_directories(root / p);
      continue;
    }
    fs::create_directories((root / p).parent_path());
    std::ofstream(root / p) << p;
  }
}

std::vector<std::string> numbered(const std::string& folder, int count) {
  std::vector<std::string> out;
  for (int i = 0; i < count; ++i) out.push_back(folder + "/f" + std::to_string(i) + ".txt");
  return out;
}

std::string mtimeHex(const fs::path& p) {
  struct stat st;
  lstat(p.c_str(), &st);
  return fileHexTime(st.st_mtim.tv_sec);
}

// The listing holds exactly what is on disk below `dir` (names, sizes, times).
void expectMatchesDisk(const std::vector<ListingEntry>& entries, const fs::path& dir,
                       bool skipHidden) {
  std::map<std::string, const ListingEntry*> byName;
  for (const auto& e : entries) {
    EXPECT_TRUE(byName.emplace(e.name, &e).second) << "twice: " << e.name;
  }
  std::set<std::string> onDisk;
  for (const auto& d : fs::directory_iterator(dir)) {
    std::string name = d.path().filename().string();
    if (skipHidden && name[0] == '.' && d.is_directory() && !d.is_symlink()) continue;
    onDisk.insert(name);
    auto it = byName.find(name);
    if (it == byName.end()) {
      ADD_FAILURE() << "not listed: " << d.path();
      continue;
    }
    const ListingEntry& e = *it->second;
    bool folder = d.is_directory() && !d.is_symlink();
    EXPECT_EQ(e.folder, folder) << d.path();
    EXPECT_EQ(e.modified, mtimeHex(d.path())) << d.path();
    if (folder) {
      expectMatchesDisk(e.children, d.path(), false);
    } else {
      struct stat st;
      lstat(d.path().c_str(), &st);
      EXPECT_EQ(e.size, static_cast<uint64_t>(st.st_size)) << d.path();
    }
  }
  EXPECT_EQ(onDisk.size(), byName.size()) << dir;
}

size_t countFiles(const std::vector<ListingEntry>& entries) {
  size_t n = 0;
  for (const auto& e : entries) n += e.folder ? countFiles(e.children) : 1;
  return n;
}

class Job : public ::testing::Test {
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

  AddFolderOptions options() {
    AddFolderOptions o;
    o.path = root.string();
    o.label = "Label";
    o.category = category;
    return o;
  }

  AddFolderResult add(AddFolderOptions o) {
    AddFolderJob job(*library, std::move(o));
    AddFolderResult r = job.run();
    EXPECT_EQ(r.outcome, JobOutcome::done) << r.message;
    return r;
  }

  Listing listing(uint16_t number) {
    auto l = readListing(library->file().root(), category, number);
    EXPECT_TRUE(l) << (l ? "" : l.error().message);
    return l ? std::move(*l) : Listing{};
  }

  std::string field(uint16_t number, int index) {
    return library->catalog().field(library->catalog().item(category, number), index);
  }

  // One walk by a scanner of its own, into listing `number`.
  struct Walk {
    Scanner scanner;
    ScanCounters cells;
    ScanContext ctx;
    uint32_t result = 0;
    bool ended = false;
  };
  std::unique_ptr<Walk> walk(uint16_t number, uint32_t flags, bool disc = false,
                             Scanner::SubfolderOpener opener = nullptr,
                             const fs::path& from = {}) {
    auto w = std::make_unique<Walk>();
    std::string path = from.empty() ? root.string() : from.string();
    if (opener) w->scanner.setSubfolderOpener(opener);
    w->ctx.itemPath = category;
    w->ctx.listingNumber = number;
    w->ctx.cells = &w->cells;
    w->scanner.begin(w->ctx, library->file().root(), path, false);
    EXPECT_TRUE(w->scanner.startListing(disc ? 0 : 13));
    w->result = disc ? w->scanner.walkDisc(path, flags) : w->scanner.walkFolder(path, flags);
    w->ended = w->scanner.endListing();
    return w;
  }

  std::set<std::string> streamNames() {
    std::set<std::string> out;
    auto elements = library->file().root().elements();
    for (const auto& e : *elements) out.insert(e.name);
    return out;
  }

  TempDir dir;
  std::unique_ptr<catalog::Library> library;
  catalog::ItemPath category;
  fs::path root;
};

TEST(ExtensionTable, HoldsEveryExtensionOnceAndClassifiesByLowerCase) {
  ExtensionTable t;
  EXPECT_EQ(t.size(), 164u);
  EXPECT_EQ(extensionOf("song.MP3"), "mp3");
  EXPECT_EQ(extensionOf("archive.tar.gz"), "gz");
  EXPECT_EQ(extensionOf("README"), "");
  auto c = t.classify(extensionOf("song.MP3"));
  ASSERT_TRUE(c);
  EXPECT_EQ(c->kind, FileKind::audio);
  EXPECT_EQ(c->subtype, 0);
  EXPECT_EQ(t.classify("phtml")->subtype, kDocHtml);
  EXPECT_EQ(t.classify("php3")->subtype, kDocHtml);
  EXPECT_EQ(t.classify("z")->kind, FileKind::archive);
  EXPECT_EQ(t.classify("flac")->subtype, kAudioFlac);
  EXPECT_EQ(t.classify("opus")->subtype, kAudioOpus);
  EXPECT_EQ(t.classify("m4b")->subtype, kAudioMp4);
  EXPECT_FALSE(t.classify("flacc"));
  EXPECT_EQ(t.classify("docx")->subtype, kDocOffice);
  EXPECT_EQ(t.classify("odp")->subtype, kDocOffice);
  EXPECT_EQ(t.classify("z")->subtype, 1);
  EXPECT_EQ(t.classify("exe")->subtype, kSubtypeExecutable);
  EXPECT_EQ(t.classify("xlw")->subtype, kDocOffice);
  EXPECT_EQ(t.classify("3gp")->kind, FileKind::video);
  EXPECT_EQ(t.classify("m2ts")->kind, FileKind::video);
  EXPECT_FALSE(t.classify("3gx"));
  EXPECT_FALSE(t.classify("_mp3"));
  EXPECT_FALSE(t.classify(""));
  EXPECT_FALSE(t.classify("mp33"));
  EXPECT_FALSE(t.classify("tiffff"));
  EXPECT_EQ(t.classify("raw")->kind, FileKind::image);
  EXPECT_FALSE(isImageExtension("raw"));
  EXPECT_FALSE(isImageExtension("rdi"));
  EXPECT_TRUE(isImageExtension("jfif"));
}

TEST(ListingText, EveryNameGivesWellFormedXmlThatReadsBack) {
  struct Case {
    std::string in, back;
  } cases[] = {
      {"plain.txt", "plain.txt"},
      {"a<b>&c", "a<b>&c"},
      {"x]]>y<", "x]]>y<"},
      {"]]>]]>&", "]]>]]>&"},
      {"caf\xE9.mp3", "caf\xC3\xA9.mp3"},            // Windows-1252
      {"bell\x07tab\tcr\r.txt", "bell.tab\tcr\r.txt"},  // scrubbed; CR kept
      {"\xE2\x82\xAC 5", "\xE2\x82\xAC 5"},
  };
  for (const auto& c : cases) {
    std::string doc = listingHeader(13) + "<b>";
    appendTextElement(doc, "c", c.in);
    doc += "<e>1</e></b>";
    doc += kListingFooter;
    auto l = parseListing(doc, [](int) { return std::nullopt; });
    ASSERT_TRUE(l) << c.in << ": " << doc;
    ASSERT_EQ(l->entries.size(), 1u);
    EXPECT_EQ(l->entries[0].name, c.back) << doc;
  }
  std::string empty;
  appendTextElement(empty, "v", "");
  EXPECT_EQ(empty, "");
}

TEST(ListingText, ReadInPiecesWhateverTheCutsAndPartsFollowed) {
  // A listing with what a reader meets: an empty entry, a field holding
  // elements, fields after a folder's entries, a comment, references, a
  // part; read whole and one byte at a time, the same entries come out.
  std::string main = listingHeader(13) +
                     "<!-- x --><b><c>a &amp; b&#233;.txt</c><e>12</e><d>65F0A1B2</d>"
                     "<x1>0123456789ABCDEF0123456789abcdef</x1><zz><y>in</y><y>side</y></zz></b>"
                     "<b/>"
                     "<a><c>Photos</c><b><c>p.jpg</c><e>3</e></b><a><c>Deep</c><d7>1</d7></a><f9>after</f9></a>" +
                     std::string(kListingFooter);
  std::string part = "<?xml version=\"1.0\"?><a1 xmlns=\"urn:CDs\" i=\"-1\"><e3>Photos\\Deep</e3>"
                     "<b><c>d.txt</c><e>7</e></b></a1>";
  auto run = [&](size_t piece) {
    ListingOpener open = [&](int k) -> std::optional<ChunkReader> {
      if (k > 1) return std::nullopt;
      auto text = std::make_shared<std::string>(k == 0 ? main : part);
      auto at = std::make_shared<size_t>(0);
      return ChunkReader([text, at, piece](char* buf, int len) {
        size_t n = std::min({static_cast<size_t>(len), piece, text->size() - *at});
        std::memcpy(buf, text->data() + *at, n);
        *at += n;
        return static_cast<int>(n);
      });
    };
    std::vector<std::string> seen;
    Status st = walkFiles(open, [&](ListingEntry& e, const std::string& folder, bool) {
      std::string hash = e.field(kContentHashCode) ? *e.field(kContentHashCode) : "";
      std::string zz = e.field("zz") ? *e.field("zz") : "";
      seen.push_back(folder + e.name + " " + std::to_string(e.size) + " " + hash + zz);
    });
    EXPECT_TRUE(st) << st.message();
    return seen;
  };
  std::vector<std::string> want = {"a & b\xC3\xA9.txt 12 0123456789abcdef0123456789abcdefinside", " 0 ",
                                   "Photos/p.jpg 3 ", "Photos/Deep/d.txt 7 "};
  EXPECT_EQ(run(1 << 20), want);
  EXPECT_EQ(run(1), want);
  EXPECT_EQ(run(7), want);
  // Damage is named, never expanded or passed over.
  const std::string end(kListingFooter);
  for (std::string bad : {listingHeader(13) + "<b><c>&ext;</c></b>" + end,
                          "<!DOCTYPE a1 [<!ENTITY e \"x\">]>" + listingHeader(13) + end,
                          listingHeader(13) + "<b><c>x</c>" ,
                          listingHeader(13) + "<b><c>x</c><x1>12</x1></b>" + end,
                          std::string("<?xml version=\"1.0\"?><zz/>")}) {
    auto l = parseListing(bad, [](int) { return std::nullopt; });
    EXPECT_FALSE(l) << bad;
    if (!l) {
      EXPECT_EQ(l.error().code, Errc::corrupt) << bad;
    }
  }
  // A part named twice is damage, not a loop.
  std::string twice = listingHeader(13) + "<a><c>A</c><d7>1</d7></a><a><c>B</c><d7>1</d7></a>" + end;
  EXPECT_FALSE(parseListing(twice, [&](int) { return std::optional<std::string>(part); }));
}

TEST(ListingText, HexTimeOfFiles) {
  EXPECT_EQ(fileHexTime(-2240524800LL - 86400), "0");  // 1898
  setenv("TZ", "Europe/Paris", 1);
  tzset();
  HexTimeCache cache;
  std::mt19937_64 rng(7);
  // Around a change of daylight saving time and at random.
  for (long long t = 1711846800 - 7200; t < 1711846800 + 7200; t += 97) {
    EXPECT_EQ(cache(t), fileHexTime(t)) << t;
  }
  for (int i = 0; i < 20000; ++i) {
    std::time_t t = static_cast<std::time_t>(rng() % 4000000000ULL);
    ASSERT_EQ(cache(t), fileHexTime(t)) << t;
  }
  unsetenv("TZ");
  tzset();
}

TEST(FileFilterTest, WildcardsMatchWholeNamesWithoutCase) {
  FileFilter f;
  ASSERT_EQ(FileFilter::compile("*.MP3;*.jpg", f), FileFilter::Outcome::filter);
  EXPECT_TRUE(f.matches("song.mp3"));
  EXPECT_TRUE(f.matches("photo.JPG"));
  EXPECT_FALSE(f.matches("song.mp3.part"));
  EXPECT_FALSE(f.matches("photo.jpeg"));
  ASSERT_EQ(FileFilter::compile("a*", f), FileFilter::Outcome::filter);
  EXPECT_TRUE(f.matches("abc"));
  EXPECT_TRUE(f.matches("A"));
  EXPECT_FALSE(f.matches("bac"));
  // Besides "*", "?" and ".", a pattern is a regular expression: sets,
  // groups and repeats work as there, and what does not compile is refused.
  ASSERT_EQ(FileFilter::compile("readme.txt; file(1).t?t ;[x]+", f), FileFilter::Outcome::filter);
  EXPECT_TRUE(f.matches("README.TXT"));
  EXPECT_FALSE(f.matches("old_readme.txt"));
  EXPECT_TRUE(f.matches("file1.txt"));
  EXPECT_FALSE(f.matches("file(1).txt"));
  EXPECT_TRUE(f.matches("xX"));
  EXPECT_FALSE(f.matches("[x]+"));
  ASSERT_EQ(FileFilter::compile("[ab]*", f), FileFilter::Outcome::filter);
  EXPECT_TRUE(f.matches("apple.txt"));
  EXPECT_TRUE(f.matches("Banana.txt"));
  EXPECT_FALSE(f.matches("cherry.txt"));
  ASSERT_EQ(FileFilter::compile("file\\(1\\).txt;*.mp3|*.ogg", f), FileFilter::Outcome::filter);
  EXPECT_TRUE(f.matches("file(1).txt"));  // escaped, as a regular expression takes it
  EXPECT_TRUE(f.matches("a.ogg"));        // the bar stays inside its pattern
  EXPECT_FALSE(f.matches("a.ogg.part"));
  EXPECT_TRUE(f.matches("\xC3\xA9t\xC3\xA9.txt") == false);
  ASSERT_EQ(FileFilter::compile("*.txt", f), FileFilter::Outcome::filter);
  EXPECT_TRUE(f.matches("\xE9t\xE9.txt"));  // not UTF-8: still matched, never an error
  EXPECT_EQ(FileFilter::compile("*.mp3;*.*", f), FileFilter::Outcome::none);
  EXPECT_EQ(FileFilter::compile("*", f), FileFilter::Outcome::none);
  EXPECT_EQ(FileFilter::compile(";;", f), FileFilter::Outcome::none);
  EXPECT_EQ(FileFilter::compile("*.txt;file(1", f), FileFilter::Outcome::invalid);
}

TEST(ProgressTextTest, LongPathsAreCutAtCharacters) {
  ProgressText t;
  std::string deep;
  for (int i = 0; i < 200; ++i) deep += "\xC3\xA9/";
  t.set("/root/", deep);
  std::string got = t.get();
  size_t chars = 0;
  for (unsigned char ch : got) chars += (ch & 0xC0) != 0x80;
  EXPECT_EQ(chars, ProgressText::kMaxCharacters);
  EXPECT_TRUE(got.rfind("/root/\n", 0) == 0);
}

TEST(Mounts, MountInfoAndDriveKinds) {
  auto mounts = parseMountInfo(
      "22 1 8:1 / / rw - ext4 /dev/sda1 rw\n"
      "30 22 0:25 / /media/usb\\040stick rw - vfat /dev/sdb1 rw\n"
      "31 22 0:26 / /media/usb\\040stick/inner rw - iso9660 /dev/sr0 ro\n"
      "32 22 0:27 / /mnt/net rw - nfs4 server:/export rw\n"
      "33 22 0:28 / /run/ram rw - tmpfs tmpfs rw\n"
      "garbage line\n");
  ASSERT_EQ(mounts.size(), 5u);
  EXPECT_EQ(mounts[1].mountPoint, "/media/usb stick");
  EXPECT_EQ(mounts[1].major * 1000 + mounts[1].minor, 25u);  // the device numbers, 0:25
  EXPECT_EQ(mounts[1].root, "/");
  EXPECT_EQ(mountHolding(mounts, "/media/usb stick/photos")->fsType, "vfat");
  EXPECT_EQ(mountHolding(mounts, "/media/usb stick/inner/x")->fsType, "iso9660");
  EXPECT_EQ(mountHolding(mounts, "/media/usb sticky")->fsType, "ext4");
  TempDir sys;
  fs::create_directories(sys.path / "sdb/sdb1");
  fs::create_directories(sys.path / "sda/sda1");
  std::ofstream(sys.path / "sdb/removable") << "1\n";
  std::ofstream(sys.path / "sda/removable") << "0\n";
  fs::create_directory_symlink(sys.path / "sdb/sdb1", sys.path / "sdb1");
  fs::create_directory_symlink(sys.path / "sda/sda1", sys.path / "sda1");
  std::string s = sys.path.string();
  EXPECT_EQ(driveKindOf(mounts[0], s), 13);
  EXPECT_EQ(driveKindOf(mounts[1], s), 18);
  EXPECT_EQ(driveKindOf(mounts[2], s), 17);
  EXPECT_EQ(driveKindOf(mounts[3], s), 16);
  EXPECT_EQ(driveKindOf(mounts[4], s), 15);
  EXPECT_EQ(driveKindOf({"/media/dvd", "ext2", "/dev/sr1", "/", 11, 1}, s), 14);
}

TEST_F(Job, ListingReadsBackToTheTreeOnDisk) {
  std::mt19937 rng(11);
  std::vector<std::string> paths;
  std::vector<std::string> folders{""};
  for (int i = 0; i < 400; ++i) {
    std::string parent = folders[rng() % folders.size()];
    std::string name = (parent.empty() ? "" : parent + "/") + "n" + std::to_string(i);
    if (rng() % 5 == 0 && parent.size() < 60) {
      folders.push_back(name);
      paths.push_back(name + "/");
    } else {
      paths.push_back(name + (rng() % 2 ? ".txt" : ""));
    }
  }
  paths.push_back("empty/");
  paths.push_back(".hidden/x.txt");
  paths.push_back("n0x/.kept/y.txt");
  makeTree(root, paths);
  symlink("..", (root / "loop").c_str());
  symlink("/nonexistent/target", (root / "dangling").c_str());
  auto r = add(options());
  Listing l = listing(r.number);
  EXPECT_EQ(l.kind, r.itemKind);
  expectMatchesDisk(l.entries, root, true);
  EXPECT_EQ(countFiles(l.entries), r.files);
  EXPECT_EQ(field(r.number, catalog::kFiles), std::to_string(r.files));
  EXPECT_EQ(field(r.number, catalog::kFolders), std::to_string(r.folders));
  EXPECT_EQ(field(r.number, catalog::kLabel), "Label");
  EXPECT_EQ(field(r.number, catalog::kOriginalName), "tree");
  EXPECT_EQ(field(r.number, catalog::kLocation), root.string());
  EXPECT_EQ(field(r.number, catalog::kCapacity), "1");
  EXPECT_EQ(field(r.number, catalog::kListingParts), "");
  EXPECT_EQ(library->catalog().field(library->catalog().item(category, r.number),
                                     catalog::kScanBits, "a1"),
            "3D");
  EXPECT_TRUE(library->modified());
  ASSERT_TRUE(library->save());
}

TEST_F(Job, FolderOfMoreThanAThousandEntriesGoesIntoAPart) {
  auto paths = numbered("inline", 1000);
  for (auto& p : numbered("big", 1001)) paths.push_back(p);
  for (auto& p : numbered("outer/a", 600)) paths.push_back(p);
  for (auto& p : numbered("outer", 500)) paths.push_back(p);
  makeTree(root, paths);
  auto r = add(options());
  EXPECT_EQ(r.splitParts, 2);
  EXPECT_EQ(field(r.number, catalog::kListingParts), "2");
  std::string text;
  {
    auto main = library->file().root().openStream(
        catalog::streamName(catalog::StreamKind::listing, category, r.number));
    auto all = main->readAll();
    text = all.value();
  }
  // The index comes first, then the root's entries; "inline" stays inline.
  EXPECT_NE(text.find("<e2><d8><d9>"), std::string::npos);
  EXPECT_LT(text.find("<e2>"), text.find("<b>") == std::string::npos ? text.size() : text.find("<a>"));
  std::set<std::string> indexed;
  for (const char* name : {"big", "outer"}) {
    EXPECT_NE(text.find(std::string("<d9>") + name + "</d9>"), std::string::npos) << name;
  }
  Listing l = listing(r.number);
  EXPECT_EQ(l.parts, 2);
  expectMatchesDisk(l.entries, root, true);
  for (const auto& e : l.entries) {
    if (e.name == "inline") {
      EXPECT_EQ(e.part, 0);
    } else {
      EXPECT_GT(e.part, 0) << e.name;
    }
    if (e.name == "outer") {
      // Its inline subfolder went with it into its part.
      for (const auto& c : e.children) EXPECT_EQ(c.part, 0);
    }
  }
  for (int k = 1; k <= 2; ++k) {
    auto part = library->file().root().openStream(
        catalog::streamName(catalog::StreamKind::listing, category, r.number, k));
    ASSERT_TRUE(part);
    auto all = part->readAll();
    std::string t = all.value();
    EXPECT_NE(t.find("<a1 xmlns=\"urn:CDs\" i=\"-1\"><e3>"), std::string::npos);
  }
}

TEST_F(Job, DepthLimitRecordsFoldersWithoutReadingThem) {
  makeTree(root, {"top.txt", "a/b/c/d/e.txt", "f/g.txt"});
  auto o = options();
  o.depthEntry = 1;
  auto r = add(o);
  Listing l = listing(r.number);
  ASSERT_EQ(l.entries.size(), 3u);
  for (const auto& e : l.entries) EXPECT_TRUE(e.children.empty()) << e.name;
  EXPECT_EQ(field(r.number, catalog::kDepth), "1");
  o.depthEntry = 2;
  r = add(o);
  EXPECT_EQ(field(r.number, catalog::kDepth), "2");
  o.depthEntry = 0;
  r = add(o);
  EXPECT_EQ(field(r.number, catalog::kDepth), "5");
}

TEST_F(Job, FilterKeepsOrDropsFilesAndEmptiedFoldersDisappear) {
  makeTree(root, {"a.mp3", "b.TXT", "music/c.MP3", "docs/d.txt", "docs/deeper/e.doc", "empty/"});
  auto o = options();
  o.filterOn = true;
  o.filter = " *.mp3 ";
  auto r = add(o);
  Listing l = listing(r.number);
  std::set<std::string> top;
  for (const auto& e : l.entries) top.insert(e.name);
  EXPECT_EQ(top, (std::set<std::string>{"a.mp3", "music"}));
  EXPECT_EQ(r.files, 2u);
  EXPECT_EQ(field(r.number, catalog::kFilterText), "*.mp3");
  o.exclude = true;
  r = add(o);
  l = listing(r.number);
  top.clear();
  for (const auto& e : l.entries) top.insert(e.name);
  EXPECT_EQ(top, (std::set<std::string>{"b.TXT", "docs"}));
  EXPECT_EQ(r.files, 3u);
  // Without a filter the empty folder is kept.
  r = add(options());
  EXPECT_EQ(listing(r.number).entries.size(), 5u);
}

TEST_F(Job, SubfolderRulesSkipOrSwitchOffFromAFolderOn) {
  makeTree(root, {"skip/x.txt", "keep/y.txt", "keep/skip/z.txt"});
  auto o = options();
  o.rows.push_back({(root / "skip").string(), true, false, false});
  o.rows.push_back({(root / "keep/skip").string() + "/", true, false, false});
  auto r = add(o);
  Listing l = listing(r.number);
  ASSERT_EQ(l.entries.size(), 1u);
  EXPECT_EQ(l.entries[0].name, "keep");
  ASSERT_EQ(l.entries[0].children.size(), 1u);
  EXPECT_EQ(r.folders, 1u);
  // The rules are stored relative to the root with their flags.
  auto* item = library->catalog().item(category, r.number);
  std::string text = library->catalog().text();
  EXPECT_NE(text.find("<a3><a4>skip</a4><a5>3C</a5></a3>"), std::string::npos) << text;
  EXPECT_NE(text.find("<a3><a4>keep\\skip</a4><a5>3C</a5></a3>"), std::string::npos);
  (void)item;
  // Without subfolders in the job's own flags only the root's files count.
  makeTree(root, {"root.txt"});
  auto w = walk(99, kScanAll & ~kScanSubfolders);
  EXPECT_EQ(w->result, 1u);
  EXPECT_TRUE(w->ended);
}

TEST_F(Job, HiddenFoldersBelowTheRootAreSkippedOnlyByTheFolderWalk) {
  makeTree(root, {".git/config", "sub/.cache/c.txt", "visible.txt"});
  for (bool disc : {false, true}) {
    auto w = walk(disc ? 21 : 20, kScanAll, disc);
    ASSERT_TRUE(w->ended);
    auto& cells = w->cells;
    Listing l = listing(w->ctx.listingNumber);
    std::set<std::string> names;
    for (const auto& e : l.entries) names.insert(e.name);
    EXPECT_EQ(names.count(".git"), disc ? 1u : 0u);
    EXPECT_EQ(cells.files.load(), disc ? 3u : 2u);
    // Disc walks count bytes.
    EXPECT_EQ(cells.progress.load(), disc ? cells.totalBytes.load() : 2u);
  }
}

int failOnLocked(int dirFd, const char* name) {
  if (std::string(name) == "locked") {
    errno = EACCES;
    return -1;
  }
  return openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

TEST_F(Job, UnreadableSubfolderIsRecordedEmptyAndAnUnreadableRootFails) {
  makeTree(root, {"locked/secret.txt", "open/a.txt"});
  auto w = walk(30, kScanAll, false, failOnLocked);
  ASSERT_TRUE(w->ended);
  EXPECT_EQ(w->ctx.error, kScanOk);
  ASSERT_EQ(w->scanner.unreadableFolders().size(), 1u);
  EXPECT_NE(w->scanner.unreadableFolders()[0].find("locked"), std::string::npos);
  Listing l = listing(30);
  ASSERT_EQ(l.entries.size(), 2u);
  for (const auto& e : l.entries) {
    EXPECT_TRUE(e.folder);
    EXPECT_EQ(e.children.size(), e.name == "locked" ? 0u : 1u);
  }
  EXPECT_EQ(w->cells.folders.load(), 2u);

  // The root itself cannot be read: the walk fails, the listing is ended.
  auto bad = walk(31, kScanAll, false, nullptr, root / "missing");
  EXPECT_EQ(bad->result, 0u);
  EXPECT_TRUE(bad->ended);
  EXPECT_EQ(bad->ctx.error, kScanUnreadable);
  auto job = AddFolderJob(*library, [&] {
    auto o = options();
    o.path = (root / "missing").string();
    return o;
  }());
  EXPECT_EQ(job.run().outcome, JobOutcome::failed);
}

TEST_F(Job, OddNamesLargeFilesAndOldDates) {
  std::vector<std::string> names = {"caf\xE9.txt", "a]]>b<c&d", "ctl\x01\x1F.txt", "line\nfeed",
                                    "sp ace", "\xF0\x9F\x8E\xB5.mp3"};
  for (const auto& n : names) std::ofstream(root / n) << "x";
  int fd = open((root / "huge.bin").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_EQ(ftruncate(fd, 5000000000LL), 0);
  close(fd);
  std::ofstream(root / "old.txt") << "1899";
  timespec times[2] = {{-2240524800LL - 86400 * 200, 0}, {-2240524800LL - 86400 * 200, 0}};
  bool oldDates = utimensat(AT_FDCWD, (root / "old.txt").c_str(), times, 0) == 0;
  auto r = add(options());
  Listing l = listing(r.number);
  std::map<std::string, const ListingEntry*> byName;
  for (const auto& e : l.entries) byName[e.name] = &e;
  EXPECT_TRUE(byName.count("caf\xC3\xA9.txt"));
  EXPECT_TRUE(byName.count("a]]>b<c&d"));
  EXPECT_TRUE(byName.count("ctl...txt"));
  EXPECT_TRUE(byName.count("line\nfeed"));
  EXPECT_TRUE(byName.count("\xF0\x9F\x8E\xB5.mp3"));
  ASSERT_TRUE(byName.count("huge.bin"));
  EXPECT_EQ(byName["huge.bin"]->size, 5000000000ULL);
  EXPECT_EQ(field(r.number, catalog::kCapacity), std::to_string(5000000000ULL >> 20));
  // Some file systems keep no dates before 1901 and store their earliest.
  struct stat st;
  lstat((root / "old.txt").c_str(), &st);
  if (oldDates && st.st_mtime < -2208988800LL) {
    EXPECT_EQ(byName["old.txt"]->modified, "0");
  }
  EXPECT_EQ(byName["old.txt"]->modified, fileHexTime(st.st_mtime));
}

// Files swapped between the walk's stat and the readers' open: a FIFO would
// block a plain open for good, a link would lead the readers elsewhere.
// The readers call the hook from their own threads.
std::mutex swapMutex;
std::string swapTarget;
void swapFile(const std::string& path) {
  if (path.size() < 4 || path.compare(path.size() - 4, 4, ".jpg") != 0) return;
  std::lock_guard<std::mutex> lock(swapMutex);
  swapTarget = path;
  ::unlink(path.c_str());
  if (path.find("fifo") != std::string::npos) {
    ::mkfifo(path.c_str(), 0644);
  } else {
    ::symlink("/dev/zero", path.c_str());
  }
}

TEST_F(Job, FilesSwappedBeforeTheReadersOpenThemAreNotRead) {
  for (const char* name : {"fifo.jpg", "link.jpg"}) {
    std::ofstream(root / name) << std::string(3000, 'x');
  }
  std::ofstream(root / "plain.txt") << "text";
  beforeReaderOpenHook = swapFile;
  alarm(60);  // a blocked open would otherwise hang the test run
  AddFolderJob job(*library, options());
  AddFolderResult r = job.run();
  alarm(0);
  beforeReaderOpenHook = nullptr;
  ASSERT_EQ(r.outcome, JobOutcome::done) << r.message;
  EXPECT_FALSE(swapTarget.empty());
  // The files stay recorded as the walk saw them, without what a reader
  // would have added.
  Listing l = listing(r.number);
  std::map<std::string, const ListingEntry*> byName;
  for (const auto& e : l.entries) byName[e.name] = &e;
  ASSERT_TRUE(byName.count("fifo.jpg") && byName.count("link.jpg") && byName.count("plain.txt"));
  EXPECT_EQ(byName["fifo.jpg"]->size, 3000u);
  EXPECT_EQ(byName["link.jpg"]->size, 3000u);
}

TEST_F(Job, CancelLeavesTheLibraryAsItWas) {
  for (int f = 0; f < 40; ++f) makeTree(root, numbered("d" + std::to_string(f), 100));
  auto before = streamNames();
  std::string catalogBefore = library->catalog().text();
  std::mt19937 rng(3);
  int cancelled = 0;
  for (int round = 0; round < 12; ++round) {
    AddFolderJob job(*library, options());
    // Cancel points in the first half of the 4000 files, so that the cancel
    // nearly always comes before the end even on a busy machine.
    uint32_t at = rng() % 2000;
    job.start();
    while (!job.finished() && job.counters().files.load() < at) std::this_thread::yield();
    job.cancel();
    const auto& r = job.wait();
    if (r.outcome == JobOutcome::done) {
      // It ended before the cancel: take the item out again.
      ASSERT_TRUE(library->removeItem(category, r.number));
      ASSERT_TRUE(library->catalog().loadText(catalogBefore));
      library->catalog().setModified(false);
      continue;
    }
    ++cancelled;
    EXPECT_EQ(r.outcome, JobOutcome::cancelled);
    EXPECT_EQ(library->catalog().text(), catalogBefore);
    EXPECT_EQ(streamNames(), before);
  }
  EXPECT_GE(cancelled, 3) << cancelled;
}

TEST_F(Job, UpdateKeepsTheNumberAndReplacesEveryStream) {
  auto paths = numbered("big", 1500);
  paths.push_back("pics/");
  makeTree(root, paths);
  std::system(("convert -size 640x480 xc:red '" + (root / "pics/red.jpg").string() + "'").c_str());
  auto first = add(options());
  ASSERT_EQ(first.splitParts, 1);
  ASSERT_TRUE(library->setCover(category, first.number, root / "pics/red.jpg"));
  auto second = add(options());  // another item after it
  fs::remove_all(root / "big");
  makeTree(root, {"new.txt"});
  auto o = options();
  o.update = first.number;
  o.label = "";
  o.thumbnails = false;
  auto r = add(o);
  EXPECT_EQ(r.number, first.number);
  EXPECT_EQ(field(r.number, catalog::kLabel), "Label");
  EXPECT_EQ(field(r.number, catalog::kListingParts), "");
  EXPECT_EQ(field(r.number, catalog::kFiles), "2");
  auto names = streamNames();
  auto name = [&](catalog::StreamKind k, uint16_t n, int part = 0) {
    return catalog::streamName(k, category, n, part);
  };
  EXPECT_TRUE(names.count(name(catalog::StreamKind::listing, first.number)));
  EXPECT_FALSE(names.count(name(catalog::StreamKind::listing, first.number, 1)));
  EXPECT_FALSE(names.count(name(catalog::StreamKind::thumbnails, first.number)));
  EXPECT_TRUE(names.count(name(catalog::StreamKind::cover, first.number)));
  EXPECT_TRUE(names.count(name(catalog::StreamKind::thumbnails, second.number)));
  // Nothing is left under the number the new listing was written with.
  for (const auto& n : names) {
    EXPECT_EQ(n.find("-" + std::to_string(second.number + 1)), std::string::npos) << n;
  }
  expectMatchesDisk(listing(r.number).entries, root, true);
  // The image of 640 x 480 without thumbnails: size, no offset.
  for (const auto& e : listing(r.number).entries) {
    if (e.name != "pics") continue;
    ASSERT_EQ(e.children.size(), 1u);
    EXPECT_EQ(*e.children[0].field("z"), "1E00280");
    EXPECT_EQ(e.children[0].field("y"), nullptr);
  }
  EXPECT_EQ(library->catalog().itemNumbers(category).size(), 2u);
}

TEST_F(Job, RootOfAMountCountsBytesAndTakesItsDriveKind) {
  auto mounts = currentMounts();
  auto shm = mountHolding(mounts, "/dev/shm");
  if (!shm || shm->mountPoint != "/dev/shm" || shm->fsType != "tmpfs") {
    GTEST_SKIP() << "/dev/shm is not a tmpfs mount here";
  }
  // Something in use, so that the used bytes give the total.
  std::string mine = "/dev/shm/tamber-test-" + std::to_string(getpid());
  std::ofstream(mine) << std::string(1 << 20, 'x');
  struct Remove {
    std::string path;
    ~Remove() { unlink(path.c_str()); }
  } remove{mine};
  auto o = options();
  o.path = "/dev/shm/";
  o.depthEntry = 1;
  AddFolderJob job(*library, o);
  const auto& r = job.run();
  ASSERT_EQ(r.outcome, JobOutcome::done) << r.message;
  EXPECT_TRUE(job.countsBytes());
  EXPECT_EQ(r.itemKind, 15);
  EXPECT_GT(job.counters().total.load(), 0u);
  EXPECT_EQ(field(r.number, catalog::kKind), "15");
  EXPECT_EQ(field(r.number, catalog::kLocation), "/dev/shm");
  EXPECT_EQ(field(r.number, catalog::kOriginalName), "shm");
}

TEST_F(Job, StatisticsCountWhatTheWalkWillRead) {
  makeTree(root, {"a.mp3", "b.txt", "d1/c.MP3", "d1/d2/e.mp3", ".hidden/f.mp3", "empty/"});
  std::atomic<bool> running{true};
  auto all = statisticsPass(root.string(), running);
  EXPECT_EQ(all.files, 5u);
  EXPECT_EQ(all.folders, 4u);
  auto top = statisticsPass(root.string(), running, 1);
  EXPECT_EQ(top.files, 2u);
  EXPECT_EQ(top.folders, 3u);
  FileFilter mp3;
  ASSERT_EQ(FileFilter::compile("*.mp3", mp3), FileFilter::Outcome::filter);
  auto matching = statisticsPassFiltered(root.string(), mp3, running);
  EXPECT_EQ(matching.files, 4u);
  EXPECT_EQ(matching.folders, 4u);  // the root, d1, d2 and .hidden hold one each
  running = false;
  EXPECT_EQ(statisticsPass(root.string(), running).files, 0u);
}

TEST_F(Job, TreesDeeperThanTheLimitAreCutAtLevel255) {
  fs::path deep = root;
  for (int i = 0; i < 400; ++i) deep /= "d";
  fs::create_directories(deep);
  std::ofstream(deep / "bottom.txt") << "x";
  // The walk and the count of the total each hold a descriptor per level.
  rlimit old{};
  getrlimit(RLIMIT_NOFILE, &old);
  rlimit low = old;
  low.rlim_cur = std::min<rlim_t>(old.rlim_cur, 640);
  setrlimit(RLIMIT_NOFILE, &low);
  AddFolderJob job(*library, options());
  const auto& r = job.run();
  setrlimit(RLIMIT_NOFILE, &old);
  ASSERT_EQ(r.outcome, JobOutcome::done) << r.message;
  EXPECT_TRUE(r.unreadable.empty()) << r.unreadable.front();
  EXPECT_EQ(field(r.number, catalog::kDepth), "255");
  EXPECT_EQ(r.folders, 255u);  // the folder at level 256 is recorded, not read
  EXPECT_EQ(r.files, 0u);
  EXPECT_TRUE(listing(r.number).entries.size() == 1);
}

class MediaTree : public Job {
 protected:
  void makeMedia() {
    for (auto [dir, script] : {std::pair{"music", "media/make_fixtures.sh"},
                               std::pair{"pics", "scan/make_images.sh"},
                               std::pair{"arch", "decomp/make_archives.sh"}}) {
      std::string cmd = std::string(TAMBER_TESTS_DIR) + "/" + script + " '" +
                        (root / dir).string() + "' >/dev/null 2>&1";
      ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
  }
};

void collect(const std::vector<ListingEntry>& entries, const std::string& prefix,
             std::map<std::string, const ListingEntry*>& out) {
  for (const auto& e : entries) {
    out[prefix + e.name] = &e;
    collect(e.children, prefix + e.name + "/", out);
  }
}

TEST_F(MediaTree, TagsThumbnailsAndArchiveOffsetsPointAtValidRecords) {
  makeMedia();
  // A picture under the one image extension read only with other options on.
  fs::copy_file(root / "pics/photo.jpg", root / "pics/photo.raw");
  auto r = add(options());
  Listing l = listing(r.number);
  std::map<std::string, const ListingEntry*> files;
  collect(l.entries, "", files);
  auto lib = library->file().root();
  // Tags.
  ASSERT_TRUE(files.count("music/id3v23.mp3"));
  EXPECT_EQ(*files["music/id3v23.mp3"]->field("r"), "Caf\xC3\xA9 au lait");
  EXPECT_EQ(*files["music/id3v23.mp3"]->field("p"), "44100");
  EXPECT_EQ(files["music/tone.wav"]->fields.size(), 0u);
  // Thumbnails: records chained from offset 0 (each the next's offset less
  // 4 and its length), each a JPEG or PNG.
  std::map<uint64_t, uint64_t> records;  // offset -> length
  std::set<uint64_t> offsets;
  for (const auto& [path, e] : files) {
    const std::string* y = e->field("y");
    if (!y) continue;
    uint64_t off = std::stoull(*y, nullptr, 16);
    offsets.insert(off);
    auto bytes = readRecord(lib, catalog::streamName(catalog::StreamKind::thumbnails, category,
                                                     r.number),
                            off);
    ASSERT_TRUE(bytes) << path;
    bool png = bytes->rfind("\x89PNG", 0) == 0, jpeg = bytes->rfind("\xFF\xD8", 0) == 0;
    EXPECT_TRUE(png || jpeg) << path;
    records[off] = bytes->size();
  }
  EXPECT_GT(offsets.size(), 10u);
  uint64_t expected = 0;
  for (auto [off, len] : records) {
    EXPECT_EQ(off, expected);
    expected = off + 4 + len;
  }
  EXPECT_TRUE(offsets.count(0));
  EXPECT_EQ(*files["pics/photo.jpg"]->field("a3"), "Canon");
  EXPECT_EQ(*files["pics/photo.jpg"]->field("z"), "7D00BB8");
  EXPECT_EQ(files["pics/broken.jpg"]->fields.size(), 0u);
  // Archives, self-extracting ones included.
  int archives = 0;
  for (const char* name : {"arch/t.zip", "arch/t.tar.gz", "arch/t.cab", "arch/sfx.exe"}) {
    ASSERT_TRUE(files.count(name)) << name;
    const std::string* a9 = files[name]->field("a9");
    ASSERT_NE(a9, nullptr) << name;
    auto bytes = readRecord(lib, catalog::streamName(catalog::StreamKind::archives, category,
                                                     r.number),
                            std::stoull(*a9, nullptr, 16));
    ASSERT_TRUE(bytes) << name;
    EXPECT_EQ(bytes->rfind("<?xml", 0), 0u) << name;
    EXPECT_NE(bytes->find("readme.txt"), std::string::npos) << name;
    ++archives;
  }
  EXPECT_EQ(archives, 4);
  EXPECT_EQ(files["arch/plain.exe"]->field("a9"), nullptr);

  // Options off: nothing but the records and picture sizes.
  auto o = options();
  o.thumbnails = o.tags = o.documents = o.archives = false;
  auto bare = add(o);
  std::map<std::string, const ListingEntry*> plain;
  Listing l2 = listing(bare.number);
  collect(l2.entries, "", plain);
  EXPECT_EQ(plain["music/id3v23.mp3"]->fields.size(), 0u);
  EXPECT_EQ(plain["arch/t.zip"]->fields.size(), 0u);
  EXPECT_EQ(*plain["pics/photo.jpg"]->field("z"), "7D00BB8");
  EXPECT_EQ(plain["pics/photo.jpg"]->field("y"), nullptr);
  EXPECT_EQ(plain["pics/photo.raw"]->fields.size(), 0u);
  EXPECT_NE(files["pics/photo.raw"]->field("z"), nullptr);
  EXPECT_FALSE(library->file().root().contains(
      catalog::streamName(catalog::StreamKind::thumbnails, category, bare.number)));
  // A rule without thumbnails for one folder.
  o = options();
  o.rows.push_back({(root / "pics").string(), false, true, false});
  auto ruled = add(o);
  std::map<std::string, const ListingEntry*> r3;
  Listing l3 = listing(ruled.number);
  collect(l3.entries, "", r3);
  EXPECT_EQ(r3["pics/photo.jpg"]->field("y"), nullptr);
  EXPECT_NE(r3["arch/t.zip"]->field("a9"), nullptr);
}

}  // namespace
}  // namespace tamber::scan
