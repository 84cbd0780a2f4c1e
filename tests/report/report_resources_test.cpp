// The report's resource documents as the program loads them, and the text
// rules of the format saver.
#include <gtest/gtest.h>

#include <fstream>

#include "app/symbol_codec.h"
#include "report/report.h"
#include "report/report_data.h"
#include "report/rtf_saver.h"
#include "tests/temp_dir.h"

namespace {

using namespace tamber::report;

TEST(ReportResources, DecodedFromSymbolsAndMissingOnesSaySo) {
  tamber::test_support::TempDir dir;
  std::ofstream(dir.path / "189.res") << tamber::app::encodeSymbols("<ReportFields/>") << "\n";
  std::ofstream(dir.path / "188.res") << "Q";  // shorter than 2 symbols: nothing
  std::ofstream(dir.path / "187.res") << "**";  // not symbols
  auto fields = loadReportResource(kReportFields, dir.path);
  ASSERT_TRUE(fields);
  EXPECT_EQ(*fields, "<ReportFields/>");
  auto empty = loadReportResource(kExportStylesheet, dir.path);
  ASSERT_TRUE(empty);
  EXPECT_TRUE(empty->empty());
  auto missing = loadReportResource(kRtfStylesheet, dir.path);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.message(), "Invalid xsl file!");
  EXPECT_FALSE(loadReportResource(kReportStylesheet, dir.path));
  // A reporter without its documents does not open; the built ones do.
  EXPECT_FALSE(Reporter::open({}, dir.path));
  EXPECT_TRUE(Reporter::open());
}

TEST(ReportResources, RtfTextAndCoverReferences) {
  EXPECT_EQ(RtfSaver::escape("a{b}\\c"), "a\\{b\\}\\\\c");
  EXPECT_EQ(RtfSaver::escape("Été"), "\\u201\\'c9t\\u233\\'e9");
  EXPECT_EQ(RtfSaver::escape("€"), "\\u8364?");
  EXPECT_EQ(RtfSaver::escape("日"), "\\u26085?");
  EXPECT_EQ(RtfSaver::escape("\xF0\x9F\x8E\xB5"), "\\u-10180?\\u-8267?");  // a surrogate pair, signed
  EXPECT_EQ(RtfSaver::escape("line\nnext"), "line\\line next");
  std::string stream;
  EXPECT_TRUE(coverStreamOf("tamber://pointer=|12|stream=|img1-5|", stream));
  EXPECT_EQ(stream, "img1-5");
  EXPECT_TRUE(coverStreamOf("tamber://pointer=%7C12%7Cstream=%7Cimg2%7C", stream));
  EXPECT_EQ(stream, "img2");
  EXPECT_FALSE(coverStreamOf("http://x/stream=|img1|", stream));
  EXPECT_FALSE(coverStreamOf("tamber://pointer=|1|stream=||", stream));
  EXPECT_EQ(dateNumber(2003, 5, 12), (5 + 2003 * 12) * 31 + 12);
  EXPECT_EQ(timeNumber(14, 30, 5), (14 * 60 + 30) * 60 + 5);
}

}  // namespace
