// Exchange end to end: a category exported into a new library and imported
// into another comes back with every stream byte for byte (read by
// olefile); the XML and CSV exports read by independent readers; damaged
// and refused inputs change nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "catalog/catalog_document.h"
#include "catalog/library.h"
#include "storage/compound_file.h"
#include "tests/cli_library.h"
#include "tests/run_command.h"
#include "tests/temp_dir.h"

namespace {

using tamber::test_support::CommandResult;
using tamber::test_support::fileText;
using tamber::test_support::runCommand;
using tamber::test_support::shellQuote;
namespace fs = std::filesystem;

class Exchange : public tamber::test_support::CliLibrary {
 protected:
  void SetUp() override {
    CliLibrary::SetUp();
    if (HasFatalFailure()) return;
    // A category before the exported one, so that numbers change on export.
    auto decoy = dir.path / "decoy";
    fs::create_directories(decoy);
    std::ofstream(decoy / "d.txt") << "d";
    ASSERT_EQ(add("add-folder -q " + q(decoy) + " --label Decoy --category Decoy").status, 0);
    // Top: pictures (a thumbnail stream), an archive (an archive stream), a
    // folder of 1,001 files (a listing part); Top/Sub: an audio CD with a cover.
    auto pictures = dir.path / "Pictures";
    fs::create_directories(pictures / "wide");
    for (const char* colour : {"red", "green"}) {
      ASSERT_EQ(runCommand("convert -size 64x48 xc:" + std::string(colour) + " " +
                           q(pictures / (std::string(colour) + ".png")))
                    .status,
                0);
    }
    std::ofstream(pictures / "notes.txt") << "notes";
    ASSERT_EQ(runCommand("cd " + q(pictures) + " && /usr/bin/python3 -m zipfile -c bundle.zip notes.txt").status, 0);
    for (int i = 0; i <= 1000; ++i) std::ofstream(pictures / "wide" / ("w" + std::to_string(i))).put('x');
    ASSERT_EQ(add("add-folder -q " + q(pictures) + " --label Pictures --category Top").status, 0);
    ASSERT_EQ(add("add-disc -q --drive " + shellQuote("sim:" + std::string(TAMBER_DISCS) + "/audio-cd.xml") +
                  " --category Top/Sub")
                  .status,
              0);
    auto cover = dir.path / "a" / "front.png";
    fs::create_directories(cover.parent_path());
    ASSERT_EQ(runCommand("convert -size 20x20 xc:blue " + q(cover)).status, 0);
    ASSERT_EQ(add("cover 'Top/Sub/Night Drive' " + q(cover)).status, 0);
  }

  static std::string q(const fs::path& p) { return shellQuote(p.string()); }
  CommandResult add(const std::string& args) { return on(lib, args); }
  CommandResult compare(const std::string& a, const std::string& categoryA, const std::string& b,
                        const std::string& categoryB) {
    return runCommand("/usr/bin/python3 " + q(fs::path(TAMBER_TESTS) / "compare_libraries.py") + " " +
                      shellQuote(a) + " " + shellQuote(categoryA) + " " + shellQuote(b) + " " +
                      shellQuote(categoryB));
  }
};

TEST_F(Exchange, ExportThenImportBringsBackEveryStream) {
  auto exported = (dir.path / "out" / "top.cds").string();
  fs::create_directories(dir.path / "out");
  auto r = add("export Top " + shellQuote(exported));
  ASSERT_EQ(r.status, 0) << r.out;
  auto same = compare(lib, "Top", exported, "Top");
  EXPECT_EQ(same.status, 0) << same.out;
  // Numbered from 1 in the new file, every listing part and stream there.
  auto streams = runCommand(std::string(TAMBER_CLI) + " storage ls " + shellQuote(exported)).out;
  for (const char* name : {"col1-1.xml", "col1-1-1", "thu1-1", "arc1-1", "col1-2-1.xml", "img1-2-1"}) {
    EXPECT_NE(streams.find(std::string(name) + "\t"), std::string::npos) << name << "\n" << streams;
  }
  EXPECT_EQ(streams.find("col2-"), std::string::npos) << streams;
  EXPECT_EQ(runCommand(std::string(TAMBER_CLI) + " storage check " + shellQuote(exported)).status, 0);

  // Into an empty library: the same catalog and streams again.
  auto fresh = (dir.path / "fresh.cds").string();
  ASSERT_EQ(runCommand(std::string(TAMBER_CLI) + " new " + shellQuote(fresh)).status, 0);
  r = on(fresh, "import " + shellQuote(exported));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find(" has been imported: 2 new categories, 2 discs and folders (0 given"), std::string::npos)
      << r.out;
  same = compare(lib, "Top", fresh, "Top");
  EXPECT_EQ(same.status, 0) << same.out;
  EXPECT_NE(same.out.find("2 items"), std::string::npos) << same.out;

