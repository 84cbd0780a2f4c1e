#include "scan/listing_reader.h"

#include <libxml/parser.h>

#include <cstring>
#include <map>
#include <set>

#include "platform/text.h"
#include "platform/xml.h"

namespace tamber::scan {

namespace {

using xml::c;

struct Parser {
  const PartLoader& loadPart;
  std::set<int> seen;
  int parts = 0;

  Status entries(xmlNode* parent, std::vector<ListingEntry>& out, int depth);
  Status entry(xmlNode* node, bool folder, ListingEntry& e, int depth);
  Status part(int k, std::vector<ListingEntry>& out, int depth);
};

Result<xml::Doc> parse(std::string_view text) {
  if (text.size() > static_cast<size_t>(INT32_MAX)) {
    return Error{Errc::corrupt, "the listing is too large"};
  }
  xml::Doc doc(xmlReadMemory(text.data(), static_cast<int>(text.size()), nullptr, "UTF-8",
                             XML_PARSE_NONET | XML_PARSE_HUGE | XML_PARSE_NOERROR |
                                 XML_PARSE_NOWARNING));
  if (!doc) return Error{Errc::corrupt, "the listing is damaged: it is not well-formed XML"};
  xmlNode* root = xmlDocGetRootElement(doc.get());
  if (!root || std::strcmp(c(root->name), "a1") != 0) {
    return Error{Errc::corrupt, "the listing is damaged: its root element is not a1"};
  }
  return doc;
}

Status Parser::entry(xmlNode* node, bool folder, ListingEntry& e, int depth) {
  e.folder = folder;
  for (xmlNode* n = node->children; n; n = n->next) {
    if (n->type != XML_ELEMENT_NODE) continue;
    const char* name = c(n->name);
    if (std::strcmp(name, "a") == 0 || std::strcmp(name, "b") == 0) continue;
    std::string text = xml::content(n);
    if (std::strcmp(name, "c") == 0) {
      e.name = text;
    } else if (std::strcmp(name, "d") == 0) {
      e.modified = text;
    } else if (std::strcmp(name, "e6") == 0) {
      e.created = text;
    } else if (!folder && std::strcmp(name, "e") == 0) {
      e.size = std::strtoull(text.c_str(), nullptr, 10);
    } else if (folder && std::strcmp(name, "d7") == 0) {
      e.part = std::atoi(text.c_str());
    } else {
      e.fields.emplace_back(name, std::move(text));
    }
  }
  if (!folder) return {};
  if (Status st = entries(node, e.children, depth + 1); !st) return st;
  if (e.part > 0) return part(e.part, e.children, depth + 1);
  return {};
}

Status Parser::entries(xmlNode* parent, std::vector<ListingEntry>& out, int depth) {
  if (depth > 4096) return Error{Errc::corrupt, "the listing is damaged: folders nest too deep"};
  for (xmlNode* n = parent->children; n; n = n->next) {
    if (n->type != XML_ELEMENT_NODE) continue;
    bool folder = std::strcmp(c(n->name), "a") == 0;
    if (!folder && std::strcmp(c(n->name), "b") != 0) continue;
    ListingEntry e;
    if (Status st = entry(n, folder, e, depth); !st) return st;
    out.push_back(std::move(e));
  }
  return {};
}

Status Parser::part(int k, std::vector<ListingEntry>& out, int depth) {
  if (k > 0xFFFF || !seen.insert(k).second) {
    return Error{Errc::corrupt, "the listing is damaged: part " + std::to_string(k) +
                                    " is named twice"};
  }
  auto text = loadPart(k);
  if (!text) {
    return Error{Errc::corrupt, "the listing is damaged: part " + std::to_string(k) + " is missing"};
  }
  auto doc = parse(*text);
  if (!doc) return doc.error();
  ++parts;
  return entries(xmlDocGetRootElement(doc->get()), out, depth);
}

}  // namespace

const std::string* ListingEntry::field(std::string_view code) const {
  for (const auto& [k, v] : fields) {
    if (k == code) return &v;
  }
  return nullptr;
}

Result<Listing> parseListing(std::string_view text, const PartLoader& loadPart) {
  auto doc = parse(text);
  if (!doc) return doc.error();
  xmlNode* root = xmlDocGetRootElement(doc->get());
  Listing listing;
  xml::String kind(xmlGetProp(root, xml::u("i")));
  if (kind) listing.kind = std::atoi(c(kind.get()));
  Parser p{loadPart, {}, 0};
  if (Status st = p.entries(root, listing.entries, 0); !st) return st.error();
  listing.parts = p.parts;
  return listing;
}

Result<Listing> readListing(storage::Storage library, const catalog::ItemPath& category,
                            uint16_t number) {
  auto readStream = [&](const std::string& name) -> Result<std::string> {
    auto s = library.openStream(name);
    if (!s) return s.error();
    return s->readAll();
  };
  std::string mainName = catalog::streamName(catalog::StreamKind::listing, category, number);
  auto text = readStream(mainName);
  if (!text) return Error{Errc::not_found, "the item has no listing (" + mainName + ")"};
  return parseListing(*text, [&](int k) -> std::optional<std::string> {
    auto t = readStream(catalog::streamName(catalog::StreamKind::listing, category, number, k));
    if (!t) return std::nullopt;
    return std::move(*t);
  });
}

const ListingEntry* findEntry(const Listing& listing, std::string_view path, bool& found) {
  const std::vector<ListingEntry>* level = &listing.entries;
  const ListingEntry* at = nullptr;
  found = true;
  for (std::string_view step : splitNonEmpty(path, '/')) {
    if (at && !at->folder) {
      found = false;
      return nullptr;
    }
    const ListingEntry* next = nullptr;
    for (const auto& e : *level) {
      if (e.name == step) {
        next = &e;
        break;
      }
    }
    if (!next) {
      found = false;
      return nullptr;
    }
    at = next;
    level = &next->children;
  }
  return at;
}

Result<std::string> readRecord(storage::Storage library, const std::string& streamName,
                               uint64_t offset) {
  auto s = library.openStream(streamName);
  if (!s) return Error{Errc::not_found, "the item has no " + streamName + " stream"};
  uint64_t size = s->size();
  if (offset > size || size - offset < 4) {
    return Error{Errc::corrupt, "the record at " + std::to_string(offset) + " lies past the end of " +
                                    streamName};
  }
  if (auto r = s->seek(static_cast<int64_t>(offset)); !r) return r.error();
  uint8_t len[4];
  auto n = s->read(len, 4);
  if (!n || *n != 4) return Error{Errc::corrupt, "cannot read the record's length"};
  uint64_t length = len[0] | (len[1] << 8) | (len[2] << 16) | (uint64_t{len[3]} << 24);
  if (length > size - offset - 4) {
    return Error{Errc::corrupt, "the record at " + std::to_string(offset) + " of " + streamName +
                                    " is longer than the stream"};
  }
  std::string bytes(length, '\0');
  auto got = s->read(bytes.data(), bytes.size());
  if (!got || *got != length) return Error{Errc::corrupt, "cannot read the record"};
  return bytes;
}

std::string fieldDisplayName(std::string_view code) {
  static const std::map<std::string_view, const char*> names{
      {"m", "version"},          {"n", "mode"},
      {"o", "bitrate"},          {"p", "frequency"},
      {"q", "duration"},         {"r", "title"},
      {"s", "artist"},           {"t", "album"},
      {"u", "genre"},            {"v", "comment"},
      {"b0", "ogg-vendor"},      {"w", "year"},
      {"a8", "track-number"},    {"x", "lyrics"},
      {"e4", "compression"},     {"e5", "other-tags"},
      {"a2", "taken-date"},      {"a3", "digicam"},
      {"a4", "digicam-model"},   {"a5", "exposure-time"},
      {"a6", "F-number"},        {"a7", "Exposure-program"},
      {"y", "thumbnail"},        {"z", "dimension"},
      {"h", "color-depth"},      {"c2", "doc-type"},
      {"b1", "company-name"},    {"b2", "description"},
      {"b3", "file-version"},    {"b4", "languages"},
      {"b5", "internal-name"},   {"b6", "legal-copyright"},
      {"b7", "legal-trademarks"}, {"b8", "original-name"},
      {"b9", "product-name"},    {"c0", "product-version"},
      {"c1", "special-build"},   {"c3", "doc-subject"},
      {"c4", "doc-author"},      {"c5", "keywords"},
      {"c6", "template"},        {"c7", "last-author"},
      {"c8", "appname"},         {"c9", "revision-number"},
      {"d0", "page-count"},      {"d1", "edit-time"},
      {"d2", "last-print-date"}, {"d3", "creat-date"},
      {"d4", "last-saved-date"}, {"d5", "creator"},
      {"d6", "producer"},        {"a9", "archive"}};
  auto it = names.find(code);
  return it == names.end() ? std::string(code) : it->second;
}

}  // namespace tamber::scan
