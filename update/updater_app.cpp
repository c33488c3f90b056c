#include "update/updater_app.h"

#include "ui/catalogue.h"
#include "update/update_record.h"

namespace morivane {

int ClassifyFileVersion(const std::string& fileVersion) {
    if (fileVersion == kUpdatableFileVersion) return 0;
    if (fileVersion == kUpdatedFileVersion) return IDS_ALREADY_UPDATED;
    return IDS_VERSION_NOT_SUPPORTED;
}

int CheckInstalledVersion(HostEnvironment& host, const std::string& bootPath) {
    std::string fileVersion;
    if (!host.GetFileVersionString(bootPath, fileVersion)) return IDS_INSTALL_BROKEN;
    return ClassifyFileVersion(fileVersion);
}

UpdaterApp::UpdaterApp(const StartupServices& services)
    : Application(services.desktop), services_(services) {}

UpdaterApp::~UpdaterApp() {
    hostEnvironment.reset();
}

UpdaterApp* UpdaterApp::Current() {
    return dynamic_cast<UpdaterApp*>(Application::Current());
}

bool UpdaterApp::InitInstance() {
    RunStartup();
    return false;
}

void UpdaterApp::ShowErrorBox(int messageNumber) {
    services_.desktop.ShowMessageBox(services_.desktop.LoadText(messageNumber), std::nullopt,
                                     kMbOk | kMbIconError);
}

void UpdaterApp::RunStartup() {
    hostEnvironment =
        std::make_unique<HostEnvironment>(services_.os, services_.registry, services_.versions);
    HostEnvironment& host = *hostEnvironment;

    // The machine: language first, then the platform family, then the version.
    if (!host.IsJapaneseSystem()) return ShowErrorBox(IDS_UNSUPPORTED_LANGUAGE);
    if (host.isWindowsNT) return ShowErrorBox(IDS_NT_UNSUPPORTED);
    if (!host.IsVersionAtLeast(4, 0)) return ShowErrorBox(IDS_OLD_WINDOWS);

    // The installation: two separate readings of BootDirectory.
    if (!host.ReadBootPath(kProductName, bootPath)) return ShowErrorBox(IDS_NOT_INSTALLED);
    if (!host.ReadInstallDirectory(kProductName, installDirectory)) {
        return ShowErrorBox(IDS_NOT_INSTALLED);
    }
    // An update run that was interrupted is undone (or, past its commit,
    // finished) before anything looks at the files, so that the check below
    // sees the executable the installation really has. It shows nothing: an
    // installation that cannot be put in order is reported as one that may
    // be broken, to be reinstalled, and the record stays for another try.
    if (services_.files != nullptr && RecoverInterruptedUpdate(*services_.files, installDirectory,
                                                               &host) == RecoveryResult::kBlocked) {
        return ShowErrorBox(IDS_INSTALL_BROKEN);
    }
    if (const int refusal = CheckInstalledVersion(host, bootPath); refusal != 0) {
        return ShowErrorBox(refusal);
    }

    if (services_.desktop.ShowMessageBox(services_.desktop.LoadText(IDS_CLOSE_PROGRAMS),
                                         std::string(kConfirmationCaption),
                                         kMbOkCancel | kMbIconInformation) != kIdOk) {
        return;
    }

    // The guards look for windows by their exact titles, loaded only now.
    if (services_.desktop.TopLevelWindowExists(
            services_.desktop.LoadText(IDS_PRODUCT_WINDOW_TITLE))) {
        return ShowErrorBox(IDS_PRODUCT_RUNNING);
    }
    if (services_.desktop.TopLevelWindowExists(services_.desktop.LoadText(IDS_UPDATER_TITLE))) {
        return ShowErrorBox(IDS_UPDATER_RUNNING);
    }

    services_.dialog.RunUpdateDialog();
}

}  // namespace morivane
