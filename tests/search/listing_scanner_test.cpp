// The listing scanner reads what the listing writer writes exactly as the
// general XML reader does, and refuses damage without expanding anything.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "scan/listing.h"
#include "scan/listing_reader.h"
#include "scan/listing_scanner.h"

namespace tamber::search {
using scan::ListingScanner;
namespace {

// Entries as "depth name size" lines, from the scanner.
std::string scanned(std::string_view doc, std::string* error = nullptr) {
  ListingScanner s(doc);
  std::string out, name, size;
  int depth = 0;
  bool inEntry = false;
  for (;;) {
    auto ev = s.next();
    if (ev == ListingScanner::Event::error) {
      if (error) *error = s.error();
      return "error";
    }
    if (ev == ListingScanner::Event::end) return out;
    if (ev == ListingScanner::Event::open && s.name() == "a") ++depth;
    if (ev == ListingScanner::Event::open && s.name() == "b") inEntry = true;
    if (ev == ListingScanner::Event::text && s.name() == "c") {
      name = s.text();
      if (!inEntry) out += std::to_string(depth) + " " + name + "/\n";
    }
    if (ev == ListingScanner::Event::text && s.name() == "e") size = s.text();
    if (ev == ListingScanner::Event::close && s.name() == "b") {
      out += std::to_string(depth) + " " + name + " " + size + "\n";
      inEntry = false;
    }
    if (ev == ListingScanner::Event::close && s.name() == "a") --depth;
  }
}

// Every event with its name and text, the text given whole or fed in
// pieces of `piece` bytes.
std::string trace(std::string_view doc, size_t piece = 0) {
  ListingScanner whole(doc), fed;
  ListingScanner& s = piece ? fed : whole;
  size_t at = 0;
  std::string out;
  for (;;) {
    auto ev = s.next();
    if (ev == ListingScanner::Event::more) {
      size_t take = std::min(piece, doc.size() - at);
      fed.feed(doc.substr(at, take), at + take == doc.size());
      at += take;
      continue;
    }
    if (ev == ListingScanner::Event::error) return out + "error: " + s.error();
    if (ev == ListingScanner::Event::end) return out + "end";
    out += std::to_string(static_cast<int>(ev)) + " " + std::string(s.name()) + " " + s.text() + " " +
           std::to_string(s.depth()) + "\n";
  }
}

// The same from the general reader.
void flatten(const std::vector<scan::ListingEntry>& entries, int depth, std::string& out) {
  for (const auto& e : entries) {
    if (e.folder) {
      out += std::to_string(depth + 1) + " " + e.name + "/\n";
      flatten(e.children, depth + 1, out);
    } else {
      out += std::to_string(depth) + " " + e.name + " " + std::to_string(e.size) + "\n";
    }
  }
}

std::string file(const std::string& name, uint64_t size) {
  std::string out = "<b>";
  scan::appendTextElement(out, "c", name);
  scan::appendTextElement(out, "e", std::to_string(size));
  scan::appendTextElement(out, "d", "5F3A2B10");
  return out + "</b>";
}

TEST(ListingScanner, ReadsWhatTheWriterWritesAsTheXmlReaderDoes) {
  std::mt19937 rng(3);
  const std::vector<std::string> odd = {"plain.txt",     "a<b>&c.txt",      "]]>x]]>",
                                        "line\r\nfeed",  "caf\xC3\xA9.mp3", "\xE5\x86\x99\xE7\x9C\x9F",
                                        "ctl\x01.txt",   "quote\"'s",       "  spaced  "};
  for (int round = 0; round < 50; ++round) {
    std::string doc = scan::listingHeader(13);
    int open = 0;
    for (int i = 0; i < 60; ++i) {
      int r = static_cast<int>(rng() % 10);
      if (r < 2) {
        doc += "<a>";
        scan::appendTextElement(doc, "c", odd[rng() % odd.size()] + std::to_string(i));
        scan::appendTextElement(doc, "d", "1");
        ++open;
      } else if (r < 3 && open > 0) {
        doc += "</a>";
        --open;
      } else {
        doc += file(odd[rng() % odd.size()] + std::to_string(i), rng() % 5000000000ULL);
      }
    }
    while (open-- > 0) doc += "</a>";
    doc += "</a1>";
    auto listing = scan::parseListing(doc, [](int) { return std::nullopt; });
    ASSERT_TRUE(listing) << listing.message();
    std::string expected;
    flatten(listing->entries, 0, expected);
    ASSERT_EQ(scanned(doc), expected) << doc;
    // Fed in pieces, every event comes out the same.
    std::string all = trace(doc);
    for (size_t piece : {1, 2, 3, 9, 64, 4096}) ASSERT_EQ(trace(doc, piece), all) << piece;
  }
}

TEST(ListingScanner, RefusesDamageAndExpandsNothing) {
  std::string head = "<?xml version=\"1.0\"?>";
  std::string error;
  for (std::string bad : {
           head + "<a1><b><c>x</c></b>",                                   // ends inside
           head + "<!DOCTYPE a1 [<!ENTITY e \"boom\">]><a1><b><c>&e;</c></b></a1>",
           head + "<a1><b><c>&e;</c></b></a1>",                            // unknown entity
           head + "<a1><b><c>x</b></c></a1>",                              // crossed tags
           head + "<a1></a1><a1></a1>",                                    // two roots
           head + "<a1><b><c><![CDATA[x</c></b></a1>",                     // open CDATA
           head + "<a1><b><c>&#0;</c></b></a1>",                           // no such character
           std::string("garbage"), std::string(""), head}) {
    EXPECT_EQ(scanned(bad, &error), "error") << bad;
    EXPECT_EQ(error.rfind("the listing is damaged", 0), 0u) << error;
    for (size_t piece : {1, 5, 4096}) EXPECT_EQ(trace(bad, piece), trace(bad)) << bad;
  }
  // References and CDATA decode; comments and declarations pass.
  EXPECT_EQ(scanned(head + "<!-- c --><a1 i=\"13\"><b><c>a&amp;b&#13;&#x263A;<![CDATA[<x>]]></c><e>7</e></b></a1>"),
            "0 a&b\r\xE2\x98\xBA<x> 7\n");
  // Deep nesting needs no recursion: 60,000 levels read, past the limit an error.
  std::string deep = head + "<a1>";
  for (int i = 0; i < 60000; ++i) deep += "<a><c>d</c>";
  for (int i = 0; i < 60000; ++i) deep += "</a>";
  deep += "</a1>";
  std::string out = scanned(deep);
  EXPECT_NE(out, "error");
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 60000);
  std::string tooDeep = head + "<a1>";
  for (int i = 0; i < 70000; ++i) tooDeep += "<a>";
  EXPECT_EQ(scanned(tooDeep, &error), "error");
  EXPECT_EQ(trace(deep, 1000), trace(deep));
}

// Fed, an element longer than the scanner keeps is damage, not a reason to
// hold the whole listing.
TEST(ListingScanner, FedTextKeepsNoMoreThanTheLongestElement) {
  ListingScanner s;
  s.feed("<?xml version=\"1.0\"?><a1><b><c>", false);
  std::string piece(1 << 20, 'x');
  ListingScanner::Event ev = ListingScanner::Event::more;
  size_t fed = 0;
  while (ev != ListingScanner::Event::error && fed < ListingScanner::kMaxElement + (4u << 20)) {
    ev = s.next();
    if (ev == ListingScanner::Event::more) {
      s.feed(piece, false);
      fed += piece.size();
    }
  }
  EXPECT_EQ(ev, ListingScanner::Event::error);
  EXPECT_NE(s.error().find("too long"), std::string::npos) << s.error();
}

}  // namespace
}  // namespace tamber::search
