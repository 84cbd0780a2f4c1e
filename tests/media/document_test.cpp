// The document readers: files made by LibreOffice, ghostscript, qpdf and
// mingw-w64 (committed, see docs/make_documents.sh), and files built byte by
// byte for the cases those tools do not write.
#include <gtest/gtest.h>

#include <ctime>
#include <fstream>
#include <vector>

#include "media/media.h"
#include "media/doc/pe_version.h"
#include "media/text_util.h"
#include "platform/utf.h"
#include "storage/compound_file.h"
#include "tests/temp_dir.h"

namespace {

using tamber::test_support::TempDir;

const std::string kDocs = std::string(TAMBER_MEDIA_TESTS) + "/docs/";

std::string s8(const std::u16string& s) { return tamber::media::toUtf8(s); }
std::u16string u16(const std::string& s) { return *tamber::utf8ToUtf16(s); }

// The HexTime of a local time, as the readers store it.
std::string localHex(int year, int month, int day, int hour, int minute, int second = 0) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return s8(HexTimeOfLocalTime(tm).value());
}

struct Scratch {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(4096);
  uint8_t* data() { return bytes.data(); }
  int size() const { return static_cast<int>(bytes.size()); }
};

// ---------------------------------------------------------------- office

TEST(OfficeDocuments, EveryFormatLibreOfficeWrites) {
  for (const char* ext : {"doc", "xls", "ppt", "docx", "xlsx", "pptx", "odt", "ods", "odp", "rtf"}) {
    SCOPED_TRACE(ext);
    Scratch scratch;
    COfficeExtract x(u16(kDocs + "report." + ext), scratch.data(), scratch.size());
    auto* r = x.getOfficefileInfo();
    ASSERT_TRUE(r);
    EXPECT_EQ(s8(r->title), "Annual report");
    EXPECT_EQ(s8(r->subject), "Café accounts");  // 8-bit, UTF-8 or \u escapes alike
    EXPECT_EQ(s8(r->author), "Zoë Müller");
    EXPECT_NE(s8(r->keywords).find("finance"), std::string::npos);
    EXPECT_EQ(s8(r->created), localHex(2003, 5, 12, 14, 30));
    EXPECT_TRUE(r->editTime.empty() || std::string(ext) == "rtf");  // a duration never fills it
    if (std::string(ext) != "rtf") {
      EXPECT_EQ(s8(r->comments), "Draft for the board");
      EXPECT_EQ(s8(r->lastAuthor), "Ana Lopez");
      EXPECT_EQ(s8(r->lastSaved), localHex(2004, 1, 2, 3, 4, 5));
      EXPECT_EQ(r->revisionNumber, 7);
    }
  }
}

// A zip-packaged document written here: core and app parts with a zone in
// the dates, pages, and an external entity that must stay unread.
TEST(OfficeDocuments, PackagedPropertiesBuiltHere) {
  TempDir dir;
  std::filesystem::create_directories(dir.path / "p/docProps");
  std::ofstream(dir.path / "p/docProps/core.xml")
      << "<?xml version=\"1.0\"?><!DOCTYPE x [<!ENTITY secret SYSTEM \"file:///etc/hostname\">]>"
         "<cp:coreProperties xmlns:cp=\"c\" xmlns:dc=\"d\" xmlns:dcterms=\"t\">"
         "<dc:title>Plan &secret;</dc:title><dc:creator>Kim</dc:creator>"
         "<dcterms:created>2003-05-12T12:30:00Z</dcterms:created>"
         "<dcterms:modified>2003-05-12T14:30:00+02:00</dcterms:modified><cp:revision>4</cp:revision>"
         "</cp:coreProperties>";
  std::ofstream(dir.path / "p/docProps/app.xml")
      << "<Properties><Application>Writer X</Application><Pages>12</Pages><Template>Normal</Template></Properties>";
  std::string cmd = "cd '" + (dir.path / "p").string() + "' && zip -q -r ../plan.docx docProps";
  ASSERT_EQ(std::system(cmd.c_str()), 0);
  Scratch scratch;
  COfficeExtract x(u16((dir.path / "plan.docx").string()), scratch.data(), scratch.size());
  auto* r = x.getOfficefileInfo();
  ASSERT_TRUE(r);
  EXPECT_EQ(s8(r->title), "Plan");  // the entity is not read
  EXPECT_EQ(s8(r->author), "Kim");
  EXPECT_EQ(s8(r->applicationName), "Writer X");
  EXPECT_EQ(s8(r->templateName), "Normal");
  EXPECT_EQ(r->pageCount, 12);
  EXPECT_EQ(r->revisionNumber, 4);
  // Both times are 12:30 UTC, the local time's HexTime of that instant.
  std::time_t utc = 1052742600;  // 2003-05-12 12:30:00 UTC
  char hex[16];
  std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(utc));
  EXPECT_EQ(s8(r->created), hex);
  EXPECT_EQ(s8(r->lastSaved), hex);
  // A zip that is no document gives nothing.
  std::ofstream(dir.path / "p/other.txt") << "x";
  ASSERT_EQ(std::system(("cd '" + (dir.path / "p").string() + "' && zip -q ../other.docx other.txt").c_str()), 0);
  COfficeExtract y(u16((dir.path / "other.docx").string()), scratch.data(), scratch.size());
  EXPECT_FALSE(y.getOfficefileInfo());
}

