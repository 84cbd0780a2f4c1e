// The report data document: the selected categories, discs and folders of
// a library with their fields, file trees and audio tracks, under the
// descriptive element names the report stylesheets select.
//
//   <report xmlns:dt="urn:schemas-microsoft-com:datatypes" title="...">
//     <category name="Music" hasProperty="1">
//       <creation-date datenum="..." timenum="...">2003-05-12 14:30</creation-date>
//       <cddvd-number>2</cddvd-number> <audio-tracks>12</audio-tracks> <price>0.00</price>
//       <file-structure cd-name="Photos 2003"> <media-type>...</media-type> ...
//         <file-items type="folder"><file-name>...</file-name> ... <file-items type="file">...
//       <audio-details cd-name="..."> <album>...</album> ...
//         <track-item><track-name>...</track-name><track-length>...</track-length> ...
#pragma once

#include <libxml/tree.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "catalog/library.h"
#include "platform/result.h"
#include "platform/xml.h"

namespace tamber::report {

struct ReportDataOptions {
  std::string title;
  // The name of an item kind ("Audio CD", "Folder on a fixed drive").
  std::function<std::string(int kind)> kindName;
  // A number standing for the open library in cover references.
  long long libraryIdentity = 0;
  // A file's recorded fields (name codes and stored values) as readers see
  // them (names and values); without it the codes' descriptive names and
  // the stored values.
  std::function<std::vector<std::pair<std::string, std::string>>(
      const std::vector<std::pair<std::string, std::string>>& fields)>
      properties;
  // A property's name as the reader of the report reads it (a "label"
  // attribute beside the "name" key); without it only the key.
  std::function<std::string(const std::string& name)> propertyLabel;
  // The collation key of a name (report/collation.h). With it, names are
  // written with their keys ("name-key" and "cd-name-key" beside "name" and
  // "cd-name", a "key" attribute on "file-name" and "track-name"), which
  // the sort elements sort by before the names themselves.
  std::function<std::string(const std::string& name)> collationKey;
  // Every so many files, for progress; returns false to stop.
  std::function<bool(long long files)> progress;
  // Cover pictures referenced (the saved XML carries none).
  bool covers = true;
  // The file trees in pieces, so that no document holds a whole tree: a
  // file-structure element refers by its "piece" attribute to the piece of
  // its top entries, and a folder's element refers so to the piece of its
  // entries when they went into one of their own. A piece is the document
  //   <report piece="N" depth="D"> <file-items .../> ... </report>
  // of entries at depth D, handed over as soon as it is complete (inner
  // pieces before outer ones). A folder's entries get a piece of their own
  // when the piece they would go into holds `pieceEntries` entries. An
  // error from the handler ends the report with that error.
  std::function<Status(int piece, xml::Doc data)> pieces;
  size_t pieceEntries = 4096;
  // In pieces: the document alone, its file-structure elements naming the
  // pieces the whole report would make, no file tree read (a listing is
  // read only for an audio disc's tracks) and no piece made. A page is so
  // begun before its file trees are read. Not with `entryLimit`.
  bool skeleton = false;
  // How the stylesheet sorts a folder's entries (its xsl:sort elements for
  // "file-items", first key first). In pieces, a folder with more entries
  // than a piece holds is sorted here, in the same order, and its entries go
  // into pieces of at most `pieceEntries`, each marked sorted="1" (the
  // stylesheet must leave their order) and, but the last, next="N" (the
  // piece that follows it). Without keys it can follow, such a folder stays
  // in one piece.
  struct SortKey {
    std::string select;
    bool number = false;
  };
  std::vector<SortKey> fileItemsSort;
  // A report's beginning (a preview): after this many files and folders
  // (0: no limit) no more listing entries are read or written, nor the
  // categories, discs and folders after them, and `limitReached` (when
  // given) says whether any were left out.
  long long entryLimit = 0;
  bool* limitReached = nullptr;
  // Each listing that could not be read whole ("ITEM: what is wrong"): the
  // report holds what was read of it and goes on with the others.
  std::vector<std::string>* damaged = nullptr;
};

// The dates' two numbers: ((month + year * 12) * 31 + day) and
// (hour * 60 + minute) * 60 + second of a local time.
long long dateNumber(int year, int month, int day);
long long timeNumber(int hour, int minute, int second);

// The report data of `selection` (category and item elements of the
// library's catalog, in selection order). The listings are read entry by
// entry into the document.
Result<xml::Doc> buildReportData(catalog::Library& library, const std::vector<xmlNode*>& selection,
                                 const ReportDataOptions& options);

// The skeleton of a page in pieces (ReportDataOptions::skeleton) for
// `options`: what Reporter::writeHtml begins a page from.
Result<xml::Doc> buildReportSkeleton(catalog::Library& library, const std::vector<xmlNode*>& selection,
                                     const ReportDataOptions& options);

// The report data as indented XML text (standalone, without cover
// pictures), written to `out` as it is made: memory holds one entry.
Status writeReportData(catalog::Library& library, const std::vector<xmlNode*>& selection,
                       const ReportDataOptions& options, const std::function<Status(std::string_view)>& out);

// The picture a cover reference "tamber://pointer=|N|stream=|NAME|" names
// (its bars escaped as "%7C" or not): the stream name, when the reference
// is of that form.
bool coverStreamOf(const std::string& reference, std::string& stream);

}  // namespace tamber::report
