#include "scan/archive_records.h"

namespace tamber::scan {

bool walkArchiveRecords(std::string_view stream, const ArchiveWalk& walk, std::string& error) {
  const std::string damaged = "the archive listing is damaged: ";
  size_t at = 0;
  while (at + 4 <= stream.size()) {
    auto u = reinterpret_cast<const unsigned char*>(stream.data() + at);
    size_t len = size_t{u[0]} | size_t{u[1]} << 8 | size_t{u[2]} << 16 | size_t{u[3]} << 24;
    if (len > stream.size() - at - 4) {
      error = damaged + "a record runs past its end";
      return false;
    }
    if (walk.record) walk.record(at);
    if (walk.archive) walk.archive({});
    ListingScanner s(stream.substr(at + 4, len));
    at += 4 + len;
    for (;;) {
      auto ev = s.next();
      if (ev == ListingScanner::Event::error) {
        std::string why = s.error();
        const std::string_view said = "the listing is damaged: ";
        if (why.compare(0, said.size(), said) == 0) why.erase(0, said.size());
        error = damaged + why;
        return false;
      }
      if (ev == ListingScanner::Event::end) break;
      if (ev != ListingScanner::Event::text || s.depth() != 1) continue;
      if (s.name() == "path") {
        if (walk.archive) walk.archive(s.text());
      } else if ((s.name() == "file" || s.name() == "folder") && walk.member) {
        walk.member(s, s.name() == "folder");
      }
    }
  }
  if (at != stream.size()) {
    error = damaged + "it ends inside a record";
    return false;
  }
  return true;
}

std::string pathBelowRoot(std::string path, std::string root) {
  while (root.size() > 1 && root.back() == '/') root.pop_back();
  if (!root.empty() && path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
      (path[root.size()] == '/' || root == "/")) {
    path.erase(0, root == "/" ? 1 : root.size() + 1);
  }
  return path;
}

}  // namespace tamber::scan