// A summary information stream: the given properties, each (id, type, value bytes).
std::string propertySet(const std::vector<std::tuple<uint32_t, uint16_t, std::string>>& props) {
  auto le = [](uint64_t v, int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += static_cast<char>(v >> (8 * i) & 0xFF);
    return s;
  };
  std::string body;
  std::string table;
  size_t offset = 8 + props.size() * 8;
  for (const auto& [id, type, value] : props) {
    table += le(id, 4) + le(offset + body.size(), 4);
    std::string v = le(type, 2) + le(0, 2) + value;
    while (v.size() % 4) v += '\0';
    body += v;
  }
  std::string set = le(8 + table.size() + body.size(), 4) + le(props.size(), 4) + table + body;
  const std::string fmtid("\xE0\x85\x9F\xF2\xF9\x4F\x68\x10\xAB\x91\x08\x00\x2B\x27\xB3\xD9", 16);
  return le(0xFFFE, 2) + le(0, 2) + le(0x20006, 4) + std::string(16, '\0') + le(1, 4) + fmtid + le(48, 4) + set;
}

std::string lpstr(const std::string& s) {
  std::string z = s + '\0';
  std::string out;
  for (int i = 0; i < 4; ++i) out += static_cast<char>(z.size() >> (8 * i) & 0xFF);
  return out + z;
}

std::string compound(const std::filesystem::path& path, const std::string& summary) {
  auto f = tamber::storage::CompoundFile::create(path);
  EXPECT_TRUE(f);
  auto s = f->root().createStream("\005SummaryInformation");
  EXPECT_TRUE(s);
  EXPECT_TRUE(s->write(summary));
  EXPECT_TRUE(s->commit());
  s->close();
  EXPECT_TRUE(f->commit());
  return path.string();
}

