// tamber report end to end: a library with a folder (pictures, a cover),
// an audio CD and a CD-Extra from simulated drives, reported as HTML and XML
// with field and sort choices.
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include <unicode/uvernum.h>

#include "catalog/library.h"
#include "report/collation.h"
#include "report/report.h"
#include "report/report_data.h"
#include "tests/cli_library.h"
#include "tests/run_command.h"
#include "tests/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using tamber::test_support::fileText;
using tamber::test_support::runCommand;
using tamber::test_support::shellQuote;

class Report : public tamber::test_support::CliLibrary {
 protected:
  void SetUp() override {
    CliLibrary::SetUp();
    if (HasFatalFailure()) return;
    // A folder of files of three sizes, named against their size order.
    auto tree = dir.path / "tree";
    std::filesystem::create_directories(tree / "sub");
    std::ofstream(tree / "a-big.bin") << std::string(30000, 'x');
    std::ofstream(tree / "b-small.bin") << "x";
    std::ofstream(tree / "c-middle.bin") << std::string(2000, 'x');
    std::ofstream(tree / "sub" / "inner.txt") << "inner";
    ASSERT_EQ(tamber("add-folder -q " + shellQuote(tree.string()) + " --label Tree --category Work").status, 0);
    ASSERT_EQ(tamber("add-disc -q " + sim("audio-cd.xml") + " --category Music").status, 0);
    // A cover picture for the folder.
    auto cover = dir.path / "cover.png";
    ASSERT_EQ(runCommand("convert -size 40x40 xc:red " + shellQuote(cover.string())).status, 0);
    ASSERT_EQ(tamber("cover Work/Tree " + shellQuote(cover.string())).status, 0);
  }
};

TEST_F(Report, HtmlOfTheWholeLibrary) {
  auto out = dir.path / "out" / "report.html";
  std::filesystem::create_directories(out.parent_path());
  auto r = tamber("report --covers --title 'My discs' -o " + shellQuote(out.string()));
  ASSERT_EQ(r.status, 0) << r.out;
  std::string html = fileText(out);
  EXPECT_NE(html.find("<title>My discs</title>"), std::string::npos);
  EXPECT_NE(html.find(">Work</h2>"), std::string::npos);
  EXPECT_NE(html.find(">Music</h2>"), std::string::npos);
  EXPECT_NE(html.find("Tree"), std::string::npos);
  EXPECT_NE(html.find("inner.txt"), std::string::npos);  // the file tree, folders included
  EXPECT_NE(html.find("Night Drive"), std::string::npos) << html;  // the album's tracks
  // The cover went into "image" beside the page, and the page points there.
  std::smatch m;
  ASSERT_TRUE(std::regex_search(html, m, std::regex("src=\"(image/[^\"]+)\"")));
  EXPECT_TRUE(std::filesystem::exists(out.parent_path() / m[1].str()));
  EXPECT_EQ(html.find("tamber://"), std::string::npos);
  // Saved again into the same folder: the folder is reused.
  auto second = out.parent_path() / "again.html";
  ASSERT_EQ(tamber("report --covers -o " + shellQuote(second.string())).status, 0);
  EXPECT_NE(fileText(second).find("src=\"image/"), std::string::npos);
  // Without --covers: no pictures, and no folder made for them.
  auto plain = dir.path / "plain" / "report.html";
  std::filesystem::create_directories(plain.parent_path());
  ASSERT_EQ(tamber("report -o " + shellQuote(plain.string())).status, 0);
  EXPECT_FALSE(std::filesystem::exists(plain.parent_path() / "image"));
  // On standard output, the same page; a reader that goes away early is
  // no error to tell.
  EXPECT_EQ(tamber("report", false).out, fileText(plain));
  EXPECT_EQ(tamber("report 2>&1 | head -2").out, "<!DOCTYPE html>\n<html lang=\"en\">\n");
}

