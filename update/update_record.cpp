#include "update/update_record.h"

#include <cstdint>
#include <set>

#include "update/update_run.h"
#include "update/updater_app.h"

namespace morivane {

// Format of "Clone.rec": entries one after another, nothing before, between
// or after them. Each entry is appended whole and synced before the step it
// announces. All numbers are little-endian.
//
//   offset      size  field
//   0           1     kind: 'B' begin, 'A' original moved aside, 'C' commit
//   1           1     row of the file table (0 to 4) for 'A'; 0 otherwise
//   2           2     n1, length of text 1
//   4           2     n2, length of text 2
//   6           n1    text 1: 'B' the format tag "MORIVANE-REC 1";
//                     'A' the target path; empty for 'C'
//   6+n1        n2    text 2: 'A' the aside path; empty otherwise
//   6+n1+n2     4     CRC-32 (the zlib polynomial) of bytes 0 to 6+n1+n2
//
// The first entry is 'B'; 'A' entries follow, at most one per row, in row
// order; 'C' comes last. A tail that is cut short or fails its CRC is a
// write that never completed, and reading stops there.

namespace {

constexpr char kFormatTag[] = "MORIVANE-REC 1";
constexpr std::size_t kEntryHeader = 6;
constexpr std::size_t kEntryCheck = 4;
// A run's record is a few hundred bytes; anything much larger is not one.
constexpr std::int64_t kMaxRecordBytes = 64 * 1024;
constexpr int kRows = static_cast<int>(std::size(kUpdateFiles));

std::uint32_t Crc32(std::string_view bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void PutLittleEndian(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint32_t GetLittleEndian(std::string_view in, std::size_t at, int bytes) {
    std::uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(in[at + i])) << (8 * i);
    }
    return value;
}

std::string EncodeEntry(char kind, int row, const std::string& text1, const std::string& text2) {
    std::string entry;
    entry.push_back(kind);
    entry.push_back(static_cast<char>(row));
    PutLittleEndian(entry, static_cast<std::uint32_t>(text1.size()), 2);
    PutLittleEndian(entry, static_cast<std::uint32_t>(text2.size()), 2);
    entry += text1;
    entry += text2;
    PutLittleEndian(entry, Crc32(entry), 4);
    return entry;
}

// "Clone<n>.bak" directly in the installation directory, n from 1 to 999
// without leading zeros: the only names the run moves originals to.
bool IsAsideName(const std::string& aside, const std::string& installDirectory) {
    if (aside.size() <= installDirectory.size() ||
        aside.compare(0, installDirectory.size(), installDirectory) != 0) {
        return false;
    }
    const std::string_view name = std::string_view(aside).substr(installDirectory.size());
    constexpr std::string_view kHead = "Clone";
    constexpr std::string_view kTail = ".bak";
    if (name.size() <= kHead.size() + kTail.size() || !name.starts_with(kHead) ||
        !name.ends_with(kTail)) {
        return false;
    }
    const std::string_view digits =
        name.substr(kHead.size(), name.size() - kHead.size() - kTail.size());
    if (digits.size() > 3 || digits.front() == '0') return false;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
    }
    return true;
}

}  // namespace

RecordContents ParseUpdateRecord(std::string_view bytes, const std::string& installDirectory) {
    RecordContents contents;
    std::size_t at = 0;
    int nextRow = 0;
    while (bytes.size() - at >= kEntryHeader + kEntryCheck) {
        const std::size_t n1 = GetLittleEndian(bytes, at + 2, 2);
        const std::size_t n2 = GetLittleEndian(bytes, at + 4, 2);
        const std::size_t body = kEntryHeader + n1 + n2;
        if (bytes.size() - at < body + kEntryCheck) break;  // cut short
        if (Crc32(bytes.substr(at, body)) != GetLittleEndian(bytes, at + body, 4)) break;

        const char kind = bytes[at];
        const int row = static_cast<unsigned char>(bytes[at + 1]);
        const std::string text1(bytes.substr(at + kEntryHeader, n1));
        const std::string text2(bytes.substr(at + kEntryHeader + n1, n2));
        at += body + kEntryCheck;

        bool fits = false;
        if (!contents.begun) {
            fits = kind == 'B' && row == 0 && text1 == kFormatTag && text2.empty();
            contents.begun = fits;
        } else if (contents.committed) {
            fits = false;  // nothing follows a commit
        } else if (kind == 'A') {
            fits = row >= nextRow && row < kRows && !text1.empty() &&
                   text1.size() <= kMaxRunPathLength && IsAsideName(text2, installDirectory);
            if (fits) {
                contents.asides.push_back({row, text1, text2});
                nextRow = row + 1;
            }
        } else if (kind == 'C') {
            fits = row == 0 && text1.empty() && text2.empty();
            contents.committed = fits;
        }
        if (!fits) {
            contents.damaged = true;
            return contents;
        }
    }
    return contents;
}