TEST(OfficeDocuments, SummaryInformationBuiltByteByByte) {
  TempDir dir;
  Scratch scratch;
  // Only a title: valid, revision -1, no pages.
  {
    auto p = compound(dir.path / "title.doc", propertySet({{2, 0x1E, lpstr("Only a title")}}));
    COfficeExtract x(u16(p), scratch.data(), scratch.size());
    ASSERT_TRUE(x.getOfficefileInfo());
    EXPECT_EQ(s8(x.getOfficefileInfo()->title), "Only a title");
    EXPECT_EQ(x.getOfficefileInfo()->revisionNumber, -1);
    EXPECT_EQ(x.getOfficefileInfo()->pageCount, 0);
  }
  // The set's own code page decides the 8-bit strings: UTF-8 (65001),
  // Windows-1251, and Windows-1252 without a code page. An edit time of
  // two hours (a duration) fills nothing; 16-bit page counts count.
  {
    std::string twoHours;
    uint64_t ticks = 2ull * 3600 * 10000000;
    for (int i = 0; i < 8; ++i) twoHours += static_cast<char>(ticks >> (8 * i) & 0xFF);
    auto p = compound(dir.path / "utf8.doc", propertySet({{1, 0x02, std::string("\xE9\xFD", 2)},
                                                          {2, 0x1E, lpstr("Caf\xC3\xA9")},
                                                          {10, 0x40, twoHours},
                                                          {14, 0x02, std::string("\x0C\x00", 2)}}));
    COfficeExtract x(u16(p), scratch.data(), scratch.size());
    ASSERT_TRUE(x.getOfficefileInfo());
    EXPECT_EQ(s8(x.getOfficefileInfo()->title), "Café");
    EXPECT_TRUE(x.getOfficefileInfo()->editTime.empty());
    EXPECT_EQ(x.getOfficefileInfo()->pageCount, 12);
  }
  {
    auto p = compound(dir.path / "cyr.doc", propertySet({{1, 0x02, std::string("\xE3\x04", 2)},
                                                         {2, 0x1E, lpstr("\xCF\xF0\xE8\xE2\xE5\xF2")}}));
    COfficeExtract x(u16(p), scratch.data(), scratch.size());
    EXPECT_EQ(s8(x.getOfficefileInfo()->title), "Привет");
  }
  {
    auto p = compound(dir.path / "ansi.doc", propertySet({{4, 0x1E, lpstr("Zo\xEB")}, {9, 0x1E, lpstr("12")}}));
    COfficeExtract x(u16(p), scratch.data(), scratch.size());
    EXPECT_EQ(s8(x.getOfficefileInfo()->author), "Zoë");
    EXPECT_EQ(x.getOfficefileInfo()->revisionNumber, 12);
  }
  // No summary information, a damaged set, a set that claims more than it has.
  {
    auto f = tamber::storage::CompoundFile::create(dir.path / "empty.doc");
    ASSERT_TRUE(f->commit());
    COfficeExtract x(u16((dir.path / "empty.doc").string()), scratch.data(), scratch.size());
    EXPECT_FALSE(x.getOfficefileInfo());
    auto p = compound(dir.path / "bad.doc", std::string(100, '\xFF'));
    COfficeExtract y(u16(p), scratch.data(), scratch.size());
    EXPECT_FALSE(y.getOfficefileInfo());
    std::string claimed = propertySet({{2, 0x1E, lpstr("x")}});
    claimed[48 + 4] = '\x7F';  // property count
    auto q = compound(dir.path / "claimed.doc", claimed);
    COfficeExtract z(u16(q), scratch.data(), scratch.size());
    EXPECT_FALSE(z.getOfficefileInfo());
  }
}

TEST(OfficeDocuments, RtfInformationGroup) {
  TempDir dir;
  Scratch scratch;
  auto read = [&](const std::string& name, const std::string& bytes) {
    std::ofstream(dir.path / name, std::ios::binary) << bytes;
    auto x = std::make_unique<COfficeExtract>(u16((dir.path / name).string()), scratch.data(), scratch.size());
    return x;
  };
  std::string info =
      "{\\info{\\title Annual report}{\\author Jos\\'e9 \\u8364\\'80}{\\nofpages12}"
      "{\\creatim\\yr2003\\mo5\\dy12\\hr14\\min30}{\\printim\\yr2003}{\\version3}}";
  auto x = read("a.rtf", "{\\rtf1\\ansi\\ansicpg1252" + info + "Body}");
  auto* r = x->getOfficefileInfo();
  ASSERT_TRUE(r);
  EXPECT_EQ(s8(r->title), "Annual report");
  EXPECT_EQ(s8(r->author), "José €");  // \'e9 and \u8364 with its replacement
  EXPECT_EQ(r->pageCount, 12);
  EXPECT_EQ(r->revisionNumber, 3);
  EXPECT_EQ(s8(r->created), localHex(2003, 5, 12, 14, 30));
  EXPECT_EQ(s8(r->lastPrinted), localHex(2003, 12, 4, 0, 0));  // only the year

  // Not RTF though it holds "\info"; an information group after the first
  // ten chunks; no group at all.
  EXPECT_FALSE(read("b.rtf", "Plain " + info)->getOfficefileInfo());
  EXPECT_FALSE(read("c.rtf", "{\\rtf1" + std::string(10 * 4094, 'x') + info)->getOfficefileInfo());
  EXPECT_TRUE(read("d.rtf", "{\\rtf1" + std::string(8 * 4094, 'x') + info)->getOfficefileInfo());
  EXPECT_FALSE(read("e.rtf", "{\\rtf1 no information}")->getOfficefileInfo());
  EXPECT_FALSE(read("f.rtf", "")->getOfficefileInfo());
}

