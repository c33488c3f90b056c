#include "patch/diff_patcher.h"

#include <cstring>
#include <limits>

#include "patch/payload.h"
#include "seams/message_numbers.h"

namespace morivane {

namespace {

void* ZeroedAllocation(std::size_t count, std::size_t size) {
    return std::calloc(count, size);
}

// No block may be larger than a signed 32-bit byte count: the sizes the
// system works with are 32-bit, and the Win32 build has no more to give.
constexpr std::uint64_t kMaxBlockBytes = std::numeric_limits<std::int32_t>::max();

}  // namespace

DiffPatcher::DiffPatcher(FileSystem& files, PayloadStore& payloads, BlockAllocator allocate)
    : files(files),
      payloads(payloads),
      allocate(allocate != nullptr ? allocate : &ZeroedAllocation) {}

DiffPatcher::~DiffPatcher() = default;

void* DiffPatcher::AllocateBlock(std::size_t count, std::size_t size) {
    // calloc(0, ...) may legitimately return null; an empty block must not
    // look like a failed allocation, so it takes one item.
    return allocate(count > 0 ? count : 1, size);
}

bool DiffPatcher::Release() {
    oldFile.reset();
    bool closed = true;
    if (newFile != nullptr) closed = newFile->Close();
    newFile.reset();
    literalPool.reset();
    oldImage.reset();
    offsetList.reset();
    runList.reset();
    return closed;
}

void DiffPatcher::Close() {
    Release();
}

int DiffPatcher::Fail(int message, const PatchCause& why) {
    Release();
    cause = why;
    return message;
}

void DiffPatcher::NoteShortWrite(std::int32_t run, std::size_t requested, std::size_t written) {
    if (cause.fault == PatchFault::WriteShort) {
        ++cause.laterShortRuns;
        return;
    }
    if (cause.fault != PatchFault::None) return;
    cause.fault = PatchFault::WriteShort;
    cause.run = run;
    cause.needed = requested;
    cause.had = written;
}

int DiffPatcher::Patch(const std::string& oldPath, const std::string& newPath, int payloadId) {
    const int loaded = Load(oldPath, newPath, payloadId);
    if (loaded != 0) return loaded;
    int result = Apply();
    // The header's unit count is the length the script was made to rebuild.
    // Runs that add up to another length mean a damaged run list (an entry
    // changed in transit passes every bounds check), and the file they wrote
    // must not be taken for the new version.
    std::uint64_t written = 0;
    for (std::int32_t i = 0; i < header.runCount; ++i) {
        const std::int32_t r = runList[i];
        written += static_cast<std::uint64_t>(r < 0 ? -r : r);
    }
    if (result == 0 && written != header.newUnitCount) {
        result = IDS_UPDATE_FAILED;
        cause.fault = PatchFault::RunsDisagree;
        cause.needed = header.newUnitCount;
        cause.had = written;
    }
    // A close that cannot flush the last buffered data loses part of the new
    // file, so it is a failed update like any short write.
    if (!Release() && result == 0) {
        result = IDS_UPDATE_FAILED;
        cause.fault = PatchFault::CloseFailed;
    }
    return result;
}

int DiffPatcher::Load(const std::string& oldPath, const std::string& newPath, int payloadId) {
    Release();
    header = ScriptHeader();
    oldUnitCount = 0;
    cause = PatchCause();
    PatchCause why;

    oldFile = files.OpenForReading(oldPath);
    if (oldFile == nullptr) {
        why.fault = PatchFault::OldFileUnopened;
        return Fail(IDS_EXE_IN_USE, why);
    }
    newFile = files.CreateForWriting(newPath);
    if (newFile == nullptr) {
        why.fault = PatchFault::NewFileUncreated;
        return Fail(IDS_TEMP_CREATE_FAILED, why);
    }

    const std::optional<ByteSpan> payload = payloads.Find(payloadId & 0xFFFF);
    if (!payload) {
        why.fault = PatchFault::PayloadMissing;
        return Fail(IDS_UPDATE_FAILED, why);
    }

    // A container is unpacked into a script that lives only until Load
    // returns; a plain payload is the script itself.
    const PayloadScript decoded = ScriptOfPayload(*payload);
    if (!decoded) {
        why.fault = PatchFault::PayloadUndecodable;
        why.decode = decoded.status;
        why.hf = decoded.where;
        return Fail(IsCorrupt(decoded.status) ? IDS_UPDATE_FAILED : IDS_OUT_OF_MEMORY, why);
    }
    const ByteSpan script = decoded.script;

    // The whole script is checked against the bytes at hand before anything
    // is allocated or written, so no later step can read outside it.
    ScriptView view;
    if (ScriptView::Parse(script, &view, &why.script) != ScriptError::Ok) {
        why.fault = PatchFault::ScriptRefused;
        return Fail(IDS_UPDATE_FAILED, why);
    }
    header = view.Header();
    const std::size_t unit = static_cast<std::size_t>(header.unitSize);
    auto unallocated = [&why](PatchBlock block, std::uint64_t bytes) {
        why.fault = PatchFault::BlockUnallocated;
        why.block = block;
        why.needed = bytes;
        return why;
    };

    runList.reset(static_cast<std::int16_t*>(AllocateBlock(header.runCount, 2)));
    if (runList == nullptr) {
        return Fail(IDS_OUT_OF_MEMORY, unallocated(PatchBlock::RunList, 2ull * header.runCount));
    }
    for (std::int32_t i = 0; i < header.runCount; ++i) runList[i] = view.Run(i);

    offsetList.reset(static_cast<std::uint32_t*>(AllocateBlock(header.copyCount, 4)));
    if (offsetList == nullptr) {
        return Fail(IDS_OUT_OF_MEMORY,
                    unallocated(PatchBlock::OffsetList, 4ull * header.copyCount));
    }
    for (std::uint32_t i = 0; i < header.copyCount; ++i) offsetList[i] = view.Offset(i);

    literalPool.reset(static_cast<std::uint8_t*>(AllocateBlock(header.literalCount, unit)));
    const ByteSpan pool = view.PoolBytes();
    if (literalPool == nullptr) {
        return Fail(IDS_OUT_OF_MEMORY, unallocated(PatchBlock::LiteralPool, pool.size()));
    }
    if (!pool.empty()) std::memcpy(literalPool.get(), pool.data(), pool.size());

    // The old image is the old file in whole units, the last one zero-padded.
    const std::int64_t length = oldFile->Length();
    if (length < 0) {
        why.fault = PatchFault::OldFileUnmeasured;
        return Fail(IDS_UPDATE_FAILED, why);
    }
    const std::uint64_t units = static_cast<std::uint64_t>(length) / unit +
                                (static_cast<std::uint64_t>(length) % unit != 0 ? 1 : 0);
    const std::uint64_t imageBytes = units * unit;
    if (imageBytes > kMaxBlockBytes) {
        why.fault = PatchFault::OldFileTooLarge;
        why.needed = imageBytes;
        return Fail(IDS_OUT_OF_MEMORY, why);
    }
    oldUnitCount = static_cast<std::int32_t>(units);
    oldImage.reset(static_cast<std::uint8_t*>(AllocateBlock(units, unit)));
    if (oldImage == nullptr) {
        return Fail(IDS_OUT_OF_MEMORY, unallocated(PatchBlock::OldImage, imageBytes));
    }

    // One read of N units. A partial last unit is stored but not counted, so
    // N - 1 whole units is a complete read of a file that ends mid-unit.
    const std::size_t read = oldFile->Read(oldImage.get(), unit, units);
    if (read != units && read + 1 != units) {
        why.fault = PatchFault::OldFileReadShort;
        why.needed = units;
        why.had = read;
        return Fail(IDS_UPDATE_FAILED, why);
    }

    // An old file shorter than the copy runs reach is not the file this
    // script was made for; the first copy run that reaches past it is named.
    if (view.Summary().oldBytesNeeded > imageBytes) {
        why.fault = PatchFault::OldFileTooShort;
        why.needed = view.Summary().oldBytesNeeded;
        why.had = imageBytes;
        std::uint32_t copy = 0;
        for (std::int32_t i = 0; i < header.runCount && why.run < 0; ++i) {
            const std::int32_t r = runList[i];
            if (r <= 0) continue;
            const std::uint64_t reach = offsetList[copy++] + static_cast<std::uint64_t>(r) * unit;
            if (reach > imageBytes) why.run = i;
        }
        return Fail(IDS_UPDATE_FAILED, why);
    }
    return 0;
}

int DiffPatcher::Apply() {
    cause = PatchCause();
    if (newFile == nullptr || runList == nullptr) {
        cause.fault = PatchFault::NothingLoaded;
        return IDS_UPDATE_FAILED;
    }
    const std::size_t unit = static_cast<std::size_t>(header.unitSize);
    const std::uint64_t imageBytes = static_cast<std::uint64_t>(oldUnitCount) * unit;
    int result = 0;
    std::uint32_t nextOffset = 0;
    std::uint64_t nextPoolUnit = 0;
    for (std::int32_t i = 0; i < header.runCount; ++i) {
        const std::int32_t r = runList[i];
        if (r > 0) {
            // Load has checked every copy run; the check is repeated here so
            // that no state of the blocks can make a write read outside them.
            const std::uint64_t from = nextOffset < header.copyCount ? offsetList[nextOffset] : ~0u;
            ++nextOffset;
            if (from + static_cast<std::uint64_t>(r) * unit > imageBytes) {
                result = IDS_UPDATE_FAILED;
                NoteShortWrite(i, static_cast<std::size_t>(r), 0);
                continue;
            }
            const std::size_t wrote = newFile->Write(oldImage.get() + from, unit, r);
            if (wrote != static_cast<std::size_t>(r)) {
                result = IDS_UPDATE_FAILED;
                NoteShortWrite(i, static_cast<std::size_t>(r), wrote);
            }
        } else if (r < 0) {
            const std::uint64_t first = nextPoolUnit;
            const std::size_t count = static_cast<std::size_t>(-r);
            nextPoolUnit += count;
            if (nextPoolUnit > header.literalCount) {
                result = IDS_UPDATE_FAILED;
                NoteShortWrite(i, count, 0);
                continue;
            }
            const std::size_t wrote = newFile->Write(literalPool.get() + first * unit, unit, count);
            if (wrote != count) {
                result = IDS_UPDATE_FAILED;
                NoteShortWrite(i, count, wrote);
            }
        }
        // r == 0 writes nothing and moves neither list.
    }
    return result;
}

}  // namespace morivane
