// The catalog document and the library file: numbering, the field text rule,
// edits with their streams, statistics and the streaming tree.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>

#include "catalog/library.h"
#include "catalog/library_tree.h"
#include "tests/storage/storage_helpers.h"

namespace tamber::catalog {
namespace {

using storage::TempDir;

// A disc with the given kind, tracks and price in category `cat`.
xmlNode* addDisc(CatalogDocument& doc, const ItemPath& cat, const std::string& label, int kind,
                 const std::string& tracks = "", const std::string& price = "") {
  auto item = doc.addItem(cat);
  EXPECT_TRUE(item) << item.message();
  doc.setField(item.value(), kLabel, label);
  doc.setField(item.value(), kKind, std::to_string(kind));
  if (!tracks.empty()) doc.setField(item.value(), kTracks, tracks);
  if (!price.empty()) doc.setField(item.value(), kPrice, price);
  return item.value();
}

void putStreams(Library& lib, const ItemPath& cat, uint16_t n, int parts) {
  storage::Storage root = lib.file().root();
  storage::putStream(root, streamName(StreamKind::listing, cat, n), "<a1/>");
  for (int k = 1; k <= parts; ++k) {
    storage::putStream(root, streamName(StreamKind::listing, cat, n, k), "part");
  }
  for (auto kind : {StreamKind::thumbnails, StreamKind::archives, StreamKind::cover}) {
    storage::putStream(root, streamName(kind, cat, n), "x");
  }
}

std::set<std::string> streamNames(Library& lib) {
  std::set<std::string> out;
  auto list = lib.file().root().elements();
  if (!list) return out;
  for (const auto& e : list.value()) out.insert(e.name);
  return out;
}

TEST(Names, StreamNamesAndNameCodes) {
  EXPECT_EQ(streamName(StreamKind::listing, {1, 5}, 3), "col1-5-3.xml");
  EXPECT_EQ(streamName(StreamKind::listing, {1, 5}, 3, 2), "col1-5-3-2");
  EXPECT_EQ(streamName(StreamKind::cover, {1, 5}, 3), "img1-5-3");
  EXPECT_EQ(streamName(StreamKind::thumbnails, {7}, 0), "thu7");
  EXPECT_STREQ(nameCode(0), "a");
  EXPECT_STREQ(nameCode(25), "z");
  EXPECT_STREQ(nameCode(26), "a1");
  EXPECT_STREQ(nameCode(44), "b9");
  EXPECT_STREQ(nameCode(71), "e6");
  EXPECT_EQ(fieldIndexOf("c0"), 45);
}

TEST(Numbering, NextNumbersFollowTheGreatestAndShareOneSpace) {
  CatalogDocument doc;
  EXPECT_EQ(doc.addCategory({}, "First", "").value(), 1);
  ItemPath cat{1};
  addDisc(doc, cat, "one", 0);
  addDisc(doc, cat, "two", 0);
  EXPECT_EQ(doc.addCategory(cat, "sub", "").value(), 3);  // categories and discs share numbers
  // After deleting 3 the next is 3 again; after deleting 2 instead it is 4.
  xmlNode* three = doc.category({1, 3});
  xmlUnlinkNode(three);
  xmlFreeNode(three);
  EXPECT_EQ(doc.nextItemNumber(doc.category(cat)).value(), 3);
  (void)doc.addCategory(cat, "sub", "");
  xmlNode* two = doc.item(cat, 2);
  xmlUnlinkNode(two);
  xmlFreeNode(two);
  EXPECT_EQ(doc.nextItemNumber(doc.category(cat)).value(), 4);
  // Children numbered 1, 2 and 7 give 8.
  ASSERT_TRUE(doc.loadText("<a><b g=\"1\"/><e g=\"2\"/><b g=\"7\"/></a>"));
  EXPECT_EQ(doc.addCategory({}, "new", "").value(), 8);
  // The 16-bit space is never wrapped: past 65535 the add is refused.
  ASSERT_TRUE(doc.loadText("<a><b g=\"1\"><e g=\"65535\"/></b></a>"));
  auto refused = doc.addItem({1});
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().code, Errc::too_large);
  EXPECT_FALSE(doc.addCategory({1}, "more", ""));
}

TEST(Attributes, OnlyElementsHaveThem) {
  CatalogDocument doc;
  (void)doc.addCategory({}, "c", "");
  xmlNode* cat = doc.category({1});
  EXPECT_EQ(CatalogDocument::attribute(cat, "g"), "1");
  CatalogDocument::setAttribute(cat, "g", "7");
  EXPECT_EQ(CatalogDocument::numberOf(cat), 7);
  xmlNode* text = xml::childElement(cat, "c")->children;
  try {
    CatalogDocument::attribute(text, "g");
    FAIL() << "a text node has no attributes";
  } catch (const std::logic_error& e) {
    EXPECT_STREQ(e.what(), "node isn't a element");
  }
  EXPECT_TRUE(doc.rename(cat, "renamed"));
  EXPECT_EQ(doc.field(cat, kCategoryName), "renamed");
}

TEST(Categories, NamesAreUniqueWithoutRegardToCase) {
  CatalogDocument doc;
  EXPECT_EQ(doc.addCategory({}, "music", "").value(), 1);
  EXPECT_EQ(doc.addCategory({}, "Music", "comment").value(), 1);
  EXPECT_EQ(doc.root()->children->next, nullptr);  // nothing added
  EXPECT_FALSE(doc.addCategory({9}, "x", ""));       // missing parent
}

TEST(FieldText, TextAndCdataRoundTripAndStayWellFormed) {
  CatalogDocument doc;
  (void)doc.addCategory({}, "c", "");
  const std::array<std::string, 6> values = {
      "Rock & Roll", "Rock and Roll", "<b>bold</b>", "a]]>b<c", "]]>]]>&", "tab\there"};
  for (size_t i = 0; i < values.size(); ++i) {
    xmlNode* item = addDisc(doc, {1}, "d", 0);
    ASSERT_TRUE(doc.setField(item, kComment, values[i]));
  }
  std::string text = doc.text();
  // An ampersand makes a CDATA section, the word "and" plain text.
  EXPECT_NE(text.find("<f><![CDATA[Rock & Roll]]></f>"), std::string::npos) << text;
  EXPECT_NE(text.find("<f>Rock and Roll</f>"), std::string::npos) << text;
  // The text parses again and every value reads back as set.
  CatalogDocument again;
  ASSERT_TRUE(again.loadText(text)) << text;
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(again.field(again.item({1}, static_cast<uint16_t>(i + 1)), kComment), values[i]);
  }
  // Characters XML does not allow are replaced; bytes that are not UTF-8 are
  // read as Windows-1252.
  xmlNode* item = addDisc(doc, {1}, "d", 0);
  doc.setField(item, kComment, std::string("bell\x07 caf\xE9 \x80", 12));
  ASSERT_TRUE(again.loadText(doc.text()));
  EXPECT_EQ(again.field(again.item({1}, 7), kComment), "bell. caf\xC3\xA9 \xE2\x82\xAC");
  // An absent field reads as empty.
  EXPECT_EQ(again.field(again.item({1}, 7), kArtist), "");
}

