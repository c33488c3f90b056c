// sabunn apply: rebuilds a new file from an old file and a payload with the
// updater's own patcher, so that a publisher sees exactly what an end user's
// machine will produce. The sums beside the payload are checked on both
// sides: a payload damaged in transit must not yield a wrong file that looks
// like a success.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>

#include "patch/crc32.h"
#include "patch/patch_cause.h"
#include "patch/payload_sums.h"
#include "platform/directory_payload_store.h"
#include "seams/message_numbers.h"
#include "tools/builder/readback.h"
#include "tools/sabunn/commands.h"
#include "tools/sabunn/file_io.h"
#include "tools/sabunn/messages.h"

namespace morivane::sabunn {

namespace {

struct ApplyOptions {
    std::string oldFile;
    std::string payload;
    std::string newFile;
    std::optional<int> id;
    std::string manifest;  // empty: beside the payload
    bool noSums = false;
};

// What has gone into the new file so far.
struct Written {
    std::uint64_t size = 0;
    std::uint32_t crc = 0;  // CRC-32 of those bytes
    std::string error;      // why a write failed, once one has
};

// The new file, written through to the pending output as the patcher makes
// it (in large pieces: a script of one-byte units writes a run at a time),
// its size and CRC-32 kept for the check before the output is committed.
class PendingOutput final : public OutputFile {
  public:
    PendingOutput(PendingFile& file, Written& written) : file_(file), written_(written) {}
    std::size_t Write(const void* buffer, std::size_t size, std::size_t count) override {
        if (!written_.error.empty() || size == 0 || count > SIZE_MAX / size) return 0;
        const ByteSpan bytes(static_cast<const std::uint8_t*>(buffer), size * count);
        written_.crc = Crc32(bytes, written_.crc);
        written_.size += bytes.size();
        if (buffer_.size() + bytes.size() > kPiece && !Flush()) return 0;
        if (bytes.size() >= kPiece) return file_.Write(bytes, &written_.error) ? count : 0;
        buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
        return count;
    }
    bool Close() override { return Flush(); }

  private:
    static constexpr std::size_t kPiece = 1 << 18;
    bool Flush() {
        if (buffer_.empty()) return true;
        const bool done = file_.Write(buffer_, &written_.error);
        buffer_.clear();
        return done;
    }
    PendingFile& file_;
    Written& written_;
    std::vector<std::uint8_t> buffer_;
};

// `what`, of `actual` size and CRC-32, against the sums' `expected`; false
// with the difference printed.
bool Matches(const std::optional<FileSum>& actual, const FileSum& expected, const std::string& what,
             const std::string& sumsPath) {
    if (actual && *actual == expected) return true;
    ReportError(what + " is " + (actual ? DescribeSum(*actual) : std::string("4 GiB or more")) +
                "; the sums in '" + sumsPath + "' say " + DescribeSum(expected));
    return false;
}

int RunApply(const ApplyOptions& options) {
    Inputs inputs;
    std::string error;

    // The old file first: one that cannot be read is the patcher's 10.
    const auto old = inputs.Read(options.oldFile, &error);
    if (!old) {
        ReportError(error);
        ShowMessage(IDS_EXE_IN_USE);
        return kExitFailure;
    }

    // The payload: <id>.sabunn in a directory with --id, or a file; its sums
    // lie beside it unless --manifest says where.
    std::string payloadPath = options.payload;
    struct stat info;
    if (::stat(options.payload.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        if (!options.id) {
            ReportError("'" + options.payload + "' is a directory: give the payload's --id");
            return kExitFailure;
        }
        payloadPath =
            options.payload + "/" + std::to_string(*options.id & 0xFFFF) + kPayloadExtension;
    }
    const auto payload = inputs.Read(payloadPath, &error);
    if (!payload) {
        ReportError(error);
        return kExitFailure;
    }

    std::optional<PayloadSums> sums;
    const std::string sumsPath =
        options.manifest.empty() ? SumsPathBeside(payloadPath) : options.manifest;
    if (!options.noSums) {
        bool missing = false;
        const auto bytes = inputs.ReadSums(sumsPath, &missing, &error);
        if (missing) {
            ReportError("no sums for '" + payloadPath + "' (none at '" + sumsPath +
                        "'): the old and the new file could not be checked. Give the sums with "
                        "--manifest, or --no-sums to apply the payload unchecked");
            return kExitFailure;
        }
        if (!bytes) {
            ReportError(error);
            return kExitFailure;
        }
        sums = ParsePayloadSums(*bytes);
        if (!sums) {
            ReportError("'" + sumsPath + "' holds no sums (damaged or not a sums file)");
            return kExitFailure;
        }
        if (!Matches(SumOf(*old), sums->oldFile, "'" + options.oldFile + "'", sumsPath)) {
            ReportError("'" + options.oldFile +
                        "' is not the old file this payload was made for; nothing written");
            return kExitFailure;
        }
    }

    // The new file is written under a temporary name and renamed into place
    // only once complete and checked, so a failure never leaves a partial or
    // wrong NEW behind. NEW may be none of the inputs.
    bool refused = false;
    const std::unique_ptr<PendingFile> pending =
        PendingFile::Create(options.newFile, inputs, &error, &refused);
    if (!pending) {
        ReportError(error);
        if (!refused) ShowMessage(IDS_TEMP_CREATE_FAILED);
        return kExitFailure;
    }

    // The patcher reads the old file from the bytes already read, so that
    // what the sums were checked against is exactly what is patched.
    Written written;
    PatchCause cause;
    const int result =
        PatchInMemory(*old, *payload, std::make_unique<PendingOutput>(*pending, written), &cause);
    if (result != 0) {
        if (!written.error.empty()) ReportError(written.error);
        ShowMessage(result, DescribePatchCause(cause));
        return kExitFailure;
    }
    const std::optional<FileSum> made =
        written.size <= UINT32_MAX
            ? std::optional(FileSum{static_cast<std::uint32_t>(written.size), written.crc})
            : std::nullopt;
    if (sums && !Matches(made, sums->newFile, "the rebuilt file", sumsPath)) {
        ReportError("the payload did not rebuild the new file; '" + options.newFile +
                    "' not written");
        ShowMessage(IDS_UPDATE_FAILED);
        return kExitFailure;
    }
    if (!pending->Commit(&error)) {
        ReportError(error);
        ShowMessage(IDS_UPDATE_FAILED);
        return kExitFailure;
    }
    if (!sums) {
        ReportError("warning: --no-sums: nothing was verified; '" + options.newFile +
                    "' may not be the file the payload was made to rebuild");
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
    CLI::Option* manifest = apply->add_option(
        "--manifest", options->manifest,
        "The sums of the old and the new file (default: beside the payload, its path with the "
        "extension .sum); OLD and the rebuilt file are checked against them");
    apply
        ->add_flag("--no-sums", options->noSums,
                   "Apply a payload that has no sums, checking nothing (without sums, apply "
                   "refuses unless this is given)")
        ->excludes(manifest);
    apply->callback([options, exitCode] { *exitCode = RunApply(*options); });
}

}  // namespace morivane::sabunn
