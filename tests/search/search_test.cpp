// The search over a real library: what it tells a caller as it goes adds up
// to its answer, and a stopped search ends early.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>
#include <mutex>
#include <set>

#include "catalog/library.h"
#include "scan/add_folder_job.h"
#include "search/search.h"
#include "tests/temp_dir.h"

namespace tamber::search {
namespace {

// Catalogues `tree` as the folder `label` in a new category of `category`.
void catalogue(catalog::Library& library, const char* category, const char* label, const std::filesystem::path& tree) {
  auto cat = library.catalog().addCategory({}, category, "").value();
  scan::AddFolderOptions o;
  o.path = tree.string();
  o.label = label;
  o.category = {cat};
  scan::AddFolderJob job(library, o);
  ASSERT_EQ(job.run().outcome, scan::JobOutcome::done);
}

class Search : public ::testing::Test {
 protected:
  void SetUp() override {
    auto tree = tmp.path / "tree";
    for (int f = 0; f < 12; ++f) {
      auto folder = tree / ("set" + std::to_string(f));
      std::filesystem::create_directories(folder);
      for (int i = 0; i < 150; ++i) std::ofstream(folder / ("photo_" + std::to_string(i) + ".jpg")) << i;
    }
    library = catalog::Library::create(tmp.path / "lib.cds").value();
    for (const char* label : {"First", "Second", "Third"}) catalogue(*library, "Discs", label, tree);
  }
  test_support::TempDir tmp;
  std::unique_ptr<catalog::Library> library;
};

TEST_F(Search, WhatItTellsAsItGoesAddsUpToItsAnswer) {
  SearchCriteria c;
  c.pattern = prepareSearchText("photo_1", false);
  std::mutex m;
  std::multiset<std::string> told;
  int calls = 0;
  auto r = runSearch(*library, c, 4, [&](const std::vector<SearchHit>& hits, const std::vector<SearchItem>& items) {
    std::lock_guard<std::mutex> g(m);
    ++calls;
    for (const auto& h : hits) told.insert(items[h.item].path + "|" + h.path);
  });
  ASSERT_TRUE(r) << r.message();
  std::multiset<std::string> answer;
  for (const auto& h : r->hits) answer.insert(r->items[h.item].path + "|" + h.path);
  EXPECT_EQ(told, answer);
  EXPECT_EQ(answer.size(), 3u * 12 * 61);  // photo_1, photo_10-19, photo_100-149 in 12 folders of 3 items
  EXPECT_GE(calls, 3);  // a listing at a time (each item here has one), not once at the end
}

TEST_F(Search, AStoppedSearchEndsEarly) {
  SearchCriteria c;
  c.pattern = prepareSearchText("photo", false);
  std::atomic<bool> stop{true};
  auto r = runSearch(*library, c, 2, {}, &stop);
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->hits.empty());
  stop = false;
  EXPECT_EQ(runSearch(*library, c, 2, {}, &stop)->hits.size(), 3u * 12 * 150);
}


// Handed over as found: the same rows in the same order from one worker or
// many, and however slowly the caller takes them, what waits stays near the
// bound instead of growing with the answer (three items of 20,000 hits).
TEST(SearchInOrder, WhatWaitsStaysBoundedAndTheOrderIsOne) {
  test_support::TempDir tmp;
  auto tree = tmp.path / "tree";
  for (int f = 0; f < 40; ++f) {
    auto folder = tree / ("Folder " + std::to_string(f));
    std::filesystem::create_directories(folder);
    for (int i = 0; i < 500; ++i) std::ofstream(folder / ("a fairly long file name " + std::to_string(i) + ".dat"));
  }
  auto library = catalog::Library::create(tmp.path / "lib.cds").value();
  for (const char* label : {"One", "Two", "Three"}) catalogue(*library, label, label, tree);
  SearchCriteria c;
  c.pattern = prepareSearchText("name", false);
  auto rows = [&](int workers, bool slow, size_t& most) {
    std::vector<std::string> out;
    SearchOptions o;
    o.workers = workers;
    o.maxWaiting = 1000;
    o.ordered = [&](const SearchItem& item, std::vector<SearchHit>& hits) {
      if (slow) std::this_thread::sleep_for(std::chrono::milliseconds(2));
      for (const auto& h : hits) out.push_back(item.path + "|" + h.path);
      return true;
    };
    auto r = runSearch(*library, c, o);
    EXPECT_TRUE(r && r->handedOverWhole && r->hits.empty());
    most = r ? r->mostWaiting : 0;
    return out;
  };
  size_t mostOne = 0, mostMany = 0;
  auto one = rows(1, false, mostOne), many = rows(4, true, mostMany);
  ASSERT_EQ(one.size(), 60000u);
  EXPECT_EQ(one, many);
  // Items in order, a folder's entries together, the folders in name order.
  EXPECT_EQ(one.front(), "One/One|Folder 0\\a fairly long file name 0.dat");
  EXPECT_EQ(one.back(), "Two/Two|Folder 9\\a fairly long file name 99.dat");
  // Four workers may each add a piece of listing past the bound; held
  // whole, two items would wait (40,000).
  EXPECT_LT(mostMany, 1000u + 4 * 6000);
  EXPECT_GT(mostMany, 0u);

  // A caller that says stop ends the search at once.
  SearchOptions o;
  o.workers = 4;
  long long told = 0;
  o.ordered = [&](const SearchItem&, std::vector<SearchHit>& hits) {
    told += static_cast<long long>(hits.size());
    return false;
  };
  auto r = runSearch(*library, c, o);
  ASSERT_TRUE(r);
  EXPECT_FALSE(r->handedOverWhole);
  EXPECT_LT(told, 20000);
}

}  // namespace
}  // namespace tamber::search
