#include "tools/builder/readback.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "patch/diff_patcher.h"
#include "platform/memory_payload_store.h"

namespace morivane {

namespace {

constexpr char kOldPath[] = "old";
constexpr char kNewPath[] = "new";
constexpr int kPayloadId = 1;

// The two files one Patch call touches: the old file, read from memory, and
// the new file the caller gives (handed out once). Nothing else exists.
class TwoFiles final : public FileSystem {
  public:
    TwoFiles(ByteSpan old, std::unique_ptr<OutputFile> out) : old_(old), out_(std::move(out)) {}

    std::unique_ptr<InputFile> OpenForReading(const std::string& path) override {
        if (path != kOldPath) return nullptr;
        return std::make_unique<Input>(old_);
    }
    std::unique_ptr<OutputFile> CreateForWriting(const std::string& path) override {
        if (path != kNewPath) return nullptr;
        return std::move(out_);
    }
    std::unique_ptr<OutputFile> CreateNew(const std::string&) override { return nullptr; }
    std::unique_ptr<InputFile> OpenUnshared(const std::string&, bool* inUse) override {
        *inUse = false;
        return nullptr;
    }
    bool Exists(const std::string& path) override { return path == kOldPath; }
    bool IsWritable(const std::string&) override { return false; }
    bool MakeWritable(const std::string&) override { return false; }
    bool Delete(const std::string&) override { return false; }
    bool Move(const std::string&, const std::string&) override { return false; }
    bool SetTimes(const std::string&, std::int64_t) override { return false; }

  private:
    class Input final : public InputFile {
      public:
        explicit Input(ByteSpan data) : data_(data) {}
        std::int64_t Length() override { return static_cast<std::int64_t>(data_.size()); }
        std::size_t Read(void* buffer, std::size_t size, std::size_t count) override {
            if (size == 0) return 0;
            const std::size_t left = data_.size() - at_;
            const std::size_t bytes = count > left / size ? left : size * count;
            if (bytes > 0) std::memcpy(buffer, data_.data() + at_, bytes);
            at_ += bytes;
            return bytes / size;
        }

      private:
        ByteSpan data_;
        std::size_t at_ = 0;
    };

    ByteSpan old_;
    std::unique_ptr<OutputFile> out_;
};

// The new file collected in memory.
class Collected final : public OutputFile {
  public:
    explicit Collected(std::vector<std::uint8_t>& out) : out_(out) {}
    std::size_t Write(const void* buffer, std::size_t size, std::size_t count) override {
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        out_.insert(out_.end(), bytes, bytes + size * count);
        return count;
    }
    bool Close() override { return true; }

  private:
    std::vector<std::uint8_t>& out_;
};

}  // namespace

int PatchInMemory(ByteSpan old, ByteSpan payload, std::unique_ptr<OutputFile> newFile,
                  PatchCause* cause) {
    TwoFiles files(old, std::move(newFile));
    MemoryPayloadStore store;
    store.Add(kPayloadId, payload);
    DiffPatcher patcher(files, store);
    const int message = patcher.Patch(kOldPath, kNewPath, kPayloadId);
    if (cause != nullptr) *cause = patcher.Cause();
    return message;
}

std::string ReadBack(ByteSpan old, ByteSpan neu, ByteSpan payload) {
    std::vector<std::uint8_t> rebuilt;
    rebuilt.reserve(neu.size());
    PatchCause cause;
    if (const int message =
            PatchInMemory(old, payload, std::make_unique<Collected>(rebuilt), &cause);
        message != 0) {
        return "the patcher refuses the payload with message " + std::to_string(message) + ": " +
               DescribePatchCause(cause);
    }
    if (rebuilt.size() != neu.size()) {
        return "the patcher rebuilds " + std::to_string(rebuilt.size()) + " bytes instead of " +
               std::to_string(neu.size());
    }
    const auto differ = std::mismatch(rebuilt.begin(), rebuilt.end(), neu.begin()).first;
    if (differ != rebuilt.end()) {
        return "the patcher's result differs from the new file at byte " +
               std::to_string(differ - rebuilt.begin());
    }
    return {};
}

}  // namespace morivane