// Captions, property names and the summary line come in the user's
// language; recorded keys ("bitsPerPixel") stay in the data, not the page.
TEST_F(Report, CaptionsAndPropertiesInTheUsersLanguage) {
  auto pictures = dir.path / "pictures";
  std::filesystem::create_directories(pictures);
  ASSERT_EQ(runCommand("convert -size 40x30 xc:red " + shellQuote((pictures / "red.png").string())).status, 0);
  ASSERT_EQ(tamber("add-folder -q " + shellQuote(pictures.string()) + " --label Pics --category Work").status, 0);
  struct Case {
    const char* lang;
    const char* size;
    const char* summary;
    const char* made;
    const char* heads;  // the file table's and an item's counts
  } cases[] = {{"en_US", "Picture size: 40 x 30", "Categories: <b>", "Report made with",
                "<html lang=\"en\"|<th>Name</th>|Modified</th>|</b> files, <b>"},
               {"fr_FR", "Taille de l'image: 40 x 30", "Catégories: <b>", "Rapport établi avec",
                "<html lang=\"fr\"|<th>Nom</th>|Modifié</th>|</b> fichiers, <b>"},
               {"it_IT", "Dimensioni dell'immagine: 40 x 30", "Categorie: <b>", "Resoconto creato con",
                "<html lang=\"it\"|<th>Nome</th>|Modificato</th>|</b> file, <b>"}};
  for (const auto& c : cases) {
    auto r = runCommand(std::string("LANG=") + c.lang + ".UTF-8 " + TAMBER_CLI + " -L " + shellQuote(lib) +
                            " --config " + shellQuote(config) + " report Work/Pics Music",
                        false);
    ASSERT_EQ(r.status, 0) << c.lang;
    EXPECT_NE(r.out.find(c.size), std::string::npos) << c.lang << r.out;
    EXPECT_NE(r.out.find(c.summary), std::string::npos) << c.lang << r.out;
    EXPECT_NE(r.out.find(c.made), std::string::npos) << c.lang << r.out;
    EXPECT_EQ(r.out.find("bitsPerPixel"), std::string::npos) << c.lang;
    std::stringstream heads(c.heads);
    for (std::string head; std::getline(heads, head, '|');) {
      EXPECT_NE(r.out.find(head), std::string::npos) << c.lang << ": " << head;
    }
  }
  auto xml = tamber("report --format xml Work/Pics", false);
  EXPECT_NE(xml.out.find("name=\"bitsPerPixel\""), std::string::npos) << xml.out;
}

// A long file table is cut into tables of 500 rows, each after the first in
// a block a browser lays out when it comes into sight; the markup stays
// balanced and every row is there, in its order.
TEST_F(Report, ALongFileTableComesInBlocks) {
  auto many = dir.path / "many";
  std::filesystem::create_directories(many);
  for (int i = 0; i < 1200; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "f%04d.txt", i);
    std::ofstream(many / name) << i;
  }
  ASSERT_EQ(tamber("add-folder -q " + shellQuote(many.string()) + " --label Many --category Bulk").status, 0);
  auto r = tamber("report Bulk", false);
  ASSERT_EQ(r.status, 0);
  const std::string& html = r.out;
  size_t blocks = 0, rows = 0;
  for (size_t at = 0; (at = html.find("<div class=\"block\">", at)) != std::string::npos; ++at) ++blocks;
  EXPECT_EQ(blocks, 2u);  // rows 501-1000 and 1001-1200
  std::vector<std::string> open;
  std::regex tag("<(/?)(div|table|tbody)\\b[^>]*>");
  for (std::sregex_iterator it(html.begin(), html.end(), tag), end; it != end; ++it) {
    if ((*it)[1].length() == 0) {
      open.push_back((*it)[2]);
    } else {
      ASSERT_FALSE(open.empty());
      ASSERT_EQ(open.back(), (*it)[2].str());
      open.pop_back();
    }
  }
  EXPECT_TRUE(open.empty());
  size_t last = 0;
  for (int i = 0; i < 1200; ++i, ++rows) {
    char name[32];
    std::snprintf(name, sizeof name, ">f%04d.txt<", i);
    size_t at = html.find(name, last);
    ASSERT_NE(at, std::string::npos) << name;
    last = at;
  }
  EXPECT_EQ(rows, 1200u);
}

