// The update run's record of what it has moved where, which makes a run that
// was interrupted (power failure, a killed process) recoverable at the next
// start of the updater.
//
// The record is the file "Clone.rec" in the installation directory. The run
// creates it before it writes anything else, appends one entry before each
// step the recovery must know about, and makes every entry durable before
// that step is taken (write-ahead):
//
//   begin      before the first original is moved (until then a run has
//              made at most "Clone.tmp", which the next run overwrites);
//   aside      before an original is moved to its aside name ("Clone<n>.bak");
//   commit     once all five new files are in place and durable, before the
//              version record and before the first original is deleted.
//
// Recovery reads the entries in order up to the first one that is cut short
// or damaged: such a tail is a write that never became durable, so the step
// it announced never began. Before a commit it puts every original back and
// removes "Clone.tmp"; after a commit it completes the run (deletes the
// originals still aside, writes the version record). The record is deleted
// last, so a recovery that is itself interrupted is simply done again.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "update/host_environment.h"

namespace morivane {

// Name of the record in the installation directory; 8.3-safe.
inline constexpr const char* kRecordFileName = "Clone.rec";

// One original moved aside: `target` is the installed file's path, `aside`
// the name it was moved to. `row` is its place in the file table (0 to 4).
struct AsideEntry {
    int row = 0;
    std::string target;
    std::string aside;
};

// What a record says.
struct RecordContents {
    // A begin entry opened the record. False for an empty record or one whose
    // first entry never became durable: no original was moved then.
    bool begun = false;
    std::vector<AsideEntry> asides;
    bool committed = false;
    // An intact entry that cannot be from this program's run (out of order,
    // unknown kind, a row out of range, an aside name that is not
    // "Clone<n>.bak" in the installation directory). Nothing in such a
    // record is acted on.
    bool damaged = false;
};

// Reads a record's bytes for the installation directory `installDirectory`
// (with its trailing backslash). Never reads outside `bytes`; a cut-short or
// corrupt tail ends the entries silently.
RecordContents ParseUpdateRecord(std::string_view bytes, const std::string& installDirectory);

// Writes the record for one run. Every Note* returns only after its entry is
// durable, and false when it could not be written or synced; the caller must
// then not take the step the entry announces.
class UpdateRecordWriter {
  public:
    UpdateRecordWriter(FileSystem& files, const std::string& installDirectory);
    ~UpdateRecordWriter();
    UpdateRecordWriter(const UpdateRecordWriter&) = delete;
    UpdateRecordWriter& operator=(const UpdateRecordWriter&) = delete;

    const std::string& path() const { return path_; }

    // Creates the record (it must not exist) with its begin entry and makes
    // it and its directory entry durable. On failure nothing is left.
    bool Begin();
    // Original `target` of row `row` is about to be moved to `aside`.
    bool NoteAside(int row, const std::string& target, const std::string& aside);
    // Every new file is in place and durable.
    bool NoteCommit();
    // Closes the record and deletes it: the run has nothing left to undo or
    // finish. False when it could not be deleted.
    bool Remove();
    // Closes the record and leaves it for the next start's recovery.
    void Keep();

  private:
    bool Append(const std::string& entry);

    FileSystem& files_;
    std::string installDirectory_;
    std::string path_;
    std::unique_ptr<OutputFile> out_;
};

// The directory part of `path`, up to and including its last backslash
// (code page 932 aware); empty when it has none.
std::string DirectoryOf(const std::string& path);

// Makes durable the entries of the installation directory and of the
// directories of `targets`: the renames, creations and deletions done in
// them. False when any of them fails.
bool SyncUpdateDirectories(FileSystem& files, const std::string& installDirectory,
                           const std::vector<std::string>& targets);

enum class RecoveryResult {
    kNothingToDo,  // no record: no run was interrupted
    kRolledBack,   // an interrupted run was undone; the originals are back
    kCompleted,    // a run interrupted after its commit was finished
    kBlocked,      // the record is damaged, unreadable, or a file could not
                   // be put back or removed; the record is kept
};

// Looks for the record of an interrupted run in `installDirectory` (with its
// trailing backslash) and puts the installation in order: back as it was
// before the run, or, after the run's commit, as the run would have left it
// (`host`, when not null, writes the version record then). Idempotent: it
// may be interrupted at any point and run again. An empty directory gives
// kNothingToDo without looking.
RecoveryResult RecoverInterruptedUpdate(FileSystem& files, const std::string& installDirectory,
                                        HostEnvironment* host);

}  // namespace morivane