  // Imported again: "Top" and "Top/Sub" are merged into, and the copies get
  // distinct labels made from their summaries.
  r = on(fresh, "import " + shellQuote(exported));
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("0 new categories, 2 discs and folders (2 given another label"), std::string::npos) << r.out;
  auto tree = on(fresh, "tree").out;
  EXPECT_NE(tree.find("Pictures ("), std::string::npos) << tree;
  EXPECT_NE(tree.find("Night Drive ("), std::string::npos) << tree;
  EXPECT_EQ(runCommand(std::string(TAMBER_CLI) + " storage check " + shellQuote(fresh)).status, 0);
  // Into a chosen category.
  r = on(fresh, "import " + shellQuote(exported) + " --into Top/Sub");
  ASSERT_EQ(r.status, 0) << r.out;
  same = compare(lib, "Top", fresh, "Top/Sub/Top");
  EXPECT_EQ(same.status, 0) << same.out;
  // Into a category that does not exist yet: it is made, as add-folder does.
  r = on(fresh, "import " + shellQuote(exported) + " --into 'Archive/2026'");
  ASSERT_EQ(r.status, 0) << r.out;
  same = compare(lib, "Top", fresh, "Archive/2026/Top");
  EXPECT_EQ(same.status, 0) << same.out;
  // ... but not when the import fails: nothing is saved.
  r = on(fresh, "import " + q(dir.path / "missing.cds") + " --into Nowhere");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(on(fresh, "tree").out.find("Nowhere"), std::string::npos);
}