TEST_F(Report, SortAndFieldChoices) {
  // Files by size: b-small, c-middle, a-big.
  auto bySize = tamber("report Work --sort file-items=file-size", false);
  ASSERT_EQ(bySize.status, 0) << bySize.out;
  size_t small = bySize.out.find("b-small.bin"), middle = bySize.out.find("c-middle.bin"),
         big = bySize.out.find("a-big.bin");
  ASSERT_NE(big, std::string::npos);
  EXPECT_LT(small, middle);
  EXPECT_LT(middle, big);
  // By name (the default): a-big first.
  auto byName = tamber("report Work", false);
  EXPECT_LT(byName.out.find("a-big.bin"), byName.out.find("b-small.bin"));
  // Names as a person sorts them, not by their bytes: letter case and
  // accents aside, punctuation first.
  auto names = dir.path / "names";
  fs::create_directories(names);
  for (const char* n : {"Delta", "alpha", "Charlie", "Bravo", "[x]", "\u00E9cho"}) std::ofstream(names / n) << "x";
  ASSERT_EQ(tamber("add-folder -q " + shellQuote(names.string()) + " --label Names --category Sorted").status, 0);
  auto sorted = tamber("report Sorted", false);
  std::vector<size_t> at;
  for (const char* n : {"[x]", "alpha", "Bravo", "Charlie", "Delta", "\u00E9cho"}) at.push_back(sorted.out.find(n));
  for (size_t i = 1; i < at.size(); ++i) EXPECT_LT(at[i - 1], at[i]) << i;
  EXPECT_NE(at.back(), std::string::npos);
  EXPECT_EQ(sorted.out.find("warning"), std::string::npos) << sorted.out;
  // Without ICU's collation the names sort by their bytes, and the report
  // says so instead of leaving a reader to wonder at "Bravo" before "alpha".
  fs::create_directories(dir.path / "noicu");
  std::ofstream(dir.path / "noicu" / ("libicui18n.so." U_ICU_VERSION_SHORT)) << "not a library";
  auto bytewise = runCommand("LD_LIBRARY_PATH=" + shellQuote((dir.path / "noicu").string()) + " " + TAMBER_CLI +
                             " -L " + shellQuote(lib) + " --config " + shellQuote(config) + " report Sorted");
  ASSERT_EQ(bytewise.status, 0) << bytewise.out;
  EXPECT_NE(bytewise.out.find("warning: names are sorted by their bytes"), std::string::npos) << bytewise.out;
  EXPECT_LT(bytewise.out.find(">Bravo<"), bytewise.out.find(">alpha<"));
  // The XML, which no stylesheet sorts, goes without the keys.
  EXPECT_EQ(tamber("report Sorted --format xml", false).out.find("key="), std::string::npos);
  // Hiding the file level hides the files; hiding the tracks hides them.
  auto noFiles = tamber("report --fields file-items= --fields track-item=", false);
  ASSERT_EQ(noFiles.status, 0) << noFiles.out;
  EXPECT_EQ(noFiles.out.find("a-big.bin"), std::string::npos);
  EXPECT_NE(noFiles.out.find("Tree"), std::string::npos);
  // An unknown level or field is a usage error that says what there is.
  auto bad = tamber("report --sort file-items=colour");
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.out.find("file-size"), std::string::npos) << bad.out;
  EXPECT_EQ(tamber("report --sort shelf=name").status, 2);
  EXPECT_EQ(tamber("report Nowhere").status, 1);
}

TEST_F(Report, XmlWithoutCoversAndWithDateNumbers) {
  auto out = dir.path / "report.xml";
  ASSERT_EQ(tamber("report --format xml --covers -o " + shellQuote(out.string())).status, 0);
  std::string xml = fileText(out);
  EXPECT_EQ(xml.find("cover-image"), std::string::npos);
  EXPECT_NE(xml.find("<report xmlns:dt=\"urn:schemas-microsoft-com:datatypes\""), std::string::npos);
  EXPECT_NE(xml.find("<file-items type=\"folder\""), std::string::npos);
  EXPECT_NE(xml.find("<track-item>"), std::string::npos);
  std::smatch m;
  ASSERT_TRUE(std::regex_search(xml, m, std::regex("datenum=\"([0-9]+)\" timenum=\"([0-9]+)\"")));
  long long datenum = std::stoll(m[1].str());
  // A date of this century: ((month + year * 12) * 31 + day).
  EXPECT_GT(datenum, (1 + 2000 * 12) * 31LL);
  EXPECT_LT(std::stoll(m[2].str()), 86400);
}

