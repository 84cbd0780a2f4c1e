// The format saver: RTF written by a stylesheet through extension functions
// in the namespace "urn:rtf-object" (prefix rtf below):
//
//   rtf:title(text)              the report's title
//   rtf:heading(level, text)     a heading of level 1 to 3
//   rtf:paragraph(text)          a paragraph; rtf:note(text) a smaller, grey one
//   rtf:row(header, cell, ...)   a table row of the cells (a header row when
//                                header is true); the row's cells share the width
//   rtf:save()                   writes the document to the output file
//
// Each function gives the empty string, so that xsl:value-of of it writes
// nothing into the stylesheet's own output.
#pragma once

#include <libxslt/xsltInternals.h>

#include <filesystem>
#include <string>
#include <vector>

namespace tamber::report {

inline constexpr const char* kRtfNamespace = "urn:rtf-object";

class RtfSaver {
 public:
  // The file the document goes to; before the transformation.
  void setOutputFile(const std::filesystem::path& path) { output_ = path; }
  // What went wrong last ("" when nothing did); after a failed transformation.
  const std::string& lastError() const { return error_; }
  bool saved() const { return saved_; }

  // Registers the functions on a transformation, bound to this saver.
  void attach(xsltTransformContextPtr context);

  // The text as RTF: the control characters escaped, other than ASCII as
  // \uN? (UTF-16 units, signed).
  static std::string escape(const std::string& utf8);

  // Used by the extension functions.
  void title(const std::string& text);
  void heading(int level, const std::string& text);
  void paragraph(const std::string& text, bool note);
  void row(bool header, const std::vector<std::string>& cells);
  void save();
  void fail(const std::string& message) { error_ = message; }

 private:
  void endTable();
  std::string body_, title_;
  std::filesystem::path output_;
  std::string error_;
  bool inTable_ = false;
  bool saved_ = false;
};

}  // namespace tamber::report
