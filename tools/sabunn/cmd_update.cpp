// sabunn update: the updater's own start-up sequence and update run
// (update/startup.h) applied to an installation directory on this machine.
// This file is only its options and its terminal front end: Windows-style
// paths mapped onto the directory, BootDirectory given by the options instead
// of a registry, the FileVersion read from the executable's file, payloads
// from a built MorivaneUpdate.exe or a directory, and the messages printed.
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
#include <utility>
#include <vector>

#include "platform/absent_host.h"
#include "platform/directory_payload_store.h"
#include "platform/pe_payload_store.h"
#include "platform/pe_version_file.h"
#include "platform/posix/regular_file.h"
#include "platform/posix/windows_path_file_system.h"
#include "seams/message_numbers.h"
#include "seams/payload_store.h"
#include "tools/sabunn/commands.h"
#include "tools/sabunn/file_io.h"
#include "tools/sabunn/installation_survey.h"
#include "tools/sabunn/messages.h"
#include "tools/sabunn/update_file_system.h"
#include "update/product.h"
#include "update/startup.h"

#ifndef SABUNN_DEFAULT_UPDATER_EXE
#define SABUNN_DEFAULT_UPDATER_EXE ""
#endif

namespace morivane::sabunn {

namespace {

constexpr const char* kDefaultExecutable = kExecutableName;
constexpr const char* kUpdaterFileName = "MorivaneUpdate.exe";

struct UpdateOptions {
    std::string installDirectory;
    std::string executable = kDefaultExecutable;
    std::optional<std::string> payloads;
    bool yes = false;
    bool noSums = false;
};

// The signal that asked the command to stop, 0 while none has.
volatile sig_atomic_t gStopSignal = 0;

extern "C" void RememberStop(int signal) {
    if (gStopSignal == 0) gStopSignal = signal;
}

// The signals that ask a process to end.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

const char* SignalName(int signal) {
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        case SIGQUIT:
            return "SIGQUIT";
        default:
            return "a signal";
    }
}

// For the command's whole length the stop signals are caught, not blocked:
// one only notes that a stop was asked, and the run acts on it at its next
// safe point (before its record, before each file, before the commit) by
// putting every file back. So no signal ever cuts a rename or its sync, and
// none is held back either: Ctrl-C and `timeout` end the command within one
// file's patch. A closed stdout makes the progress lines fail instead of
// ending the process.
class StopAtSafePoints {
  public:
    StopAtSafePoints() {
        struct sigaction note = {};
        note.sa_handler = RememberStop;
        note.sa_flags = SA_RESTART;
        sigemptyset(&note.sa_mask);
        for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
            sigaction(kStopSignals[i], &note, &previous_[i]);
        }
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, &previousPipe_);
        // A parent that blocked them must not keep them from this command.
        sigset_t stops;
        sigemptyset(&stops);
        for (int s : kStopSignals) sigaddset(&stops, s);
        sigprocmask(SIG_UNBLOCK, &stops, &previousMask_);
    }
    ~StopAtSafePoints() {
        sigprocmask(SIG_SETMASK, &previousMask_, nullptr);
        sigaction(SIGPIPE, &previousPipe_, nullptr);
        for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
            sigaction(kStopSignals[i], &previous_[i], nullptr);
        }
    }
    StopAtSafePoints(const StopAtSafePoints&) = delete;
    StopAtSafePoints& operator=(const StopAtSafePoints&) = delete;

  private:
    struct sigaction previous_[std::size(kStopSignals)];
    struct sigaction previousPipe_;
    sigset_t previousMask_;
};

