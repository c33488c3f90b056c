#include "update/update_record.h"

#include <cstdint>

#include "patch/crc32.h"
#include "update/installation.h"
#include "update/product.h"

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
//   6           n1    text 1: 'B' the format tag "MORIVANE-REC 2";
//                     'A' the row's file, relative to the installation
//                     directory; empty for 'C'
//   6+n1        n2    text 2: 'A' the aside's file name "Clone<n>.bak",
//                     n from 1 to 999 without leading zeros; empty otherwise
//   6+n1+n2     4     CRC-32 of bytes 0 to 6+n1+n2
//
// The first entry is 'B'; 'A' entries follow, at most one per row, in row
// order; 'C' comes last. A tail that is cut short or fails its CRC is a
// write that never completed, and reading stops there.

namespace {

constexpr char kFormatTag[] = "MORIVANE-REC 2";
constexpr std::size_t kEntryHeader = 6;
constexpr std::size_t kEntryCheck = 4;

std::uint32_t CrcOf(std::string_view bytes) {
    return Crc32({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
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
    PutLittleEndian(entry, CrcOf(entry), 4);
    return entry;
}

}  // namespace

bool IsTornBeginEntry(std::string_view bytes) {
    const std::string begin = EncodeEntry('B', 0, kFormatTag, {});
    return bytes.size() < begin.size() && begin.compare(0, bytes.size(), bytes) == 0;
}

RecordContents ParseUpdateRecord(std::string_view bytes, const RowNames& rowNames) {
    RecordContents contents;
    std::size_t at = 0;
    int nextRow = 0;
    while (bytes.size() - at >= kEntryHeader + kEntryCheck) {
        const std::size_t n1 = GetLittleEndian(bytes, at + 2, 2);
        const std::size_t n2 = GetLittleEndian(bytes, at + 4, 2);
        const std::size_t body = kEntryHeader + n1 + n2;
        if (bytes.size() - at < body + kEntryCheck) break;  // cut short
        if (CrcOf(bytes.substr(at, body)) != GetLittleEndian(bytes, at + body, 4)) break;

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
            const int aside = AsideNumberOf(text2);
            fits = row >= nextRow && row < static_cast<int>(rowNames.size()) && aside != 0 &&
                   SamePath(text1, rowNames[row]);
            if (fits) {
                contents.asides.push_back({row, aside});
                nextRow = row + 1;
            }
        } else if (kind == 'C') {
            fits = row == 0 && text1.empty() && text2.empty();
            contents.committed = fits;
        }
        if (!fits) {
            contents.foreign = true;
            return contents;
        }
    }
    return contents;
}

UpdateRecordWriter::UpdateRecordWriter(FileSystem& files, std::string installDirectory,
                                       RowNames rowNames)
    : files_(files),
      installDirectory_(std::move(installDirectory)),
      rowNames_(std::move(rowNames)),
      path_(installDirectory_ + kRecordFileName) {}

UpdateRecordWriter::~UpdateRecordWriter() = default;

bool UpdateRecordWriter::Append(const std::string& entry) {
    if (out_ == nullptr) return false;
    return out_->Write(entry.data(), 1, entry.size()) == entry.size() && out_->Sync();
}

bool UpdateRecordWriter::Begin() {
    out_ = files_.CreateNew(path_);
    if (out_ == nullptr) return false;
    // The record's own directory entry must be durable too, or a power
    // failure could lose the whole record while the moves it guards survive.
    if (Append(EncodeEntry('B', 0, kFormatTag, {})) && files_.SyncDirectory(installDirectory_)) {
        return true;
    }
    out_->Close();
    out_.reset();
    files_.Delete(path_);  // this run's own, just created
    return false;
}

bool UpdateRecordWriter::NoteAside(int row, int asideNumber) {
    if (row < 0 || row >= static_cast<int>(rowNames_.size()) || asideNumber < 1 ||
        asideNumber > kMaxAsideNumber) {
        return false;
    }
    return Append(EncodeEntry('A', row, rowNames_[row], AsideName(asideNumber)));
}

bool UpdateRecordWriter::NoteCommit() {
    return Append(EncodeEntry('C', 0, {}, {}));
}

bool UpdateRecordWriter::Remove() {
    if (out_ == nullptr) return false;  // only the run that made the record removes it
    // Where a file can be deleted while open (POSIX), the record goes while
    // still held, so another updater never finds it there and free. Win32
    // refuses that for a file open without delete sharing; it is closed
    // first there.
    if (files_.Delete(path_)) {
        out_->Close();
        out_.reset();
        return true;
    }
    out_->Close();
    out_.reset();
    if (!files_.IsWritable(path_)) files_.MakeWritable(path_);
    return files_.Delete(path_);
}

void UpdateRecordWriter::Keep() {
    if (out_ != nullptr) {
        out_->Close();
        out_.reset();
    }
}

}  // namespace morivane
