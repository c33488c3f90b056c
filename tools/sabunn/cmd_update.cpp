// sabunn update: the updater's own update run applied to an installation
// directory on this machine, with the start-up version check before it. The
// run is the one the Win32 dialog drives (update/update_run.h); this file is
// only its terminal front end: Windows-style paths mapped onto the directory,
// the FileVersion read from the executable's file, payloads from a built
// MorivaneUpdate.exe or a directory, and the messages printed.
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "patch/payload_store.h"
#include "platform/absent_system.h"
#include "platform/directory_payload_store.h"
#include "platform/pe_payload_store.h"
#include "platform/pe_version_resources.h"
#include "platform/posix/windows_path_file_system.h"
#include "tools/sabunn/commands.h"
#include "tools/sabunn/file_io.h"
#include "tools/sabunn/update_file_system.h"
#include "ui/catalogue.h"
#include "update/host_environment.h"
#include "update/update_record.h"
#include "update/update_run.h"
#include "update/updater_app.h"

#ifndef SABUNN_DEFAULT_UPDATER_EXE
#define SABUNN_DEFAULT_UPDATER_EXE ""
#endif

namespace morivane::sabunn {

namespace {

constexpr const char* kDefaultExecutable = "Morivane.exe";
constexpr const char* kUpdaterFileName = "MorivaneUpdate.exe";

struct UpdateOptions {
    std::string installDirectory;
    std::string executable = kDefaultExecutable;
    std::optional<std::string> payloads;
    bool yes = false;
};

// "message N: <text> (<meaning>)", the text's line feeds shown as spaces so
// that each message is one line.
std::string MessageLine(int number) {
    const CatalogueEntry* entry = FindMessage(number);
    if (entry == nullptr) return "message " + std::to_string(number);
    std::string text = entry->text;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    for (char& c : text) {
        if (c == '\n') c = ' ';
    }
    return "message " + std::to_string(number) + ": " + text + " (" + entry->english + ")";
}

// Failures (1 to 15) go to stderr, the informational texts (50 and up) to
// stdout.
void ShowMessage(int number) {
    if (number < IDS_CLOSE_PROGRAMS) {
        ReportError(MessageLine(number));
    } else {
        std::printf("%s\n", MessageLine(number).c_str());
        std::fflush(stdout);
    }
}

// The dialog's part of the run, on a terminal: the status texts are printed;
// there is no Cancel button to hide and no cursor to change.
class TerminalView final : public UpdateView {
  public:
    void ShowStatus(int messageNumber) override { ShowMessage(messageNumber); }
    void HideCancel() override {}
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
};

// Holds off the signals that would end the process part-way through the run,
// between moving an original aside and putting it back; they are delivered
// once the run is over. A closed stdout makes the progress lines fail instead
// of ending the process.
class UninterruptibleRun {
  public:
    UninterruptibleRun() {
        sigset_t held;
        sigemptyset(&held);
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP}) sigaddset(&held, s);
        sigprocmask(SIG_BLOCK, &held, &previousMask_);
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, &previousPipe_);
    }
    ~UninterruptibleRun() {
        sigaction(SIGPIPE, &previousPipe_, nullptr);
        sigprocmask(SIG_SETMASK, &previousMask_, nullptr);
    }
    UninterruptibleRun(const UninterruptibleRun&) = delete;
    UninterruptibleRun& operator=(const UninterruptibleRun&) = delete;

  private:
    sigset_t previousMask_;
    struct sigaction previousPipe_;
};