// While the confirmation is asked nothing is under way: a stop signal ends
// the command at once, as at any prompt.
class StopSignalsEndTheCommand {
  public:
    StopSignalsEndTheCommand() {
        struct sigaction standard = {};
        standard.sa_handler = SIG_DFL;
        sigemptyset(&standard.sa_mask);
        for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
            sigaction(kStopSignals[i], &standard, &previous_[i]);
        }
    }
    ~StopSignalsEndTheCommand() {
        for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
            sigaction(kStopSignals[i], &previous_[i], nullptr);
        }
    }
    StopSignalsEndTheCommand(const StopSignalsEndTheCommand&) = delete;
    StopSignalsEndTheCommand& operator=(const StopSignalsEndTheCommand&) = delete;

  private:
    struct sigaction previous_[std::size(kStopSignals)];
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
    // A FIFO given as the module is refused, not waited on.
    auto bytes = ReadWholeRegularFile(module, kMaxFileSize, &error);
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
bool AskYes(const std::string& root) {
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
        std::printf("[%d/%d] %s (payload %d) ...", n, kUpdateRows, name.c_str(), payloadId);
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

// Start-up and the run on a terminal: refusals and failures on stderr, the
// confirmation asked on stdin (or given by --yes), no windows to look for,
// and the dialog's OK pressed at once.
class TerminalFrontend final : public Frontend, private UpdateView {
  public:
    TerminalFrontend(bool yes, std::string root) : yes_(yes), root_(std::move(root)) {}

    int runResult() const { return runResult_; }
    bool confirmed() const { return confirmed_; }

    void ShowRefusal(int messageNumber) override { ShowMessage(messageNumber); }

    bool Confirm() override {
        ShowMessage(IDS_CLOSE_PROGRAMS);
        if (yes_) {
            confirmed_ = true;
        } else if (::isatty(STDIN_FILENO) == 0) {
            ReportError("confirmation needs a terminal; pass --yes to update without asking");
        } else if (gStopSignal == 0) {
            StopSignalsEndTheCommand whileAsking;
            confirmed_ = AskYes(root_);
            if (!confirmed_) std::printf("Update cancelled; nothing was changed.\n");
        }
        // A stop asked for before this point ends the command here.
        if (gStopSignal != 0) confirmed_ = false;
        return confirmed_;
    }

    // No window of this machine can be the product or a Windows updater;
    // another run on the same installation shows itself by its record.
    bool WindowExists(int) override { return false; }

    void RunUpdateDialog(const UpdateRequest& request) override {
        UpdateContext context = request.Context();
        context.patch =
            WithProgress(patches_.Over(request.files, request.payloads), request.installDirectory);
        context.stopRequested = [] { return gStopSignal != 0; };
        bool runFinished = false;
        HandleUpdateOk(runFinished, context, request.bootPath, request.installDirectory, *this);
    }

    void NoteRecovery(RecoveryResult result) override {
        switch (result) {
            case RecoveryResult::kRolledBack:
                std::printf("An interrupted update was undone.\n");
                break;
            case RecoveryResult::kCompleted:
                std::printf("An interrupted update was completed.\n");
                break;
            case RecoveryResult::kSetAside:
                std::printf(
                    "A record this program cannot act on was renamed Clone<n>.rec; "
                    "the installation's files are whole.\n");
                break;
            default:
                break;
        }
        std::fflush(stdout);
    }

  private:
    void ShowStatus(int messageNumber) override {
        if (messageNumber != IDS_UPDATING) runResult_ = messageNumber;
        ShowMessage(messageNumber, patches_.LastCause());
    }
    void HideCancel() override {}
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}

    bool yes_;
    std::string root_;
    bool confirmed_ = false;
    int runResult_ = 0;
    ExplainedPatches patches_;
};

// The executable as a path the run understands: a path relative to the
// installation (either slash), or an absolute one inside it. Empty, with the
// reason reported, for one outside the installation or with "." or ".."
// names in it: the run replaces that file.
std::string ExecutablePath(const std::string& given, const std::string& root,
                           const std::string& installDirectory) {
    std::string relative = given;
    if (!relative.empty() && relative.front() == '/') {
        const std::string inside = root == "/" ? root : root + "/";
        if (relative.compare(0, inside.size(), inside) != 0) {
            ReportError("--exe '" + given + "' is not inside the installation directory '" + root +
                        "'");
            return {};
        }
        relative = relative.substr(inside.size());
    }
    std::string path = installDirectory;
    std::size_t pos = 0;
    while (pos <= relative.size()) {
        std::size_t end = relative.find_first_of("/\\", pos);
        if (end == std::string::npos) end = relative.size();
        const std::string name = relative.substr(pos, end - pos);
        pos = end + 1;
        if (name.empty()) continue;
        if (name == "." || name == "..") {
            ReportError("--exe '" + given + "' must name the executable without '.' or '..'");
            return {};
        }
        if (path.back() != '\\') path += '\\';
        path += name;
    }
    if (path == installDirectory) {
        ReportError("--exe names no file");
        return {};
    }
    return path;
}

