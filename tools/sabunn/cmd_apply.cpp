// sabunn apply: rebuilds a new file from an old file and a payload with the
// updater's own patcher, so that a publisher sees exactly what an end user's
// machine will produce.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <optional>

#include "patch/diff_patcher.h"
#include "patch/memory_payload_store.h"
#include "platform/directory_payload_store.h"
#include "platform/posix/posix_file_system.h"
#include "tools/sabunn/commands.h"
#include "tools/sabunn/file_io.h"
#include "ui/catalogue.h"

namespace morivane::sabunn {

namespace {

struct ApplyOptions {
    std::string oldFile;
    std::string payload;
    std::string newFile;
    std::optional<int> id;
};

// The id under which a payload read from a single file is handed to the
// patcher; any id will do, the patcher only looks it up.
constexpr int kFilePayloadId = 1;

// "message N: <text> (<meaning>)" on stderr, the text's line feeds shown as
// spaces so that the whole message is one line.
void ReportMessage(int number) {
    const CatalogueEntry* entry = FindMessage(number);
    if (entry == nullptr) {
        ReportError("message " + std::to_string(number));
        return;
    }
    std::string text = entry->text;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    for (char& c : text) {
        if (c == '\n') c = ' ';
    }
    ReportError("message " + std::to_string(number) + ": " + text + " (" + entry->english + ")");
}

// A temporary file's name, unlinked on destruction unless it was renamed.
class TemporaryFile {
  public:
    explicit TemporaryFile(std::string name) : name_(std::move(name)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!kept_) ::unlink(name_.c_str());
    }
    const std::string& name() const { return name_; }
    void Keep() { kept_ = true; }

  private:
    std::string name_;
    bool kept_ = false;
};

// Reserves a hidden name beside `path` (same directory, so that the final
// rename stays within one file system) and gives it the usual file mode.
std::optional<std::string> ReserveTemporaryBeside(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string directory = slash == std::string::npos ? "" : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty()) return std::nullopt;
    std::string pattern = directory + "." + name + ".partial-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) return std::nullopt;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    const bool ok = ::fchmod(fd, 0666 & ~mask) == 0;
    if (::close(fd) != 0 || !ok) {
        ::unlink(pattern.c_str());
        return std::nullopt;
    }
    return pattern;
}

// Pushes the finished file to the disk before it is renamed into place.
bool SyncFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    return ::close(fd) == 0 && synced;
}

int RunApply(const ApplyOptions& options) {
    PosixFileSystem files;

    // The payload store: a directory of <id>.sabunn files with --id, or one
    // payload file read whole.
    std::unique_ptr<PayloadStore> store;
    int id = kFilePayloadId;
    struct stat info;
    if (::stat(options.payload.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        if (!options.id) {
            ReportError("'" + options.payload + "' is a directory: give the payload's --id");
            return kExitFailure;
        }
        id = *options.id;
        store = std::make_unique<DirectoryPayloadStore>(files, options.payload);
    } else {
        std::string error;
        auto bytes = ReadWholeFile(options.payload, &error);
        if (!bytes) {
            ReportError(error);
            return kExitFailure;
        }
        if (options.id) id = *options.id;
        auto memory = std::make_unique<MemoryPayloadStore>();
        memory->Add(id, std::move(*bytes));
        store = std::move(memory);
    }

    // The new file is written under a temporary name and renamed into place
    // only once complete, so a failure never leaves a partial NEW behind and
    // NEW may even name the old file.
    const std::optional<std::string> reserved = ReserveTemporaryBeside(options.newFile);
    if (!reserved) {
        ReportMessage(IDS_TEMP_CREATE_FAILED);
        return kExitFailure;
    }
    TemporaryFile temporary(*reserved);

    DiffPatcher patcher(files, *store);
    const int result = patcher.Patch(options.oldFile, temporary.name(), id);
    if (result != 0) {
        ReportMessage(result);
        return kExitFailure;
    }
    if (!SyncFile(temporary.name()) ||
        ::rename(temporary.name().c_str(), options.newFile.c_str()) != 0) {
        ReportError("cannot put the new file in place at '" + options.newFile + "'");
        ReportMessage(IDS_UPDATE_FAILED);
        return kExitFailure;
    }
    temporary.Keep();
    return kExitOk;
}

}  // namespace

void AddApplyCommand(CLI::App& app, int* exitCode) {
    auto options = std::make_shared<ApplyOptions>();
    CLI::App* apply = app.add_subcommand(
        "apply", "Rebuild a new file from an old file and a payload, as the updater does");
    apply->add_option("OLD", options->oldFile, "The old file")->required();
    apply
        ->add_option("PAYLOAD", options->payload,
                     "The payload file, or a directory of <id>.sabunn files (with --id)")
        ->required();
    apply->add_option("-o,--output", options->newFile, "The new file to write")->required();
    apply->add_option("--id", options->id,
                      "The payload id (only its low 16 bits count); needed for a directory");
    apply->callback([options, exitCode] { *exitCode = RunApply(*options); });
}

}  // namespace morivane::sabunn