// Names and labels are matched as the import goes, including what the
// import itself added: a category is merged into one whose name differs only
// in letter case (accented letters too), a taken label gets a distinct one,
// and new entries are numbered after the greatest number taken.
TEST_F(Exchange, NamesAndLabelsAreMatchedAsTheImportGoes) {
  auto source = (dir.path / "source.cds").string();
  ASSERT_EQ(runCommand(std::string(TAMBER_CLI) + " new " + shellQuote(source)).status, 0);
  auto catalog = dir.path / "source.xml";
  std::ofstream(catalog) << R"(<?xml version="1.0" encoding="UTF-8"?>
<a><b g="1"><c>decoy</c></b><b g="2"><c>DECOY</c><e g="1"><h>Decoy</h><k>X</k></e><e g="2"><h>Decoy</h><k>Y</k></e></b>
<b g="3"><c>&#xC4;rger</c></b><b g="4"><c>&#xE4;rger</c></b><b g="9"><c>New</c>
<e g="1"><h>A label of sixty characters that is kept whole when it is free</h><k>Z</k></e>
<e g="2"><h>A label of sixty characters that is kept whole when it is free</h><k>W</k></e></b>
<b g="10"><c>A category name longer than forty-nine characters stays whole</c></b></a>)";
  ASSERT_EQ(runCommand(std::string(TAMBER_CLI) + " storage put " + shellQuote(source) + " categories " +
                       q(catalog)).status,
            0);
  auto r = add("import " + shellQuote(source));
  ASSERT_EQ(r.status, 0) << r.out;
  auto tree = add("tree").out;
  // "decoy" and "DECOY" both went into the library's "Decoy" (#1); "ärger"
  // into the "Ärger" the import made; "Top" is #2, so the new ones are #3
  // and #4.
  EXPECT_EQ(tree.find("ecoy/", tree.find("ecoy/") + 1), std::string::npos) << tree;
  EXPECT_NE(tree.find("#3 \xC3\x84rger/"), std::string::npos) << tree;
  EXPECT_EQ(tree.find("\xC3\xA4rger/"), std::string::npos) << tree;
  EXPECT_NE(tree.find("#4 New/"), std::string::npos) << tree;
  // Three folders named "Decoy" now, under three labels.
  auto ls = add("ls Decoy").out;
  int decoys = 0;
  for (size_t at = ls.find("Decoy"); at != std::string::npos; at = ls.find("Decoy", at + 1)) ++decoys;
  EXPECT_GE(decoys, 3) << ls;
  EXPECT_NE(ls.find("Decoy ("), std::string::npos) << ls;
  EXPECT_NE(r.out.find("3 given another label"), std::string::npos) << r.out;
  // A long label is kept whole while it is free; the one that clashes is cut
  // to 49 characters before its summary is added. Long names stay whole.
  ls = add("ls New").out;
  EXPECT_NE(ls.find("A label of sixty characters that is kept whole when it is free\n"), std::string::npos) << ls;
  EXPECT_NE(ls.find("A label of sixty characters that is kept whole wh ("), std::string::npos) << ls;
  EXPECT_NE(tree.find("A category name longer than forty-nine characters stays whole/"), std::string::npos) << tree;
}

TEST_F(Exchange, AnItemIsImportedWholeOrNotAtAll) {
  auto exported = (dir.path / "top.cds").string();
  ASSERT_EQ(add("export Top " + shellQuote(exported)).status, 0);
  {
    // The audio disc's cover becomes a storage: its copy fails after its
    // listing was copied.
    auto file = tamber::storage::CompoundFile::open(exported, tamber::storage::OpenMode::read_write);
    ASSERT_TRUE(file);
    ASSERT_TRUE(file->root().destroy("img1-2-1"));
    ASSERT_TRUE(file->root().createStorage("img1-2-1"));
    ASSERT_TRUE(file->commit());
  }
  auto fresh = (dir.path / "fresh.cds").string();
  ASSERT_EQ(runCommand(std::string(TAMBER_CLI) + " new " + shellQuote(fresh)).status, 0);
  auto r = on(fresh, "import " + shellQuote(exported));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("\"Night Drive\" could not be copied"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("(imported before it: 1 disc or folder)"), std::string::npos) << r.out;
  // The folder came whole and stays; of the disc, neither element nor stream.
  auto tree = on(fresh, "tree").out;
  EXPECT_NE(tree.find("Pictures"), std::string::npos) << tree;
  EXPECT_EQ(tree.find("Night Drive"), std::string::npos) << tree;
  auto streams = runCommand(std::string(TAMBER_CLI) + " storage ls " + shellQuote(fresh)).out;
  for (const char* name : {"col1-1.xml\t", "col1-1-1\t", "thu1-1\t", "arc1-1\t"}) {
    EXPECT_NE(streams.find(name), std::string::npos) << name << streams;
  }
  EXPECT_EQ(streams.find("col1-2-"), std::string::npos) << streams;
  EXPECT_EQ(streams.find("img"), std::string::npos) << streams;
  EXPECT_EQ(runCommand(std::string(TAMBER_CLI) + " storage check " + shellQuote(fresh)).status, 0);
}

