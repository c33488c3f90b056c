#include "update/update_run.h"

#include <vector>

#include "patch/diff_patcher.h"
#include "ui/catalogue.h"
#include "update/update_record.h"
#include "update/updater_app.h"

namespace morivane {

PatchFunction FreshDiffPatcher(FileSystem& files, PayloadStore& payloads) {
    return
        [&files, &payloads](const std::string& oldPath, const std::string& newPath, int payloadId) {
            DiffPatcher patcher(files, payloads);
            return patcher.Patch(oldPath, newPath, payloadId);
        };
}

namespace {

// Holds the wait cursor for the run's whole length, whatever way it ends.
class WaitCursor {
  public:
    explicit WaitCursor(UpdateView& view) : view_(view) { view_.BeginWaitCursor(); }
    ~WaitCursor() { view_.EndWaitCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

  private:
    UpdateView& view_;
};

// Windows compares file names without regard to the case of ASCII letters.
bool SamePath(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto fold = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
        if (fold(a[i]) != fold(b[i])) return false;
    }
    return true;
}

// Names an original is moved aside to, in the installation directory:
// "Clone1.bak" to "Clone999.bak", short enough for 8.3 file systems.
constexpr int kMaxAsideNumber = 999;

// One run's replacement work and what it has to undo, with the record that
// lets the next start undo it after an interruption.
class Replacement {
  public:
    Replacement(FileSystem& files, std::string installDirectory, UpdateRecordWriter& record)
        : files_(files),
          installDirectory_(std::move(installDirectory)),
          temporary_(installDirectory_ + kTemporaryFileName),
          record_(record) {}

    // Moves the original at `target` (row `row` of the file table) aside and
    // the freshly patched temporary file into its place, then stamps it. The
    // record names the aside before the original is moved. False when the
    // move cannot be recorded, the original cannot be moved aside, or the new
    // file cannot be moved in; RollBack then puts the original back.
    bool Replace(int row, const std::string& target) {
        std::string aside;
        if (!FreeAsideName(aside)) return false;
        if (!record_.NoteAside(row, target, aside)) return false;
        // The original keeps its attributes, read-only included, while aside.
        if (!files_.Move(target, aside)) return false;
        moved_.push_back({target, aside});
        if (!files_.Move(temporary_, target)) return false;
        files_.SetTimes(target, kUpdateTimestamp);  // a stamp that fails is not a lost file
        return true;
    }

    enum class CommitResult { kCommitted, kNotDurable, kUnknown };

    // The point of no return: makes every new file and the directories that
    // hold them durable, then records the commit. From then on an
    // interruption is completed, not undone. kNotDurable when the files could
    // not be made durable (nothing is committed; roll back); kUnknown when
    // the commit entry could not be made durable: it may or may not be on
    // the disk, so neither undoing nor finishing is safe now.
    CommitResult Commit() {
        for (const Moved& m : moved_) {
            if (!files_.SyncFile(m.target)) return CommitResult::kNotDurable;
        }
        if (!SyncUpdateDirectories(files_, installDirectory_, Targets())) {
            return CommitResult::kNotDurable;
        }
        return record_.NoteCommit() ? CommitResult::kCommitted : CommitResult::kUnknown;
    }

    // Leaves everything as it is, originals aside and the record kept: the
    // next start's recovery reads from the disk whether the run committed.
    void Abandon() {
        record_.Keep();
        moved_.clear();
    }

    // Puts every replaced file back as it was, newest first, and removes the
    // temporary file and then the record. An original whose way back is
    // blocked stays under its aside name, and the record stays with it so
    // that the next start tries again.
    void RollBack() {
        files_.Delete(temporary_);  // may not exist
        bool complete = true;
        for (auto it = moved_.rbegin(); it != moved_.rend(); ++it) {
            if (files_.Exists(it->target)) {
                if (!files_.IsWritable(it->target)) files_.MakeWritable(it->target);
                if (!files_.Delete(it->target)) {
                    complete = false;
                    continue;
                }
            }
            if (!files_.Move(it->aside, it->target)) complete = false;
        }
        if (complete && SyncUpdateDirectories(files_, installDirectory_, Targets()) &&
            record_.Remove()) {
            moved_.clear();
            return;
        }
        record_.Keep();
        moved_.clear();
    }

