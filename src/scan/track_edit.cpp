#include "scan/track_edit.h"

#include <libxml/xpathInternals.h>

#include <cstdio>

#include "disc/track.h"
#include "platform/text.h"
#include "platform/xml.h"

namespace tamber::scan {

namespace {

const char* fieldOf(TrackColumn column) {
  switch (column) {
    case TrackColumn::title: return "c";
    case TrackColumn::performer: return "j";
    case TrackColumn::composer: return "k";
    case TrackColumn::songwriter: return "l";
  }
  return "";
}

// The children of a track item come in this order.
int rankOf(const xmlChar* name) {
  static const char* order[] = {"c", "f", "e", "g", "j", "k", "l"};
  for (int i = 0; i < 7; ++i) {
    if (xmlStrcmp(name, xml::u(order[i])) == 0) return i;
  }
  return 99;
}

}  // namespace

Status editTrackField(catalog::Library& library, const catalog::ItemPath& category, uint16_t number, int position,
                      TrackColumn column, const std::string& text) {
  auto& doc = library.catalog();
  xmlNode* item = doc.item(category, number);
  if (!item) return Error{Errc::not_found, "no such disc"};
  int kind = doc.itemKind(item);
  if (kind != catalog::kKindAudioCd && kind != catalog::kKindCdExtra) {
    return Error{Errc::unsupported, "only an audio disc has tracks"};
  }
  std::string value = xmlSafe(text);
  if (column == TrackColumn::title && value.find_first_not_of(" \t") == std::string::npos) {
    return Error{Errc::invalid_argument, "a track needs a title"};
  }
  std::string name = catalog::streamName(catalog::StreamKind::listing, category, number);
  auto root = library.file().root();
  auto stream = root.openStream(name);
  if (!stream) return stream.error();
  auto bytes = stream->readAll();
  if (!bytes) return bytes.error();
  // Our own listing: no DTD, no entities, nothing fetched.
  xml::Doc listing(xmlReadMemory(bytes->data(), static_cast<int>(bytes->size()), nullptr, "UTF-8",
                                 XML_PARSE_NONET | XML_PARSE_HUGE | XML_PARSE_NOERROR | XML_PARSE_NOWARNING));
  if (!listing || listing->intSubset) return Error{Errc::corrupt, "the disc's listing is damaged"};
  xml::XPathContext ctx(xmlXPathNewContext(listing.get()));
  xmlXPathRegisterNs(ctx.get(), xml::u("a"), xml::u("urn:CDs"));
  char path[64];
  std::snprintf(path, sizeof path, "/a:a1/a:b[position() = %d]", position);
  xml::XPathObject found(xmlXPathEvalExpression(xml::u(path), ctx.get()));
  if (!found || !found->nodesetval || found->nodesetval->nodeNr != 1) {
    return Error{Errc::not_found, "the disc has no track " + std::to_string(position)};
  }
  xmlNode* track = found->nodesetval->nodeTab[0];
  auto childText = [&](const char* code) { return xml::content(xml::childElement(track, code)); };
  if (!disc::isAudioTrackItem(childText("c"), childText("f"))) {
    return Error{Errc::not_found, "entry " + std::to_string(position) + " of the disc is no audio track"};
  }
  const char* code = fieldOf(column);
  xmlNode* field = xml::childElement(track, code);
  if (value.empty()) {
    if (field) {
      xmlUnlinkNode(field);
      xmlFreeNode(field);
    }
  } else {
    if (!field) {
      // In its place among the other fields.
      xmlNode* before = nullptr;
      for (xmlNode* c = track->children; c && !before; c = c->next) {
        if (c->type == XML_ELEMENT_NODE && rankOf(c->name) > rankOf(xml::u(code))) before = c;
      }
      field = xmlNewDocNode(listing.get(), track->ns, xml::u(code), nullptr);
      if (before) {
        xmlAddPrevSibling(before, field);
      } else {
        xmlAddChild(track, field);
      }
    }
    xmlNodeSetContent(field, nullptr);
    xmlAddChild(field, xmlNewTextLen(xml::u(value.c_str()), static_cast<int>(value.size())));
  }
  xmlChar* out = nullptr;
  int size = 0;
  xmlDocDumpMemoryEnc(listing.get(), &out, &size, "UTF-8");
  std::string updated(xml::c(out), static_cast<size_t>(size));
  xmlFree(out);
  if (Status st = stream->setSize(0); !st) return st;
  if (auto at = stream->seek(0); !at) return at.status();
  if (Status st = stream->write(updated); !st) return st;
  if (Status st = stream->commit(); !st) return st;
  doc.setModified();
  return {};
}

}  // namespace tamber::scan
