// The name index: a search that uses it finds exactly the rows, in exactly
// the order, of one that reads every listing, whatever the pattern, the
// letter case, the tree or the archive members; an index that no longer
// matches its listings, or is damaged, is never trusted.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "catalog/library.h"
#include "scan/add_folder_job.h"
#include "search/name_index.h"
#include "search/search.h"
#include "tests/run_command.h"
#include "tests/temp_dir.h"

namespace tamber::search {
namespace {

namespace fs = std::filesystem;

void catalogue(catalog::Library& library, const std::string& label, const fs::path& tree) {
  auto cat = library.catalog().addCategory({}, "Set " + label, "").value();
  scan::AddFolderOptions o;
  o.path = tree.string();
  o.label = label;
  o.category = {cat};
  scan::AddFolderJob job(library, o);
  ASSERT_EQ(job.run().outcome, scan::JobOutcome::done);
  ASSERT_TRUE(library.save());
}

// Pieces of names: words in both cases, characters whose case folds oddly
// (the dotted capital I, the Kelvin sign, the sharp s), other scripts.
const char* const kPieces[] = {"photo", "Photo", "PHOTO", "track", "Mix",  "été",  "ÉTÉ",   "İstanbul", "ıi",
                               "\xE2\x84\xAA" "elvin", "kelvin", "straße", "日本語", "写真", "Ελλάδα", "привет",
                               "a.b", "x y", "v2", "_", "-", "0", "42", "café", "CAFÉ", "readme", "ReadMe"};

std::string randomName(std::mt19937& rnd) {
  std::string n;
  int parts = 1 + static_cast<int>(rnd() % 3);
  for (int i = 0; i < parts; ++i) n += kPieces[rnd() % std::size(kPieces)];
  n += std::to_string(rnd() % 1000);
  if (rnd() % 3 == 0) n += rnd() % 2 ? ".txt" : ".JPG";
  return n;
}

struct Tree {
  std::vector<std::string> names;  // every name written, for patterns
};

// Folders up to six deep, about `files` files, one folder of 1,100 entries
// (its entries go to a listing part of their own), and a zip archive.
void makeTree(const fs::path& root, unsigned seed, int files, Tree& t) {
  std::mt19937 rnd(seed);
  std::vector<fs::path> folders{root};
  fs::create_directories(root);
  for (int i = 0; i < files / 12; ++i) {
    fs::path parent = folders[rnd() % folders.size()];
    if (std::distance(root.begin(), root.end()) + 6 < std::distance(parent.begin(), parent.end())) parent = root;
    std::string name = randomName(rnd);
    if (fs::exists(parent / name)) continue;
    fs::create_directory(parent / name);
    folders.push_back(parent / name);
    t.names.push_back(name);
  }
  for (int i = 0; i < files; ++i) {
    std::string name = randomName(rnd);
    fs::path at = folders[rnd() % folders.size()] / name;
    if (fs::exists(at)) continue;
    std::ofstream(at) << name;
    t.names.push_back(name);
  }
  fs::create_directories(root / "Big");
  for (int i = 0; i < 1100; ++i) std::ofstream(root / "Big" / ("entry " + std::to_string(i) + ".dat"));
  t.names.push_back("entry 1099.dat");
  fs::create_directories(root / "packed");
  std::string members;
  for (int i = 0; i < 40; ++i) {
    std::string name = randomName(rnd);
    std::ofstream(root / "packed" / name) << i;
    t.names.push_back(name);
  }
  auto r = test_support::runCommand("cd '" + (root / "packed").string() + "' && zip -q -r ../bundle.zip . && cd .. && rm -r packed");
  ASSERT_EQ(r.status, 0) << r.out;
}

std::vector<std::string> rows(catalog::Library& library, const SearchCriteria& c, bool index, int workers,
                              bool* used = nullptr, std::vector<std::string>* problems = nullptr) {
  std::vector<std::string> out;
  SearchOptions o;
  o.workers = workers;
  o.useIndex = index;
  o.ordered = [&](const SearchItem& item, std::vector<SearchHit>& hits) {
    for (const auto& h : hits) {
      out.push_back(item.path + "|" + h.path + "|" + h.field + "|" + h.text + "|" + std::to_string(h.part) + "|" +
                    std::to_string(static_cast<int>(h.kind)) + "|" + std::to_string(h.size));
    }
    return true;
  };
  auto r = runSearch(library, c, o);
  EXPECT_TRUE(r) << r.message();
  if (!r) return out;
  EXPECT_TRUE(r->damaged.empty());
  if (used) *used = r->usedIndex;
  if (problems) *problems = r->indexProblems;
  return out;
}

// A piece of a name cut on character boundaries, its ASCII letters' case
// shuffled, now and then a wildcard in it.
std::string patternFrom(const std::string& name, std::mt19937& rnd) {
  std::vector<size_t> starts;
  for (size_t i = 0; i < name.size(); ++i) {
    if ((static_cast<unsigned char>(name[i]) & 0xC0) != 0x80) starts.push_back(i);
  }
  starts.push_back(name.size());
  size_t a = rnd() % (starts.size() - 1);
  size_t b = a + 1 + rnd() % std::min<size_t>(6, starts.size() - 1 - a);
  std::string p = name.substr(starts[a], starts[b] - starts[a]);
  for (auto& ch : p) {
    if (std::isalpha(static_cast<unsigned char>(ch)) && rnd() % 4 == 0) ch ^= 0x20;
  }
  if (rnd() % 8 == 0 && p.size() > 2) {
    size_t at = rnd() % p.size();
    while (at > 0 && (static_cast<unsigned char>(p[at]) & 0xC0) == 0x80) --at;  // between characters
    p.insert(at, 1, "*?"[rnd() % 2]);
  }
  return p;
}

class NameIndex : public ::testing::Test {
 protected:
  void SetUp() override { installNameIndex(); }
  void TearDown() override { catalog::Library::setBeforeSave(nullptr); }
  test_support::TempDir tmp;
};

TEST_F(NameIndex, FindsTheSameRowsInTheSameOrderAsReadingEveryListing) {
  Tree t;
  makeTree(tmp.path / "one", 1, 2600, t);
  makeTree(tmp.path / "two", 2, 1200, t);
  auto library = catalog::Library::create(tmp.path / "lib.cds").value();
  catalogue(*library, "One", tmp.path / "one");
  catalogue(*library, "Two", tmp.path / "two");
  catalogue(*library, "Again", tmp.path / "one");
  library.reset();
  library = catalog::Library::open(tmp.path / "lib.cds", true).value();
  auto report = inspectNameIndex(*library, true);
  ASSERT_TRUE(report.current && report.problems.empty()) << (report.problems.empty() ? "" : report.problems[0]);
  ASSERT_EQ(report.itemsIndexed, 3);
  // The listings are long enough to be cut into blocks, so that the search
  // resumes inside them.
  auto nix = library->file().root().openStream(indexStreamName({1}, 1)).value().readAll().value();
  auto index = ItemIndex::fromBytes(nix).value();
  ASSERT_NE(index.unit(0), nullptr);
  ASSERT_NE(index.unit(1), nullptr);  // the folder of 1,100 entries
  ASSERT_NE(index.unit(-1), nullptr);
  EXPECT_GT(index.unit(0)->blockStart.size(), 3u);

  std::mt19937 rnd(99);
  int usedCount = 0, withHits = 0, regexUsed = 0;
  const int kPatterns = 700;
  for (int i = 0; i < kPatterns; ++i) {
    SearchCriteria c;
    std::string typed = rnd() % 10 == 0 ? std::string(kPieces[rnd() % std::size(kPieces)]) + "zq"
                                        : patternFrom(t.names[rnd() % t.names.size()], rnd);
    c.caseSensitive = rnd() % 3 == 0;
    c.wholeText = rnd() % 12 == 0;
    if (c.wholeText) typed = t.names[rnd() % t.names.size()];
    c.anchored = !c.wholeText && rnd() % 8 == 0;
    c.searchArchives = rnd() % 5 != 0;
    if (rnd() % 4 == 0) c.kinds = static_cast<uint16_t>(1 + rnd() % kAllKinds);
    if (rnd() % 10 == 0) {
      c.useSizeRange = true;
      c.maxSizeKB = 1;
      c.maxGiven = true;
    }
    if (rnd() % 6 == 0) {
      // A regular expression made of the piece: its specials escaped, then
      // a wildcard, a digit class, an optional letter, a group or an
      // alternative put in.
      std::string re;
      for (char ch : typed) {
        if (std::string_view("\\^$.|?*+()[]{}").find(ch) != std::string_view::npos) re += '\\';
        re += ch;
      }
      size_t at = re.empty() ? 0 : rnd() % re.size();
      while (at > 0 && (re[at - 1] == '\\' || (static_cast<unsigned char>(re[at]) & 0xC0) == 0x80)) --at;
      const char* inserts[] = {".", "\\d*", "x?", "(ab)?", "|zz", ".*", "[a-z]?", ""};
      re.insert(at, inserts[rnd() % std::size(inserts)]);
      typed = re;
      c.regex = true;
      c.anchored = false;
    }
    c.pattern = prepareSearchText(typed, c.wholeText || c.regex);
    bool used = false;
    auto with = rows(*library, c, true, 1 + i % 4, &used);
    auto without = rows(*library, c, false, 2);
    ASSERT_EQ(with, without) << "pattern \"" << c.pattern << "\" case " << c.caseSensitive << " whole "
                             << c.wholeText << " kinds " << c.kinds;
    usedCount += used;
    regexUsed += used && c.regex;
    withHits += !with.empty();
  }
  // Most patterns have a run of three bytes the index can answer for, and
  // most are found.
  EXPECT_GT(usedCount, kPatterns / 3);
  EXPECT_GT(withHits, kPatterns / 2);
  EXPECT_GT(regexUsed, kPatterns / 30);  // regular expressions with a text they must hold

  // The listing part and the archive members are found through the index.
  SearchCriteria c;
  c.pattern = prepareSearchText("entry 1099", false);
  bool used = false;
  auto found = rows(*library, c, true, 3, &used);
  EXPECT_TRUE(used);
  EXPECT_EQ(found.size(), 3u);  // in every item
  c.pattern = prepareSearchText("\xE2\x84\xAA" "ELVIN", false);  // the Kelvin sign folds to k
  EXPECT_EQ(rows(*library, c, true, 2), rows(*library, c, false, 2));
}

TEST_F(NameIndex, AnIndexThatNoLongerMatchesItsListingsIsNeverTrusted) {
  Tree t;
  makeTree(tmp.path / "one", 5, 400, t);
  fs::create_directories(tmp.path / "later");
  std::ofstream(tmp.path / "later" / "unmistakable-name.txt") << "x";
  auto library = catalog::Library::create(tmp.path / "lib.cds").value();
  catalogue(*library, "One", tmp.path / "one");
  SearchCriteria c;
  c.pattern = prepareSearchText("unmistakable", false);
  bool used = false;
  EXPECT_TRUE(rows(*library, c, true, 2, &used).empty());
  EXPECT_TRUE(used);

  // A writer that does not keep the index (an older release) adds an item:
  // the stamp goes, and the new name is still found.
  catalog::Library::setBeforeSave(nullptr);
  catalogue(*library, "Later", tmp.path / "later");
  EXPECT_FALSE(library->file().root().contains(kNameIndexHead));
  EXPECT_EQ(rows(*library, c, true, 2, &used).size(), 1u);
  EXPECT_FALSE(used);
  EXPECT_FALSE(inspectNameIndex(*library, false).current);

  // The next save that keeps it makes the missing item's index only.
  installNameIndex();
  auto layoutOf = [&](const std::string& name) {
    auto s = library->file().root().openStream(name);
    return s ? layoutHash(s->layout().value()) : 0;
  };
  const std::string first = indexStreamName({1}, 1);
  uint64_t before = layoutOf(first);
  ASSERT_NE(before, 0u);
  library->catalog().setModified();
  ASSERT_TRUE(library->save());
  EXPECT_EQ(layoutOf(first), before);
  EXPECT_EQ(rows(*library, c, true, 2, &used).size(), 1u);
  EXPECT_TRUE(used);
  auto report = inspectNameIndex(*library, true);
  EXPECT_TRUE(report.current && report.problems.empty());
  EXPECT_EQ(report.itemsIndexed, 2);

  // Removing an item removes its index; the rest stays current.
  ASSERT_TRUE(library->removeItem({2}, 1));
  ASSERT_TRUE(library->save());
  EXPECT_FALSE(library->file().root().contains(indexStreamName({2}, 1)));
  EXPECT_TRUE(rows(*library, c, true, 2, &used).empty());
  EXPECT_TRUE(used);
}

TEST_F(NameIndex, ADamagedOrHostileIndexIsNamedAndTheListingsAreReadInstead) {
  Tree t;
  makeTree(tmp.path / "one", 7, 1500, t);
  auto library = catalog::Library::create(tmp.path / "lib.cds").value();
  catalogue(*library, "One", tmp.path / "one");
  SearchCriteria c;
  c.pattern = prepareSearchText("photo", false);
  const auto truth = rows(*library, c, false, 2);
  ASSERT_FALSE(truth.empty());
  const std::string name = indexStreamName({1}, 1);
  const std::string good = library->file().root().openStream(name).value().readAll().value();
  auto put = [&](const std::string& bytes) {
    auto s = library->file().root().createStream(name).value();
    ASSERT_TRUE(s.write(bytes));
    ASSERT_TRUE(s.commit());
    ASSERT_TRUE(library->file().commit());  // not a save: the stamp stays
  };
  auto set32 = [](std::string& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<char>(v >> (8 * i));
  };
  // What is wrong, the bytes, and whether this search reads the damage
  // (a posting list of other trigrams is found by a check).
  struct Case {
    std::string what, bytes;
    bool searchSees = true;
  };
  std::vector<Case> cases;
  cases.push_back({"truncated", good.substr(0, 20)});
  cases.push_back({"cut in a unit", good.substr(0, good.size() / 2)});
  std::string huge = good;
  set32(huge, 4, 0xFFFFFFF0u);  // a unit count no stream holds
  cases.push_back({"a huge unit count", huge});
  std::string flipped = good;
  flipped[36 + 36 + 20] ^= 0x5A;  // inside the first blocks
  cases.push_back({"a flipped byte in the tables", flipped});
  std::string lists = good;
  lists[lists.size() - 3] ^= 0x11;  // inside the posting lists
  cases.push_back({"a flipped byte in the posting lists", lists, false});
  // Every block's state damaged: the states a search reads ahead, many in
  // one read, are each checked as they are taken.
  std::string states = good;
  auto get32 = [&](size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(good[at + i]);
    return v;
  };
  const uint64_t trigrams = get32(12);
  const uint64_t statesAt = 36 + uint64_t{get32(4)} * 36 + uint64_t{get32(8)} * 16 + (trigrams + 63) / 64 * 12 +
                            trigrams * 12;
  ASSERT_LT(statesAt + get32(16), good.size());
  for (uint64_t at = statesAt; at < statesAt + get32(16); at += 7) states[at] ^= 0x24;
  cases.push_back({"every block's state damaged", states});
  cases.push_back({"not an index", std::string(good.size(), 'x')});
  for (const auto& k : cases) {
    put(k.bytes);
    std::vector<std::string> problems;
    bool used = false;
    EXPECT_EQ(rows(*library, c, true, 2, &used, &problems), truth) << k.what;
    EXPECT_TRUE(used) << k.what;
    if (k.searchSees) {
      EXPECT_FALSE(problems.empty()) << k.what;
    }
    EXPECT_FALSE(inspectNameIndex(*library, true).damage.empty()) << k.what;
  }
  // Any listing bytes make an index that reads back, or are refused.
  std::mt19937 rnd(3);
  for (int i = 0; i < 200; ++i) {
    std::string junk = "<?xml version=\"1.0\"?><a1><a><c>x</c><b><c>" + std::to_string(rnd()) + "</c></b></a></a1>";
    junk.resize(junk.size() - rnd() % 20);
    auto made = indexListingBytes(junk, 0, false);
    if (!made) continue;
    auto back = ItemIndex::fromBytes(*made);
    ASSERT_TRUE(back) << back.message();
    ASSERT_EQ(back->units().size(), 1u);
  }
}

TEST(NameIndexRegex, OnlyATextEveryMatchMustHoldIsAskedFor) {
  EXPECT_EQ(requiredRegexLiteral("^IMG_\\d{4}\\.jpe?g$", true), "IMG_");
  EXPECT_EQ(requiredRegexLiteral("report[0-9]+ final", true), "report");
  EXPECT_EQ(requiredRegexLiteral("ab+cdef", true), "cdef");
  EXPECT_EQ(requiredRegexLiteral("x(optional)?yz", true), "yz");
  EXPECT_EQ(requiredRegexLiteral("colou?r", true), "colo");
  EXPECT_EQ(requiredRegexLiteral("a{0,2}bcd{2}", true), "bcd");
  EXPECT_EQ(requiredRegexLiteral("été\\.txt", true), "été.txt");
  EXPECT_EQ(requiredRegexLiteral("été\\.txt", false), ".txt");     // without case: ASCII only
  EXPECT_EQ(requiredRegexLiteral("classic", false), "cla");        // the long s folds to s
  EXPECT_EQ(requiredRegexLiteral("one|two", true), "");            // alternatives
  EXPECT_EQ(requiredRegexLiteral("(?i)abc", true), "");            // inline options
  EXPECT_EQ(requiredRegexLiteral("\\x{41}bcd", true), "");         // escapes with arguments
  EXPECT_EQ(requiredRegexLiteral("[]abc]def", true), "def");
  EXPECT_EQ(requiredRegexLiteral("abc[", true), "");
}

TEST(NameIndexTrigrams, FoldTheTextsAsTheMatcherDoes) {
  auto index = ItemIndex::fromBytes(
      indexListingBytes("<a1><b><c>İSTANBUL \xE2\x84\xAA" "ELVIN</c></b><b><c>Straße</c></b></a1>", 0, false).value());
  ASSERT_TRUE(index);
  ASSERT_NE(index->unit(0), nullptr);
  auto has = [&](const char* literal) { return !index->blocksWith(literalTrigrams(literal)).value().empty(); };
  EXPECT_TRUE(has("istanbul"));  // the dotted capital I is an i without case
  EXPECT_TRUE(has("kelvin"));
  EXPECT_TRUE(has("STRAßE"));
  EXPECT_TRUE(has("İSTAN"));
  EXPECT_FALSE(has("istanbus"));
  EXPECT_TRUE(literalTrigrams("ab").empty());
}

}  // namespace
}  // namespace tamber::search