// Markup without the white space between its tags: the pieces of a page
// are indented on their own.
std::string tagsOnly(const std::string& html) {
  return std::regex_replace(html, std::regex(">\\s+<"), "><");
}

TEST_F(Report, PiecesMakeThePageTheWholeDataMakes) {
  // A deeper tree, so that folders' entries go into pieces of their own at
  // several depths, sorted within each piece.
  auto deep = dir.path / "deep";
  for (const char* folder : {"one/two/three", "one/zwei", "uno/dos"}) std::filesystem::create_directories(deep / folder);
  int n = 0;
  for (const char* folder : {"", "one", "one/two", "one/two/three", "one/zwei", "uno", "uno/dos"}) {
    for (int i = 0; i < 4; ++i, ++n) {
      std::ofstream(deep / folder / ("f" + std::to_string(i) + ".bin")) << std::string((n * 7919) % 5000, 'x');
    }
  }
  ASSERT_EQ(tamber("add-folder -q " + shellQuote(deep.string()) + " --label Deep --category Work").status, 0);
  // A CD-Extra: its tracks and its files.
  ASSERT_EQ(tamber("add-disc -q " + sim("enhanced-cd.xml") + " --category Music").status, 0);

  auto library = tamber::catalog::Library::open(lib, true);
  ASSERT_TRUE(library) << library.message();
  auto& catalog = (*library)->catalog();
  std::vector<xmlNode*> selection;
  for (xmlNode* c = catalog.root()->children; c; c = c->next) {
    if (tamber::catalog::CatalogDocument::isCategory(c)) selection.push_back(c);
  }
  auto reporter = tamber::report::Reporter::open();
  ASSERT_TRUE(reporter);
  auto& r = **reporter;
  ASSERT_TRUE(r.takesPieces());
  ASSERT_TRUE(tamber::report::chooseSort(r.fields(), tamber::report::Level::fileItems, {"file-size"}));
  r.applyChoices();
  tamber::report::ReportDataOptions options;
  options.title = "Pieces";

  auto whole = tamber::report::buildReportData(**library, selection, options);
  ASSERT_TRUE(whole);
  auto expected = r.html(whole->get());
  ASSERT_TRUE(expected);

  for (size_t size : {size_t{1}, size_t{3}, size_t{4096}}) {
    options.pieceEntries = size;
    int pieces = 0;
    std::string page;
    auto build = [&](const tamber::report::PieceHandler* handler) {
      options.pieces = [&](int id, tamber::xml::Doc data) {
        ++pieces;
        return (*handler)(id, std::move(data));
      };
      return tamber::report::buildReportData(**library, selection, options);
    };
    auto keep = [&](std::string_view bytes) -> tamber::Status {
      page += bytes;
      return {};
    };
    auto asItIs = [](std::string html) -> tamber::Result<std::string> { return html; };
    auto st = r.writeHtml(build, asItIs, keep);
    ASSERT_TRUE(st) << st.message();
    EXPECT_EQ(page.find("tamber-piece"), std::string::npos);
    EXPECT_EQ(tagsOnly(page), tagsOnly(*expected)) << "pieces of " << size;
    if (size == 1) {
      EXPECT_GE(pieces, 8);  // nested pieces at every depth
    } else if (size == 4096) {
      EXPECT_EQ(pieces, 3);  // one per item with files
    }

    // Begun from the skeleton: the page's first bytes are out before any
    // file tree is read, and the page is the same to the byte.
    std::string once = std::move(page);
    page.clear();
    size_t before = 0;
    auto begunBuild = [&](const tamber::report::PieceHandler* handler) {
      before = page.size();
      return build(handler);
    };
    auto skeleton = [&]() { return tamber::report::buildReportSkeleton(**library, selection, options); };
    ASSERT_TRUE(r.writeHtml(begunBuild, asItIs, keep, skeleton));
    EXPECT_GT(before, 0u);
    EXPECT_NE(page.substr(0, before).find("<html"), std::string::npos);
    EXPECT_EQ(page, once) << "pieces of " << size;
    // A reader that goes away ends it with its error.
    size_t room = before + 10;
    std::string cut;
    auto st2 = r.writeHtml(build, asItIs, [&](std::string_view bytes) -> tamber::Status {
      if (cut.size() + bytes.size() > room) return tamber::Error{tamber::Errc::io, "gone"};
      cut += bytes;
      return {};
    }, skeleton);
    EXPECT_FALSE(st2);
    EXPECT_EQ(cut, once.substr(0, cut.size()));
  }

  // The XML written as it is made is the export stylesheet's output.
  std::string streamed;
  ASSERT_TRUE(tamber::report::writeReportData(**library, selection, options, [&](std::string_view bytes) {
    streamed += bytes;
    return tamber::Status{};
  }));
  auto reparsed = [](const std::string& text) {
    tamber::xml::Doc d(xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, "UTF-8", XML_PARSE_NOBLANKS));
    return d ? tamber::xml::serialize(d.get()) : std::string("not well-formed");
  };
  options.pieces = nullptr;
  auto data = tamber::report::buildReportData(**library, selection, options);
  ASSERT_TRUE(data);
  auto exported = r.xml(data->get());
  ASSERT_TRUE(exported);
  EXPECT_EQ(reparsed(streamed), reparsed(*exported));
  EXPECT_NE(streamed.find("standalone=\"yes\""), std::string::npos);
}

