#include "report/report_choices.h"

#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "platform/xml.h"

namespace tamber::report {

namespace {

constexpr const char* kXslNamespace = "http://www.w3.org/1999/XSL/Transform";

struct Row {
  Level level;
  int position;
  SortElement first, second;
};

// The sort-key tables: one or two sort elements per field position.
constexpr Row kSortTable[] = {
    {Level::category, 0, {"@name-key", ""}, {"@name", ""}},
    {Level::category, 1, {"creation-date/@datenum", "number"}, {"creation-date/@timenum", "number"}},
    {Level::category, 2, {"cddvd-number", "number"}, {nullptr, nullptr}},
    {Level::category, 3, {"audio-tracks", "number"}, {nullptr, nullptr}},
    {Level::category, 4, {"price", "number"}, {nullptr, nullptr}},
    {Level::category, 5, {"comment", ""}, {nullptr, nullptr}},
    {Level::fileStructure, 0, {"@cd-name-key", ""}, {"@cd-name", ""}},
    {Level::fileStructure, 1, {"media-type", ""}, {nullptr, nullptr}},
    {Level::fileStructure, 2, {"cd-capacity", "number"}, {nullptr, nullptr}},
    {Level::fileStructure, 3, {"recording-depth", "number"}, {nullptr, nullptr}},
    {Level::fileStructure, 5, {"location", ""}, {nullptr, nullptr}},
    {Level::fileStructure, 6, {"tracks", "number"}, {nullptr, nullptr}},
    {Level::fileStructure, 7, {"price", "number"}, {nullptr, nullptr}},
    {Level::fileItems, 0, {"file-name/@key", ""}, {"file-name", ""}},
    {Level::fileItems, 1, {"file-size", "number"}, {nullptr, nullptr}},
    {Level::fileItems, 2, {"modification-date/@datenum", "number"}, {"modification-date/@timenum", "number"}},
    {Level::audioDetails, 0, {"album", ""}, {nullptr, nullptr}},
    {Level::audioDetails, 1, {"artist", ""}, {nullptr, nullptr}},
    {Level::audioDetails, 2, {"genre", ""}, {nullptr, nullptr}},
    {Level::audioDetails, 3, {"year", "number"}, {nullptr, nullptr}},
    {Level::audioDetails, 4, {"cd-type", ""}, {nullptr, nullptr}},
    {Level::audioDetails, 5, {"tracks", "number"}, {nullptr, nullptr}},
    {Level::audioDetails, 6, {"length", "number"}, {nullptr, nullptr}},
    {Level::audioDetails, 7, {"catalog-number", ""}, {nullptr, nullptr}},
    {Level::audioDetails, 8, {"price", "number"}, {nullptr, nullptr}},
    {Level::audioDetails, 9, {"location", ""}, {nullptr, nullptr}},
    {Level::trackItem, 0, {"track-name/@key", ""}, {"track-name", ""}},
    {Level::trackItem, 1, {"track-length", "number"}, {nullptr, nullptr}},
    {Level::trackItem, 2, {"track-ISRC", ""}, {nullptr, nullptr}},
    {Level::trackItem, 3, {"track-performer", ""}, {nullptr, nullptr}},
    {Level::trackItem, 4, {"track-composer", ""}, {nullptr, nullptr}},
    {Level::trackItem, 5, {"track-songwriter", ""}, {nullptr, nullptr}},
};

std::vector<xmlNode*> select(xmlDoc* doc, const std::string& expression, bool withXsl = false) {
  std::vector<xmlNode*> out;
  xml::XPathContext ctx(xmlXPathNewContext(doc));
  if (!ctx) return out;
  if (withXsl) xmlXPathRegisterNs(ctx.get(), xml::u("xsl"), xml::u(kXslNamespace));
  xml::XPathObject result(xmlXPathEvalExpression(xml::u(expression.c_str()), ctx.get()));
  if (!result || !result->nodesetval) return out;
  for (int i = 0; i < result->nodesetval->nodeNr; ++i) out.push_back(result->nodesetval->nodeTab[i]);
  return out;
}

// The level's parent level, for the sub-levels.
bool parentOf(Level level, Level& parent) {
  if (level == Level::fileItems) parent = Level::fileStructure;
  else if (level == Level::trackItem) parent = Level::audioDetails;
  else return false;
  return true;
}

std::string levelPath(Level level) {
  char buf[160];
  Level parent;
  if (parentOf(level, parent)) {
    std::snprintf(buf, sizeof buf, "%s%s[%s=\"%s\"]/%s[%s=\"%s\"]", "/ReportFields/", "level", "n", levelName(parent),
                  "level", "n", levelName(level));
  } else {
    std::snprintf(buf, sizeof buf, "%s%s[%s=\"%s\"]", "/ReportFields/", "level", "n", levelName(level));
  }
  return buf;
}

// The level's field entries: its "level" children, in document order.
std::vector<xmlNode*> fieldsOf(xmlNode* level) {
  std::vector<xmlNode*> out;
  for (xmlNode* n = level ? level->children : nullptr; n; n = n->next) {
    if (n->type == XML_ELEMENT_NODE && xmlStrcmp(n->name, xml::u("level")) == 0) out.push_back(n);
  }
  return out;
}

std::string nameOf(xmlNode* field) { return xml::content(xml::childElement(field, "n")); }

std::string attribute(xmlNode* n, const char* name) {
  xml::String v(xmlGetProp(n, xml::u(name)));
  return v ? xml::c(v.get()) : "";
}

bool isTrue(const std::string& v) { return v == "1" || v == "true" || v == "-1"; }

int sortNumber(xmlNode* n) {
  std::string v = attribute(n, "srt");
  int number = 0;
  if (std::sscanf(v.c_str(), "%d", &number) != 1 || number < 0 || number > 255) return 0;
  return number;
}

void setAttribute(xmlNode* n, const char* name, const std::string& value) {
  xmlSetProp(n, xml::u(name), xml::u(value.c_str()));
}

}  // namespace

const char* levelName(Level level) {
  switch (level) {
    case Level::category: return "category";
    case Level::fileStructure: return "file-structure";
    case Level::fileItems: return "file-items";
    case Level::audioDetails: return "audio-details";
    case Level::trackItem: return "track-item";
    case Level::summary: return "summary";
  }
  return "";
}

bool levelOfName(const std::string& name, Level& level) {
  for (Level l : {Level::category, Level::fileStructure, Level::fileItems, Level::audioDetails, Level::trackItem,
                  Level::summary}) {
    if (name == levelName(l)) {
      level = l;
      return true;
    }
  }
  return false;
}

xmlNode* levelElement(xmlDoc* fields, Level level) {
  auto found = select(fields, levelPath(level));
  return found.empty() ? nullptr : found.front();
}

LevelChoice readChoice(xmlDoc* fields, Level level) {
  LevelChoice choice;
  xmlNode* element = levelElement(fields, level);
  if (!element || !isTrue(attribute(element, "sel"))) return choice;
  choice.shown = true;
  bool sorting = sortNumber(element) == 1;
  std::vector<std::pair<int, int>> keys;  // (srt, position)
  auto entries = fieldsOf(element);
  for (size_t i = 0; i < entries.size() && i < 32; ++i) {
    if (isTrue(attribute(entries[i], "sel"))) choice.fieldMask |= 1u << i;
    // A sub-level's own "srt" switches its own sorting; it is no key here.
    int srt = fieldsOf(entries[i]).empty() ? sortNumber(entries[i]) : 0;
    if (sorting && srt != 0) keys.emplace_back(srt, static_cast<int>(i));
  }
  std::stable_sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& k : keys) choice.sortKeys.push_back(k.second);
  return choice;
}