    // Removes the originals once every new file is in place, then the
    // record. A read-only original kept that attribute when it was moved, so
    // it is cleared first.
    void DiscardOriginals() {
        for (const Moved& m : moved_) {
            if (!files_.IsWritable(m.aside)) files_.MakeWritable(m.aside);
            files_.Delete(m.aside);
        }
        moved_.clear();
        // The deletions go to disk before the record that would redo them.
        files_.SyncDirectory(installDirectory_);
        record_.Remove();
    }

  private:
    struct Moved {
        std::string target;
        std::string aside;
    };

    std::vector<std::string> Targets() const {
        std::vector<std::string> targets;
        for (const Moved& m : moved_) targets.push_back(m.target);
        return targets;
    }

    // The next aside name that nothing occupies. Names already in use are
    // skipped, never deleted: they may hold the only copy of an original
    // that an earlier, interrupted run could not put back.
    bool FreeAsideName(std::string& aside) {
        while (nextAside_ <= kMaxAsideNumber) {
            aside = installDirectory_ + "Clone" + std::to_string(nextAside_++) + ".bak";
            if (!files_.Exists(aside)) return true;
        }
        return false;
    }

    FileSystem& files_;
    std::string installDirectory_;
    std::string temporary_;
    UpdateRecordWriter& record_;
    int nextAside_ = 1;
    std::vector<Moved> moved_;
};

}  // namespace

int RunUpdate(const UpdateContext& context, const std::string& bootPath,
              const std::string& installDirectory, UpdateView& view) {
    WaitCursor waitCursor(view);
    view.ShowStatus(IDS_UPDATING);
    view.HideCancel();

    auto finish = [&view](int message) {
        view.ShowStatus(message);
        return message;
    };

    if (bootPath.empty() || installDirectory.empty()) return finish(IDS_UPDATE_FAILED);

    // Every path is formed before the first file is touched. The data files
    // lie under the installation directory, whatever the executable is called.
    const std::string temporary = installDirectory + kTemporaryFileName;
    std::vector<std::string> targets;
    for (const UpdateFile& file : kUpdateFiles) {
        targets.push_back(file.relativePath == nullptr ? bootPath
                                                       : installDirectory + file.relativePath);
    }
    // Room for an aside name ("Clone999.bak") as well as the temporary file.
    const std::size_t longestAside = installDirectory.size() + 12;
    if (temporary.size() > kMaxRunPathLength || longestAside > kMaxRunPathLength) {
        return finish(IDS_UPDATE_FAILED);
    }
    for (const std::string& target : targets) {
        // The patch empties its output before it reads its input.
        if (target.size() > kMaxRunPathLength || SamePath(target, temporary)) {
            return finish(IDS_UPDATE_FAILED);
        }
    }

    // A record left by an interrupted run is never overwritten: it may be
    // the only note of where an original is. Start-up recovers it first.
    UpdateRecordWriter record(context.files, installDirectory);
    if (context.files.Exists(record.path())) return finish(IDS_UPDATE_FAILED);
    Replacement replacement(context.files, installDirectory, record);

    for (std::size_t row = 0; row < targets.size(); ++row) {
        const int result = context.patch(targets[row], temporary, kUpdateFiles[row].payloadId);
        if (result != 0) {
            replacement.RollBack();
            return finish(result);
        }
        // The record begins before the first original is moved. Until then
        // an interruption leaves at most "Clone.tmp", which the next run
        // overwrites. A directory that took the temporary file but not the
        // record is short of space like one that took neither.
        if (row == 0 && !record.Begin()) {
            context.files.Delete(temporary);
            return finish(IDS_TEMP_CREATE_FAILED);
        }
        if (!replacement.Replace(static_cast<int>(row), targets[row])) {
            replacement.RollBack();
            return finish(IDS_UPDATE_FAILED);
        }
    }

    switch (replacement.Commit()) {
        case Replacement::CommitResult::kCommitted:
            break;
        case Replacement::CommitResult::kNotDurable:
            replacement.RollBack();
            return finish(IDS_UPDATE_FAILED);
        case Replacement::CommitResult::kUnknown:
            replacement.Abandon();
            return finish(IDS_UPDATE_FAILED);
    }
    if (context.host != nullptr) context.host->WriteVersion(kProductName);
    replacement.DiscardOriginals();
    return finish(IDS_UPDATE_DONE);
}

bool HandleUpdateOk(bool& runFinished, const UpdateContext& context, const std::string& bootPath,
                    const std::string& installDirectory, UpdateView& view) {
    if (runFinished) return true;
    RunUpdate(context, bootPath, installDirectory, view);
    runFinished = true;
    return false;
}

}  // namespace morivane