// The payload ids `store` lacks, each with what stands in a payload
// directory under its name when that is not a file.
std::string MissingPayloads(PayloadStore& store, const UpdateOptions& options) {
    std::string missing;
    for (const UpdateFile& file : kUpdateFiles) {
        if (store.Find(file.payloadId)) continue;
        missing += " " + std::to_string(file.payloadId);
        if (options.payloads && IsDirectory(*options.payloads)) {
            const std::string path =
                *options.payloads + "/" + std::to_string(file.payloadId) + ".sabunn";
            const std::string what = DescribeEntry(path);
            if (!what.empty()) missing += " ('" + path + "' is " + what + ")";
        }
    }
    return missing;
}

// After a stop signal: what became of the installation, and the exit status.
int ReportStop(int runResult, FileSystem& files, const std::string& recordPath,
               const std::string& realRecord) {
    const std::string name = SignalName(gStopSignal);
    if (runResult == IDS_UPDATE_DONE) {
        std::printf("%s came after the new files were committed; the update was completed.\n",
                    name.c_str());
        return kExitOk;
    }
    if (files.Exists(recordPath)) {
        ReportError("stopped by " + name + "; not every file could be put back yet: the record " +
                    realRecord + " is kept, and the next start puts the installation in order");
    } else {
        ReportError("stopped by " + name + "; the installation is as it was before this run");
    }
    return 128 + gStopSignal;
}

