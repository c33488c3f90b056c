// The update run's record of what it has moved where, which makes a run that
// was interrupted (power failure, a killed process) recoverable at the next
// start of the updater.
//
// The record is the file "Clone.rec" in the installation directory. The run
// creates it exclusively before it moves anything, holds it open while it
// runs (so that a second updater can tell a live run from an interrupted
// one), appends one entry before each step the recovery must know about, and
// makes every entry durable before that step is taken (write-ahead):
//
//   begin      the run's first step, before it makes "Clone.tmp";
//   aside      before the original of one row of the file table is moved to
//              its aside name ("Clone<n>.bak");
//   commit     once all five new files are in place and durable, before the
//              version record and before the first original is deleted.
//
// A record names no path: an aside entry holds the row, the row's file
// relative to the installation directory, and the aside's file name. The
// reader accepts an entry only when both names are the ones this program
// uses for that row, so a record cannot make the recovery touch any other
// file, and it stays valid when the installation is reached under another
// spelling of its directory.
//
// Reading stops at the first entry that is cut short or fails its check: such
// a tail is a write that never became durable, so the step it announced never
// began.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "seams/file_system.h"

namespace morivane {

// One original moved aside: row `row` of the file table, moved to
// "Clone<asideNumber>.bak" in the installation directory.
struct AsideEntry {
    int row = 0;
    int asideNumber = 0;
};

// What a record says.
struct RecordContents {
    // A begin entry opened the record. False for an empty record or one whose
    // first entry never became durable: no original was moved then.
    bool begun = false;
    std::vector<AsideEntry> asides;
    bool committed = false;
    // An intact entry that this program's run cannot have written (out of
    // order, an unknown kind, a row out of range, a file or aside name that
    // is not the one this program uses). Nothing in such a record is acted on.
    bool foreign = false;
};

// The names of the five rows' files relative to the installation directory,
// in row order (InstallationPaths::rowNames).
using RowNames = std::vector<std::string>;

// Reads a record's bytes. `rowNames` are the names this installation's rows
// have. Never reads outside `bytes`.
RecordContents ParseUpdateRecord(std::string_view bytes, const RowNames& rowNames);

// True for bytes that are the start of a begin entry, cut short (nothing
// included): a record whose first write never became durable.
bool IsTornBeginEntry(std::string_view bytes);

// Writes the record for one run. Every Note* returns only after its entry is
// durable, and false when it could not be written or synced; the caller must
// then not take the step the entry announces.
class UpdateRecordWriter {
  public:
    UpdateRecordWriter(FileSystem& files, std::string installDirectory, RowNames rowNames);
    ~UpdateRecordWriter();
    UpdateRecordWriter(const UpdateRecordWriter&) = delete;
    UpdateRecordWriter& operator=(const UpdateRecordWriter&) = delete;

    // Creates the record (it must not exist: a record this run did not make
    // is never touched) with its begin entry and makes it and its directory
    // entry durable. On failure nothing of this run is left.
    bool Begin();
    // The original of row `row` is about to be moved to "Clone<asideNumber>.bak".
    bool NoteAside(int row, int asideNumber);
    // Every new file is in place and durable.
    bool NoteCommit();
    // Deletes the record and closes it: the run has nothing left to undo or
    // finish. Deleted while still open where the system allows it, so that
    // no other updater finds it unheld. False when it could not be deleted.
    bool Remove();
    // Closes the record and leaves it for the next start's recovery.
    void Keep();

  private:
    bool Append(const std::string& entry);

    FileSystem& files_;
    std::string installDirectory_;
    RowNames rowNames_;
    std::string path_;
    std::unique_ptr<OutputFile> out_;
};

}  // namespace morivane