// ---------------------------------------------------------------- PDF

// A PDF of the given objects (numbered from 1) with a classic
// cross-reference and trailer; `extraTrailer` goes into the trailer.
std::string pdf(const std::string& header, const std::vector<std::string>& objects, const std::string& extraTrailer,
                std::vector<size_t>* offsets = nullptr) {
  std::string out = header;
  std::vector<size_t> at;
  for (size_t i = 0; i < objects.size(); ++i) {
    at.push_back(out.size());
    out += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
  }
  // Padding, so that the file is larger than the reader's windows.
  out += "%" + std::string(3000, 'p') + "\n";
  size_t xref = out.size();
  char line[32];
  out += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f\r\n";
  for (size_t a : at) {
    std::snprintf(line, sizeof line, "%010zu 00000 n\r\n", a);
    out += line;
  }
  out += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R" + extraTrailer +
         " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  if (offsets) *offsets = at;
  return out;
}

class PdfFiles : public ::testing::Test {
 protected:
  TempDir dir;
  Scratch scratch;
  CPDFExtract::tag_PDFSummary* read(const std::string& name, const std::string& bytes) {
    std::ofstream(dir.path / name, std::ios::binary) << bytes;
    last = std::make_unique<CPDFExtract>(u16((dir.path / name).string()), scratch.data(), scratch.size());
    return last->getPDFInfo();
  }
  std::unique_ptr<CPDFExtract> last;
};

const std::vector<std::string> kCatalogAndPages = {"<< /Type /Catalog /Pages 2 0 R >>",
                                                   "<< /Type /Pages /Kids [] /Count 4 >>"};

TEST_F(PdfFiles, MadeByTools) {
  for (const char* name : {"report.pdf", "linearized.pdf", "objstm.pdf"}) {
    SCOPED_TRACE(name);
    CPDFExtract x(u16(kDocs + name), scratch.data(), scratch.size());
    auto* r = x.getPDFInfo();
    ASSERT_TRUE(r);
    EXPECT_EQ(s8(r->title), "Annual report");  // hexadecimal UTF-16 strings
    EXPECT_EQ(s8(r->subject), "Café accounts");
    EXPECT_EQ(s8(r->author), "Zoë Müller");
    EXPECT_EQ(s8(r->producer).rfind("LibreOffice", 0), 0u);
    EXPECT_EQ(s8(r->version), "1.6");
    EXPECT_EQ(r->pageCount, 1);
    EXPECT_EQ(s8(r->creationDate).size(), 8u);  // a HexTime
  }
  CPDFExtract ghost(u16(kDocs + "ghost.pdf"), scratch.data(), scratch.size());
  ASSERT_TRUE(ghost.getPDFInfo());
  EXPECT_EQ(s8(ghost.getPDFInfo()->title), "Ghost title");
  EXPECT_EQ(s8(ghost.getPDFInfo()->keywords), "ghost, pdfmark");
  EXPECT_EQ(s8(ghost.getPDFInfo()->creationDate), localHex(2003, 5, 12, 14, 30));
  EXPECT_EQ(ghost.getPDFInfo()->pageCount, 2);
  EXPECT_EQ(s8(ghost.getPDFInfo()->version), "1.4");
}

