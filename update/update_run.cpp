#include "update/update_run.h"

#include <vector>

#include "patch/diff_patcher.h"
#include "ui/catalogue.h"
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

// One run's replacement work and what it has to undo.
class Replacement {
  public:
    Replacement(FileSystem& files, std::string installDirectory)
        : files_(files),
          installDirectory_(std::move(installDirectory)),
          temporary_(installDirectory_ + kTemporaryFileName) {}

    const std::string& temporaryPath() const { return temporary_; }

    // Moves the original at `target` aside and the freshly patched temporary
    // file into its place, then stamps it. False when the original could not
    // be moved aside or the new file could not be moved in; the original is
    // then back at `target`, or, when even that fails, kept under its aside
    // name, which nothing deletes.
    bool Replace(const std::string& target) {
        std::string aside;
        if (!FreeAsideName(aside)) return false;
        // The original keeps its attributes, read-only included, while aside.
        if (!files_.Move(target, aside)) return false;
        if (!files_.Move(temporary_, target)) {
            files_.Move(aside, target);
            return false;
        }
        files_.SetTimes(target, kUpdateTimestamp);  // a stamp that fails is not a lost file
        replaced_.push_back({target, aside});
        return true;
    }

    // Puts every replaced file back as it was, newest first, and removes the
    // temporary file. An original whose way back is blocked stays under its
    // aside name.
    void RollBack() {
        files_.Delete(temporary_);  // may not exist
        for (auto it = replaced_.rbegin(); it != replaced_.rend(); ++it) {
            if (!files_.IsWritable(it->target)) files_.MakeWritable(it->target);
            if (files_.Delete(it->target)) files_.Move(it->aside, it->target);
        }
        replaced_.clear();
    }

    // Removes the originals once every new file is in place. A read-only
    // original kept that attribute when it was moved, so it is cleared first.
    void DiscardOriginals() {
        for (const Replaced& r : replaced_) {
            if (!files_.IsWritable(r.aside)) files_.MakeWritable(r.aside);
            files_.Delete(r.aside);
        }
        replaced_.clear();
    }

  private:
    struct Replaced {
        std::string target;
        std::string aside;
    };

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
    int nextAside_ = 1;
    std::vector<Replaced> replaced_;
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
    Replacement replacement(context.files, installDirectory);
    std::vector<std::string> targets;
    for (const UpdateFile& file : kUpdateFiles) {
        targets.push_back(file.relativePath == nullptr ? bootPath
                                                       : installDirectory + file.relativePath);
    }
    // Room for an aside name ("Clone999.bak") as well as the temporary file.
    const std::size_t longestAside = installDirectory.size() + 12;
    if (replacement.temporaryPath().size() > kMaxRunPathLength ||
        longestAside > kMaxRunPathLength) {
        return finish(IDS_UPDATE_FAILED);
    }
    for (const std::string& target : targets) {
        // The patch empties its output before it reads its input.
        if (target.size() > kMaxRunPathLength || SamePath(target, replacement.temporaryPath())) {
            return finish(IDS_UPDATE_FAILED);
        }
    }

    for (std::size_t row = 0; row < targets.size(); ++row) {
        const int result =
            context.patch(targets[row], replacement.temporaryPath(), kUpdateFiles[row].payloadId);
        if (result != 0) {
            replacement.RollBack();
            return finish(result);
        }
        if (!replacement.Replace(targets[row])) {
            replacement.RollBack();
            return finish(IDS_UPDATE_FAILED);
        }
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
