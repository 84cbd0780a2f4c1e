// The report's choices: levels and fields shown, sort keys from the "srt"
// numbers, the sort-key tables, and the stylesheet edited with them.
#include <gtest/gtest.h>

#include <string>

#include "platform/xml.h"
#include "report/report_choices.h"

namespace {

using namespace tamber::report;
using tamber::xml::Doc;

Doc parse(const std::string& text) {
  return Doc(xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, "UTF-8", XML_PARSE_NONET));
}

Doc resourceFields() {
  Doc d(xmlReadFile((std::string(TAMBER_RESOURCES) + "/reports/report_fields.xml").c_str(), nullptr,
                    XML_PARSE_NONET));
  EXPECT_TRUE(d);
  return d;
}

// The sort elements under the first apply-templates of `level`, as
// "select:type" strings.
std::vector<std::string> sorts(xmlDoc* stylesheet, const char* level) {
  std::vector<std::string> out;
  for (xmlNode* n = xmlDocGetRootElement(stylesheet)->children; n; n = n->next) {
    if (n->type != XML_ELEMENT_NODE) continue;
    for (xmlNode* a = n->children; a; a = a->next) {
      if (a->type != XML_ELEMENT_NODE) continue;
      tamber::xml::String select(xmlGetProp(a, tamber::xml::u("select")));
      if (!select || std::string(tamber::xml::c(select.get())) != level) continue;
      for (xmlNode* s = a->children; s; s = s->next) {
        if (s->type != XML_ELEMENT_NODE || std::string(tamber::xml::c(s->name)) != "sort") continue;
        tamber::xml::String sel(xmlGetProp(s, tamber::xml::u("select")));
        tamber::xml::String type(xmlGetProp(s, tamber::xml::u("data-type")));
        out.push_back(std::string(tamber::xml::c(sel.get())) + ":" + (type ? tamber::xml::c(type.get()) : ""));
      }
      return out;
    }
  }
  return out;
}

const char* kStylesheet = R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:template match="report">
    <xsl:apply-templates select="category"><xsl:sort select="old"/><xsl:with-param name="p" select="1"/></xsl:apply-templates>
  </xsl:template>
  <xsl:template match="category">
    <xsl:apply-templates select="file-structure"/>
  </xsl:template>
</xsl:stylesheet>)";

TEST(ReportChoices, TheResourceDocumentListsEveryLevelAndField) {
  Doc fields = resourceFields();
  auto lists = fieldLists(fields.get());
  ASSERT_EQ(lists.size(), 7u);
  EXPECT_EQ(lists[0], (std::vector<std::string>{"category", "file-structure", "audio-details", "summary"}));
  EXPECT_EQ(lists[1].front(), "name");
  EXPECT_EQ(lists[1][1], "creation-date");
  EXPECT_EQ(lists[3][2], "modification-date");
  EXPECT_EQ(lists[5].size(), 6u);  // the track fields
  // Every sortable position of the tables names the field the table sorts.
  EXPECT_EQ(std::string(sortElements(Level::fileItems, 1)[0].select), "file-size");
  EXPECT_EQ(lists[3][1], "file-size");
  EXPECT_EQ(lists[4][7], "catalog-number");
  EXPECT_EQ(std::string(sortElements(Level::audioDetails, 7)[0].select), "catalog-number");
  // The defaults: categories and discs by name, files by name.
  Doc d = resourceFields();
  EXPECT_EQ(readChoice(d.get(), Level::category).sortKeys, (std::vector<int>{0}));
  EXPECT_EQ(readChoice(d.get(), Level::fileItems).sortKeys, (std::vector<int>{0}));
  EXPECT_TRUE(readChoice(d.get(), Level::summary).shown);
}

