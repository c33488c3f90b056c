// An in-memory FileSystem with the rules of the Win32 calls the update run
// relies on: a read-only file cannot be deleted or overwritten but can be
// moved, keeping its attribute; a move fails when its destination exists.
// Any operation on a chosen path can be made to fail.
//
// For the interruption tests it also tells what a crash would leave: a hook
// runs before every operation that changes something, and for each file
// still open for writing it knows how many bytes were synced. What was
// written since may or may not have reached the disk.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "seams/file_system.h"

namespace morivane::testing {

class FakeFileSystem : public FileSystem {
  public:
    struct File {
        std::string content;
        bool readOnly = false;
        std::optional<std::int64_t> time;  // access and modification time
    };
    std::map<std::string, File> files;

    // Faults.
    std::set<std::string> unreadable;     // OpenForReading fails
    std::set<std::string> uncreatable;    // CreateForWriting fails
    std::set<std::string> undeletable;    // Delete fails
    std::set<std::string> unmovableFrom;  // Move from this path fails
    std::set<std::string> unmovableTo;    // Move to this path fails
    std::set<std::string> unstampable;    // SetTimes fails
    std::set<std::string> unsyncable;     // Sync, SyncFile or SyncDirectory fails
    int failSyncNumber = 0;               // the n-th sync of any kind fails (from 1)
    int syncs = 0;                        // syncs of any kind so far
    // Decides whether one particular move fails.
    std::function<bool(const std::string& from, const std::string& to)> moveFails;

    std::vector<std::string> log;         // "move A -> B", "delete A", ...
    std::set<std::string> held;           // made by CreateNew and still open
    std::set<std::string> heldElsewhere;  // open in another process
    int openFiles = 0;
    // Files open for writing -> the length of their content that was synced.
    std::map<std::string, std::size_t> writing;
    // Runs before each create, close of a written file, sync, attribute
    // change, delete, move and time stamp.
    std::function<void()> beforeMutation;

    void Put(const std::string& path, std::string content, bool readOnly = false) {
        files[path] = File{std::move(content), readOnly, std::nullopt};
    }
    bool Has(const std::string& path) const { return files.count(path) != 0; }
    const File& At(const std::string& path) const { return files.at(path); }

    std::unique_ptr<InputFile> OpenForReading(const std::string& path) override {
        auto it = files.find(path);
        if (it == files.end() || unreadable.count(path) != 0) return nullptr;
        return std::make_unique<Input>(*this, it->second.content);
    }
    std::unique_ptr<OutputFile> CreateForWriting(const std::string& path) override {
        Mutating();
        auto it = files.find(path);
        if (uncreatable.count(path) != 0 || (it != files.end() && it->second.readOnly)) {
            return nullptr;
        }
        files[path] = File{};
        return std::make_unique<Output>(*this, path);
    }
    std::unique_ptr<OutputFile> CreateNew(const std::string& path) override {
        if (Has(path)) return nullptr;
        auto out = CreateForWriting(path);
        if (out != nullptr) {
            held.insert(path);
            heldBy_[out.get()] = path;
        }
        return out;
    }
    std::unique_ptr<InputFile> OpenUnshared(const std::string& path, bool* inUse) override {
        *inUse = held.count(path) != 0 || heldElsewhere.count(path) != 0;
        if (*inUse) return nullptr;
        return OpenForReading(path);
    }
    bool Exists(const std::string& path) override { return Has(path); }
    bool IsWritable(const std::string& path) override {
        auto it = files.find(path);
        return it != files.end() && !it->second.readOnly;
    }
    bool MakeWritable(const std::string& path) override {
        Mutating();
        auto it = files.find(path);
        if (it == files.end()) return false;
        it->second.readOnly = false;
        return true;
    }
    bool Delete(const std::string& path) override {
        Mutating();
        log.push_back("delete " + path);
        auto it = files.find(path);
        if (it == files.end() || it->second.readOnly || undeletable.count(path) != 0) return false;
        files.erase(it);
        return true;
    }
    bool Move(const std::string& from, const std::string& to) override {
        Mutating();
        log.push_back("move " + from + " -> " + to);
        auto it = files.find(from);
        if (it == files.end() || Has(to) || unmovableFrom.count(from) != 0 ||
            unmovableTo.count(to) != 0 || (moveFails && moveFails(from, to))) {
            return false;
        }
        File moved = std::move(it->second);
        files.erase(it);
        files[to] = std::move(moved);
        return true;
    }
    bool SetTimes(const std::string& path, std::int64_t unixSeconds) override {
        Mutating();
        auto it = files.find(path);
        if (it == files.end() || it->second.readOnly || unstampable.count(path) != 0) return false;
        it->second.time = unixSeconds;
        return true;
    }
    bool SyncFile(const std::string& path) override {
        Mutating();
        log.push_back("sync " + path);
        return !SyncFails(path) && Has(path);
    }
    bool SyncDirectory(const std::string& path) override {
        Mutating();
        log.push_back("sync directory " + path);
        return !SyncFails(path);
    }

  private:
    void Release(const OutputFile* file) {
        auto it = heldBy_.find(file);
        if (it == heldBy_.end()) return;
        held.erase(it->second);
        heldBy_.erase(it);
    }
    std::map<const OutputFile*, std::string> heldBy_;

    void Mutating() {
        if (beforeMutation) beforeMutation();
    }
    bool SyncFails(const std::string& path) {
        return ++syncs == failSyncNumber || unsyncable.count(path) != 0;
    }

    class Input : public InputFile {
      public:
        Input(FakeFileSystem& fs, std::string content) : fs_(fs), content_(std::move(content)) {
            ++fs_.openFiles;
        }
        ~Input() override { --fs_.openFiles; }
        std::int64_t Length() override { return static_cast<std::int64_t>(content_.size()); }
        std::size_t Read(void* buffer, std::size_t size, std::size_t count) override {
            if (size == 0) return 0;
            const std::size_t left = content_.size() - pos_;
            const std::size_t bytes = size * count < left ? size * count : left;
            std::memcpy(buffer, content_.data() + pos_, bytes);
            pos_ += bytes;
            return bytes / size;
        }

      private:
        FakeFileSystem& fs_;
        std::string content_;
        std::size_t pos_ = 0;
    };

    class Output : public OutputFile {
      public:
        Output(FakeFileSystem& fs, std::string path) : fs_(fs), path_(std::move(path)) {
            ++fs_.openFiles;
            fs_.writing[path_] = 0;
        }
        ~Output() override {
            --fs_.openFiles;
            if (open_) fs_.writing.erase(path_);
            fs_.Release(this);
        }
        std::size_t Write(const void* buffer, std::size_t size, std::size_t count) override {
            auto it = fs_.files.find(path_);
            if (it == fs_.files.end() || size == 0) return 0;
            it->second.content.append(static_cast<const char*>(buffer), size * count);
            return count;
        }
        bool Close() override {
            fs_.Mutating();
            if (open_) fs_.writing.erase(path_);
            open_ = false;
            fs_.Release(this);
            return true;
        }
        bool Sync() override {
            fs_.Mutating();
            auto it = fs_.files.find(path_);
            if (fs_.SyncFails(path_) || !open_ || it == fs_.files.end()) return false;
            fs_.writing[path_] = it->second.content.size();
            return true;
        }

      private:
        FakeFileSystem& fs_;
        std::string path_;
        bool open_ = true;
    };
};

}  // namespace morivane::testing
