// A FileSystem that hands every call to another one and runs a hook just
// before each call that changes something: create, close of a written file,
// sync of a file or directory, attribute change (KeepAttributes too),
// delete, move, time stamp.
// Opening for reading, reading and asking are passed on without it.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "seams/file_system.h"

namespace morivane::testing {

class HookedFileSystem : public FileSystem {
  public:
    HookedFileSystem(std::unique_ptr<FileSystem> inner, std::function<void()> beforeChange)
        : inner_(std::move(inner)), beforeChange_(std::move(beforeChange)) {}

    std::unique_ptr<InputFile> OpenForReading(const std::string& path) override {
        return inner_->OpenForReading(path);
    }
    std::unique_ptr<OutputFile> CreateForWriting(const std::string& path) override {
        beforeChange_();
        std::unique_ptr<OutputFile> file = inner_->CreateForWriting(path);
        if (file == nullptr) return nullptr;
        return std::make_unique<Output>(std::move(file), beforeChange_);
    }
    std::unique_ptr<OutputFile> CreateNew(const std::string& path) override {
        beforeChange_();
        std::unique_ptr<OutputFile> file = inner_->CreateNew(path);
        if (file == nullptr) return nullptr;
        return std::make_unique<Output>(std::move(file), beforeChange_);
    }
    std::unique_ptr<InputFile> OpenUnshared(const std::string& path, bool* inUse) override {
        return inner_->OpenUnshared(path, inUse);
    }
    bool Exists(const std::string& path) override { return inner_->Exists(path); }
    bool IsWritable(const std::string& path) override { return inner_->IsWritable(path); }
    bool MakeWritable(const std::string& path) override {
        beforeChange_();
        return inner_->MakeWritable(path);
    }
    bool Delete(const std::string& path) override {
        beforeChange_();
        return inner_->Delete(path);
    }
    bool Move(const std::string& from, const std::string& to) override {
        beforeChange_();
        return inner_->Move(from, to);
    }
    bool SetTimes(const std::string& path, std::int64_t unixSeconds) override {
        beforeChange_();
        return inner_->SetTimes(path, unixSeconds);
    }
    bool KeepAttributes(const std::string& from, const std::string& to) override {
        beforeChange_();
        return inner_->KeepAttributes(from, to);
    }
    bool SyncFile(const std::string& path) override {
        beforeChange_();
        return inner_->SyncFile(path);
    }
    bool SyncDirectory(const std::string& path) override {
        beforeChange_();
        return inner_->SyncDirectory(path);
    }
    bool RanOutOfSpace() const override { return inner_->RanOutOfSpace(); }

  private:
    class Output : public OutputFile {
      public:
        Output(std::unique_ptr<OutputFile> inner, std::function<void()> beforeChange)
            : inner_(std::move(inner)), beforeChange_(std::move(beforeChange)) {}
        std::size_t Write(const void* buffer, std::size_t size, std::size_t count) override {
            return inner_->Write(buffer, size, count);
        }
        bool Close() override {
            if (closed_) return false;
            closed_ = true;
            beforeChange_();
            return inner_->Close();
        }
        bool Sync() override {
            if (closed_) return false;
            beforeChange_();
            return inner_->Sync();
        }

      private:
        std::unique_ptr<OutputFile> inner_;
        std::function<void()> beforeChange_;
        bool closed_ = false;
    };

    std::unique_ptr<FileSystem> inner_;
    std::function<void()> beforeChange_;
};

}  // namespace morivane::testing
