// The changes made in a window since its library was opened, to be taken
// back (undo) and made again (redo).
//
// A step keeps the catalog text as it was before and after the change, and
// the bytes of every item stream the change touched (removed, renamed,
// written or added), before and after. Stream bytes go into an unnamed
// temporary file, not into memory, so that deleting an item of a 200 MB
// listing costs its copy on disk, and the history is gone with the program.
// Undo and redo put the catalog and those streams back exactly as they were;
// the library is then changed and unsaved, as after any edit.
//
// What ends the history: opening another library, and a job that writes the
// library (its new streams are not part of any step; taking back a step
// recorded before it would drop the job's item from the catalog). A Save
// keeps it: undo after a save makes the library changed again.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "catalog/library.h"

namespace tamber::app {

class UndoHistory {
 public:
  UndoHistory();
  ~UndoHistory();
  UndoHistory(const UndoHistory&) = delete;
  UndoHistory& operator=(const UndoHistory&) = delete;

  // A change being made: what was there before it.
  class Recording {
   public:
    bool active() const { return active_; }

   private:
    friend class UndoHistory;
    bool active_ = false;
    std::string label;
    std::string catalogBefore;
    std::vector<std::string> streams;
    std::map<std::string, std::optional<uint64_t>> before;  // blob index, or absent
    std::set<std::string> rootNames;  // every element of the file's root
  };

  // Before a change labelled `label` ("Rename 'Photos'"): keeps the catalog
  // and the streams named in `streams` (those that exist; the others are
  // recorded as absent). Fails when the bytes cannot be kept (the change
  // should then not be made, or made without undo).
  Result<Recording> begin(catalog::Library& library, std::string label, std::vector<std::string> streams);
  // After the change: keeps the catalog and the same streams again, plus
  // `madeStreams` and every stream that was not there before (a move's new
  // names, an import's items), and pushes the step. The redo list is
  // dropped. A change that changed nothing leaves no step. A change that
  // removed a stream not named at its beginning cannot be taken back: the
  // history is cleared and the error says so.
  Status commit(Recording& recording, catalog::Library& library, const std::vector<std::string>& madeStreams = {});

  bool canUndo() const { return !done_.empty(); }
  bool canRedo() const { return !undone_.empty(); }
  const std::string& undoLabel() const;
  const std::string& redoLabel() const;
  // Puts the state before the last change back; the step moves to redo.
  Status undo(catalog::Library& library);
  Status redo(catalog::Library& library);
  void clear();
  size_t size() const { return done_.size(); }

  // At most this many steps are kept; the oldest go first. So do steps past
  // kMaxBytes of kept stream bytes in all.
  static constexpr size_t kMaxSteps = 100;
  static constexpr uint64_t kMaxBytes = 4ull << 30;

 private:
  struct Step {
    std::string label;
    std::string catalogBefore, catalogAfter;
    // Per stream: its bytes before and after (a blob), or absent.
    std::map<std::string, std::optional<uint64_t>> before, after;
    uint64_t bytes = 0;
  };
  class Blobs;

  Result<std::optional<uint64_t>> keep(catalog::Library& library, const std::string& stream);
  Status apply(catalog::Library& library, const std::string& catalogText,
               const std::map<std::string, std::optional<uint64_t>>& streams);
  void trim();

  std::unique_ptr<Blobs> blobs_;
  std::deque<Step> done_, undone_;
};

}  // namespace tamber::app