std::vector<std::vector<std::string>> fieldLists(xmlDoc* fields) {
  const char* expressions[] = {
      "/ReportFields/level/n",
      "//level[n=\"category\"]/level/n",
      "//level[n=\"file-structure\"]/level/n",
      "//level[n=\"file-structure\"]/level[n=\"file-items\"]/level/n",
      "//level[n=\"audio-details\"]/level/n",
      "//level[n=\"audio-details\"]/level[n=\"track-item\"]/level/n",
      "//level[n=\"summary\"]/level/n",
  };
  std::vector<std::vector<std::string>> lists;
  for (const char* e : expressions) {
    std::vector<std::string> names;
    for (xmlNode* n : select(fields, e)) names.push_back(xml::content(n));
    lists.push_back(std::move(names));
  }
  return lists;
}

std::vector<SortElement> sortElements(Level level, int position) {
  std::vector<SortElement> out;
  for (const Row& r : kSortTable) {
    if (r.level != level || r.position != position) continue;
    out.push_back(r.first);
    if (r.second.select) out.push_back(r.second);
  }
  return out;
}

void applySortKeys(xmlDoc* stylesheet, Level level, const std::vector<int>& keys) {
  std::string expression = std::string("//*/xsl:apply-templates[@select=\"") + levelName(level) + "\"]";
  for (xmlNode* apply : select(stylesheet, expression, true)) {
    // The old sort elements go; the new ones come first, as XSLT requires.
    for (xmlNode* n = apply->children; n;) {
      xmlNode* next = n->next;
      if (n->type == XML_ELEMENT_NODE && xmlStrcmp(n->name, xml::u("sort")) == 0 && n->ns &&
          xmlStrcmp(n->ns->href, xml::u(kXslNamespace)) == 0) {
        xmlUnlinkNode(n);
        xmlFreeNode(n);
      }
      n = next;
    }
    xmlNode* first = apply->children;
    for (int key : keys) {
      for (const SortElement& element : sortElements(level, key)) {
        xmlNode* sort = xmlNewDocNode(stylesheet, apply->ns, xml::u("sort"), nullptr);
        xmlSetProp(sort, xml::u("select"), xml::u(element.select));
        if (*element.dataType) xmlSetProp(sort, xml::u("data-type"), xml::u(element.dataType));
        if (first) {
          xmlAddPrevSibling(first, sort);
        } else {
          xmlAddChild(apply, sort);
        }
      }
    }
  }
}

