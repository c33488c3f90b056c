#include "update/recovery.h"

#include <memory>
#include <set>

#include "update/product.h"
#include "update/update_record.h"

namespace morivane {

namespace {

// A run's record is a few hundred bytes; anything much larger is not one.
constexpr std::int64_t kMaxRecordBytes = 64 * 1024;

// Deletes `path` when it exists, clearing the read-only attribute first.
bool DeleteIfPresent(FileSystem& files, const std::string& path) {
    if (!files.Exists(path)) return true;
    if (!files.IsWritable(path)) files.MakeWritable(path);
    return files.Delete(path);
}

enum class RecordRead { kRead, kInUse, kUnreadable };

// The whole record; kInUse when another process holds it open.
RecordRead ReadRecord(FileSystem& files, const std::string& path, std::string& bytes) {
    bool inUse = false;
    std::unique_ptr<InputFile> in = files.OpenUnshared(path, &inUse);
    if (in == nullptr) return inUse ? RecordRead::kInUse : RecordRead::kUnreadable;
    const auto data = ReadAll(*in, kMaxRecordBytes);
    if (!data) return RecordRead::kUnreadable;
    bytes.assign(data->begin(), data->end());
    return RecordRead::kRead;
}

// Renames a record that cannot be acted on to the first free
// "Clone<n>.rec", so that it neither blocks the installation nor is lost.
// The rename needs no sync of its own: lost to a power cut, it is simply
// made again at the next start, and a run that follows makes it durable with
// its own record's directory entry, which takes the same name.
bool SetRecordAside(FileSystem& files, const InstallationPaths& paths) {
    for (int n = 1; n <= kMaxAsideNumber; ++n) {
        const std::string name =
            paths.installDirectory + kAsideNamePrefix + std::to_string(n) + ".rec";
        if (files.Exists(name)) continue;
        return files.Move(paths.record, name);
    }
    return false;
}

}  // namespace

bool PutOriginalsBack(FileSystem& files, const std::vector<MovedOriginal>& moved) {
    bool complete = true;
    for (auto it = moved.rbegin(); it != moved.rend(); ++it) {
        if (!files.Exists(it->aside)) continue;
        if (!DeleteIfPresent(files, it->target) || !files.Move(it->aside, it->target)) {
            complete = false;
        }
    }
    return complete;
}

void DiscardOriginals(FileSystem& files, const std::vector<MovedOriginal>& moved) {
    for (const MovedOriginal& m : moved) DeleteIfPresent(files, m.aside);
}

bool SyncUpdateDirectories(FileSystem& files, const InstallationPaths& paths) {
    std::set<std::string> directories = {paths.installDirectory};
    for (const std::string& target : paths.targets) {
        const std::string directory = DirectoryOf(target);
        if (!directory.empty()) directories.insert(directory);
    }
    bool synced = true;
    for (const std::string& directory : directories) {
        synced = files.SyncDirectory(directory) && synced;
    }
    return synced;
}

RecoveryResult RecoverInterruptedUpdate(FileSystem& files, const InstallationPaths& paths,
                                        HostEnvironment* host, const SumsLookup& sums) {
    if (paths.installDirectory.empty() || !files.Exists(paths.record)) {
        return RecoveryResult::kNothingToDo;
    }

    std::string bytes;
    const RecordRead read = ReadRecord(files, paths.record, bytes);
    if (read == RecordRead::kInUse) return RecoveryResult::kLiveRun;
    RecordContents record;
    if (read == RecordRead::kRead) record = ParseUpdateRecord(bytes, paths.rowNames);

    // A record this program did not write, or cannot read, is never acted
    // on: it could name the wrong files. It stands aside only when the files
    // themselves show a whole installation.
    if (read != RecordRead::kRead || record.foreign) {
        if (sums.kind == SumsLookup::Kind::kPresent &&
            VerifyInstallation(files, paths, sums.sums) != TreeState::kNeither &&
            SetRecordAside(files, paths)) {
            return RecoveryResult::kSetAside;
        }
        return RecoveryResult::kBlocked;
    }

    // No begin entry: the run that made the record stopped before it moved
    // anything. What the file holds is set aside unless it is the start of a
    // begin entry that never became durable.
    if (!record.begun) {
        const bool tornBegin = IsTornBeginEntry(bytes);
        const bool done =
            DeleteIfPresent(files, paths.temporary) &&
            (tornBegin ? DeleteIfPresent(files, paths.record) : SetRecordAside(files, paths));
        if (!done) return RecoveryResult::kBlocked;
        return tornBegin ? RecoveryResult::kRolledBack : RecoveryResult::kSetAside;
    }

    std::vector<MovedOriginal> moved;
    for (const AsideEntry& entry : record.asides) {
        moved.push_back({paths.targets[entry.row], paths.Aside(entry.asideNumber)});
    }
    bool done = true;
    if (record.committed) {
        // Every new file was in place and durable: finish the run.
        DiscardOriginals(files, moved);
        done = DeleteIfPresent(files, paths.temporary);
        if (host != nullptr) host->WriteVersion(kProductName);
    } else {
        // An aside name exists only between the move of the original to it
        // and the move back; whatever is at the target meanwhile is new.
        done = PutOriginalsBack(files, moved);
        done = DeleteIfPresent(files, paths.temporary) && done;
    }
    // With sums at hand, the result must be a whole installation, old or
    // new; anything else keeps the record and is reported.
    if (done && sums.kind == SumsLookup::Kind::kPresent) {
        done = VerifyInstallation(files, paths, sums.sums) != TreeState::kNeither;
    }
    // The moves and deletions must be durable before the record that would
    // redo them goes.
    done = done && SyncUpdateDirectories(files, paths);
    if (!done || !DeleteIfPresent(files, paths.record)) return RecoveryResult::kBlocked;
    return record.committed ? RecoveryResult::kCompleted : RecoveryResult::kRolledBack;
}

}  // namespace morivane