int RunUpdateCommand(const UpdateOptions& options, const UpdateFileSystemFactory& makeFiles) {
    StopAtSafePoints signals;

    // The installation directory, resolved once: from here on nothing below
    // it is reached through a link.
    char resolved[PATH_MAX];
    if (::realpath(options.installDirectory.c_str(), resolved) == nullptr ||
        !IsDirectory(resolved)) {
        ReportError("'" + options.installDirectory + "' is not an installation directory");
        ShowMessage(IDS_INSTALL_BROKEN);
        return IDS_INSTALL_BROKEN;
    }
    const std::unique_ptr<FileSystem> disk = makeFiles(resolved);
    // The run sees the installation only through this adapter, under a root
    // of plain ASCII: the real directory's name, in whatever bytes, never
    // meets the run's code page 932 rules.
    WindowsPathFileSystem files(*disk, resolved);
    const std::string installDirectory = files.VirtualPrefix();
    const std::string bootPath = ExecutablePath(options.executable, resolved, installDirectory);
    if (bootPath.empty()) return kExitFailure;

    std::optional<Payloads> payloads = OpenPayloads(options, *disk);
    if (!payloads) return kExitFailure;
    if (const std::string missing = MissingPayloads(*payloads->store, options); !missing.empty()) {
        ReportError("'" + payloads->source + "' lacks payload(s)" + missing);
        ShowMessage(IDS_UPDATE_FAILED);
        return IDS_UPDATE_FAILED;
    }
    // Without sums a damaged payload or installed file makes a wrong file
    // that nothing would tell from the right one.
    const bool unsummed = LoadUpdateSums(*payloads->store).kind == SumsLookup::Kind::kNone;
    if (unsummed && !options.noSums) {
        ReportError("'" + payloads->source +
                    "' carries no sums beside its payloads (<id>.sum files, or SABUNNSUM "
                    "resources): a damaged payload would give a wrong file without notice. "
                    "Make them with `sabunn make`, or pass --no-sums to update without "
                    "verifying anything.");
        ShowMessage(IDS_UPDATE_FAILED);
        return IDS_UPDATE_FAILED;
    }
    std::printf("payloads: %s\n", payloads->source.c_str());
    if (unsummed) {
        std::printf("--no-sums: the payloads carry no sums; nothing will be verified\n");
    }
    std::printf("not Windows: the language, Windows NT and version checks are skipped\n");
    std::fflush(stdout);

    const InstallationPaths paths = PathsOf(bootPath, installDirectory);
    const InstallationSurvey survey = SurveyInstallation(files, paths);
    for (const std::string& note : survey.notes) std::printf("note: %s\n", note.c_str());
    std::fflush(stdout);
    if (!survey.refusals.empty()) {
        for (const std::string& refusal : survey.refusals) ReportError(refusal);
        ShowMessage(IDS_INSTALL_BROKEN);
        return IDS_INSTALL_BROKEN;
    }

    // BootDirectory comes from the options; the run's Version record lands
    // in this registry, which lives as long as the command.
    AbsentOsInfo os;
    MemoryRegistry registry;
    const std::string productKey = std::string(kProductKeyPrefix) + kProductName;
    registry.PutString(productKey, kBootDirectoryValue, bootPath);
    PeVersionFile versions(files);

    TerminalFrontend frontend(options.yes, resolved);
    StartupState state;
    StartupServices services{os, registry, versions, files, *payloads->store};
    services.checkMachine = false;
    const StartupResult startup = RunStartup(services, frontend, state);
    const std::string realRecord = "'" + files.RealPath(paths.record) + "'";
    if (gStopSignal != 0) {
        const int runResult =
            startup.end == StartupEnd::kDialogShown ? frontend.runResult() : IDS_UPDATE_FAILED;
        return ReportStop(runResult, files, paths.record, realRecord);
    }
    if (startup.end == StartupEnd::kRefused) {
        if (startup.refusal == IDS_INSTALL_BROKEN && files.Exists(paths.record)) {
            const std::string what = DescribeEntry(files.RealPath(paths.record));
            if (what == "a regular file") {
                ReportError("an interrupted update could not be put in order; its record " +
                            realRecord + " is kept");
            } else {
                ReportError(realRecord + " is " + what +
                            ", not the record of an update run; without sums that show the "
                            "installation whole it is left where it is: remove it");
            }
        }
        return startup.refusal;
    }
    if (startup.end == StartupEnd::kCancelled) return kExitFailure;
    if (frontend.runResult() != IDS_UPDATE_DONE) {
        if (disk->RanOutOfSpace()) {
            ReportError("disk full: the volume holding '" + std::string(resolved) +
                        "' has no room left for the new files");
        }
        return frontend.runResult();
    }
    if (unsummed) {
        std::printf("nothing was verified (--no-sums): the new files are as good as the "
                    "payloads and the files they were applied to\n");
    }
    if (const auto version = registry.GetString(productKey, kVersionValue)) {
        std::printf("Version \"%s\" (the Windows updater records it in the registry)\n",
                    version->c_str());
    }
    return kExitOk;
}

}  // namespace

void AddUpdateCommand(CLI::App& app, int* exitCode, UpdateFileSystemFactory makeFiles) {
    auto options = std::make_shared<UpdateOptions>();
    CLI::App* update = app.add_subcommand(
        "update",
        "Update an installation directory as the Windows updater does: an interrupted run "
        "put in order, the FileVersion and the payloads' sums checked, five files rebuilt "
        "through Clone.tmp, all or nothing. No link below the installation directory is "
        "followed. SIGINT, SIGTERM, SIGHUP or SIGQUIT during the run put every file back. Exit "
        "status 0, the message number, 1 when no payloads or no confirmation, 128 + the "
        "signal's number when stopped by one");
    update
        ->add_option("--install-dir", options->installDirectory,
                     "The installation directory (holding Morivane.exe and dat/)")
        ->required();
    update
        ->add_option("--exe", options->executable,
                     "The executable, relative to the installation directory or absolute inside it")
        ->capture_default_str();
    update->add_option("--payloads", options->payloads,
                       "A built MorivaneUpdate.exe, or a directory of <id>.sabunn files "
                       "(default: the MorivaneUpdate.exe next to sabunn, else the build's)");
    update->add_flag("-y,--yes", options->yes, "Do not ask for confirmation");
    update->add_flag("--no-sums", options->noSums,
                     "Accept payloads that carry no sums (<id>.sum): nothing is then verified");
    update->callback([options, exitCode, makeFiles = std::move(makeFiles)] {
        *exitCode = RunUpdateCommand(*options, makeFiles);
    });
}

}  // namespace morivane::sabunn
