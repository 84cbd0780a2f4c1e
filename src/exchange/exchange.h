// Moving catalog content across files: a category as readable XML, a
// category copied into a new library file, and another library merged into
// the open one.
#pragma once

#include <libxml/tree.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "catalog/library.h"
#include "platform/result.h"

namespace tamber::exchange {

// After each disc or folder: `done` of `total`. Returning false stops the
// work (the XML export looks before each category, the library export and
// import before each disc or folder).
using Progress = std::function<bool(int done, int total)>;

// The messages of a failed exchange, with the file's name filled in.
inline constexpr const char* kExportCannotCreate = "Export library '%s' cannot be created!";
inline constexpr const char* kExportCannotSave = "Export library '%s' cannot be saved!";
inline constexpr const char* kImportMissing = "Import library file '%s' doesn't exist.";
inline constexpr const char* kImportCorrupt =
    "There has an error in import library file '%s'.File might have been corrupt.";
inline constexpr const char* kCurrentCannotSave = "Current library cannot be saved.";
std::string withFileName(const char* message, const std::filesystem::path& file);

// Whether two paths name one file (links followed).
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b);

struct XmlExport {
  int items = 0;
  int pictures = 0;
  // Each listing that could not be read whole ("ITEM: what is wrong"): the
  // export holds what was read of it and goes on with the others.
  std::vector<std::string> damaged;
};

// What an XML export holds besides the discs and folders of the category.
struct XmlExportOptions {
  bool subcategories = true;  // the discs and folders of every category below
  bool listings = true;       // each one's file listing
  bool covers = true;         // the cover pictures, written beside the document
};

// Writes the discs and folders of `category` and of every category below it
// (each category's own first, then the categories below in document order)
// as the XML document "TAMBERPLUS-XML-EXPORT" to `target`, with their file
// listings under descriptive element names, and their cover pictures as
// files beside it. The document is made in a new file put in place when
// complete; a failed or stopped export leaves neither it nor a picture.
// `options` leaves parts out.
Result<XmlExport> exportXml(catalog::Library& library, const xmlNode* category,
                            const std::filesystem::path& target, const Progress& progress = {},
                            const XmlExportOptions& options = {});

struct Copied {
  int categories = 0;  // categories made (not those merged into)
  int items = 0;       // discs and folders copied
  int relabelled = 0;  // copies given another label, theirs being taken
};

// Copies `category` with everything below it, streams included, into a new
// library file `target` as its one top-level category; the items are
// numbered from 1. The file replaces `target` only when complete.
Result<Copied> exportLibrary(catalog::Library& library, const xmlNode* category,
                             const std::filesystem::path& target, const Progress& progress = {});

// Merges the library file `source` into `library`: each top-level category
// of the source into the category of that name under `into` (the root when
// null), made when missing. A copied disc or folder whose label is taken
// there gets a distinct one. Each disc or folder is copied whole, its
// streams with it, or not at all; on a failure, those copied before it
// stay (`copied` says how many) and the error is returned. The caller saves.
Result<Copied> importLibrary(catalog::Library& library, const std::filesystem::path& source, xmlNode* into,
                             const Progress& progress = {}, Copied* copied = nullptr);

}  // namespace tamber::exchange
