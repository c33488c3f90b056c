// A SABUNN payload (plain script or HF container) and an old file, both taken
// from the fuzzer's input, go through DiffPatcher. Whatever the bytes, the
// patcher returns one of its message numbers, releases everything, and on
// success writes exactly the file the script describes.
//
// Input layout: u16 old file length, the old file, then the payload.
#include <cstdint>
#include <cstdlib>

#include "decode/bytes.h"
#include "decode/hf.h"
#include "patch/diff_patcher.h"
#include "patch/sabunn_script.h"
#include "platform/memory_payload_store.h"
#include "tests/support/memory_file_system.h"

namespace {

// Tiny inputs may legitimately describe huge files (a unit size of a gigabyte
// makes a one-byte old file a gigabyte image). The fuzzer caps memory and disk
// so that such inputs take the out-of-memory and disk-full paths quickly
// instead of allocating for real.
constexpr std::size_t kMemoryCap = 16u << 20;
constexpr std::size_t kDiskCap = 4u << 20;

void* CappedCalloc(std::size_t count, std::size_t size) {
    if (size != 0 && count > kMemoryCap / size) return nullptr;
    return std::calloc(count, size);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace morivane;
    if (size < 2) return 0;
    std::size_t oldLength = LoadLe16(data);
    if (oldLength > size - 2) oldLength = size - 2;
    const std::uint8_t* old = data + 2;
    const ByteSpan payload{old + oldLength, size - 2 - oldLength};

    testing::MemoryFileSystem files;
    files.Put("old", testing::Bytes(old, old + oldLength));
    files.diskSpace = kDiskCap;
    MemoryPayloadStore store;
    store.Add(130, payload);
    DiffPatcher patcher(files, store, CappedCalloc);
    const int result = patcher.Patch("old", "new", 130);
    if (result != 0 && result != 10 && result != 11 && result != 12 && result != 13) std::abort();
    if (patcher.HoldsFiles() || patcher.HoldsBlocks()) std::abort();
    if (result == 0) {
        const testing::Bytes written = files.Get("new");
        // The new file is the sum of the run magnitudes, in whole units.
        ScriptView view;
        if (!IsHfContainer(payload) && ScriptView::Parse(payload, &view) == ScriptError::Ok &&
            written.size() != view.Summary().newFileBytes) {
            std::abort();
        }
    }
    return 0;
}