std::string& complaints() {
  static std::string said;
  return said;
}
void complain(void*, const char* format, ...) { complaints() += format; }

// A folder larger than a piece is sorted here and written in several
// pieces: the page is the one the stylesheet makes of the whole report, for
// every sort of the files, ties and letter case included.
TEST_F(Report, ALargeFolderIsSortedHereInPieces) {
  auto big = dir.path / "big";
  fs::create_directories(big / "inner" / "deeper");
  const char* stems[] = {"Zeta", "alpha", "Alpha", "beta", "été", "Ørsted", "_x", "10", "9"};
  for (int i = 0; i < 1150; ++i) {
    std::string name = std::string(stems[i % 9]) + "-" + std::to_string((i * 7919) % 1150);
    auto file = big / "inner" / name;
    std::ofstream(file) << std::string(static_cast<size_t>((i * 31) % 17), 'x');  // many equal sizes
    struct timespec times[2] = {{0, UTIME_OMIT}, {1600000000 + (i % 5) * 86400 + (i % 3) * 60, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
  }
  for (int i = 0; i < 20; ++i) fs::create_directories(big / "inner" / ("sub" + std::to_string(i)));
  std::ofstream(big / "inner" / "deeper" / "leaf.txt") << "leaf";
  ASSERT_EQ(tamber("add-folder -q " + shellQuote(big.string()) + " --label Big --category Work").status, 0);
  auto library = tamber::catalog::Library::open(lib, true);
  ASSERT_TRUE(library) << library.message();
  auto& catalog = (*library)->catalog();
  std::vector<xmlNode*> selection;
  for (xmlNode* c = catalog.root()->children; c; c = c->next) {
    if (tamber::catalog::CatalogDocument::isCategory(c)) selection.push_back(c);
  }
  for (std::vector<std::string> keys : std::vector<std::vector<std::string>>{
           {"file-name"}, {"file-size"}, {"modification-date"}, {"file-size", "file-name"}, {}}) {
    auto reporter = tamber::report::Reporter::open();
    ASSERT_TRUE(reporter);
    auto& r = **reporter;
    if (!keys.empty()) {
      ASSERT_TRUE(tamber::report::chooseSort(r.fields(), tamber::report::Level::fileItems, keys));
    }
    r.applyChoices();
    tamber::report::ReportDataOptions options;
    // Names in the locale's order (capitals and accents among their
    // letters), here and in the stylesheet alike.
    options.collationKey = tamber::report::collationKey;
    auto whole = tamber::report::buildReportData(**library, selection, options);
    ASSERT_TRUE(whole);
    auto expected = r.html(whole->get());
    ASSERT_TRUE(expected);
    options.pieceEntries = 100;
    // Nothing a reader of the pieces would complain of on standard error.
    complaints().clear();
    xmlSetGenericErrorFunc(nullptr, complain);
    int sortedPieces = 0;
    std::string page;
    auto st = r.writeHtml(
        [&](const tamber::report::PieceHandler* handler) {
          options.fileItemsSort = r.fileItemsSort();
          options.pieces = [&](int id, tamber::xml::Doc data) {
            xmlNode* root = xmlDocGetRootElement(data.get());
            tamber::xml::String sorted(xmlGetProp(root, tamber::xml::u("sorted")));
            if (sorted) ++sortedPieces;
            return (*handler)(id, std::move(data));
          };
          return tamber::report::buildReportData(**library, selection, options);
        },
        [](std::string html) -> tamber::Result<std::string> { return html; },
        [&](std::string_view bytes) -> tamber::Status {
          page += bytes;
          return {};
        },
        // Begun from the skeleton on every other round: the same page.
        keys.size() % 2 ? std::function<tamber::Result<tamber::xml::Doc>()>(
                              [&] { return tamber::report::buildReportSkeleton(**library, selection, options); })
                        : nullptr);
    xmlSetGenericErrorFunc(nullptr, nullptr);
    ASSERT_TRUE(st) << st.message();
    EXPECT_EQ(complaints(), "");
    EXPECT_GE(sortedPieces, 11) << "keys " << keys.size();
    EXPECT_EQ(page.find("tamber-piece"), std::string::npos);
    EXPECT_EQ(tagsOnly(page), tagsOnly(*expected)) << "sorted by " << (keys.empty() ? "nothing" : keys.front());
  }
}

// A preview's report: after so many files and folders nothing more is read
// or written, the page stays whole, and it says whether it left any out,
// whatever the pieces and however the listing is split into parts.
TEST_F(Report, APreviewStopsAfterItsEntries) {
  auto flat = dir.path / "flat";
  std::filesystem::create_directories(flat / "inner");
  for (int i = 0; i < 1200; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "n%04d.txt", i);
    std::ofstream(flat / "inner" / name) << i;
  }
  // And an item of 1,100 files at its top.
  auto top = dir.path / "top";
  std::filesystem::create_directories(top);
  for (int i = 0; i < 1100; ++i) std::ofstream(top / ("t" + std::to_string(i))) << i;
  ASSERT_EQ(tamber("add-folder -q " + shellQuote(top.string()) + " --label Top --category Zed").status, 0);
  ASSERT_EQ(tamber("add-folder -q " + shellQuote(flat.string()) + " --label Flat --category Work").status, 0);
  auto library = tamber::catalog::Library::open(lib, true);
  ASSERT_TRUE(library) << library.message();
  auto& catalog = (*library)->catalog();
  std::vector<xmlNode*> selection;
  for (xmlNode* c = catalog.root()->children; c; c = c->next) {
    if (tamber::catalog::CatalogDocument::isCategory(c)) selection.push_back(c);
  }
  auto reporter = tamber::report::Reporter::open();
  ASSERT_TRUE(reporter);
  auto& r = **reporter;
  r.applyChoices();
  // Work/Tree holds 5 entries, Work/Flat 1,201 (a part of 1,200 among
  // them), Zed/Top 1,100.
  for (long long limit : {1LL, 4LL, 5LL, 7LL, 500LL, 1206LL, 1500LL, 2306LL, 5000LL}) {
    for (size_t pieceEntries : {size_t{1}, size_t{4096}}) {
      tamber::report::ReportDataOptions options;
      options.entryLimit = limit;
      options.pieceEntries = pieceEntries;
      bool cut = false;
      options.limitReached = &cut;
      std::string page;
      auto st = r.writeHtml(
          [&](const tamber::report::PieceHandler* handler) {
            options.pieces = *handler;
            return tamber::report::buildReportData(**library, selection, options);
          },
          [](std::string html) -> tamber::Result<std::string> { return html; },
          [&](std::string_view bytes) -> tamber::Status {
            page += bytes;
            return {};
          });
      ASSERT_TRUE(st) << st.message() << " limit " << limit << " pieces of " << pieceEntries;
      EXPECT_EQ(cut, limit < 2306) << limit;
      EXPECT_NE(page.find("</html>"), std::string::npos);
      static const std::regex name(">n[0-9]{4}\\.txt<");
      auto files = std::distance(std::sregex_iterator(page.begin(), page.end(), name), std::sregex_iterator());
      long long shownFlat = std::clamp(limit - 5 - 1, 0LL, 1200LL);  // Tree's five, then the folder inner
      EXPECT_EQ(files, shownFlat) << "limit " << limit << " pieces of " << pieceEntries;
    }
  }
}

TEST_F(Report, RtfReadBackByAnIndependentReader) {
  auto out = dir.path / "report.rtf";
  auto r = tamber("report --format rtf --title 'Shelf list' -o " + shellQuote(out.string()));
  ASSERT_EQ(r.status, 0) << r.out;
  std::string rtf = fileText(out);
  EXPECT_EQ(rtf.rfind("{\\rtf1", 0), 0u);
  // unrtf writes 8-bit letters as Latin-1: read back here as such.
  auto text = runCommand("unrtf --text " + shellQuote(out.string()) + " 2>/dev/null", false);
  ASSERT_EQ(text.status, 0);
  std::string latin1 = text.out, utf8;
  for (unsigned char c : latin1) {
    if (c < 0x80) {
      utf8 += static_cast<char>(c);
    } else {
      utf8 += static_cast<char>(0xC0 | c >> 6);
      utf8 += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  for (const char* expected : {"Shelf list", "Tree", "a-big.bin", "inner.txt", "Night Drive", "Été indien", "2:57"}) {
    EXPECT_NE(utf8.find(expected), std::string::npos) << expected << "\n" << utf8;
  }
  // RTF goes to a file only; a file that cannot be written is an error.
  EXPECT_EQ(tamber("report --format rtf").status, 2);
  auto bad = tamber("report --format rtf -o " + shellQuote((dir.path / "no" / "such" / "r.rtf").string()));
  EXPECT_EQ(bad.status, 1);
  EXPECT_FALSE(std::filesystem::exists(dir.path / "no"));
}

TEST_F(Report, AStylesheetOfTheUsersOwn) {
  auto xsl = dir.path / "mine.xsl";
  std::ofstream(xsl) << R"X(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="text"/>
  <xsl:template match="/report">
    <xsl:for-each select="//file-structure"><xsl:value-of select="@cd-name"/>;</xsl:for-each>
    <xsl:value-of select="document('/etc/hostname')"/>
  </xsl:template>
</xsl:stylesheet>)X";
  // A stylesheet cannot read files: the transformation fails.
  auto r = tamber("report --stylesheet " + shellQuote(xsl.string()));
  EXPECT_EQ(r.status, 1) << r.out;
  std::ofstream(xsl) << R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="text"/>
  <xsl:template match="/report"><xsl:for-each select="//file-structure"><xsl:value-of select="@cd-name"/>;</xsl:for-each></xsl:template>
</xsl:stylesheet>)";
  r = tamber("report --stylesheet " + shellQuote(xsl.string()), false);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "Tree;");
  // The setting names one too.
  ASSERT_EQ(tamber("config set App-Preference DefaultXSLFile " + shellQuote(xsl.string())).status, 0);
  EXPECT_EQ(tamber("report", false).out, "Tree;");
  // A stylesheet's picture references lead nowhere outside the image folder.
  std::ofstream(xsl) << R"X(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="html"/>
  <xsl:template match="/report"><html><body>
    <img src="tamber://pointer=|1|stream=|../../evil|"/>
    <img src="{//cover-image/@src}"/>
  </body></html></xsl:template>
</xsl:stylesheet>)X";
  auto page = dir.path / "site" / "deep" / "r.html";
  std::filesystem::create_directories(page.parent_path());
  r = tamber("report --covers --stylesheet " + shellQuote(xsl.string()) + " -o " + shellQuote(page.string()));
  ASSERT_EQ(r.status, 0) << r.out;
  std::string html = fileText(page);
  EXPECT_EQ(html.find(".."), std::string::npos) << html;
  EXPECT_FALSE(std::filesystem::exists(dir.path / "evil.jpg"));
  EXPECT_FALSE(std::filesystem::exists(dir.path / "site" / "evil.jpg"));
  // The real cover is there, named by its bytes (a PNG).
  EXPECT_NE(html.find(".png"), std::string::npos) << html;
  std::ofstream(xsl) << "<not-xsl";
  EXPECT_EQ(tamber("report --stylesheet " + shellQuote(xsl.string())).status, 1);
}