TEST_F(Exchange, RefusedAndDamagedInputsChangeNothing) {
  std::string before = fileText(lib);
  // A file that is not a library.
  auto text = dir.path / "notes.cds";
  std::ofstream(text) << "just some text, not a library";
  auto r = add("import " + q(text));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("There has an error in import library file '" + text.string() +
                       "'.File might have been corrupt."),
            std::string::npos)
      << r.out;
  r = add("import " + q(dir.path / "missing.cds"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("doesn't exist."), std::string::npos) << r.out;
  // The open library into itself, or onto itself (also through a link).
  fs::create_symlink(lib, dir.path / "link.cds");
  EXPECT_EQ(add("import " + shellQuote(lib)).status, 1);
  r = add("export Top " + q(dir.path / "link.cds"));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("itself"), std::string::npos) << r.out;
  EXPECT_EQ(fileText(lib), before);
  // A disc is no category; a folder that does not exist leaves nothing.
  EXPECT_EQ(add("export-xml 'Top/Sub/Night Drive' -o " + q(dir.path / "x.xml")).status, 1);
  EXPECT_EQ(add("export Top " + q(dir.path / "no" / "such" / "x.cds")).status, 1);
  EXPECT_EQ(add("export-xml Top -o " + q(dir.path / "no" / "such" / "x.xml")).status, 1);
  // A file that exists is replaced only with --force, as `new` does.
  auto kept = dir.path / "kept.cds";
  { std::ofstream(kept) << "mine"; }
  r = add("export Top " + q(kept));
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.out.find("kept.cds"), std::string::npos) << r.out;
  EXPECT_EQ(fileText(kept), "mine");
  EXPECT_EQ(add("export --force Top " + q(kept)).status, 0);
  EXPECT_NE(fileText(kept), "mine");
  EXPECT_FALSE(fs::exists(dir.path / "no"));
  for (const auto& e : fs::directory_iterator(dir.path)) {
    EXPECT_EQ(e.path().filename().string().find(".tmp-"), std::string::npos) << e.path();
  }
  EXPECT_EQ(fileText(lib), before);
}

