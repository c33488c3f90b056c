// The update run: rewrites the product's five files into their new versions
// through the temporary file "Clone.tmp", time-stamps them, and records the
// new executable's FileVersion. It is written against a view, a file system
// and a patch function, so the update dialog and other front ends can drive it
// alike.
//
// All or nothing: each original is moved aside (never deleted) before its
// replacement is moved in, and is put back when that move fails. When a patch
// fails, a rebuilt file does not match the sums stored beside its payload, or
// a replacement fails, every file already replaced in the run is put back as
// it was (content, attributes and times), "Clone.tmp" is removed and Version
// is not written. The originals are deleted only after all five files are in
// place and Version has been written.
//
// Interruptions: the run keeps the record of update/update_record.h
// ("Clone.rec"), each entry durable before the step it announces, so that
// RecoverInterruptedUpdate at the next start can put the installation back
// (or, after the commit, finish the run). The record is removed when the run
// ends with nothing to undo; it stays when a rollback could not put every
// original back, and when the commit entry could not be made durable (the
// run then stops with 12 and leaves the files as they are, since whether it
// committed is known only to what the disk holds).
#pragma once

#include <functional>
#include <string>

#include "seams/file_system.h"
#include "seams/payload_store.h"
#include "update/host_environment.h"
#include "update/verify.h"

namespace morivane {

// How the run shows its progress.
class UpdateView {
  public:
    virtual ~UpdateView() = default;
    // Makes catalogue text `messageNumber` the status text.
    virtual void ShowStatus(int messageNumber) = 0;
    // Hides (not merely disables) the Cancel button.
    virtual void HideCancel() = 0;
    // Raises and lowers the application's wait-cursor count.
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;
};

// Rebuilds `newPath` from `oldPath` with payload `payloadId`, as a fresh
// DiffPatcher's Patch does: 0 on success, otherwise 10, 11, 12 or 13. On 0 the
// new file is complete; on every return both files are closed.
using PatchFunction =
    std::function<int(const std::string& oldPath, const std::string& newPath, int payloadId)>;

// A PatchFunction that makes a fresh DiffPatcher over `files` and `payloads`
// for every call. Both must outlive the function. The new file is made with
// CreateNew: it must not exist, and nothing another process put under its
// name is ever written into.
PatchFunction FreshDiffPatcher(FileSystem& files, PayloadStore& payloads);

// What the run works with. `host` makes the version record after the fifth
// file; null leaves the record out. `sums`, when present, are checked against
// every rebuilt file before it replaces anything. `stopRequested`, when set,
// is asked at the run's safe points (before its record, before each file's
// patch and before the commit); true stops the run there, and it puts every
// file back and ends with 12 as after any failure. After the commit the run
// always finishes.
struct UpdateContext {
    FileSystem& files;
    PatchFunction patch;
    HostEnvironment* host;
    UpdateSums sums = {};
    std::function<bool()> stopRequested = {};
};

// One whole run over the five files, for the executable `bootPath` and its
// installation directory `installDirectory` (with its trailing backslash).
// Shows status 52 and hides Cancel first, holds the wait cursor throughout,
// and ends with the status it returns: 53 after success; 12 for an empty or
// over-long path, an executable named like the temporary file, a record left
// by another run (nothing is touched then), a rebuilt file that does not
// match its sums, a file that cannot be replaced or made durable, or a stop
// requested; 15 when another updater's run holds its record (it started
// alongside this one); 8 when, once this run holds its record, the
// installation turns out updated already (by such an updater); 11 when the
// record cannot be created; the patcher's 10 to 13 when a patch fails. The
// result of the version record is not examined. A temporary file left under
// the run's name by anyone is removed before the first patch.
int RunUpdate(const UpdateContext& context, const std::string& bootPath,
              const std::string& installDirectory, UpdateView& view);

// The update dialog's OK command apart from any window. The first call runs
// the update, sets `runFinished` and returns false. Once `runFinished` is set
// it touches nothing and returns true: the caller ends its dialog with IDOK.
bool HandleUpdateOk(bool& runFinished, const UpdateContext& context, const std::string& bootPath,
                    const std::string& installDirectory, UpdateView& view);

}  // namespace morivane
