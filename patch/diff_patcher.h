// The file patcher: rebuilds one file from an old file and a SABUNN script
// (patch/sabunn_script.h), reporting its outcome as a message number
// (seams/message_numbers.h).
//
// Results, in the order the checks are made by Load:
//   10  the old file cannot be opened for reading; no new file is created
//   11  the new file cannot be created
//   12  no payload with that id; a damaged HF container; a script that does
//       not fit its payload; an old file whose length cannot be told
//   13  the HF stage or the LZSS stage runs out of memory, or one of the four
//       blocks (run list, offset list, literal pool, old image) cannot be had
//   12  the old file reads two or more units short, or is shorter than the
//       copy runs reach
// and from Apply/Patch:
//   12  a run writes short (every later run is still attempted), or the new
//       file's last data cannot be flushed when it is closed
// and from Patch alone:
//   12  the runs add up to another unit count than the header's (Load and
//       Apply keep that count without checking it)
// Every failure after 11 leaves an empty new file behind. The patcher never
// removes the new file; the caller does that after any non-zero result.
// Beside each non-zero result the patcher keeps its cause (patch/patch_cause.h):
// what failed and where, for the publisher's tools.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "patch/patch_cause.h"
#include "patch/sabunn_script.h"
#include "seams/file_system.h"
#include "seams/payload_store.h"

namespace morivane {

// Zero-filling allocation in the shape of calloc; blocks are released with
// std::free. Tests pass one that fails on demand.
using BlockAllocator = void* (*)(std::size_t count, std::size_t size);

class DiffPatcher {
  public:
    // Holds nothing. `files` and `payloads` must outlive the patcher.
    // `allocate` (calloc when null) provides the four blocks.
    DiffPatcher(FileSystem& files, PayloadStore& payloads, BlockAllocator allocate = nullptr);
    DiffPatcher(const DiffPatcher&) = delete;
    DiffPatcher& operator=(const DiffPatcher&) = delete;
    // Releases whatever a Load without Close left; after Patch there is none.
    virtual ~DiffPatcher();

    // Rebuilds `newPath` from `oldPath` with payload `payloadId` (low 16 bits):
    // Load, then Apply and Close. Returns 0 or the first failure's message
    // number (see above). Always returns holding nothing. The two paths must
    // name different files: the new file is emptied before the old is read.
    int Patch(const std::string& oldPath, const std::string& newPath, int payloadId);

    // Opens both files, finds and decodes the payload, checks the script, and
    // copies its lists, its pool and the whole old file into blocks of their
    // own. Returns 0 holding both files and the four blocks, or a message
    // number holding nothing (files opened are closed, blocks released).
    int Load(const std::string& oldPath, const std::string& newPath, int payloadId);

    // Writes every run to the new file, front to back, one write per run.
    // Returns 0, or 12 when any write came out short (all runs are still
    // attempted) or nothing is loaded.
    int Apply();

    // Closes the old file and the new file, in that order, and releases the
    // four blocks. Harmless when nothing is held.
    void Close();

    // Why the last Patch, Load or Apply returned what it did: fault None
    // after 0, otherwise the first failure it met.
    const PatchCause& Cause() const { return cause; }

    // Observers for callers and tests.
    const ScriptHeader& Header() const { return header; }
    std::int32_t OldUnitCount() const { return oldUnitCount; }
    bool HoldsFiles() const { return oldFile != nullptr || newFile != nullptr; }
    bool HoldsBlocks() const {
        return literalPool != nullptr || oldImage != nullptr || offsetList != nullptr ||
               runList != nullptr;
    }

  private:
    struct FreeBlock {
        void operator()(void* p) const { std::free(p); }
    };
    template <typename T>
    using Block = std::unique_ptr<T[], FreeBlock>;

    // A zero-filled block of `count` items of `size` bytes (a count of 0 gives
    // a valid empty block); null when it cannot be had.
    void* AllocateBlock(std::size_t count, std::size_t size);
    // Close without the void: false when the new file's close failed.
    bool Release();
    // Releases everything, keeps `why` as the cause, and returns `message`.
    int Fail(int message, const PatchCause& why);
    // Records a short write of run `run` (the first one is kept whole, later
    // ones are counted).
    void NoteShortWrite(std::int32_t run, std::size_t requested, std::size_t written);

    FileSystem& files;
    PayloadStore& payloads;
    BlockAllocator allocate;

    // The five header fields (new unit count, U, R, K, L), in file order.
    ScriptHeader header;
    Block<std::uint8_t> literalPool;  // L x U bytes
    Block<std::uint8_t> oldImage;     // N x U bytes, the old file zero-padded
    Block<std::uint32_t> offsetList;  // K entries
    Block<std::int16_t> runList;      // R entries
    std::unique_ptr<InputFile> oldFile;
    std::unique_ptr<OutputFile> newFile;
    std::int32_t oldUnitCount = 0;  // N
    PatchCause cause;
};

}  // namespace morivane
