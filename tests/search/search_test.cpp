// The search over a real library: what it tells a caller as it goes adds up
// to its answer, and a stopped search ends early.

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <set>

#include "catalog/library.h"
#include "scan/add_folder_job.h"
#include "search/search.h"
#include "tests/temp_dir.h"

namespace tamber::search {
namespace {

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
    for (const char* label : {"First", "Second", "Third"}) {
      auto cat = library->catalog().addCategory({}, "Discs", "").value();
      scan::AddFolderOptions o;
      o.path = tree.string();
      o.label = label;
      o.category = {cat};
      scan::AddFolderJob job(*library, o);
      ASSERT_EQ(job.run().outcome, scan::JobOutcome::done);
    }
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

}  // namespace
}  // namespace tamber::search
