// The walk over an item's archive listing, which search, the name index
// and the shared catalogue share: each member with its archive, and damage
// named rather than read past.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scan/archive_records.h"

namespace tamber::scan {
namespace {

std::string record(const std::string& description) {
  std::string out;
  for (int i = 0; i < 4; ++i) out += static_cast<char>(description.size() >> (8 * i));
  return out + description;
}

struct Seen {
  std::vector<size_t> records;
  std::vector<std::string> members;  // archive|name|folder
};

bool walked(const std::string& stream, Seen& seen, std::string& error) {
  ArchiveWalk walk;
  std::string archive;
  walk.record = [&](size_t at) { seen.records.push_back(at); };
  walk.archive = [&](const std::string& path) { archive = path; };
  walk.member = [&](const ListingScanner& m, bool folder) {
    std::string name;
    m.attribute("name", name);
    seen.members.push_back(archive + "|" + name + (folder ? "|folder" : ""));
  };
  return walkArchiveRecords(stream, walk, error);
}

TEST(ArchiveRecords, MembersComeWithTheirArchiveAndDamageIsNamed) {
  const std::string first = record("<a><path>/media/stick/docs/pack.zip</path><file name=\"a.txt\" size=\"3\"/>"
                                   "<folder name=\"sub/\"/><file name=\"sub/b.txt\"/></a>");
  const std::string second = record("<a><path>/media/stick/old.tar</path><file name=\"c\"/></a>");
  Seen seen;
  std::string error;
  // A record whose description names no path does not take the one before.
  const std::string third = record("<a><file name=\"d\"/></a>");
  ASSERT_TRUE(walked(first + second + third, seen, error)) << error;
  EXPECT_EQ(seen.records, (std::vector<size_t>{0, first.size(), first.size() + second.size()}));
  EXPECT_EQ(seen.members, (std::vector<std::string>{"/media/stick/docs/pack.zip|a.txt",
                                                    "/media/stick/docs/pack.zip|sub/|folder",
                                                    "/media/stick/docs/pack.zip|sub/b.txt", "/media/stick/old.tar|c",
                                                    "|d"}));
  // An empty listing holds nothing, and says nothing is wrong.
  Seen none;
  EXPECT_TRUE(walked("", none, error));
  EXPECT_TRUE(none.members.empty());

  // A length past the end, bytes after the last record, a damaged
  // description: each named, and nothing read past it.
  Seen cut;
  EXPECT_FALSE(walked(first + second.substr(0, second.size() - 1), cut, error));
  EXPECT_EQ(error, "the archive listing is damaged: a record runs past its end");
  EXPECT_EQ(cut.members.size(), 3u);
  EXPECT_FALSE(walked(first + "xy", cut, error));
  EXPECT_EQ(error, "the archive listing is damaged: it ends inside a record");
  Seen entity;
  EXPECT_FALSE(walked(record("<a><path>&ext;</path><file name=\"x\"/></a>"), entity, error));
  EXPECT_EQ(error.rfind("the archive listing is damaged: ", 0), 0u) << error;
  // The scanner's own words follow whole (a reason without a colon lost
  // its first letter).
  EXPECT_EQ(error.find("damaged: the listing is damaged"), std::string::npos) << error;
  EXPECT_TRUE(entity.members.empty());
}

TEST(ArchiveRecords, PathsAreMadeRelativeToTheItemsRootOnlyBelowIt) {
  EXPECT_EQ(pathBelowRoot("/media/stick/docs/pack.zip", "/media/stick"), "docs/pack.zip");
  EXPECT_EQ(pathBelowRoot("/media/stick/docs/pack.zip", "/media/stick///"), "docs/pack.zip");
  EXPECT_EQ(pathBelowRoot("/media/sticky/pack.zip", "/media/stick"), "/media/sticky/pack.zip");
  EXPECT_EQ(pathBelowRoot("/pack.zip", "/"), "pack.zip");
  EXPECT_EQ(pathBelowRoot("/media/stick", "/media/stick"), "/media/stick");
  EXPECT_EQ(pathBelowRoot("docs/pack.zip", ""), "docs/pack.zip");
}

}  // namespace
}  // namespace tamber::scan
