// A report: the report data of a selection, transformed by the report
// stylesheet (edited with the field and sort choices) into HTML, by the
// export stylesheet into XML.
#pragma once

#include <libxslt/xsltInternals.h>

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/result.h"
#include "platform/xml.h"
#include "report/report_choices.h"
#include "report/report_data.h"

namespace tamber::report {

// The resource documents by number: 187 the report stylesheet, 188 the
// export stylesheet, 189 the report-fields document, 190 the RTF stylesheet.
inline constexpr int kReportStylesheet = 187;
inline constexpr int kExportStylesheet = 188;
inline constexpr int kReportFields = 189;
inline constexpr int kRtfStylesheet = 190;

// The folder of the encoded resource documents: "resources/reports" beside
// the executable (build tree), then ../share/tamber/reports (installed),
// then the build tree this was built in.
std::filesystem::path reportResourceDirectory();
// A resource document's text, decoded from its stored symbols; the error
// "Invalid xsl file!" when it cannot be found; empty for one shorter than 2
// symbols.
Result<std::string> loadReportResource(int number, const std::filesystem::path& dir = reportResourceDirectory());
// The resource documents that cannot be read from `dir`, as "187.res (the
// report stylesheet)"; none when all are there.
std::vector<std::string> missingReportResources(const std::filesystem::path& dir = reportResourceDirectory());

class RtfSaver;

// Takes a piece of a report's data as it is complete (see ReportDataOptions).
using PieceHandler = std::function<Status(int piece, xml::Doc data)>;

class Reporter {
 public:
  // Loads the resource documents; `stylesheetFile` (the "DefaultXSLFile"
  // setting or --stylesheet) replaces the default report stylesheet.
  static Result<std::unique_ptr<Reporter>> open(const std::string& stylesheetFile = {},
                                                const std::filesystem::path& dir = reportResourceDirectory());
  ~Reporter();

  xmlDoc* fields() { return fields_.get(); }
  xmlDoc* stylesheet() { return stylesheet_.get(); }
  // A parameter given to every transformation, as a string.
  void setParameter(const std::string& name, const std::string& value) { parameters_[name] = value; }
  bool coversInFiles = false;
  bool coversInAudio = false;

  // Applies the choices of the report-fields document to the stylesheet
  // (sort elements) and to the parameters (levels and fields shown).
  void applyChoices();
  // The parameters every report gets: the locale's "dateformat" and
  // "timeformat", the captions (language texts 603-625 through `text`), and
  // the "summary" line of the summary level's fields.
  // `language` ("en", "fr") is the page's language.
  void setStandardParameters(const std::function<std::string(int id)>& text, const std::string& language = "en");
  // The HTML of the report data.
  Result<std::string> html(xmlDoc* reportData);
  // Whether the report stylesheet takes the file trees in pieces: it
  // declares the parameter "pieces", renders a document whose root has a
  // "piece" attribute as the rows of those entries (at the depth the root
  // gives), and puts the comment "tamber-piece:N" where piece N belongs.
  bool takesPieces() const;
  // The sort of a folder's entries as the stylesheet has it now (for
  // ReportDataOptions::fileItemsSort).
  std::vector<ReportDataOptions::SortKey> fileItemsSort() const;
  // Writes an HTML report to `out`. `build` makes the report data, handing
  // its pieces to the handler it is given (nullptr: the whole data in one
  // document). With a stylesheet that takes pieces, each piece is
  // transformed as it comes and kept in a temporary file, and the page is
  // put together at the end: memory holds one piece, never the whole
  // report. `page` may change the page around the pieces (its cover
  // pictures) before it is written. With `skeleton` (the data without file
  // trees, ReportDataOptions::skeleton) the page is begun from it before
  // the file trees are read and written as far as the pieces reach, each
  // item's as soon as its tree is read: the first bytes come at once, and
  // an error from `out` (a closed pipe) ends the report.
  //
  // With `rowsPerBlock` set, a file table of our stylesheet is cut into
  // tables of that many rows after the first, each in a block a browser
  // lays out only when it comes into sight (a page of 150,000 files opens
  // in seconds instead of minutes).
  void setRowsPerBlock(size_t rows) { rowsPerBlock_ = rows; }
  Status writeHtml(const std::function<Result<xml::Doc>(const PieceHandler*)>& build,
                   const std::function<Result<std::string>(std::string)>& page,
                   const std::function<Status(std::string_view)>& out,
                   const std::function<Result<xml::Doc>()>& skeleton = {});
  // The XML of the report data, without its cover pictures (taken out of
  // `reportData` itself).
  Result<std::string> xml(xmlDoc* reportData);
  // Writes the report data as RTF to `path`, through the RTF stylesheet and
  // the format saver; the saver's last error when that fails.
  Status rtf(xmlDoc* reportData, const std::filesystem::path& path);

 private:
  struct StyleFree {
    void operator()(xsltStylesheet* s) const;
  };
  using Style = std::unique_ptr<xsltStylesheet, StyleFree>;

  Reporter() = default;
  static Result<Style> compile(xmlDoc* stylesheet, bool withoutDoctype);
  Result<xml::Doc> apply(xsltStylesheet* style, xmlDoc* data, bool withParameters, RtfSaver* saver = nullptr);
  static Result<std::string> serialize(xmlDoc* result, xsltStylesheet* style);
  Result<std::string> transform(xmlDoc* stylesheet, xmlDoc* data, bool withParameters,
                                RtfSaver* saver = nullptr);

  xml::Doc fields_, stylesheet_, export_, rtf_;
  std::map<std::string, std::string> parameters_;
  size_t rowsPerBlock_ = 0;
};

// For an HTML report saved as `path`: every cover picture ("tamber:"
// source) of `page` is written into the folder "image" beside it (made when
// missing; the pictures go beside the page when it cannot be); the page is
// returned referring to the files written. `picture(stream)` gives a
// picture's bytes. What it made (the pictures, then the folder when it was
// not there) goes into `made` when given, so that a caller whose page then
// cannot be written takes it away again (removeMade); a picture that cannot
// be written takes away what was made before it.
void removeMade(const std::vector<std::filesystem::path>& made);
Result<std::string> writeCoverPictures(std::string page, const std::filesystem::path& path,
                                       const std::function<Result<std::string>(const std::string& stream)>& picture,
                                       std::vector<std::filesystem::path>* made = nullptr);

}  // namespace tamber::report