TEST_F(Exchange, XmlExportIsReadableXmlWithItsPictures) {
  {
    // A length of 3725 seconds, no genre, and a second cover of the same
    // name whose stored name would lead out of the export's folder.
    auto library = tamber::catalog::Library::open(lib);
    ASSERT_TRUE(library) << library.message();
    auto& doc = (*library)->catalog();
    xmlNode* top = doc.findByName(doc.root(), "Top", true);
    xmlNode* sub = doc.findByName(top, "Sub", true);
    xmlNode* disc = doc.findByName(sub, "Night Drive", false);
    ASSERT_TRUE(disc);
    doc.setField(disc, tamber::catalog::kPlayingTime, "3725");
    doc.setField(disc, tamber::catalog::kGenre, "");
    ASSERT_TRUE((*library)->save());
  }
  auto other = dir.path / "b" / "front.png";
  fs::create_directories(other.parent_path());
  ASSERT_EQ(runCommand("convert -size 20x20 xc:yellow " + q(other)).status, 0);
  ASSERT_EQ(add("cover Top/Pictures " + q(other)).status, 0);
  {
    auto library = tamber::catalog::Library::open(lib);
    ASSERT_TRUE(library);
    auto& doc = (*library)->catalog();
    xmlNode* pictures = doc.findByName(doc.findByName(doc.root(), "Top", true), "Pictures", false);
    doc.setField(pictures, tamber::catalog::kCoverName, "../../front.png");
    ASSERT_TRUE((*library)->save());
  }
  auto out = dir.path / "export" / "top.xml";
  fs::create_directories(out.parent_path());
  std::ofstream(out.parent_path() / "front.png") << "a file of the user's";
  auto r = add("export-xml Top -o " + q(out));
  ASSERT_EQ(r.status, 0) << r.out;
  auto lint = runCommand("xmllint --noout " + q(out));
  EXPECT_EQ(lint.status, 0) << lint.out;
  std::string xml = fileText(out);
  EXPECT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>", 0), 0u);
  EXPECT_NE(xml.find("<TAMBERPLUS-XML-EXPORT"), std::string::npos);
  EXPECT_NE(xml.find("<length>62:5</length>"), std::string::npos);
  EXPECT_EQ(xml.find("<genre>"), std::string::npos);
  EXPECT_NE(xml.find("<in-category>Top//Sub</in-category>"), std::string::npos);
  EXPECT_NE(xml.find("<in-category>Top</in-category>"), std::string::npos);
  EXPECT_NE(xml.find("<track-name>Night Drive</track-name>"), std::string::npos);
  EXPECT_NE(xml.find("<file-size dt:dt=\"number\">"), std::string::npos);
  // The pictures: the user's file kept, the two covers beside it under
  // numbered names, nothing written outside the folder.
  EXPECT_EQ(fileText(out.parent_path() / "front.png"), "a file of the user's");
  EXPECT_TRUE(fs::exists(out.parent_path() / "front1.png"));
  EXPECT_TRUE(fs::exists(out.parent_path() / "front2.png"));
  EXPECT_NE(xml.find("<cover-picture>front"), std::string::npos);
  EXPECT_FALSE(fs::exists(dir.path / "front.png"));
  // Items of the category come before those of the categories below it.
  EXPECT_LT(xml.find("<subentry-in-category>"), xml.find("<cd-audio>"));
  // A name holding markup goes into CDATA.
  auto odd = dir.path / "odd";
  fs::create_directories(odd);
  std::ofstream(odd / "a&b <c>.txt") << "x";
  ASSERT_EQ(add("add-folder -q " + q(odd) + " --label Odd --category Top").status, 0);
  ASSERT_EQ(add("export-xml Top -o " + q(out)).status, 0);
  EXPECT_NE(fileText(out).find("<name><![CDATA[a&b <c>.txt]]></name>"), std::string::npos);
  EXPECT_EQ(runCommand("xmllint --noout " + q(out)).status, 0);

  // Parts left out: the category's own items alone, without listings or
  // covers (and no picture written).
  auto lean = dir.path / "lean" / "top.xml";
  fs::create_directories(lean.parent_path());
  ASSERT_EQ(add("export-xml Top --no-subcategories --no-listings --no-covers -o " + q(lean)).status, 0);
  std::string part = fileText(lean);
  EXPECT_EQ(runCommand("xmllint --noout " + q(lean)).status, 0);
  EXPECT_NE(part.find("<label>Odd</label>"), std::string::npos);
  EXPECT_EQ(part.find("<cd-audio>"), std::string::npos);  // it is in Top/Sub
  EXPECT_EQ(part.find("<file-listing>"), std::string::npos);
  EXPECT_EQ(part.find("<cover-picture>"), std::string::npos);
  EXPECT_EQ(std::distance(fs::directory_iterator(lean.parent_path()), fs::directory_iterator()), 1);
}

TEST_F(Exchange, AnXmlExportStoppedByCtrlCLeavesNothing) {
  auto big = dir.path / "big";
  for (int d = 0; d < 20; ++d) {
    fs::create_directories(big / ("d" + std::to_string(d)));
    for (int f = 0; f < 1500; ++f) std::ofstream(big / ("d" + std::to_string(d)) / ("file number " + std::to_string(f)));
  }
  ASSERT_EQ(add("add-folder -q " + q(big) + " --label Big --category Large").status, 0);
  fs::path out = dir.path / "out";
  fs::create_directories(out);
  // Ctrl-C a moment after the start: the export stops within the item and
  // puts nothing in place; the status is a shell's for SIGINT.
  auto r = runCommand("timeout --preserve-status -s INT 0.1 " + std::string(TAMBER_CLI) + " -L " + q(fs::path(lib)) +
                      " --config " + q(fs::path(config)) + " export-xml Large -o " + q(out / "x.xml"));
  if (r.status == 0) GTEST_SKIP() << "the export ended before the signal";
  EXPECT_EQ(r.status, 130) << r.out;
  EXPECT_TRUE(fs::is_empty(out)) << fs::directory_iterator(out)->path();
}