TEST_F(PdfFiles, InfoValuesAndDates) {
  auto objects = kCatalogAndPages;
  objects.push_back(
      "<< /Title (Caf\\351 \\(one\\)) /Author <FEFF004100E9> /Subject (Line\nbreak)\n"
      "/CreationDate (D:20030512143000+01'00') /ModDate (yesterday) /Keywords (k) >>");
  auto* r = read("info.pdf", pdf("%PDF-1.3\r%\xE2\xE3\xCF\xD3\r", objects, " /Info 3 0 R"));
  ASSERT_TRUE(r);
  EXPECT_EQ(s8(r->version), "1.3");
  EXPECT_EQ(s8(r->title), "Café (one)");  // octal and escaped parentheses
  EXPECT_EQ(s8(r->author), "Aé");        // UTF-16 after its mark
  EXPECT_EQ(s8(r->subject), "Line\nbreak");
  EXPECT_EQ(s8(r->creationDate), localHex(2003, 5, 12, 14, 30));
  EXPECT_EQ(s8(r->modificationDate), "yesterday");  // no "D:": kept as written
  EXPECT_EQ(r->pageCount, 4);

  // A header ended by a line feed alone still gives its version; only a
  // year gives its first of January. A day written without "D:" is that
  // day (kept as written, its eight digits would read as a time of 1987).
  objects[2] = "<< /CreationDate (D:2003) /ModDate (20030512) >>";
  r = read("lf.pdf", pdf("%PDF-1.7\n", objects, " /Info 3 0 R"));
  ASSERT_TRUE(r);
  EXPECT_EQ(s8(r->version), "1.7");
  EXPECT_EQ(s8(r->creationDate), localHex(2003, 1, 1, 0, 0));
  EXPECT_EQ(s8(r->modificationDate), localHex(2003, 5, 12, 0, 0));
  objects[2] = "<< /ModDate (2003051) >>";  // not a whole day: as written
  r = read("short.pdf", pdf("%PDF-1.7\n", objects, " /Info 3 0 R"));
  ASSERT_TRUE(r);
  EXPECT_EQ(s8(r->modificationDate), "2003051");

  // Without Info the record stands, empty but for the version and pages.
  r = read("noinfo.pdf", pdf("%PDF-1.4\n", kCatalogAndPages, ""));
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->title.empty());
  EXPECT_EQ(r->pageCount, 4);
}

TEST_F(PdfFiles, IncrementalUpdatesAndLinearization) {
  // An update replaces the Info object: the newer section wins, and /Prev
  // leads to the older one for the objects it does not list.
  auto objects = kCatalogAndPages;
  objects.push_back("<< /Title (Old) >>");
  std::string base = pdf("%PDF-1.4\n", objects, " /Info 3 0 R");
  size_t oldXref = base.rfind("startxref\n") + 10;
  std::string oldOffset = base.substr(oldXref, base.find('\n', oldXref) - oldXref);
  size_t newObject = base.size();
  std::string update = "3 0 obj\n<< /Title (New) >>\nendobj\n";
  size_t xref = newObject + update.size();
  char entry[32];
  std::snprintf(entry, sizeof entry, "%010zu 00000 n\r\n", newObject);
  update += std::string("xref\n3 1\n") + entry + "trailer\n<< /Size 4 /Root 1 0 R /Info 3 0 R /Prev " + oldOffset +
            " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
  auto* r = read("update.pdf", base + update);
  ASSERT_TRUE(r);
  EXPECT_EQ(s8(r->title), "New");
  EXPECT_EQ(r->pageCount, 4);  // the page tree from the older section

  // A /Prev chain that returns to itself ends.
  std::string cyclic = base + update;
  size_t prev = cyclic.rfind("/Prev ") + 6;
  cyclic.replace(prev, oldOffset.size(), std::to_string(xref));
  r = read("cyclic.pdf", cyclic);
  ASSERT_TRUE(r);
  EXPECT_EQ(s8(r->title), "New");

  // A linearization dictionary whose /L is the file's length gives the page
  // count from /N; one whose /L is not is no linearized file.
  for (bool exact : {true, false}) {
    auto lin = kCatalogAndPages;
    // The dictionary stands in the header window, before the objects.
    std::string dict = "<< /Linearized 1 /L 0000000000 /N 9 /O 1 /T 0 >>\n";
    std::string file = pdf("%PDF-1.4\n" + dict, lin, "");
    std::string length = std::to_string(file.size() + (exact ? 0 : 1));
    length = std::string(10 - length.size(), '0') + length;
    file.replace(file.find("/L 0000000000") + 3, 10, length);
    r = read(exact ? "lin.pdf" : "notlin.pdf", file);
    ASSERT_TRUE(r) << exact;
    EXPECT_EQ(r->pageCount, exact ? 9 : 4) << exact;
  }
}

