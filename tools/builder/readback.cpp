#include "tools/builder/readback.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "patch/diff_patcher.h"
#include "platform/memory_payload_store.h"
#include "seams/file_system.h"

namespace morivane {

namespace {

constexpr char kOldPath[] = "old";
constexpr char kNewPath[] = "new";
constexpr int kPayloadId = 1;

// The two files one Patch call touches: the old file, read from memory, and
// the new file, collected in memory. Nothing else exists.
class TwoFiles final : public FileSystem {
  public:
    TwoFiles(ByteSpan old, std::vector<std::uint8_t>& out) : old_(old), out_(out) {}

    std::unique_ptr<InputFile> OpenForReading(const std::string& path) override {
        if (path != kOldPath) return nullptr;
        return std::make_unique<Input>(old_);
    }
    std::unique_ptr<OutputFile> CreateForWriting(const std::string& path) override {
        if (path != kNewPath) return nullptr;
        out_.clear();
        return std::make_unique<Output>(out_);
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
            const std::size_t bytes = std::min(size * count, data_.size() - at_);
            if (bytes > 0) std::memcpy(buffer, data_.data() + at_, bytes);
            at_ += bytes;
            return bytes / size;
        }

      private:
        ByteSpan data_;
        std::size_t at_ = 0;
    };
    class Output final : public OutputFile {
      public:
        explicit Output(std::vector<std::uint8_t>& out) : out_(out) {}
        std::size_t Write(const void* buffer, std::size_t size, std::size_t count) override {
            const auto* bytes = static_cast<const std::uint8_t*>(buffer);
            out_.insert(out_.end(), bytes, bytes + size * count);
            return count;
        }
        bool Close() override { return true; }

      private:
        std::vector<std::uint8_t>& out_;
    };

    ByteSpan old_;
    std::vector<std::uint8_t>& out_;
};

}  // namespace

std::string ReadBack(ByteSpan old, ByteSpan neu, ByteSpan payload) {
    std::vector<std::uint8_t> rebuilt;
    rebuilt.reserve(neu.size());
    TwoFiles files(old, rebuilt);
    MemoryPayloadStore store;
    store.Add(kPayloadId, payload);
    DiffPatcher patcher(files, store);
    if (const int message = patcher.Patch(kOldPath, kNewPath, kPayloadId); message != 0) {
        return "the patcher refuses the payload with message " + std::to_string(message);
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