// The web site opens from the disk in a real browser: the tree, an item's
// files, a search; every name shows as text, none as markup.
TEST_F(Exchange, HtmlExportOpensInABrowserAndEscapesEveryName) {
  auto odd = dir.path / "odd";
  fs::create_directories(odd / "<b>bold");
  std::ofstream(odd / "<script>document.title='owned'.txt") << "x";
  std::ofstream(odd / "<b>bold" / "it's \"quoted\" & <img src=x onerror=alert(1)>.txt") << "y";
  ASSERT_EQ(add("add-folder -q " + q(odd) + " --label 'Odd <i>' --category Top").status, 0);
  auto site = dir.path / "site";
  auto r = tamber("export-html -o " + q(site) + " --title 'My <discs>'");
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_NE(r.out.find("index.html"), std::string::npos) << r.out;
  for (const char* f : {"index.html", "data/tree.js", "tamber-export.txt"}) EXPECT_TRUE(fs::exists(site / f)) << f;
  // The pictures' thumbnails, as stored (PNG or JPEG), beside the pages.
  int thumbs = 0;
  for (const auto& e : fs::recursive_directory_iterator(site / "thumbs")) {
    if (!e.is_regular_file()) continue;
    ++thumbs;
    auto kind = runCommand("identify -format '%m %w' " + q(e.path()), false).out;
    EXPECT_TRUE(kind == "PNG 64" || kind == "JPEG 64") << kind;
  }
  EXPECT_EQ(thumbs, 2);

  // Nothing the user has is replaced without being asked: an earlier
  // export needs --force, a folder of other files is never written into,
  // and what is refused stays as it was.
  std::string tree = fileText(site / "data" / "tree.js");
  EXPECT_EQ(tamber("export-html -o " + q(site)).status, 2);
  EXPECT_EQ(fileText(site / "data" / "tree.js"), tree);
  auto mine = dir.path / "mine";
  fs::create_directories(mine);
  std::ofstream(mine / "letter.txt") << "keep";
  EXPECT_EQ(tamber("export-html -o " + q(mine) + " --force").status, 2);
  EXPECT_EQ(fileText(mine / "letter.txt"), "keep");
  EXPECT_FALSE(fs::exists(mine / "index.html"));
  ASSERT_EQ(tamber("export-html Top/Pictures -o " + q(site) + " --force --no-thumbnails").status, 0);
  EXPECT_FALSE(fs::exists(site / "thumbs" / "1"));
  // The folder written with a slash after it is the same folder.
  ASSERT_EQ(tamber("export-html -o " + q(site.string() + "/") + " --force --title 'My <discs>'").status, 0);
  for (const auto& e : fs::directory_iterator(dir.path)) {
    EXPECT_EQ(e.path().filename().string().find(".site."), std::string::npos) << e.path();
  }

  // The page as the browser builds it, after its scripts ran.
  auto dom = [&](const std::string& hash) {
    return runCommand("chromium --headless --no-sandbox --disable-gpu --virtual-time-budget=5000 --dump-dom " +
                          shellQuote("file://" + (site / "index.html").string() + hash) + " 2>/dev/null",
                      false)
        .out;
  };
  std::string page = dom("");
  ASSERT_NE(page.find("data-ready=\"1\""), std::string::npos) << page;
  EXPECT_NE(page.find("<title>My &lt;discs&gt;</title>"), std::string::npos) << page.substr(0, 600);
  for (const char* shown : {">Pictures<", ">Night Drive<", ">Odd &lt;i&gt;<", ">Sub<"}) {
    EXPECT_NE(page.find(shown), std::string::npos) << shown;
  }
  // An item opened by its link lists its top entries, folders first as recorded.
  page = dom("#open=4");
  EXPECT_NE(page.find(">&lt;b&gt;bold<"), std::string::npos) << page;
  EXPECT_NE(page.find("2 files, 2 B"), std::string::npos) << page;
  EXPECT_NE(page.find(">&lt;script&gt;document.title='owned'.txt<"), std::string::npos) << page;
  EXPECT_EQ(page.find("<title>owned"), std::string::npos);
  // A search over every item's names, with the paths they are at.
  page = dom("#q=QUOTED");
  EXPECT_NE(page.find("1 found in"), std::string::npos) << page;
  EXPECT_NE(page.find("Top/Odd &lt;i&gt;/&lt;b&gt;bold/it's \"quoted\" &amp; &lt;img src=x "
                      "onerror=alert(1)&gt;.txt"),
            std::string::npos)
      << page;
  EXPECT_EQ(page.find("<img src=\"x\""), std::string::npos);
  page = dom("#q=w100");
  EXPECT_NE(page.find("2 found in"), std::string::npos) << page;  // w100 and w1000
  EXPECT_NE(page.find("Top/Pictures/wide/w1000"), std::string::npos);
  // Letter case aside, accents too ("ÉTÉ" finds the track "Été indien").
  page = dom("#q=%C3%89T%C3%89");
  EXPECT_NE(page.find("1 found in"), std::string::npos) << page;
  EXPECT_NE(page.find("Top/Sub/Night Drive/Été indien"), std::string::npos);
}