UpdateRecordWriter::UpdateRecordWriter(FileSystem& files, const std::string& installDirectory)
    : files_(files),
      installDirectory_(installDirectory),
      path_(installDirectory + kRecordFileName) {}

UpdateRecordWriter::~UpdateRecordWriter() = default;

bool UpdateRecordWriter::Append(const std::string& entry) {
    if (out_ == nullptr) return false;
    return out_->Write(entry.data(), 1, entry.size()) == entry.size() && out_->Sync();
}

bool UpdateRecordWriter::Begin() {
    out_ = files_.CreateForWriting(path_);
    if (out_ == nullptr) return false;
    // The record's own directory entry must be durable too, or a power
    // failure could lose the whole record while the moves it guards survive.
    if (Append(EncodeEntry('B', 0, kFormatTag, {})) && files_.SyncDirectory(installDirectory_)) {
        return true;
    }
    out_->Close();
    out_.reset();
    files_.Delete(path_);
    return false;
}

bool UpdateRecordWriter::NoteAside(int row, const std::string& target, const std::string& aside) {
    return Append(EncodeEntry('A', row, target, aside));
}

bool UpdateRecordWriter::NoteCommit() {
    return Append(EncodeEntry('C', 0, {}, {}));
}

bool UpdateRecordWriter::Remove() {
    if (out_ != nullptr) {
        out_->Close();
        out_.reset();
    }
    return files_.Delete(path_);
}

void UpdateRecordWriter::Keep() {
    if (out_ != nullptr) {
        out_->Close();
        out_.reset();
    }
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t cut = FindLastBackslash(path);
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

bool SyncUpdateDirectories(FileSystem& files, const std::string& installDirectory,
                           const std::vector<std::string>& targets) {
    std::set<std::string> directories = {installDirectory};
    for (const std::string& target : targets) {
        const std::string directory = DirectoryOf(target);
        if (!directory.empty()) directories.insert(directory);
    }
    bool synced = true;
    for (const std::string& directory : directories) {
        synced = files.SyncDirectory(directory) && synced;
    }
    return synced;
}

namespace {

// The whole record, or nothing when it cannot be read or is far too large.
bool ReadRecord(FileSystem& files, const std::string& path, std::string& bytes) {
    std::unique_ptr<InputFile> in = files.OpenForReading(path);
    if (in == nullptr) return false;
    const std::int64_t length = in->Length();
    if (length < 0 || length > kMaxRecordBytes) return false;
    bytes.assign(static_cast<std::size_t>(length), '\0');
    return in->Read(bytes.data(), 1, bytes.size()) == bytes.size();
}

// Deletes `path` when it exists, clearing the read-only attribute first.
bool DeleteIfPresent(FileSystem& files, const std::string& path) {
    if (!files.Exists(path)) return true;
    if (!files.IsWritable(path)) files.MakeWritable(path);
    return files.Delete(path);
}

}  // namespace

RecoveryResult RecoverInterruptedUpdate(FileSystem& files, const std::string& installDirectory,
                                        HostEnvironment* host) {
    if (installDirectory.empty()) return RecoveryResult::kNothingToDo;
    const std::string recordPath = installDirectory + kRecordFileName;
    if (!files.Exists(recordPath)) return RecoveryResult::kNothingToDo;

    std::string bytes;
    if (!ReadRecord(files, recordPath, bytes)) return RecoveryResult::kBlocked;
    const RecordContents record = ParseUpdateRecord(bytes, installDirectory);
    // A record this program did not write is left alone with everything it
    // names: acting on it could move the wrong files.
    if (record.damaged) return RecoveryResult::kBlocked;

    std::vector<std::string> targets;
    for (const AsideEntry& entry : record.asides) targets.push_back(entry.target);
    const std::string temporary = installDirectory + kTemporaryFileName;
    bool done = true;

    if (record.committed) {
        // Every new file was in place and durable: finish the run. An
        // original that cannot be deleted stays as a stray file; the
        // installation itself is complete.
        for (const AsideEntry& entry : record.asides) DeleteIfPresent(files, entry.aside);
        done = DeleteIfPresent(files, temporary);
        if (host != nullptr) host->WriteVersion(kProductName);
    } else {
        // An aside name exists only between the move of the original to it
        // and the move back; whatever is at the target meanwhile is new.
        // Newest first, as the run undoes its own work.
        for (auto it = record.asides.rbegin(); it != record.asides.rend(); ++it) {
            if (!files.Exists(it->aside)) continue;  // never moved, or already back
            if (!DeleteIfPresent(files, it->target) || !files.Move(it->aside, it->target)) {
                done = false;
            }
        }
        done = DeleteIfPresent(files, temporary) && done;
    }
    // The moves and deletions must be durable before the record that would
    // redo them goes.
    done = done && SyncUpdateDirectories(files, installDirectory, targets);
    if (!done || !files.Delete(recordPath)) return RecoveryResult::kBlocked;
    return record.committed ? RecoveryResult::kCompleted : RecoveryResult::kRolledBack;
}

}  // namespace morivane