TEST_F(PdfFiles, WhatGivesNoRecord) {
  EXPECT_FALSE(read("text.pdf", "Not a PDF at all" + std::string(4000, ' ')));
  // A trailer without /Size; a startxref of 0; a cross-reference that is
  // not there; a cut file.
  std::string good = pdf("%PDF-1.4\n", kCatalogAndPages, "");
  std::string noSize = good;
  noSize.replace(noSize.find("/Size"), 5, "/Sixe");
  EXPECT_FALSE(read("nosize.pdf", noSize));
  std::string zero = good;
  size_t sx = zero.rfind("startxref\n") + 10;
  zero.replace(sx, zero.find('\n', sx) - sx, "0");
  EXPECT_FALSE(read("zero.pdf", zero));
  std::string wrong = good;
  wrong.replace(sx, wrong.find('\n', sx) - sx, "17");
  EXPECT_FALSE(read("wrong.pdf", wrong));
  EXPECT_FALSE(read("cut.pdf", good.substr(0, good.size() / 2)));
  // The classic reader gives nothing for a cross-reference stream; libqpdf
  // reads it (tested with the tool-made file above), and gives nothing for
  // a damaged one.
  std::ifstream in(kDocs + "objstm.pdf", std::ios::binary);
  std::string objstm((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_FALSE(read("objstm-cut.pdf", objstm.substr(0, objstm.size() - 200)));
}

// ---------------------------------------------------------------- HTML

class HtmlPages : public ::testing::Test {
 protected:
  TempDir dir;
  Scratch scratch;
  std::unique_ptr<CHTMLExtract> read(const std::string& name, const std::string& bytes, const char16_t* ext) {
    std::ofstream(dir.path / name, std::ios::binary) << bytes;
    return std::make_unique<CHTMLExtract>(u16((dir.path / name).string()), scratch.data(), scratch.size(), ext);
  }
};

TEST_F(HtmlPages, HeadFields) {
  std::string page =
      "<html><head><title>A page</title>\n<meta name=\"description\" content=\"What it is\">"
      "<META NAME=\"keywords\" CONTENT=\"one, two\"></head></html>";
  auto x = read("page.html", page, u"");
  ASSERT_TRUE(x->getHtmlInfo());
  EXPECT_EQ(s8(x->getHtmlInfo()->title), "A page");
  EXPECT_EQ(s8(x->getHtmlInfo()->description), "What it is");
  EXPECT_EQ(s8(x->getHtmlInfo()->keywords), "one, two");

  // The extension given or the path's, compared exactly.
  EXPECT_EQ(read("index.HTM", page, u"")->isValidFormat(), 0);
  EXPECT_EQ(read("index.HTM", page, u"htm")->isValidFormat(), 1);
  EXPECT_EQ(read("noext", page, u"")->isValidFormat(), 0);
  EXPECT_EQ(read("page.txt", page, u"")->isValidFormat(), 0);

  // Two title elements: from the first start tag to the last end tag.
  x = read("two.htm", "<title>One</title><title>Two</title>", u"htm");
  EXPECT_EQ(s8(x->getHtmlInfo()->title), "One</title><title>Two");
  // A title after the window; only keywords: no record.
  x = read("late.htm", std::string(4094, ' ') + "<title>Late</title>", u"htm");
  EXPECT_EQ(x->isValidFormat(), 1);
  EXPECT_FALSE(x->getHtmlInfo());
  EXPECT_FALSE(read("kw.htm", "<meta name=\"keywords\" content=\"k\">", u"htm")->getHtmlInfo());
  // UTF-8 and Windows-1252 pages keep their accents.
  EXPECT_EQ(s8(read("u8.htm", "<title>Caf\xC3\xA9</title>", u"htm")->getHtmlInfo()->title), "Café");
  EXPECT_EQ(s8(read("cp.htm", "<title>Caf\xE9</title>", u"htm")->getHtmlInfo()->title), "Café");
}

TEST_F(HtmlPages, Utf16Page) {
  std::u16string text = u"<html><head><title>Wide Ærø</title></head><body></body></html>";
  std::string bytes;
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  auto x = read("wide.htm", bytes, u"htm");
  ASSERT_TRUE(x->getHtmlInfo());
  EXPECT_EQ(s8(x->getHtmlInfo()->title), "Wide Ærø");
}

// ---------------------------------------------------------------- executables

TEST(Executables, VersionResources) {
  for (const char* name : {"two64.exe", "two32.exe"}) {
    SCOPED_TRACE(name);
    Scratch scratch;
    CExecutable x(u16(kDocs + name), scratch.data(), scratch.size());
    auto* i = x.getfileInfo();
    ASSERT_TRUE(i);
    // The language-neutral Unicode translation is chosen; the special build
    // comes from the first translation; both languages are named.
    EXPECT_EQ(s8(i->companyName), "Neutral Société");
    EXPECT_EQ(s8(i->productName), "Product Neutral");
    EXPECT_EQ(s8(i->specialBuild), "first special");
    EXPECT_EQ(s8(i->languages), "English (United States),Language Neutral");
    EXPECT_EQ(s8(i->fileVersion), "1.2.3.4");
    EXPECT_EQ(s8(i->originalFileName), "tool.exe");
    EXPECT_EQ(s8(i->legalCopyright), "(c) 2026 Neutral");
  }
  Scratch scratch;
  CExecutable one(u16(kDocs + "one.dll"), scratch.data(), scratch.size());
  ASSERT_TRUE(one.getfileInfo());
  EXPECT_EQ(s8(one.getfileInfo()->languages), "French (France)");
  EXPECT_EQ(s8(one.getfileInfo()->companyName), "Entreprise");
  EXPECT_EQ(s8(one.getfileInfo()->fileVersion), "5.0.0.1");
  CExecutable none(u16(kDocs + "none.dll"), scratch.data(), scratch.size());
  EXPECT_FALSE(none.getfileInfo());
  CExecutable text(u16(kDocs + "make_documents.sh"), scratch.data(), scratch.size());
  EXPECT_FALSE(text.getfileInfo());

  // Values are cut to what fits in the buffer: 8 characters and the zero.
  std::vector<uint8_t> small(18);
  CExecutable cut(u16(kDocs + "two64.exe"), small.data(), static_cast<int>(small.size()));
  ASSERT_TRUE(cut.getfileInfo());
  EXPECT_EQ(s8(cut.getfileInfo()->companyName), "Neutral ");
}

// A 16-bit version block: its length and value length, its 8-bit key with
// its zero, the value and the children, each from a 4-byte boundary.
std::string block16(const std::string& key, const std::string& value, const std::vector<std::string>& children = {}) {
  std::string b(4, '\0');
  b += key + '\0';
  while (b.size() % 4) b += '\0';
  b += value;
  for (const auto& c : children) {
    while (b.size() % 4) b += '\0';
    b += c;
  }
  b[0] = static_cast<char>(b.size() & 0xFF);
  b[1] = static_cast<char>(b.size() >> 8);
  b[2] = static_cast<char>(value.size() & 0xFF);
  b[3] = static_cast<char>(value.size() >> 8);
  return b;
}

std::string le(uint32_t v, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(v >> (8 * i) & 0xFF);
  return out;
}

// A 16-bit Windows program (NE): its resource table names the version
// resource, whose 8-bit texts come out as the 32-bit ones do.
TEST(Executables, SixteenBitPrograms) {
  std::string fixed = le(0xFEEF04BD, 4) + le(0x10000, 4) + le(0x00030001, 4) + le(0x00020005, 4) + std::string(36, '\0');
  std::string resource = block16(
      "VS_VERSION_INFO", fixed,
      {block16("StringFileInfo", "",
               {block16("040904E4", "", {block16("CompanyName", std::string("Soci\xE9t\xE9 16\0", 12)),
                                         block16("ProductName", std::string("Old Tool\0", 9)),
                                         block16("OriginalFilename", std::string("OLDTOOL.EXE\0", 12))})}),
       block16("VarFileInfo", "", {block16("Translation", le(0x0409, 2) + le(0x04E4, 2))})});
  while (resource.size() % 16) resource += '\0';
  std::string file = "MZ" + std::string(0x3A, '\0') + le(0x40, 4);
  std::string ne = "NE" + std::string(0x22, '\0') + le(0x40, 2);  // the resource table 0x40 bytes on
  ne.resize(0x40, '\0');
  file += ne;
  file += le(4, 2);                                         // offsets in 16-byte units
  file += le(0x8010, 2) + le(1, 2) + le(0, 4);              // one version resource
  file += le(0x100 >> 4, 2) + le(static_cast<uint32_t>(resource.size() >> 4), 2) + le(0x30, 2) + le(0x8001, 2) +
          le(0, 4);
  file += le(0, 2);
  file.resize(0x100, '\0');
  file += resource;
  TempDir dir;
  auto path = dir.path / "OLDTOOL.EXE";
  std::ofstream(path, std::ios::binary) << file;
  Scratch scratch;
  CExecutable x(u16(path.string()), scratch.data(), scratch.size());
  auto* i = x.getfileInfo();
  ASSERT_TRUE(i);
  EXPECT_EQ(s8(i->fileVersion), "3.1.2.5");
  EXPECT_EQ(s8(i->companyName), "Soci\xC3\xA9t\xC3\xA9 16");  // Windows-1252 read as such
  EXPECT_EQ(s8(i->productName), "Old Tool");
  EXPECT_EQ(s8(i->originalFileName), "OLDTOOL.EXE");
  EXPECT_EQ(s8(i->languages), "English (United States)");
  // A resource table that points past the file, or sizes that do not add
  // up, give nothing and no fault.
  for (size_t cut : {size_t(0x90), size_t(0x110), file.size() - 8}) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << file.substr(0, cut);
    CExecutable short_(u16(path.string()), scratch.data(), scratch.size());
    (void)short_.getfileInfo();
  }
}

TEST(Executables, LanguageNamesOfCommonIdentifiers) {
  using tamber::media::languageName;
  EXPECT_EQ(s8(languageName(0x0409)), "English (United States)");
  EXPECT_EQ(s8(languageName(0x0000)), "Language Neutral");
  EXPECT_EQ(s8(languageName(0x0407)), "German (Germany)");
  EXPECT_EQ(s8(languageName(0x040C)), "French (France)");
  EXPECT_EQ(s8(languageName(0x0411)), "Japanese (Japan)");
  EXPECT_EQ(s8(languageName(0x0C0A)), "Spanish (Spain)");
}

TEST(DocumentReaders, ANullBufferIsOutOfMemory) {
  EXPECT_THROW(CPDFExtract(u16(kDocs + "report.pdf"), nullptr, 4096), std::bad_alloc);
  EXPECT_THROW(CExecutable(u16(kDocs + "two64.exe"), nullptr, 4096), std::bad_alloc);
  EXPECT_THROW(CHTMLExtract(u16(kDocs + "make_documents.sh"), nullptr, 4096, u"htm"), std::bad_alloc);
  EXPECT_THROW(COfficeExtract(u16(kDocs + "report.rtf"), nullptr, 4096), std::bad_alloc);
}

}  // namespace

namespace {

// add-folder records what the readers find, and ls shows it.
TEST(DocumentReaders, AddFolderRecordsThem) {
  TempDir dir;
  std::string lib = (dir.path / "d.cds").string();
  std::string t = std::string(TAMBER_CLI);
  ASSERT_EQ(std::system((t + " new '" + lib + "' >/dev/null").c_str()), 0);
  ASSERT_EQ(std::system((t + " -L '" + lib + "' -q add-folder '" + kDocs + "' --label Docs --category Work").c_str()), 0);
  std::string out = (dir.path / "ls.json").string();
  ASSERT_EQ(std::system((t + " -L '" + lib + "' ls -l --json Work/Docs > '" + out + "'").c_str()), 0);
  std::ifstream in(out);
  std::string json((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  for (const char* expected :
       {"\"title\":\"Ghost title\"", "\"pageCount\":2", "\"companyName\":\"Neutral Société\"",
        "\"languages\":\"French (France)\"", "\"lastAuthor\":\"Ana Lopez\"", "\"author\":\"Zoë Müller\""}) {
    EXPECT_NE(json.find(expected), std::string::npos) << expected;
  }
}

}  // namespace
