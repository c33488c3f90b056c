// An in-memory FileSystem for the patcher's tests, with faults on demand: opens
// that fail, reads that come out short, a disk that fills after a number of
// bytes, closes that fail. It also records what was opened, written and closed.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "seams/file_system.h"

namespace morivane::testing {

using Bytes = std::vector<std::uint8_t>;

class MemoryFileSystem : public FileSystem {
  public:
    // --- contents
    void Put(const std::string& path, Bytes bytes) {
        files_[path] = std::make_shared<Bytes>(std::move(bytes));
    }
    void Put(const std::string& path, const std::string& text) {
        Put(path, Bytes(text.begin(), text.end()));
    }
    bool Has(const std::string& path) const { return files_.count(path) != 0; }
    Bytes Get(const std::string& path) const {
        auto it = files_.find(path);
        return it == files_.end() ? Bytes() : *it->second;
    }
    std::string Text(const std::string& path) const {
        Bytes b = Get(path);
        return std::string(b.begin(), b.end());
    }

    // --- faults
    std::set<std::string> unreadable;            // OpenForReading fails
    std::set<std::string> uncreatable;           // CreateForWriting fails
    std::optional<std::int64_t> lengthOverride;  // what InputFile::Length reports
    std::optional<std::size_t> readLimit;        // bytes one Read delivers at most
    std::optional<std::size_t> diskSpace;        // bytes all writes together may store
    std::optional<int> failingWrite;             // this write (1 = first) stores nothing
    bool failClose = false;                      // OutputFile::Close reports failure

    // --- observations
    int openInputs = 0;   // input files currently open
    int openOutputs = 0;  // output files currently open
    int writeCalls = 0;
    std::vector<std::size_t> writeCounts;  // items asked for by each write
    std::vector<std::string> events;       // "close old-path", "close new-path", ...

    std::unique_ptr<InputFile> OpenForReading(const std::string& path) override {
        auto it = files_.find(path);
        if (it == files_.end() || unreadable.count(path) != 0) return nullptr;
        return std::make_unique<Input>(*this, path, it->second);
    }
    std::unique_ptr<OutputFile> CreateForWriting(const std::string& path) override {
        if (uncreatable.count(path) != 0) return nullptr;
        auto& file = files_[path];
        if (file == nullptr) file = std::make_shared<Bytes>();
        file->clear();  // same object: a reader of this path sees it emptied
        return std::make_unique<Output>(*this, path, file);
    }
    // The rest of the seam, which the patcher does not use.
    std::unique_ptr<OutputFile> CreateNew(const std::string& path) override {
        return Has(path) ? nullptr : CreateForWriting(path);
    }
    std::unique_ptr<InputFile> OpenUnshared(const std::string& path, bool* inUse) override {
        *inUse = false;
        return OpenForReading(path);
    }
    bool Exists(const std::string& path) override { return Has(path); }
    bool IsWritable(const std::string& path) override { return Has(path); }
    bool MakeWritable(const std::string& path) override { return Has(path); }
    bool Delete(const std::string& path) override { return files_.erase(path) != 0; }
    bool Move(const std::string& from, const std::string& to) override {
        if (!Has(from) || Has(to)) return false;
        files_[to] = files_[from];
        files_.erase(from);
        return true;
    }
    bool SetTimes(const std::string& path, std::int64_t) override { return Has(path); }

  private:
    class Input : public InputFile {
      public:
        Input(MemoryFileSystem& fs, std::string path, std::shared_ptr<Bytes> data)
            : fs_(fs), path_(std::move(path)), data_(std::move(data)) {
            ++fs_.openInputs;
        }
        ~Input() override {
            --fs_.openInputs;
            fs_.events.push_back("close " + path_);
        }
        std::int64_t Length() override {
            return fs_.lengthOverride ? *fs_.lengthOverride
                                      : static_cast<std::int64_t>(data_->size());
        }
        std::size_t Read(void* buffer, std::size_t size, std::size_t count) override {
            if (size == 0) return 0;
            std::size_t bytes =
                std::min(size * count, data_->size() - std::min(pos_, data_->size()));
            if (fs_.readLimit) bytes = std::min(bytes, *fs_.readLimit);
            if (bytes > 0) std::memcpy(buffer, data_->data() + pos_, bytes);
            pos_ += bytes;
            return bytes / size;
        }

      private:
        MemoryFileSystem& fs_;
        std::string path_;
        std::shared_ptr<Bytes> data_;
        std::size_t pos_ = 0;
    };

    class Output : public OutputFile {
      public:
        Output(MemoryFileSystem& fs, std::string path, std::shared_ptr<Bytes> data)
            : fs_(fs), path_(std::move(path)), data_(std::move(data)) {
            ++fs_.openOutputs;
        }
        ~Output() override {
            if (open_) Finish();
        }
        std::size_t Write(const void* buffer, std::size_t size, std::size_t count) override {
            ++fs_.writeCalls;
            fs_.writeCounts.push_back(count);
            std::size_t bytes = size * count;
            if (fs_.failingWrite && *fs_.failingWrite == fs_.writeCalls) bytes = 0;
            if (fs_.diskSpace) {
                bytes = std::min(bytes, *fs_.diskSpace);
                *fs_.diskSpace -= bytes;
            }
            const auto* p = static_cast<const std::uint8_t*>(buffer);
            data_->insert(data_->end(), p, p + bytes);
            return size == 0 ? 0 : bytes / size;
        }
        bool Close() override {
            if (!open_) return false;
            Finish();
            return !fs_.failClose;
        }

      private:
        void Finish() {
            open_ = false;
            --fs_.openOutputs;
            fs_.events.push_back("close " + path_);
        }
        MemoryFileSystem& fs_;
        std::string path_;
        std::shared_ptr<Bytes> data_;
        bool open_ = true;
    };

    std::map<std::string, std::shared_ptr<Bytes>> files_;
};

}  // namespace morivane::testing
