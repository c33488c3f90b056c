// The start-up sequence, the program's whole life outside the update dialog:
// probe the host, find the installation, put an interrupted run in order,
// check its version, ask for confirmation, guard against a running product or
// a second updater, check the installed files against the payloads' sums,
// then show the update dialog. It is written once, here; the Win32
// program and the publisher's `sabunn update` are two front ends of it.
#pragma once

#include <memory>
#include <string>

#include "seams/file_system.h"
#include "seams/host_services.h"
#include "seams/payload_store.h"
#include "update/host_environment.h"
#include "update/recovery.h"
#include "update/update_run.h"
#include "update/verify.h"

namespace morivane {

// What start-up learns and the update run takes over. The Win32 program's
// application object is one of these.
struct StartupState {
    // Null until start-up creates it.
    std::unique_ptr<HostEnvironment> hostEnvironment;
    // BootDirectory: full path of the product's executable.
    std::string bootPath;
    // bootPath up to and including its last backslash.
    std::string installDirectory;
};

// Everything the update dialog needs to run the update.
struct UpdateRequest {
    FileSystem& files;
    PayloadStore& payloads;
    HostEnvironment* host;
    std::string bootPath;
    std::string installDirectory;
    UpdateSums sums;  // empty when the payloads carry none

    UpdateContext Context() const { return {files, FreshDiffPatcher(files, payloads), host, sums}; }
};

// What differs between the front ends: how a refusal and the confirmation
// are shown, how windows are looked for, and how the dialog is shown.
class Frontend {
  public:
    virtual ~Frontend() = default;
    // Shows catalogue text `messageNumber` as the one refusal of this start.
    virtual void ShowRefusal(int messageNumber) = 0;
    // Asks to go on (text 50, caption kConfirmationCaption, OK and Cancel);
    // true only for OK.
    virtual bool Confirm() = 0;
    // Whether a top-level window titled exactly catalogue text
    // `titleMessage` (54: the product, 55: an update dialog) exists now.
    virtual bool WindowExists(int titleMessage) = 0;
    // Shows the update dialog until it is closed; its first OK runs
    // HandleUpdateOk over `request`.
    virtual void RunUpdateDialog(const UpdateRequest& request) = 0;
    // An interrupted run was put in order before the version check (undone,
    // or finished past its commit). The Win32 program says nothing.
    virtual void NoteRecovery(RecoveryResult /*result*/) {}
};

struct StartupServices {
    OsInfo& os;
    Registry& registry;
    VersionFile& versions;
    FileSystem& files;
    PayloadStore& payloads;
    // The language, Windows NT and version checks. A front end on a system
    // that is not Windows turns them off (and says so).
    bool checkMachine = true;
};

enum class StartupEnd {
    kRefused,      // one refusal was shown
    kCancelled,    // the confirmation was not answered with OK
    kDialogShown,  // the update dialog ran and was closed
};

struct StartupResult {
    StartupEnd end = StartupEnd::kRefused;
    int refusal = 0;  // the refusal's message number, for kRefused
};

// Tells the installed executable's FileVersion text apart: 0 for the version
// this update applies to ("1, 0, 0, 1"), 8 (IDS_ALREADY_UPDATED) for the
// updated one ("1, 0, 0, 2"), 9 (IDS_VERSION_NOT_SUPPORTED) for anything
// else. The whole text is compared byte for byte; nothing is trimmed.
int ClassifyFileVersion(const std::string& fileVersion);

// The sequence. Fills `state` as it goes (the host probe first, then the two
// paths) and leaves it filled for the dialog. The checks run in a fixed order
// and the first that fails is shown as the one refusal:
//   1, 2, 3   the machine (when services.checkMachine);
//   4         no BootDirectory;
//   -         the record of an interrupted run is put in order (see below);
//   7         the executable's FileVersion cannot be read;
//   8, 9      the FileVersion is the updated one, or another;
//   -         confirmation (Cancel ends silently);
//   14, 15    a window of the product, or of another update dialog;
//   12        the payloads' sums are damaged or incomplete;
//   7         the payloads carry sums and an installed file is not the old
//             file they were made for (changed, missing or unreadable).
// The files are read against the sums only after the guards, so that a
// running product or updater that holds one of them is reported as running;
// and only under an installation directory: with an empty one (BootDirectory
// without a backslash) nothing is read through relative names, and the run
// refuses with 12 before touching anything.
// The recovery comes after the machine checks, which decide whether this
// program may act here at all, and after the BootDirectory reads, which tell
// it where the installation is; it comes before the version check, which
// must see the files the installation really has. Nothing is written before
// the confirmation, except by that recovery: it undoes the run (or finishes
// it, past its commit) and writes only what that run would have. A record
// that another updater holds open is its live run: the files are left to it,
// the version check is skipped, and after the confirmation the guards refuse
// with 14 or 15 (15 also when no window shows it). A record that cannot be
// put in order is refused with 7, unless a window of the product or of an
// updater is open, which the guards then report after the confirmation, as
// they would without a record.
StartupResult RunStartup(const StartupServices& services, Frontend& frontend, StartupState& state);

}  // namespace morivane
