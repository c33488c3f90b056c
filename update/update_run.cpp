#include "update/update_run.h"

#include <vector>

#include "patch/diff_patcher.h"
#include "seams/message_numbers.h"
#include "update/installation.h"
#include "update/product.h"
#include "update/recovery.h"
#include "update/update_record.h"

namespace morivane {

namespace {

// The file system as the patcher sees it in a run: its new file, the
// temporary file, is always made with CreateNew, so that a file someone put
// under that name after the run cleared it is never opened and written into.
class NewFilesOnly final : public FileSystem {
  public:
    explicit NewFilesOnly(FileSystem& files) : files_(files) {}

    std::unique_ptr<InputFile> OpenForReading(const std::string& path) override {
        return files_.OpenForReading(path);
    }
    std::unique_ptr<OutputFile> CreateForWriting(const std::string& path) override {
        return files_.CreateNew(path);
    }
    std::unique_ptr<OutputFile> CreateNew(const std::string& path) override {
        return files_.CreateNew(path);
    }
    std::unique_ptr<InputFile> OpenUnshared(const std::string& path, bool* inUse) override {
        return files_.OpenUnshared(path, inUse);
    }
    bool Exists(const std::string& path) override { return files_.Exists(path); }
    bool IsWritable(const std::string& path) override { return files_.IsWritable(path); }
    bool MakeWritable(const std::string& path) override { return files_.MakeWritable(path); }
    bool Delete(const std::string& path) override { return files_.Delete(path); }
    bool Move(const std::string& from, const std::string& to) override {
        return files_.Move(from, to);
    }
    bool SetTimes(const std::string& path, std::int64_t unixSeconds) override {
        return files_.SetTimes(path, unixSeconds);
    }
    bool KeepAttributes(const std::string& from, const std::string& to) override {
        return files_.KeepAttributes(from, to);
    }
    bool SyncFile(const std::string& path) override { return files_.SyncFile(path); }
    bool SyncDirectory(const std::string& path) override { return files_.SyncDirectory(path); }
    bool RanOutOfSpace() const override { return files_.RanOutOfSpace(); }

  private:
    FileSystem& files_;
};

}  // namespace

PatchFunction FreshDiffPatcher(FileSystem& files, PayloadStore& payloads) {
    return
        [&files, &payloads](const std::string& oldPath, const std::string& newPath, int payloadId) {
            NewFilesOnly newFiles(files);
            DiffPatcher patcher(newFiles, payloads);
            return patcher.Patch(oldPath, newPath, payloadId);
        };
}

namespace {

// True when another process holds the record at `path` open: another
// updater's live run.
bool HeldByAnotherRun(FileSystem& files, const std::string& path) {
    bool inUse = false;
    files.OpenUnshared(path, &inUse);
    return inUse;
}

// Whether the installation is updated already: by the sums, when the
// payloads carry them; otherwise by the executable's FileVersion, when a host
// can read it.
bool AlreadyUpdated(const UpdateContext& context, const InstallationPaths& paths,
                    const std::string& bootPath, bool checkSums) {
    if (checkSums) return VerifyInstallation(context.files, paths, context.sums) == TreeState::kNew;
    std::string version;
    return context.host != nullptr && context.host->GetFileVersionString(bootPath, version) != 0 &&
           version == kUpdatedFileVersion;
}

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

// One run's replacement work and what it has to undo, with the record that
// lets the next start undo it after an interruption.
class Replacement {
  public:
    Replacement(FileSystem& files, const InstallationPaths& paths, UpdateRecordWriter& record)
        : files_(files), paths_(paths), record_(record) {}

    // Moves the original of row `row` aside and the freshly patched
    // temporary file into its place, then stamps it. The record names the
    // aside before the original is moved. False when the move cannot be
    // recorded, the original cannot be moved aside, or the new file cannot
    // be moved in; RollBack then puts the original back.
    bool Replace(int row) {
        const std::string& target = paths_.targets[row];
        const int asideNumber = FreeAsideNumber();
        if (asideNumber == 0 || !record_.NoteAside(row, asideNumber)) return false;
        const std::string aside = paths_.Aside(asideNumber);
        // The new file takes on what the original carries besides content
        // (on POSIX systems its owner and mode: an executable stays
        // executable). A file whose attributes cannot be carried over is
        // still the right file.
        files_.KeepAttributes(target, paths_.temporary);
        // The original keeps its attributes, read-only included, while aside.
        if (!files_.Move(target, aside)) return false;
        moved_.push_back({target, aside});
        if (!files_.Move(paths_.temporary, target)) return false;
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
        for (const MovedOriginal& m : moved_) {
            if (!files_.SyncFile(m.target)) return CommitResult::kNotDurable;
        }
        if (!SyncUpdateDirectories(files_, paths_)) return CommitResult::kNotDurable;
        return record_.NoteCommit() ? CommitResult::kCommitted : CommitResult::kUnknown;
    }

