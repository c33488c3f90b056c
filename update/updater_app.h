// The updater's application object and its start-up sequence: probe the host,
// find and vet the installation, ask for confirmation, guard against a running
// product or a second updater, then run the update dialog. The sequence is the
// program's whole life outside the dialog; InitInstance returns false on every
// path, so the program ends when it does.
#pragma once

#include <memory>
#include <string>

#include "platform/file_system.h"
#include "update/application.h"
#include "update/host_environment.h"
#include "update/system_api.h"

namespace morivane {

// The fixed facts of this update.
inline constexpr const char* kProductName = "Morivane";
inline constexpr const char* kUpdatableFileVersion = "1, 0, 0, 1";
inline constexpr const char* kUpdatedFileVersion = "1, 0, 0, 2";
inline constexpr const char* kConfirmationCaption = "Morivane Update 1.0a";

// Shows the update dialog: constructed with no parent window, made the
// application's main window, run modally, destroyed. The dialog copies what
// it needs from UpdaterApp::Current().
class UpdateDialogRunner {
  public:
    virtual ~UpdateDialogRunner() = default;
    virtual void RunUpdateDialog() = 0;
};

// Everything start-up touches; all of it must outlive the application object.
struct StartupServices {
    OsInfo& os;
    Registry& registry;
    VersionResources& versions;
    Desktop& desktop;
    UpdateDialogRunner& dialog;
    // The installation's files, for the recovery of an interrupted run;
    // null leaves recovery out.
    FileSystem* files = nullptr;
};

// Tells the installed executable's FileVersion text apart: 0 for the version
// this update applies to ("1, 0, 0, 1"), 8 (IDS_ALREADY_UPDATED) for the
// updated one ("1, 0, 0, 2"), 9 (IDS_VERSION_NOT_SUPPORTED) for anything
// else. The whole text is compared byte for byte; nothing is trimmed.
int ClassifyFileVersion(const std::string& fileVersion);

// Reads the FileVersion of the executable at `bootPath` and classifies it:
// 7 (IDS_INSTALL_BROKEN) when it cannot be read, otherwise as above.
int CheckInstalledVersion(HostEnvironment& host, const std::string& bootPath);

class UpdaterApp : public Application {
  public:
    explicit UpdaterApp(const StartupServices& services);
    ~UpdaterApp() override;

    // The application object when it is an UpdaterApp, else null.
    static UpdaterApp* Current();

    // The start-up sequence. Refusals are one error box (no owner, default
    // caption, MB_OK | MB_ICONERROR) with a catalogue text. Nothing is
    // written, except that the record of an interrupted update run, once the
    // installation directory is known and before the FileVersion is read, is
    // recovered silently (and, when that cannot be done, refused with 7,
    // keeping the record for the next start). Always returns false.
    bool InitInstance() override;

    // Null until start-up creates it; deleted with the application object.
    std::unique_ptr<HostEnvironment> hostEnvironment;
    // BootDirectory: full path of the product's executable.
    std::string bootPath;
    // bootPath up to and including its last backslash.
    std::string installDirectory;

  private:
    void RunStartup();
    void ShowErrorBox(int messageNumber);

    StartupServices services_;
};

}  // namespace morivane