TEST(ReportChoices, SortKeysFollowTheSortNumbers) {
  Doc d = parse(R"(<ReportFields>
    <level sel="1" srt="1"><n>category</n>
      <level sel="1" srt="1"><n>name</n></level><level sel="0" srt="0"><n>creation-date</n></level>
      <level sel="1" srt="0"><n>cddvd-number</n></level><level sel="1" srt="2"><n>audio-tracks</n></level>
    </level>
    <level sel="1" srt="0"><n>file-structure</n>
      <level sel="1" srt="1"><n>cd-name</n></level><level sel="1" srt="2"><n>media-type</n></level>
      <level sel="1" srt="1"><n>file-items</n><level sel="1" srt="1"><n>file-name</n></level></level>
    </level>
    <level sel="0" srt="1"><n>audio-details</n><level sel="1" srt="1"><n>album</n></level></level>
  </ReportFields>)");
  // Fields with srt 2 (position 3) and 1 (position 0) under a sorted level.
  LevelChoice c = readChoice(d.get(), Level::category);
  EXPECT_TRUE(c.shown);
  EXPECT_EQ(c.sortKeys, (std::vector<int>{0, 3}));
  EXPECT_EQ(c.fieldMask, 0b1101u);
  // The same numbers under a level whose own srt is 0: no keys.
  c = readChoice(d.get(), Level::fileStructure);
  EXPECT_TRUE(c.sortKeys.empty());
  EXPECT_EQ(c.fieldMask & 0b111u, 0b111u);
  // A sub-level is found under its parent.
  EXPECT_EQ(readChoice(d.get(), Level::fileItems).sortKeys, (std::vector<int>{0}));
  // A level whose sel is false: nothing, not even its field mask.
  c = readChoice(d.get(), Level::audioDetails);
  EXPECT_FALSE(c.shown);
  EXPECT_EQ(c.fieldMask, 0u);
  EXPECT_TRUE(c.sortKeys.empty());
  // A level the document lacks is off.
  EXPECT_FALSE(readChoice(d.get(), Level::trackItem).shown);
}

TEST(ReportChoices, TheStylesheetCarriesTheSortElements) {
  Doc xsl = parse(kStylesheet);
  // The creation date sorts twice, numerically, the name by its collation
  // key and then itself; the old sort goes and the parameter stays after
  // the new ones.
  applySortKeys(xsl.get(), Level::category, {1, 0});
  EXPECT_EQ(sorts(xsl.get(), "category"), (std::vector<std::string>{"creation-date/@datenum:number",
                                                                    "creation-date/@timenum:number", "@name-key:",
                                                                    "@name:"}));
  std::string text = tamber::xml::serialize(xsl.get());
  EXPECT_LT(text.find("@name"), text.find("xsl:with-param"));
  EXPECT_EQ(text.find("\"old\""), std::string::npos);
  // Position 4 of the disc level sorts nothing; position 2 by capacity.
  applySortKeys(xsl.get(), Level::fileStructure, {4, 2});
  EXPECT_EQ(sorts(xsl.get(), "file-structure"), (std::vector<std::string>{"cd-capacity:number"}));
  // No keys: no sort elements.
  applySortKeys(xsl.get(), Level::category, {});
  EXPECT_TRUE(sorts(xsl.get(), "category").empty());
}

TEST(ReportChoices, ChoosingByName) {
  Doc d = resourceFields();
  ASSERT_TRUE(chooseFields(d.get(), Level::fileItems, {"file-name", "file-size"}));
  EXPECT_EQ(readChoice(d.get(), Level::fileItems).fieldMask, 0b11u);
  ASSERT_TRUE(chooseSort(d.get(), Level::fileItems, {"file-size", "file-name"}));
  EXPECT_EQ(readChoice(d.get(), Level::fileItems).sortKeys, (std::vector<int>{1, 0}));
  // Sorting the discs leaves the files' own sorting alone.
  ASSERT_TRUE(chooseSort(d.get(), Level::fileStructure, {"location"}));
  EXPECT_EQ(readChoice(d.get(), Level::fileStructure).sortKeys, (std::vector<int>{5}));
  EXPECT_EQ(readChoice(d.get(), Level::fileItems).sortKeys, (std::vector<int>{1, 0}));
  // No names: the level is not sorted.
  ASSERT_TRUE(chooseSort(d.get(), Level::category, {}));
  EXPECT_TRUE(readChoice(d.get(), Level::category).sortKeys.empty());
  // An unknown field is an error that lists the level's fields.
  auto st = chooseFields(d.get(), Level::trackItem, {"bpm"});
  ASSERT_FALSE(st);
  EXPECT_NE(st.error().message.find("track-ISRC"), std::string::npos) << st.error().message;
  Level level;
  EXPECT_TRUE(levelOfName("track-item", level));
  EXPECT_EQ(level, Level::trackItem);
  EXPECT_FALSE(levelOfName("tracks", level));
}

}  // namespace