// The resource documents a report needs are named when missing (the
// desktop program says so at start), and an empty one counts as missing.
TEST(ReportResources, MissingOnesAreNamed) {
  EXPECT_TRUE(tamber::report::missingReportResources().empty());
  tamber::test_support::TempDir copy;
  for (int n : {187, 189}) {
    std::filesystem::copy_file(tamber::report::reportResourceDirectory() / (std::to_string(n) + ".res"),
                               copy.path / (std::to_string(n) + ".res"));
  }
  std::ofstream(copy.path / "190.res") << "";
  auto missing = tamber::report::missingReportResources(copy.path);
  ASSERT_EQ(missing.size(), 2u);
  EXPECT_EQ(missing[0], "188.res (the export stylesheet)");
  EXPECT_EQ(missing[1], "190.res (the RTF stylesheet)");
}

TEST_F(Report, AStylesheetIncludesLocalStylesheetsOnly) {
  // A stylesheet split in two files works: the part is found beside it.
  auto part = dir.path / "part.xsl";
  std::ofstream(part) << R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:template name="names"><xsl:for-each select="//file-structure"><xsl:value-of select="@cd-name"/>;</xsl:for-each></xsl:template>
</xsl:stylesheet>)";
  auto xsl = dir.path / "main.xsl";
  auto write = [&](const std::string& href, const std::string& before = {}) {
    std::ofstream(xsl) << before << R"(<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:include href=")" << href << R"("/>
  <xsl:output method="text"/>
  <xsl:template match="/report"><xsl:call-template name="names"/></xsl:template>
</xsl:stylesheet>)";
  };
  write("part.xsl");
  auto r = tamber("report --stylesheet " + shellQuote(xsl.string()), false);
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out, "Tree;");
  // A FIFO, a device or a folder is not read, and nothing waits for a writer.
  auto fifo = dir.path / "pipe.xsl";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  for (const char* href : {"pipe.xsl", "/dev/zero", "/dev/stdin", "/tmp", "http://127.0.0.1:9/x.xsl"}) {
    write(href);
    r = tamber("report --stylesheet " + shellQuote(xsl.string()) + " </dev/null");
    EXPECT_EQ(r.status, 1) << href << ": " << r.out;
  }
  // The stylesheet itself: a FIFO is refused at once.
  r = tamber("report --stylesheet " + shellQuote(fifo.string()));
  EXPECT_EQ(r.status, 1) << r.out;
  // An included part's external DTD and entities are not loaded.
  std::ofstream(part) << "<!DOCTYPE x [<!ENTITY secret SYSTEM \"/etc/hostname\">]>" << R"(
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:template name="names">&secret;</xsl:template>
</xsl:stylesheet>)";
  write("part.xsl");
  r = tamber("report --stylesheet " + shellQuote(xsl.string()), false);
  std::string host = fileText("/etc/hostname");
  while (!host.empty() && host.back() == '\n') host.pop_back();
  if (!host.empty()) {
    EXPECT_EQ(r.out.find(host), std::string::npos) << r.out;
  }
}

}  // namespace