TEST_F(Exchange, CsvOpensInASpreadsheet) {
  auto odd = dir.path / "odd";
  fs::create_directories(odd);
  for (const char* name : {"comma, \"quoted\".txt", "=SUM(A1).txt", "Überblick.txt", "-12.txt"}) {
    std::ofstream(odd / name) << "x";
  }
  ASSERT_EQ(add("add-folder -q " + q(odd) + " --category Top --label Odd").status, 0);
  auto csv = dir.path / "all.csv";
  auto r = add("export-csv Top/Odd Top/Pictures -o " + q(csv));
  ASSERT_EQ(r.status, 0) << r.out;
  // Read back by Python's csv module: the header, the fields as written.
  auto read = runCommand(
      "/usr/bin/python3 -c 'import csv,sys; rows=list(csv.reader(open(sys.argv[1], encoding=\"utf-8\", newline=\"\"))); "
      "h=rows[0]; print(len(rows)); [print(r[h.index(\"item\")]+\"|\"+r[h.index(\"path\")]+\"|\"+r[h.index(\"kind\")]+"
      "\"|\"+r[h.index(\"dimensions\")]) for r in rows[1:]]' " +
      q(csv));
  ASSERT_EQ(read.status, 0) << read.out;
  EXPECT_EQ(read.out.substr(0, read.out.find('\n')), std::to_string(1 + 4 + 1006));
  EXPECT_NE(read.out.find("Top/Odd|comma, \"quoted\".txt|"), std::string::npos) << read.out.substr(0, 400);
  EXPECT_NE(read.out.find("Top/Odd|'=SUM(A1).txt|"), std::string::npos);
  EXPECT_NE(read.out.find("Top/Odd|Überblick.txt|"), std::string::npos);
  EXPECT_NE(read.out.find("Top/Odd|'-12.txt|"), std::string::npos);  // a spreadsheet would compute "-12.txt"
  EXPECT_NE(read.out.find("Top/Pictures|red.png|picture|64 x 48"), std::string::npos);
  EXPECT_NE(read.out.find("Top/Pictures|wide/w1000||"), std::string::npos);
  EXPECT_NE(read.out.find("Top/Pictures|bundle.zip|archive|"), std::string::npos);
  // Lines end in CR LF, as the format has them.
  EXPECT_NE(fileText(csv).find("\r\n"), std::string::npos);
  // An audio CD's tracks: their bytes of audio, title and length.
  r = add("export-csv 'Top/Sub/Night Drive' -o " + q(csv));
  ASSERT_EQ(r.status, 0) << r.out;
  read = runCommand(
      "/usr/bin/python3 -c 'import csv,sys; rows=list(csv.DictReader(open(sys.argv[1], encoding=\"utf-8\", newline=\"\"))); "
      "r=rows[0]; print(r[\"kind\"], r[\"size\"], r[\"title\"], r[\"durationText\"], sep=\"|\")' " +
      q(csv));
  EXPECT_EQ(read.out, "track|31305120|Night Drive|2:57\n");
}

}  // namespace
