// Putting an installation in order after an update run that did not finish:
// the record of update/update_record.h tells what the run had moved, and the
// same steps serve the run's own rollback and the next start's recovery.
#pragma once

#include <string>
#include <vector>

#include "seams/file_system.h"
#include "update/host_environment.h"
#include "update/installation.h"
#include "update/verify.h"

namespace morivane {

// One original of the run under its aside name.
struct MovedOriginal {
    std::string target;
    std::string aside;
};

// Puts originals back from their aside names, newest first: whatever stands
// at the target (the new file) is removed first, read-only or not. An aside
// that does not exist is passed over: its original was never moved, or is
// back already. False when any could not be put back; those stay aside.
bool PutOriginalsBack(FileSystem& files, const std::vector<MovedOriginal>& moved);

// Deletes the originals under their aside names once the new files are in
// place, clearing the read-only attribute they kept. An original that cannot
// be deleted stays as a stray file; the installation itself is complete.
void DiscardOriginals(FileSystem& files, const std::vector<MovedOriginal>& moved);

// Makes durable the entries of the installation directory and of the
// directories of the targets: the renames, creations and deletions done in
// them. False when any of them fails.
bool SyncUpdateDirectories(FileSystem& files, const InstallationPaths& paths);

enum class RecoveryResult {
    kNothingToDo,  // no record: no run was interrupted
    kRolledBack,   // an interrupted run was undone; the originals are back
    kCompleted,    // a run interrupted after its commit was finished
    kLiveRun,      // another updater holds the record open: its run goes on
    kSetAside,     // the record could not be acted on (not this program's,
                   // damaged, unreadable), but the installation verified as
                   // the old or the new version; the record was renamed
                   // "Clone<n>.rec" and kept for inspection
    kBlocked,      // the installation could not be put in order; the record
                   // is kept for the next start
};

// Looks for the record of an interrupted run in the installation and puts
// the installation in order: back as it was before the run, or, after the
// run's commit, as the run would have left it (`host`, when not null, writes
// the version record then). `sums`, when the payloads carry them, lets a
// record that cannot be acted on be set aside when the files show the
// installation whole. Idempotent: it may be interrupted at any point and run
// again. An empty installation directory gives kNothingToDo without looking.
RecoveryResult RecoverInterruptedUpdate(FileSystem& files, const InstallationPaths& paths,
                                        HostEnvironment* host, const SumsLookup& sums);

}  // namespace morivane
