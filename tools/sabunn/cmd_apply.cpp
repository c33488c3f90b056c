// sabunn apply: rebuilds a new file from an old file and a payload with the
// updater's own patcher, so that a publisher sees exactly what an end user's
// machine will produce.
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <optional>

#include "patch/diff_patcher.h"
#include "platform/directory_payload_store.h"
#include "platform/memory_payload_store.h"
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
    std::string error;
    const std::unique_ptr<PendingFile> pending = PendingFile::Create(options.newFile, &error);
    if (!pending) {
        ReportError(error);
        ReportMessage(IDS_TEMP_CREATE_FAILED);
        return kExitFailure;
    }

    DiffPatcher patcher(files, *store);
    const int result = patcher.Patch(options.oldFile, pending->name(), id);
    if (result != 0) {
        ReportMessage(result);
        return kExitFailure;
    }
    if (!pending->Commit(&error)) {
        ReportError(error);
        ReportMessage(IDS_UPDATE_FAILED);
        return kExitFailure;
    }
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