namespace {

// The field entries of a level named by `names`; an error names the first
// that is not there.
Status entriesNamed(xmlDoc* fields, Level level, const std::vector<std::string>& names,
                    std::vector<xmlNode*>& entries, xmlNode*& element) {
  element = levelElement(fields, level);
  if (!element) return Error{Errc::not_found, std::string("no report level \"") + levelName(level) + "\""};
  auto all = fieldsOf(element);
  for (const std::string& name : names) {
    auto it = std::find_if(all.begin(), all.end(), [&](xmlNode* f) { return nameOf(f) == name; });
    if (it == all.end()) {
      std::string known;
      for (xmlNode* f : all) known += (known.empty() ? "" : ", ") + nameOf(f);
      return Error{Errc::invalid_argument, "the level \"" + std::string(levelName(level)) + "\" has no field \"" +
                                               name + "\" (it has " + known + ")"};
    }
    entries.push_back(*it);
  }
  return {};
}

}  // namespace

Status chooseFields(xmlDoc* fields, Level level, const std::vector<std::string>& names) {
  std::vector<xmlNode*> chosen;
  xmlNode* element = nullptr;
  if (Status st = entriesNamed(fields, level, names, chosen, element); !st) return st;
  setAttribute(element, "sel", "1");
  for (xmlNode* f : fieldsOf(element)) {
    // A sub-level stays as it is: it is chosen by its own name.
    bool subLevel = !fieldsOf(f).empty();
    if (subLevel) continue;
    bool on = std::find(chosen.begin(), chosen.end(), f) != chosen.end();
    setAttribute(f, "sel", on ? "1" : "0");
  }
  return {};
}

Status chooseSort(xmlDoc* fields, Level level, const std::vector<std::string>& names) {
  std::vector<xmlNode*> chosen;
  xmlNode* element = nullptr;
  if (Status st = entriesNamed(fields, level, names, chosen, element); !st) return st;
  setAttribute(element, "srt", names.empty() ? "0" : "1");
  for (xmlNode* f : fieldsOf(element)) {
    if (fieldsOf(f).empty()) setAttribute(f, "srt", "0");  // a sub-level keeps its own switch
  }
  int order = 1;
  for (xmlNode* f : chosen) setAttribute(f, "srt", std::to_string(order++));
  return {};
}

}  // namespace tamber::report