bool IsDirectory(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsRegularFile(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// MorivaneUpdate.exe in the directory that holds this sabunn binary, or
// empty when that directory cannot be told.
std::string SiblingUpdater() {
    char self[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return {};
    std::string path(self, static_cast<std::size_t>(n));
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return {};
    return path.substr(0, slash + 1) + kUpdaterFileName;
}

struct Payloads {
    std::unique_ptr<PayloadStore> store;
    std::string source;
};

// The payload store named by --payloads (a module or a directory of
// <id>.sabunn), or else the one built into the updater next to this binary
// or at the build's configured path. Nothing, with the reason reported, when
// none can be opened.
std::optional<Payloads> OpenPayloads(const UpdateOptions& options, FileSystem& files) {
    std::string module;
    if (options.payloads) {
        if (IsDirectory(*options.payloads)) {
            return Payloads{std::make_unique<DirectoryPayloadStore>(files, *options.payloads),
                            *options.payloads};
        }
        module = *options.payloads;
    } else {
        std::vector<std::string> tried;
        for (const std::string& candidate :
             {SiblingUpdater(), std::string(SABUNN_DEFAULT_UPDATER_EXE)}) {
            if (candidate.empty()) continue;
            if (IsRegularFile(candidate)) {
                module = candidate;
                break;
            }
            tried.push_back(candidate);
        }
        if (module.empty()) {
            std::string where;
            for (const std::string& t : tried) where += "\n  " + t;
            ReportError("no payloads: " + std::string(kUpdaterFileName) + " was not found at" +
                        where + "\nPass --payloads MODULE (a built " + kUpdaterFileName +
                        ") or --payloads DIR (a directory of <id>.sabunn files).");
            return std::nullopt;
        }
    }

    std::string error;
    auto bytes = ReadWholeFile(module, &error);
    if (!bytes) {
        ReportError(error);
        return std::nullopt;
    }
    auto store = std::make_unique<PePayloadStore>(std::move(*bytes));
    if (store->Status() != PeStatus::Ok) {
        ReportError("'" + module +
                    "' is not a readable Win32 module: " + PeStatusName(store->Status()));
        return std::nullopt;
    }
    return Payloads{std::move(store), module};
}

// Asks on the terminal; true only for "y" or "yes" (any case).
bool Confirm(const std::string& root) {
    ShowMessage(IDS_CLOSE_PROGRAMS);
    std::printf("Update the installation in '%s'? [y/N] ", root.c_str());
    std::fflush(stdout);
    char line[64] = {};
    if (std::fgets(line, sizeof line, stdin) == nullptr) return false;
    std::string answer(line);
    while (!answer.empty() && (answer.back() == '\n' || answer.back() == '\r')) answer.pop_back();
    for (char& c : answer) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    return answer == "y" || answer == "yes";
}

// The run's patch function with one progress line per file, printed around
// the patch of that file.
PatchFunction WithProgress(PatchFunction patch, std::string prefix) {
    auto row = std::make_shared<int>(0);
    return [patch = std::move(patch), prefix = std::move(prefix), row](
               const std::string& oldPath, const std::string& newPath, int payloadId) {
        const int n = ++*row;
        const std::string name = oldPath.compare(0, prefix.size(), prefix) == 0
                                     ? oldPath.substr(prefix.size())
                                     : oldPath;
        std::printf("[%d/%zu] %s (payload %d) ...", n, std::size(kUpdateFiles), name.c_str(),
                    payloadId);
        std::fflush(stdout);
        const int result = patch(oldPath, newPath, payloadId);
        if (result == 0) {
            std::printf(" rebuilt\n");
        } else {
            std::printf(" failed with message %d\n", result);
        }
        std::fflush(stdout);
        return result;
    };
}

int RunUpdateCommand(const UpdateOptions& options) {
    // The installation directory, made absolute so that the executable's
    // path and the run's paths all begin with it.
    char resolved[PATH_MAX];
    if (::realpath(options.installDirectory.c_str(), resolved) == nullptr ||
        !IsDirectory(resolved)) {
        ReportError("'" + options.installDirectory + "' is not an installation directory");
        ShowMessage(IDS_INSTALL_BROKEN);
        return IDS_INSTALL_BROKEN;
    }
    const std::unique_ptr<FileSystem> disk = MakeUpdateFileSystem();
    WindowsPathFileSystem files(*disk, resolved);
    const std::string installDirectory = files.VirtualPrefix();

    // The executable: a path relative to the installation (either slash), or
    // an absolute one taken as it is.
    std::string bootPath = options.executable;
    if (bootPath.empty() || bootPath.front() != '/') {
        for (char& c : bootPath) {
            if (c == '/') c = '\\';
        }
        bootPath = installDirectory + bootPath;
    }

    // An earlier run that was interrupted is undone (or, past its commit,
    // finished) before the check, as the Windows updater does at its start.
    RecoveryResult recovery;
    {
        UninterruptibleRun hold;
        recovery = RecoverInterruptedUpdate(files, installDirectory, nullptr);
    }
    if (recovery == RecoveryResult::kBlocked) {
        ReportError("an interrupted update could not be put in order; its record " +
                    files.RealPath(installDirectory + kRecordFileName) + " is kept");
        ShowMessage(IDS_INSTALL_BROKEN);
        return IDS_INSTALL_BROKEN;
    }
    if (recovery == RecoveryResult::kRolledBack) {
        std::printf("An interrupted update was undone.\n");
    } else if (recovery == RecoveryResult::kCompleted) {
        std::printf("An interrupted update was completed.\n");
    }

    // The start-up check: 1, 0, 0, 1 goes on; 1, 0, 0, 2 or anything else is
    // refused, as is an executable whose FileVersion cannot be read.
    AbsentOsInfo os;
    AbsentRegistry registry;
    PeVersionResources versions(files);
    HostEnvironment host(os, registry, versions);
    const int refusal = CheckInstalledVersion(host, bootPath);
    std::string fileVersion;
    if (host.GetFileVersionString(bootPath, fileVersion)) {
        std::printf("%s: FileVersion \"%s\"\n", files.RealPath(bootPath).c_str(),
                    fileVersion.c_str());
    } else {
        ReportError("cannot read the FileVersion of '" + files.RealPath(bootPath) + "'");
    }
    if (refusal != 0) {
        ShowMessage(refusal);
        return refusal;
    }

    std::optional<Payloads> payloads = OpenPayloads(options, *disk);
    if (!payloads) return kExitFailure;
    std::string missing;
    for (const UpdateFile& file : kUpdateFiles) {
        if (!payloads->store->Find(file.payloadId)) missing += " " + std::to_string(file.payloadId);
    }
    if (!missing.empty()) {
        ReportError("'" + payloads->source + "' lacks payload(s)" + missing);
        ShowMessage(IDS_UPDATE_FAILED);
        return IDS_UPDATE_FAILED;
    }
    std::printf("payloads: %s\n", payloads->source.c_str());
    std::fflush(stdout);

    if (!options.yes) {
        if (::isatty(STDIN_FILENO) == 0) {
            ReportError("confirmation needs a terminal; pass --yes to update without asking");
            return kExitFailure;
        }
        if (!Confirm(resolved)) {
            std::printf("Update cancelled; nothing was changed.\n");
            return kExitFailure;
        }
    }

    TerminalView view;
    const UpdateContext context{
        files, WithProgress(FreshDiffPatcher(files, *payloads->store), installDirectory), nullptr};
    int result = 0;
    {
        UninterruptibleRun hold;
        result = RunUpdate(context, bootPath, installDirectory, view);
    }
    if (result != IDS_UPDATE_DONE) return result;
    std::printf("Version is recorded only by the Windows updater.\n");
    return kExitOk;
}

}  // namespace

void AddUpdateCommand(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<UpdateOptions>();
    CLI::App* update = app.add_subcommand(
        "update",
        "Update an installation directory as the Windows updater does: FileVersion check, "
        "five files rebuilt through Clone.tmp, all or nothing. Exit status 0, or the "
        "message number (1 when no payloads or no confirmation)");
    update
        ->add_option("--install-dir", options->installDirectory,
                     "The installation directory (holding Morivane.exe and dat/)")
        ->required();
    update
        ->add_option("--exe", options->executable,
                     "The executable, relative to the installation directory or absolute")
        ->capture_default_str();
    update->add_option("--payloads", options->payloads,
                       "A built MorivaneUpdate.exe, or a directory of <id>.sabunn files "
                       "(default: the MorivaneUpdate.exe next to sabunn, else the build's)");
    update->add_flag("-y,--yes", options->yes, "Do not ask for confirmation");
    update->callback([options, exitCode] { *exitCode = RunUpdateCommand(*options); });
}

}  // namespace morivane::sabunn