TEST(LibraryFile, ANewLibraryHoldsOnlyAnEmptyCatalogReadableByOthers) {
  TempDir dir;
  auto path = dir.path / "new.cds";
  {
    auto lib = Library::create(path);
    ASSERT_TRUE(lib) << lib.message();
    EXPECT_EQ(streamNames(*lib.value()), std::set<std::string>{"categories"});
  }
  // An independent reader finds the stream and the single empty element "a".
  FILE* p = popen(("/usr/bin/python3 -c \"import olefile,sys; o=olefile.OleFileIO(sys.argv[1]); "
                   "sys.stdout.write(o.openstream('categories').read().decode())\" '" +
                   path.string() + "'")
                      .c_str(),
                  "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
  EXPECT_EQ(pclose(p), 0);
  EXPECT_NE(out.find("<a/>"), std::string::npos) << out;
  EXPECT_EQ(out.find("<b"), std::string::npos) << out;
}

TEST(LibraryFile, MissingCatalogStreamOpensEmptyAndLocksHold) {
  TempDir dir;
  auto path = dir.path / "bare.cds";
  {
    auto f = storage::CompoundFile::create(path);
    storage::putStream(f->root(), "other", "x");
    ASSERT_TRUE(f->commit());
  }
  auto lib = Library::open(path);
  ASSERT_TRUE(lib) << lib.message();
  EXPECT_EQ(lib.value()->catalog().root()->children, nullptr);
  auto second = Library::open(path);
  ASSERT_FALSE(second);
  EXPECT_EQ(second.error().code, Errc::locked);
  EXPECT_NE(second.message().find("bare.cds"), std::string::npos);
}

TEST(LibraryFile, AReadOnlyFileOpensReadOnlyAndRefusesToSave) {
  TempDir dir;
  auto path = dir.path / "ro.cds";
  { ASSERT_TRUE(Library::create(path)); }
  ::chmod(path.c_str(), 0444);
  auto lib = Library::open(path);
  ASSERT_TRUE(lib) << lib.message();
  EXPECT_TRUE(lib.value()->readOnly());
  (void)lib.value()->catalog().addCategory({}, "x", "");
  Status st = lib.value()->save();
  ASSERT_FALSE(st);
  EXPECT_NE(st.message().find("the library is read-only"), std::string::npos) << st.message();
}

TEST(Edits, MoveRenamesEveryStreamAndDeleteRemovesThem) {
  TempDir dir;
  auto lib = Library::create(dir.path / "lib.cds").value();
  CatalogDocument& doc = lib->catalog();
  (void)doc.addCategory({}, "one", "");
  (void)doc.addCategory({}, "two", "");
  for (int i = 0; i < 3; ++i) addDisc(doc, {1}, "d" + std::to_string(i), 2);
  addDisc(doc, {2}, "a", 2);
  addDisc(doc, {2}, "b", 2);
  doc.setField(doc.item({1}, 3), kListingParts, "2");
  putStreams(*lib, {1}, 3, 2);
  // Disc 3 of category 1 moves to category 2, which holds 1 and 2: it becomes 3.
  auto moved = lib->move({1}, 3, {2});
  ASSERT_TRUE(moved) << moved.message();
  EXPECT_EQ(moved.value(), 3);
  auto names = streamNames(*lib);
  for (const char* n : {"col2-3.xml", "col2-3-1", "col2-3-2", "thu2-3", "arc2-3", "img2-3"}) {
    EXPECT_TRUE(names.count(n)) << n;
  }
  EXPECT_FALSE(names.count("col1-3.xml"));
  // A category moves with the streams of everything below it.
  (void)doc.addCategory({2}, "inner", "");  // number 4 in category 2
  addDisc(doc, {2, 4}, "deep", 2);
  putStreams(*lib, {2, 4}, 1, 0);
  auto movedCat = lib->move({2}, 0, {1});
  ASSERT_TRUE(movedCat) << movedCat.message();
  uint16_t c = movedCat.value();
  names = streamNames(*lib);
  EXPECT_TRUE(names.count("col1-" + std::to_string(c) + "-3.xml"));
  EXPECT_TRUE(names.count("col1-" + std::to_string(c) + "-4-1.xml"));
  // Into itself or below itself: refused, nothing changes.
  EXPECT_FALSE(lib->move({1}, 0, {1, c}));
  EXPECT_FALSE(lib->move({1}, 0, {1}));
  EXPECT_NE(doc.category({1, c, 4}), nullptr);
  // Deleting a category removes the streams of every disc below it.
  ASSERT_TRUE(lib->removeCategory({1}));
  EXPECT_EQ(streamNames(*lib), std::set<std::string>{"categories"});
  ASSERT_TRUE(lib->save());
  EXPECT_TRUE(lib->file().check().ok());
}

TEST(Edits, CoverPictureGoesToItsStreamAndField) {
  TempDir dir;
  auto lib = Library::create(dir.path / "lib.cds").value();
  (void)lib->catalog().addCategory({}, "c", "");
  addDisc(lib->catalog(), {1}, "d", 2);
  std::string picture = storage::randomBytes(30000, 5);
  std::ofstream(dir.path / "front.jpg", std::ios::binary) << picture;
  ASSERT_TRUE(lib->setCover({1}, 1, dir.path / "front.jpg"));
  EXPECT_EQ(lib->catalog().field(lib->catalog().item({1}, 1), kCoverName), "front.jpg");
  EXPECT_EQ(lib->file().root().openStream("img1-1")->readAll().value(), picture);
  // Read back through the library; a disc without a cover has none.
  EXPECT_EQ(lib->cover(lib->catalog().item({1}, 1)).value(), picture);
  addDisc(lib->catalog(), {1}, "bare", 2);
  EXPECT_EQ(lib->cover(lib->catalog().item({1}, 2)).error().code, Errc::not_found);
  EXPECT_EQ(lib->cover(lib->catalog().category({1})).error().code, Errc::not_found);
  EXPECT_EQ(lib->setCover({1}, 9, dir.path / "front.jpg").message(), "Invalid CD parameter!");
  EXPECT_NE(lib->setCover({1}, 1, dir.path / "missing.jpg").message().find("No such file"),
            std::string::npos);
}

TEST(Statistics, TracksPricesAndCounts) {
  CatalogDocument doc;
  (void)doc.addCategory({}, "audio", "");
  (void)doc.addCategory({1}, "inner", "");
  addDisc(doc, {1}, "cd", kKindAudioCd, "12", "9.50");
  addDisc(doc, {1, 1}, "extra", kKindCdExtra, "5", "ten euros");
  addDisc(doc, {1}, "data", 2, "99", "1.25");
  addDisc(doc, {1}, "folder", kKindFixedFolder, "", "");
  auto s = doc.libraryStatistics();
  EXPECT_EQ(s.categories, 2);
  EXPECT_EQ(s.discs, 3);
  EXPECT_EQ(s.folders, 1);
  EXPECT_EQ(s.audioTracks, 17);  // the data disc's tracks do not count
  EXPECT_DOUBLE_EQ(s.totalPrice, 10.75);  // "ten euros" counts 0
  auto c = doc.categoryStatistics(doc.category({1}));
  EXPECT_EQ(c.discs, 2);  // inner's CD-Extra is not directly in it
  EXPECT_EQ(c.folders, 1);
  EXPECT_EQ(c.audioTracks, 17);
  EXPECT_EQ(doc.itemSummary(doc.item({1}, 2)), "M  12 track(s) \"\"");
  EXPECT_EQ(doc.categorySummary(doc.category({1}), "discs").rfind("2 discs", 0), 0u);
}

// The figures are defined by XPath expressions; a random catalog must give
// the same figures from the single walk as from the expressions themselves.
double xpathSum(xmlDoc* doc, const xmlNode* context, const char* expr, bool integers) {
  xml::XPathContext ctx(xmlXPathNewContext(doc));
  ctx->node = const_cast<xmlNode*>(context);
  xml::XPathObject obj(xmlXPathEvalExpression(xml::u(expr), ctx.get()));
  double total = 0;
  for (int i = 0; obj->nodesetval && i < obj->nodesetval->nodeNr; ++i) {
    std::string text = xml::content(obj->nodesetval->nodeTab[i]);
    char* end = nullptr;
    double v = integers ? static_cast<double>(std::strtoll(text.c_str(), &end, 10))
                        : std::strtod(text.c_str(), &end);
    if (end != text.c_str()) total += v;
  }
  return total;
}

int xpathCount(xmlDoc* doc, const xmlNode* context, const char* expr) {
  xml::XPathContext ctx(xmlXPathNewContext(doc));
  ctx->node = const_cast<xmlNode*>(context);
  xml::XPathObject obj(xmlXPathEvalExpression(xml::u(expr), ctx.get()));
  return obj->nodesetval ? obj->nodesetval->nodeNr : 0;
}

TEST(Statistics, TheWalkAgreesWithTheDefiningExpressions) {
  std::mt19937 rng(8);
  const char* kinds[] = {"1", "3", "2", "13", " 12 ", "x", "", "1.0", "-1", "18"};
  const char* numbers[] = {"12", "abc", "7tracks", " 3", "", "2.5", "-4"};
  for (int round = 0; round < 40; ++round) {
    std::string xml = "<a>";
    std::function<void(int)> category = [&](int depth) {
      xml += "<b g=\"1\"><c>x</c>";
      for (int i = 0, n = static_cast<int>(rng() % 5); i < n; ++i) {
        xml += "<e g=\"2\">";
        for (int k = 0, m = static_cast<int>(rng() % 3); k < m; ++k) {
          xml += std::string("<p>") + kinds[rng() % 10] + "</p>";
        }
        for (int k = 0, m = static_cast<int>(rng() % 3); k < m; ++k) {
          xml += std::string("<n>") + numbers[rng() % 7] + "</n><s>" + numbers[rng() % 7] + "</s>";
        }
        xml += "</e>";
      }
      if (depth < 3) {
        for (int i = 0, n = static_cast<int>(rng() % 3); i < n; ++i) category(depth + 1);
      }
      xml += "</b>";
    };
    for (int i = 0; i < 3; ++i) category(0);
    xml += "</a>";
    CatalogDocument doc;
    ASSERT_TRUE(doc.loadText(xml));
    xmlDoc* d = doc.root()->doc;
    auto s = doc.libraryStatistics();
    EXPECT_EQ(s.categories, xpathCount(d, doc.root(), ".//b"));
    EXPECT_EQ(s.discs, xpathCount(d, doc.root(), "//*/e[p < 13]"));
    EXPECT_EQ(s.folders, xpathCount(d, doc.root(), "//*/e[p > 12]"));
    EXPECT_EQ(s.audioTracks, xpathSum(d, doc.root(), ".//e[p=\"1\"]/n", true) +
                                 xpathSum(d, doc.root(), ".//e[p=\"3\"]/n", true));
    EXPECT_DOUBLE_EQ(s.totalPrice, xpathSum(d, doc.root(), ".//e/s", false));
    xmlNode* first = doc.category({1});
    auto c = doc.categoryStatistics(first);
    EXPECT_EQ(c.discs, xpathCount(d, first, "e[p < 13]"));
    EXPECT_EQ(c.folders, xpathCount(d, first, "e[p > 12]"));
    EXPECT_EQ(c.audioTracks, xpathSum(d, first, ".//e[p=\"1\"]/n", true) +
                                 xpathSum(d, first, ".//e[p=\"3\"]/n", true));
  }
}

TEST(Tree, StreamingReadGivesNumbersCaptionsAndKinds) {
  CatalogDocument doc;
  (void)doc.addCategory({}, "Music & Films", "");
  (void)doc.addCategory({1}, "Rock", "");
  addDisc(doc, {1, 1}, "Best of <1990>", kKindAudioCd);
  addDisc(doc, {1}, "Backup", kKindFixedFolder);
  (void)doc.addCategory({}, "Empty", "");
  auto tree = buildLibraryTree(doc.text());
  ASSERT_TRUE(tree);
  ASSERT_EQ(tree->size(), 2u);
  const TreeNode& music = tree->at(0);
  EXPECT_EQ(music.caption, "Music & Films");
  ASSERT_EQ(music.children.size(), 2u);
  EXPECT_EQ(music.children[0].caption, "Rock");
  ASSERT_EQ(music.children[0].children.size(), 1u);
  EXPECT_EQ(music.children[0].children[0].caption, "Best of <1990>");
  EXPECT_EQ(music.children[0].children[0].kind, kKindAudioCd);
  EXPECT_FALSE(music.children[1].isCategory);
  EXPECT_EQ(music.children[1].number, 2);
  EXPECT_EQ(tree->at(1).caption, "Empty");
  EXPECT_FALSE(buildLibraryTree("<a><b g='1'>"));
}

TEST(Title, CaptionPathAndModifiedMark) {
  TempDir dir;
  EXPECT_EQ(windowTitle(nullptr), "Tamber+");
  auto lib = Library::create(dir.path / "t.cds").value();
  std::string path = (dir.path / "t.cds").string();
  EXPECT_EQ(windowTitle(lib.get()), "Tamber+ - [" + path + "]");
  (void)lib->catalog().addCategory({}, "x", "");
  EXPECT_EQ(windowTitle(lib.get()), "Tamber+ - [" + path + "*]");
  ASSERT_TRUE(lib->save());
  EXPECT_EQ(windowTitle(lib.get()), "Tamber+ - [" + path + "]");
}

}  // namespace
}  // namespace tamber::catalog
