// The document readers over a folder of documents (bench/make_doc_set.sh),
// files per second per kind, against `exiftool -fast` (one process over
// all the files of a kind) and, for PDFs, `pdfinfo` (one process per file,
// as it takes one).
//
//   doc_bench DIR

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "bench_util.h"
#include "media/media.h"

using tamber::bench::bestOf;

namespace {

// The kind of a file by its name: a reader and what it is called here.
struct Kind {
  std::string label;
  std::function<bool(const std::u16string&, std::vector<uint8_t>&)> read;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: doc_bench DIR\n");
    return 2;
  }
  auto pdf = [](const std::u16string& p, std::vector<uint8_t>& s) {
    return CPDFExtract(p, s.data(), static_cast<int>(s.size())).getPDFInfo() != nullptr;
  };
  auto office = [](const std::u16string& p, std::vector<uint8_t>& s) {
    return COfficeExtract(p, s.data(), static_cast<int>(s.size())).getOfficefileInfo() != nullptr;
  };
  auto html = [](const std::u16string& p, std::vector<uint8_t>& s) {
    return CHTMLExtract(p, s.data(), static_cast<int>(s.size()), u"html").getHtmlInfo() != nullptr;
  };
  auto exe = [](const std::u16string& p, std::vector<uint8_t>& s) {
    CExecutable x(p, s.data(), static_cast<int>(s.size()));
    return x.getfileInfo() != nullptr;
  };
  // Groups by name: "doc1.pdf" (classic cross-reference), "stream1.pdf"
  // (cross-reference stream), and by extension.
  std::map<std::string, std::vector<std::string>> files;
  for (const auto& e : std::filesystem::directory_iterator(argv[1])) {
    std::string name = e.path().filename().string();
    std::string ext = e.path().extension().string();
    std::string group = ext == ".pdf" ? (name.rfind("stream", 0) == 0 ? "pdf (xref stream)" : "pdf (classic)") : ext.substr(1);
    files[group].push_back(e.path().string());
  }
  const std::map<std::string, std::function<bool(const std::u16string&, std::vector<uint8_t>&)>> readers{
      {"pdf (classic)", pdf}, {"pdf (xref stream)", pdf}, {"doc", office}, {"xls", office}, {"docx", office},
      {"odt", office},        {"rtf", office},            {"html", html},  {"exe", exe}};
  std::vector<uint8_t> scratch(4096);
  for (const auto& [group, list] : files) {
    auto it = readers.find(group);
    if (it == readers.end()) continue;
    std::vector<std::u16string> paths;
    for (const auto& f : list) paths.emplace_back(f.begin(), f.end());
    double n = static_cast<double>(list.size());
    int recognised = 0;
    double ours = bestOf(5, [&] {
      recognised = 0;
      for (const auto& p : paths) recognised += it->second(p, scratch) ? 1 : 0;
    });
    std::printf("== %s: %zu files\n", group.c_str(), list.size());
    std::printf("readers:   %8.0f files/s   (%d recognised)\n", n / ours, recognised);
    std::string listPath = "/tmp/doc_bench_list.txt";
    {
      std::ofstream out(listPath);
      for (const auto& f : list) out << f << "\n";
    }
    std::string cmd = "exiftool -fast -q -j -@ " + listPath + " >/dev/null 2>&1";
    double exif = bestOf(3, [&] {
      if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "doc_bench: exiftool failed\n");
    });
    std::printf("exiftool:  %8.0f files/s   (readers are %.1f x exiftool -fast)\n", n / exif, exif / ours);
    if (group.rfind("pdf", 0) == 0) {
      std::string pdfinfo = "xargs -d '\\n' -n1 pdfinfo < " + listPath + " >/dev/null 2>&1";
      double poppler = bestOf(3, [&] {
        if (std::system(pdfinfo.c_str()) != 0) std::fprintf(stderr, "doc_bench: pdfinfo failed\n");
      });
      std::printf("pdfinfo:   %8.0f files/s   (readers are %.1f x pdfinfo)\n", n / poppler, poppler / ours);
    }
  }
  return 0;
}
