// A report: the report data of a selection, transformed by the report
// stylesheet (edited with the field and sort choices) into HTML, by the
// export stylesheet into XML.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/result.h"
#include "platform/xml.h"
#include "report/report_choices.h"

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

class RtfSaver;

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
  // The HTML of the report data.
  Result<std::string> html(xmlDoc* reportData);
  // The XML of the report data, without its cover pictures (taken out of
  // `reportData` itself).
  Result<std::string> xml(xmlDoc* reportData);
  // Writes the report data as RTF to `path`, through the RTF stylesheet and
  // the format saver; the saver's last error when that fails.
  Status rtf(xmlDoc* reportData, const std::filesystem::path& path);

 private:
  Reporter() = default;
  Result<std::string> transform(xmlDoc* stylesheet, xmlDoc* data, bool withParameters,
                                RtfSaver* saver = nullptr);

  xml::Doc fields_, stylesheet_, export_, rtf_;
  std::map<std::string, std::string> parameters_;
};

// Writes an HTML report to `path`: every cover picture ("tamber:" source)
// is written into the folder "image" beside the page (made when missing; the
// pictures go beside the page when it cannot be), and the page refers to the
// files written. `picture(stream)` gives a picture's bytes.
Status saveHtml(const std::string& html, const std::filesystem::path& path,
                const std::function<Result<std::string>(const std::string& stream)>& picture);

}  // namespace tamber::report
