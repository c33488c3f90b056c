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
#include <vector>

#include "platform/absent_host.h"
#include "platform/directory_payload_store.h"
#include "platform/pe_payload_store.h"
#include "platform/pe_version_file.h"
#include "platform/posix/windows_path_file_system.h"
#include "seams/message_numbers.h"
#include "seams/payload_store.h"
#include "tools/sabunn/commands.h"
#include "tools/sabunn/file_io.h"
#include "tools/sabunn/messages.h"
#include "tools/sabunn/update_file_system.h"
#include "update/product.h"
#include "update/startup.h"

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

// The signals that would end or stop the process part-way through a run.
sigset_t HeldSignals() {
    sigset_t held;
    sigemptyset(&held);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP}) sigaddset(&held, s);
    return held;
}

// Holds off the signals that would end the process part-way through the run,
// between moving an original aside and putting it back; they are delivered
// once the run is over. A closed stdout makes the progress lines fail instead
// of ending the process.
class UninterruptibleRun {
  public:
    UninterruptibleRun() {
        const sigset_t held = HeldSignals();
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

// Lets the held signals through for its lifetime (a prompt inside an
// UninterruptibleRun).
class SignalsAllowed {
  public:
    SignalsAllowed() {
        const sigset_t allowed = HeldSignals();
        sigprocmask(SIG_UNBLOCK, &allowed, &previousMask_);
    }
    ~SignalsAllowed() { sigprocmask(SIG_SETMASK, &previousMask_, nullptr); }
    SignalsAllowed(const SignalsAllowed&) = delete;
    SignalsAllowed& operator=(const SignalsAllowed&) = delete;

  private:
    sigset_t previousMask_;
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
        } else {
            // Ctrl-C may end the command while it waits for an answer.
            SignalsAllowed whileAsking;
            confirmed_ = AskYes(root_);
            if (!confirmed_) std::printf("Update cancelled; nothing was changed.\n");
        }
        return confirmed_;
    }

    // No window of this machine can be the product or a Windows updater;
    // another run on the same installation shows itself by its record.
    bool WindowExists(int) override { return false; }

    void RunUpdateDialog(const UpdateRequest& request) override {
        UpdateContext context = request.Context();
        context.patch =
            WithProgress(patches_.Over(request.files, request.payloads), request.installDirectory);
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
    std::printf("not Windows: the language, Windows NT and version checks are skipped\n");
    std::fflush(stdout);

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
    StartupResult startup;
    {
        // The recovery and the run move files: signals wait until they are
        // over, except while the confirmation is asked.
        UninterruptibleRun hold;
        startup = RunStartup(services, frontend, state);
    }
    if (startup.end == StartupEnd::kRefused) {
        if (startup.refusal == IDS_INSTALL_BROKEN &&
            files.Exists(installDirectory + kRecordFileName)) {
            ReportError("an interrupted update could not be put in order; its record " +
                        files.RealPath(installDirectory + kRecordFileName) + " is kept");
        }
        return startup.refusal;
    }
    if (startup.end == StartupEnd::kCancelled) return kExitFailure;
    if (frontend.runResult() != IDS_UPDATE_DONE) return frontend.runResult();
    if (const auto version = registry.GetString(productKey, kVersionValue)) {
        std::printf("Version \"%s\" (the Windows updater records it in the registry)\n",
                    version->c_str());
    }
    return kExitOk;
}

}  // namespace

void AddUpdateCommand(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<UpdateOptions>();
    CLI::App* update = app.add_subcommand(
        "update",
        "Update an installation directory as the Windows updater does: an interrupted run "
        "put in order, the FileVersion and the payloads' sums checked, five files rebuilt "
        "through Clone.tmp, all or nothing. Exit status 0, or the message number (1 when no "
        "payloads or no confirmation)");
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