    // Leaves everything as it is, originals aside and the record kept: the
    // next start's recovery reads from the disk whether the run committed.
    void Abandon() {
        record_.Keep();
        moved_.clear();
    }

    // Puts every replaced file back as it was and removes the temporary file
    // and then the record. An original whose way back is blocked stays under
    // its aside name, and the record stays with it so that the next start
    // tries again.
    void RollBack() {
        files_.Delete(paths_.temporary);  // may not exist
        if (PutOriginalsBack(files_, moved_) && SyncUpdateDirectories(files_, paths_) &&
            record_.Remove()) {
            moved_.clear();
            return;
        }
        record_.Keep();
        moved_.clear();
    }

    // Removes the originals once every new file is in place, then the record.
    void Finish() {
        DiscardOriginals(files_, moved_);
        moved_.clear();
        // The deletions go to disk before the record that would redo them.
        files_.SyncDirectory(paths_.installDirectory);
        record_.Remove();
    }

  private:
    // The next aside number whose name nothing occupies; 0 when none is
    // left. Names already in use are skipped, never deleted: they may hold
    // the only copy of an original that an earlier, interrupted run could
    // not put back.
    int FreeAsideNumber() {
        while (nextAside_ <= kMaxAsideNumber) {
            const int n = nextAside_++;
            if (!files_.Exists(paths_.Aside(n))) return n;
        }
        return 0;
    }

    FileSystem& files_;
    const InstallationPaths& paths_;
    UpdateRecordWriter& record_;
    int nextAside_ = 1;
    std::vector<MovedOriginal> moved_;
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

    // Every path is formed before the first file is touched.
    const InstallationPaths paths = PathsOf(bootPath, installDirectory);
    // Room for an aside name ("Clone999.bak") as well as the temporary file.
    const std::size_t longestAside = installDirectory.size() + AsideName(kMaxAsideNumber).size();
    if (paths.temporary.size() > kMaxRunPathLength || longestAside > kMaxRunPathLength) {
        return finish(IDS_UPDATE_FAILED);
    }
    for (const std::string& target : paths.targets) {
        // The patch empties its output before it reads its input.
        if (target.size() > kMaxRunPathLength || SamePath(target, paths.temporary)) {
            return finish(IDS_UPDATE_FAILED);
        }
    }
    const bool checkSums = context.sums.size() == paths.targets.size();
    auto stopRequested = [&context] { return context.stopRequested && context.stopRequested(); };
    if (stopRequested()) return finish(IDS_UPDATE_FAILED);

    // A record that is there already is never overwritten: held open, it is
    // the live run of an updater that started alongside this one; left
    // behind, it may be the only note of where an original is (start-up
    // recovers it first).
    UpdateRecordWriter record(context.files, installDirectory, paths.rowNames);
    if (context.files.Exists(paths.record)) {
        return finish(HeldByAnotherRun(context.files, paths.record) ? IDS_UPDATER_RUNNING
                                                                    : IDS_UPDATE_FAILED);
    }
    // The record is the run's first file: held open from here to the end,
    // it tells another updater that a run is going on, and every file the
    // run makes after it (the temporary file first) is one the next start
    // knows to clear away. A directory that cannot take it cannot take the
    // temporary file either, unless another updater made its record first.
    if (!record.Begin()) {
        return finish(HeldByAnotherRun(context.files, paths.record) ? IDS_UPDATER_RUNNING
                                                                    : IDS_TEMP_CREATE_FAILED);
    }
    // Another updater may have run between this one's checks and its record.
    // Patching files that are new already would make wrong files, and
    // without sums nothing would tell.
    if (AlreadyUpdated(context, paths, bootPath, checkSums)) {
        record.Remove();
        return finish(IDS_ALREADY_UPDATED);
    }
    // A temporary file left under the run's name (by an earlier run, or put
    // there by anyone) goes: the new file is always made afresh.
    if (context.files.Exists(paths.temporary)) {
        if (!context.files.IsWritable(paths.temporary)) context.files.MakeWritable(paths.temporary);
        context.files.Delete(paths.temporary);
    }
    Replacement replacement(context.files, paths, record);

    for (int row = 0; row < static_cast<int>(paths.targets.size()); ++row) {
        if (stopRequested()) {
            replacement.RollBack();
            return finish(IDS_UPDATE_FAILED);
        }
        const int result =
            context.patch(paths.targets[row], paths.temporary, kUpdateFiles[row].payloadId);
        if (result != 0) {
            replacement.RollBack();
            return finish(result);
        }
        // A rebuilt file that is not the new file replaces nothing.
        if (checkSums && SumOfFile(context.files, paths.temporary) != context.sums[row].newFile) {
            replacement.RollBack();
            return finish(IDS_UPDATE_FAILED);
        }
        if (!replacement.Replace(row)) {
            replacement.RollBack();
            return finish(IDS_UPDATE_FAILED);
        }
    }

    if (stopRequested()) {
        replacement.RollBack();
        return finish(IDS_UPDATE_FAILED);
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
    replacement.Finish();
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
