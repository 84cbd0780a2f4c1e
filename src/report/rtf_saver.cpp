#include "report/rtf_saver.h"

#include <libxml/xpathInternals.h>
#include <libxslt/extensions.h>

#include <cstdio>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/utf.h"

namespace tamber::report {

namespace {

// A page of A4 with 2 cm margins, in twips.
constexpr int kTextWidth = 11906 - 2 * 1134;

RtfSaver* saverOf(xmlXPathParserContextPtr ctxt) {
  xsltTransformContextPtr t = xsltXPathGetTransformContext(ctxt);
  return t ? static_cast<RtfSaver*>(t->_private) : nullptr;
}

// The arguments, last first on the stack, as strings in call order.
std::vector<std::string> stringArguments(xmlXPathParserContextPtr ctxt, int nargs) {
  std::vector<std::string> args(static_cast<size_t>(nargs > 0 ? nargs : 0));
  for (int i = nargs - 1; i >= 0; --i) {
    xmlChar* s = xmlXPathPopString(ctxt);
    args[static_cast<size_t>(i)] = s ? reinterpret_cast<const char*>(s) : "";
    xmlFree(s);
  }
  return args;
}

void done(xmlXPathParserContextPtr ctxt) { valuePush(ctxt, xmlXPathNewCString("")); }

void fnTitle(xmlXPathParserContextPtr ctxt, int nargs) {
  auto args = stringArguments(ctxt, nargs);
  if (RtfSaver* s = saverOf(ctxt); s && !args.empty()) s->title(args[0]);
  done(ctxt);
}

void fnHeading(xmlXPathParserContextPtr ctxt, int nargs) {
  auto args = stringArguments(ctxt, nargs);
  if (RtfSaver* s = saverOf(ctxt); s && args.size() >= 2) s->heading(std::atoi(args[0].c_str()), args[1]);
  done(ctxt);
}

void fnParagraph(xmlXPathParserContextPtr ctxt, int nargs) {
  auto args = stringArguments(ctxt, nargs);
  if (RtfSaver* s = saverOf(ctxt); s && !args.empty()) s->paragraph(args[0], false);
  done(ctxt);
}

void fnNote(xmlXPathParserContextPtr ctxt, int nargs) {
  auto args = stringArguments(ctxt, nargs);
  if (RtfSaver* s = saverOf(ctxt); s && !args.empty()) s->paragraph(args[0], true);
  done(ctxt);
}

void fnRow(xmlXPathParserContextPtr ctxt, int nargs) {
  auto args = stringArguments(ctxt, nargs);
  if (RtfSaver* s = saverOf(ctxt); s && args.size() >= 2) {
    bool header = args[0] == "true" || args[0] == "1";
    s->row(header, std::vector<std::string>(args.begin() + 1, args.end()));
  }
  done(ctxt);
}

void fnSave(xmlXPathParserContextPtr ctxt, int nargs) {
  stringArguments(ctxt, nargs);
  if (RtfSaver* s = saverOf(ctxt)) s->save();
  done(ctxt);
}

}  // namespace

void RtfSaver::attach(xsltTransformContextPtr context) {
  context->_private = this;
  const auto* ns = reinterpret_cast<const xmlChar*>(kRtfNamespace);
  auto reg = [&](const char* name, xmlXPathFunction f) {
    xsltRegisterExtFunction(context, reinterpret_cast<const xmlChar*>(name), ns, f);
  };
  reg("title", fnTitle);
  reg("heading", fnHeading);
  reg("paragraph", fnParagraph);
  reg("note", fnNote);
  reg("row", fnRow);
  reg("save", fnSave);
}

std::string RtfSaver::escape(const std::string& utf8) {
  std::string out;
  auto units = utf8ToUtf16(utf8);
  std::u16string text = units ? *units : std::u16string(utf8.begin(), utf8.end());
  for (char16_t c : text) {
    if (c == u'\\' || c == u'{' || c == u'}') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == u'\n') {
      out += "\\line ";
    } else if (c == u'\t') {
      out += "\\tab ";
    } else if (c < 0x20) {
      out += ' ';
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      // Readers that do not know \u show the fallback: the Latin-1 letter
      // itself where there is one.
      char fallback[8] = "?";
      if (c >= 0xA0 && c <= 0xFF) std::snprintf(fallback, sizeof fallback, "\\'%02x", static_cast<unsigned>(c));
      out += "\\u" + std::to_string(static_cast<int16_t>(c)) + fallback;
    }
  }
  return out;
}

void RtfSaver::endTable() {
  if (inTable_) body_ += "\\pard\\sa120\\par\n";
  inTable_ = false;
}

void RtfSaver::title(const std::string& text) {
  endTable();
  title_ = text;
  body_ += "\\pard\\sa80\\b\\fs40 " + escape(text) + "\\b0\\fs20\\par\n";
}

void RtfSaver::heading(int level, const std::string& text) {
  endTable();
  int size = level <= 1 ? 30 : level == 2 ? 25 : 22;
  body_ += "\\pard\\keepn\\sb240\\sa60\\b\\cf1\\fs" + std::to_string(size) + " " + escape(text) +
           "\\cf0\\b0\\fs20\\par\n";
}

void RtfSaver::paragraph(const std::string& text, bool note) {
  endTable();
  if (note) {
    body_ += "\\pard\\sa60\\cf2\\fs17 " + escape(text) + "\\cf0\\fs20\\par\n";
  } else {
    body_ += "\\pard\\sa60\\fs20 " + escape(text) + "\\par\n";
  }
}

void RtfSaver::row(bool header, const std::vector<std::string>& cells) {
  inTable_ = true;
  // The first cell takes half the width, the others share the rest.
  size_t n = cells.size();
  std::string defs = "\\trowd\\trgaph80\\trleft0";
  if (header) defs += "\\trhdr";
  int first = n > 1 ? kTextWidth / 2 : kTextWidth;
  int rest = n > 1 ? (kTextWidth - first) / static_cast<int>(n - 1) : 0;
  int edge = 0;
  for (size_t i = 0; i < n; ++i) {
    edge += i == 0 ? first : rest;
    if (header) defs += "\\clbrdrb\\brdrs\\brdrw10";
    defs += "\\cellx" + std::to_string(i + 1 == n ? kTextWidth : edge);
  }
  body_ += defs + "\n";
  for (size_t i = 0; i < n; ++i) {
    body_ += "\\pard\\intbl\\fs18";
    if (i > 0) body_ += "\\qr";
    body_ += header ? "\\b " : " ";
    body_ += escape(cells[i]) + (header ? "\\b0" : "") + "\\cell\n";
  }
  body_ += "\\row\n";
}

void RtfSaver::save() {
  endTable();
  if (output_.empty()) {
    error_ = "no output file was given";
    return;
  }
  std::string document =
      "{\\rtf1\\ansi\\ansicpg1252\\deff0\\uc1\n"
      "{\\fonttbl{\\f0\\fswiss\\fcharset0 DejaVu Sans;}}\n"
      "{\\colortbl;\\red47\\green109\\blue181;\\red91\\green102\\blue117;}\n"
      "{\\info{\\title " + escape(title_) + "}}\n"
      "\\paperw11906\\paperh16838\\margl1134\\margr1134\\margt1134\\margb1134\\f0\\fs20\n" +
      body_ + "}\n";
  if (Status st = writeFileAtomically(output_, document); !st) {
    error_ = st.message();
    return;
  }
  saved_ = true;
}

}  // namespace tamber::report
