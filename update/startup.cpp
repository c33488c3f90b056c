#include "update/startup.h"

#include "seams/message_numbers.h"
#include "update/installation.h"
#include "update/product.h"

namespace morivane {

int ClassifyFileVersion(const std::string& fileVersion) {
    if (fileVersion == kUpdatableFileVersion) return 0;
    if (fileVersion == kUpdatedFileVersion) return IDS_ALREADY_UPDATED;
    return IDS_VERSION_NOT_SUPPORTED;
}

StartupResult RunStartup(const StartupServices& services, Frontend& frontend, StartupState& state) {
    auto refuse = [&frontend](int message) {
        frontend.ShowRefusal(message);
        return StartupResult{StartupEnd::kRefused, message};
    };

    state.hostEnvironment =
        std::make_unique<HostEnvironment>(services.os, services.registry, services.versions);
    HostEnvironment& host = *state.hostEnvironment;

    // The machine: language first, then the platform family, then the version.
    if (services.checkMachine) {
        if (!host.IsJapaneseSystem()) return refuse(IDS_UNSUPPORTED_LANGUAGE);
        if (host.isWindowsNT) return refuse(IDS_NT_UNSUPPORTED);
        if (!host.IsVersionAtLeast(4, 0)) return refuse(IDS_OLD_WINDOWS);
    }

    // The installation: two separate readings of BootDirectory.
    if (!host.ReadBootPath(kProductName, state.bootPath)) return refuse(IDS_NOT_INSTALLED);
    if (!host.ReadInstallDirectory(kProductName, state.installDirectory)) {
        return refuse(IDS_NOT_INSTALLED);
    }

    const InstallationPaths paths = PathsOf(state.bootPath, state.installDirectory);
    const SumsLookup sums = LoadUpdateSums(services.payloads);

    // An update run that was interrupted is undone (or, past its commit,
    // finished) before anything looks at the files, so that the checks below
    // see the files the installation really has.
    const RecoveryResult recovery = RecoverInterruptedUpdate(services.files, paths, &host, sums);
    bool guardsOnly = false;  // the installation is another run's, or in doubt
    switch (recovery) {
        case RecoveryResult::kNothingToDo:
            break;
        case RecoveryResult::kRolledBack:
        case RecoveryResult::kCompleted:
        case RecoveryResult::kSetAside:
            frontend.NoteRecovery(recovery);
            break;
        case RecoveryResult::kLiveRun:
            guardsOnly = true;
            break;
        case RecoveryResult::kBlocked:
            // A running product or updater may be what holds the files; it
            // is reported as it would be without the record.
            if (!frontend.WindowExists(IDS_PRODUCT_WINDOW_TITLE) &&
                !frontend.WindowExists(IDS_UPDATER_TITLE)) {
                return refuse(IDS_INSTALL_BROKEN);
            }
            guardsOnly = true;
            break;
    }

    if (!guardsOnly) {
        std::string fileVersion;
        if (!host.GetFileVersionString(state.bootPath, fileVersion)) {
            return refuse(IDS_INSTALL_BROKEN);
        }
        if (const int refusal = ClassifyFileVersion(fileVersion); refusal != 0) {
            return refuse(refusal);
        }
    }

    if (!frontend.Confirm()) return {StartupEnd::kCancelled, 0};

    // The guards look for windows by their exact titles, loaded only now.
    if (frontend.WindowExists(IDS_PRODUCT_WINDOW_TITLE)) return refuse(IDS_PRODUCT_RUNNING);
    if (frontend.WindowExists(IDS_UPDATER_TITLE)) return refuse(IDS_UPDATER_RUNNING);
    if (recovery == RecoveryResult::kLiveRun) return refuse(IDS_UPDATER_RUNNING);
    if (guardsOnly) return refuse(IDS_INSTALL_BROKEN);

    // Only now are the installed files read against the sums: a running
    // product or updater that holds one of them has been reported as such,
    // not as a broken installation. Without an installation directory the
    // files have no place to be read from (the names would resolve against
    // the current folder); the run then refuses with 12 before it touches
    // anything.
    if (sums.kind == SumsLookup::Kind::kDamaged) return refuse(IDS_UPDATE_FAILED);
    if (sums.kind == SumsLookup::Kind::kPresent && !paths.installDirectory.empty() &&
        VerifyInstallation(services.files, paths, sums.sums) != TreeState::kOld) {
        return refuse(IDS_INSTALL_BROKEN);
    }

    frontend.RunUpdateDialog(UpdateRequest{services.files, services.payloads, &host, state.bootPath,
                                           state.installDirectory, sums.sums});
    return {StartupEnd::kDialogShown, 0};
}

}  // namespace morivane
