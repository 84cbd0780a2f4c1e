// An item's archive listing: one record per archive read in the scan, each
// a 4-byte little-endian length and the archive's description (its path,
// then the files and folders it holds).
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "scan/listing_scanner.h"

namespace tamber::scan {

struct ArchiveWalk {
  // At the start of each record, with its offset in the stream.
  std::function<void(size_t at)> record;
  // The archive's recorded path: "" at the start of each record, then the
  // path when its description gives it (before its members).
  std::function<void(const std::string& path)> archive;
  // Each file and folder of the record's archive; the scanner stands on
  // the member's element (its "name", "size", "modified" attributes).
  std::function<void(const ListingScanner& member, bool folder)> member;
};

// Walks `stream`; false, with the damage in `error` ("the archive listing
// is damaged: ..."), when a record or description is damaged.
bool walkArchiveRecords(std::string_view stream, const ArchiveWalk& walk, std::string& error);

// A recorded path made relative to the item's root (`root` itself kept
// when it is not below it), with '/' between its steps.
std::string pathBelowRoot(std::string path, std::string root);

}  // namespace tamber::scan
