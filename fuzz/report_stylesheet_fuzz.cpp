// Fuzz target: a report stylesheet chosen by the user (--stylesheet or the
// "DefaultXSLFile" setting), outside data. Loads it with the real resource
// documents, applies the field and sort choices, and transforms a real
// report's data into HTML, into pieces when it takes them, and into XML.

#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/memfd_file.h"
#include "fuzz/report_sample.h"
#include "report/report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (64u << 10)) return 0;
  MemfdFile file(data, size);
  if (!file.ok()) return 0;
  auto reporter = tamber::report::Reporter::open(file.path());
  if (!reporter) return 0;
  tamber::report::Reporter& r = **reporter;
  r.applyChoices();
  r.setStandardParameters([](int id) { return "caption " + std::to_string(id) + " \"'<&>"; });
  (void)r.takesPieces();
  tamber::xml::Doc sample = reportSample();
  if (!sample) __builtin_trap();
  (void)r.html(sample.get());
  (void)r.xml(sample.get());
  return 0;
}
