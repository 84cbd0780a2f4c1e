// CHTMLExtract: the title, description and keywords of an HTML page's head,
// taken from the first window of the file.
#include <algorithm>

#include "media/doc/doc_util.h"
#include "media/media.h"
#include "media/media_file.h"
#include "media/pattern.h"

using namespace tamber::media;

namespace {

constexpr const char16_t* kExtensions[] = {u"htm", u"html", u"hta", u"htt", u"php",
                                          u"php3", u"phtml", u"htx", u"jsp"};

constexpr const char* kTitle = "<[ \t\n\r]*title[ \t\n\r]*>{.*}<[ \t\n\r]*/title[ \t\n\r]*>";
constexpr const char* kDescription =
    "<[ \t\n\r]*meta[ \t\n\r]*name[ \t\n\r]*=[ \t\n\r]*\"*Description\"*[ \t\n\r]*CONTENT[ \t\n\r]*=[ "
    "\t\n\r]*['|\"]{[^'\"]*}";
constexpr const char* kKeywords =
    "<[ \t\n\r]*meta[ \t\n\r]*name[ \t\n\r]*=[ \t\n\r]*\"*KEYWORDS\"*[ \t\n\r]*CONTENT[ \t\n\r]*=[ "
    "\t\n\r]*['|\"]{[^'\"]*}";

}  // namespace

CHTMLExtract::CHTMLExtract(const std::u16string& path, uint8_t* scratch, int size, const char16_t* extension) {
  ResetPorps(info_);
  // The extension given, else the path's own after its last "."; compared
  // exactly, so "HTM" is not a page.
  std::u16string ext = extension ? extension : u"";
  if (ext.empty()) {
    size_t dot = path.rfind(u'.');
    if (dot == std::u16string::npos) return;
    ext = path.substr(dot + 1);
  }
  if (std::find(std::begin(kExtensions), std::end(kExtensions), ext) == std::end(kExtensions)) return;
  MediaFile::Cache cache;
  MediaFile file(nativePath(path), cache);
  if (!file.ok()) return;
  requireScratch(scratch, size);
  if (size < 4) return;
  // The window leaves the buffer's last two bytes zero: the text's end in
  // either width.
  file.read(0, scratch, static_cast<size_t>(size - 2));
  valid_ = 1;
  bool wide = matchFirstGroup(scratch, "<head>{.*}</head>", true).has_value();
  auto take = [&](const char* pattern, std::u16string& field) {
    if (auto v = matchFirstGroup(scratch, pattern, wide, true, Narrow::utf8IfValid)) field = std::move(*v);
  };
  take(kTitle, info_.title);
  take(kDescription, info_.description);
  take(kKeywords, info_.keywords);
  found_ = !info_.title.empty() || !info_.description.empty();
}

void CHTMLExtract::ResetPorps(tag_HTMLInfo& i) { i = tag_HTMLInfo{}; }
