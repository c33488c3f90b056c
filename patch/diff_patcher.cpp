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

int DiffPatcher::Fail(int message) {
    Release();
    return message;
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
    if (result == 0 && written != header.newUnitCount) result = IDS_UPDATE_FAILED;
    // A close that cannot flush the last buffered data loses part of the new
    // file, so it is a failed update like any short write.
    if (!Release() && result == 0) result = IDS_UPDATE_FAILED;
    return result;
}

int DiffPatcher::Load(const std::string& oldPath, const std::string& newPath, int payloadId) {
    Release();
    header = ScriptHeader();
    oldUnitCount = 0;

    oldFile = files.OpenForReading(oldPath);
    if (oldFile == nullptr) return Fail(IDS_EXE_IN_USE);
    newFile = files.CreateForWriting(newPath);
    if (newFile == nullptr) return Fail(IDS_TEMP_CREATE_FAILED);

    const std::optional<ByteSpan> payload = payloads.Find(payloadId & 0xFFFF);
    if (!payload) return Fail(IDS_UPDATE_FAILED);

    // A container is unpacked into a script that lives only until Load
    // returns; a plain payload is the script itself.
    const PayloadScript decoded = ScriptOfPayload(*payload);
    if (!decoded) return Fail(IsCorrupt(decoded.status) ? IDS_UPDATE_FAILED : IDS_OUT_OF_MEMORY);
    const ByteSpan script = decoded.script;

    // The whole script is checked against the bytes at hand before anything
    // is allocated or written, so no later step can read outside it.
    ScriptView view;
    if (ScriptView::Parse(script, &view) != ScriptError::Ok) return Fail(IDS_UPDATE_FAILED);
    header = view.Header();
    const std::size_t unit = static_cast<std::size_t>(header.unitSize);

    runList.reset(static_cast<std::int16_t*>(AllocateBlock(header.runCount, 2)));
    if (runList == nullptr) return Fail(IDS_OUT_OF_MEMORY);
    for (std::int32_t i = 0; i < header.runCount; ++i) runList[i] = view.Run(i);

    offsetList.reset(static_cast<std::uint32_t*>(AllocateBlock(header.copyCount, 4)));
    if (offsetList == nullptr) return Fail(IDS_OUT_OF_MEMORY);
    for (std::uint32_t i = 0; i < header.copyCount; ++i) offsetList[i] = view.Offset(i);

    literalPool.reset(static_cast<std::uint8_t*>(AllocateBlock(header.literalCount, unit)));
    if (literalPool == nullptr) return Fail(IDS_OUT_OF_MEMORY);
    const ByteSpan pool = view.PoolBytes();
    if (!pool.empty()) std::memcpy(literalPool.get(), pool.data(), pool.size());

    // The old image is the old file in whole units, the last one zero-padded.
    const std::int64_t length = oldFile->Length();
    if (length < 0) return Fail(IDS_UPDATE_FAILED);
    const std::uint64_t units = static_cast<std::uint64_t>(length) / unit +
                                (static_cast<std::uint64_t>(length) % unit != 0 ? 1 : 0);
    if (units * unit > kMaxBlockBytes) return Fail(IDS_OUT_OF_MEMORY);
    oldUnitCount = static_cast<std::int32_t>(units);
    oldImage.reset(static_cast<std::uint8_t*>(AllocateBlock(units, unit)));
    if (oldImage == nullptr) return Fail(IDS_OUT_OF_MEMORY);

    // One read of N units. A partial last unit is stored but not counted, so
    // N - 1 whole units is a complete read of a file that ends mid-unit.
    const std::size_t read = oldFile->Read(oldImage.get(), unit, units);
    if (read != units && read + 1 != units) return Fail(IDS_UPDATE_FAILED);

    // An old file shorter than the copy runs reach is not the file this
    // script was made for.
    if (view.Summary().oldBytesNeeded > units * unit) return Fail(IDS_UPDATE_FAILED);
    return 0;
}

int DiffPatcher::Apply() {
    if (newFile == nullptr || runList == nullptr) return IDS_UPDATE_FAILED;
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
                continue;
            }
            if (newFile->Write(oldImage.get() + from, unit, r) != static_cast<std::size_t>(r)) {
                result = IDS_UPDATE_FAILED;
            }
        } else if (r < 0) {
            const std::uint64_t first = nextPoolUnit;
            nextPoolUnit += -r;
            if (nextPoolUnit > header.literalCount) {
                result = IDS_UPDATE_FAILED;
                continue;
            }
            const std::size_t count = static_cast<std::size_t>(-r);
            if (newFile->Write(literalPool.get() + first * unit, unit, count) != count) {
                result = IDS_UPDATE_FAILED;
            }
        }
        // r == 0 writes nothing and moves neither list.
    }
    return result;
}

}  // namespace morivane
