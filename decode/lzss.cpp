#include "decode/lzss.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "decode/bit_window.h"

namespace morivane {

namespace {

ByteBuffer Fail(DecodeStatus* status, DecodeStatus why) {
    if (status != nullptr) *status = why;
    return {};
}

constexpr std::uint32_t kWindowMask = kLzssWindowSize - 1;
constexpr int kLiteralBits = 1 + 8;
constexpr int kEndBits = 1 + kLzssPositionBits;
constexpr int kMatchBits = 1 + kLzssPositionBits + kLzssLengthBits;

// One window of 57 bits always holds three whole tokens of at most 17 bits.
constexpr int kTokensPerWindow = 3;
// A match is copied 16 bytes at a time when its source lies 16 or more bytes
// back, so up to 16 bytes past its end may be written (and later overwritten).
constexpr std::size_t kCopySlack = 16;
// Room that three tokens of the longest output need, copying included.
constexpr std::size_t kGroupRoom = kTokensPerWindow * kLzssMaxMatch + kCopySlack;

// The most bytes an expansion may produce before it is out of memory. The
// output used to start at the input's size and grow in 4096-byte steps as long
// as it stayed 4 KiB below 2 GiB; the first byte that needed one more step
// failed. The same limit keeps results identical for inputs of a quarter
// gigabyte and more, where the 2 GiB bound is reached.
std::size_t ProductionLimit(std::uint32_t length) {
    constexpr std::uint32_t kStep = 4096;
    constexpr std::uint32_t kLastGrowable = 0x7FFFFFFFu - kStep;
    const std::uint32_t start = length > 0 ? length : 1;
    if (start > kLastGrowable) return start;
    return start + kStep * ((kLastGrowable - start) / kStep + 1);
}

// The output: a malloc'd block that grows geometrically, never beyond the
// production limit plus the copy slack.
class Output {
  public:
    explicit Output(std::size_t limit) : limit_(limit) {}
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output() { std::free(data_); }

    // Makes room for three more tokens (or for everything up to the limit).
    // False when the memory cannot be had.
    bool Reserve(std::size_t count, std::size_t hint) {
        const std::size_t ceiling = limit_ + kCopySlack;
        if (capacity_ - count >= kGroupRoom || capacity_ == ceiling) return true;
        std::size_t grown = capacity_ + capacity_ / 2;
        if (grown < hint) grown = hint;
        if (grown < count + kGroupRoom) grown = count + kGroupRoom;
        if (grown > ceiling) grown = ceiling;
        auto* data = static_cast<std::uint8_t*>(std::realloc(data_, grown));
        if (data == nullptr) return false;
        data_ = data;
        capacity_ = grown;
        return true;
    }
    std::uint8_t* data() { return data_; }

    // The result: the `count` bytes produced but the last, in a block shrunk
    // to fit (at least one byte, so that an empty result is not null).
    ByteBuffer Finish(std::size_t count) {
        const std::size_t kept = count - 1;
        auto* shrunk = static_cast<std::uint8_t*>(std::realloc(data_, kept > 0 ? kept : 1));
        if (shrunk == nullptr) shrunk = data_;  // shrinking in place failed: keep it
        data_ = nullptr;
        return ByteBuffer::Adopt(shrunk, static_cast<std::int32_t>(kept));
    }

  private:
    std::uint8_t* data_ = nullptr;
    std::size_t capacity_ = 0;
    std::size_t limit_;
};

// Appends `length` bytes copied from `distance` bytes back, byte after byte
// in effect: when the distance is shorter than the length, the match repeats
// what it has just produced.
inline void CopyMatch(std::uint8_t* to, std::size_t distance, std::size_t length) {
    const std::uint8_t* from = to - distance;
    if (distance >= 16) {
        std::memcpy(to, from, 16);
        if (length > 16) to[16] = from[16];
        return;
    }
    for (std::size_t i = 0; i < length; ++i) to[i] = from[i];
}

}  // namespace

ByteBuffer LzssExpand(ByteSpan input, DecodeStatus* status) {
    if (status != nullptr) *status = DecodeStatus::Ok;
    if (input.size() > 0x7FFFFFFFu) return Fail(status, DecodeStatus::OutOfMemory);
    const auto length = static_cast<std::uint32_t>(input.size());
    const std::size_t limit = ProductionLimit(length);

    // Real streams expand to about twice their size; the first allocation
    // aims a little above that so that growing is rare.
    Output out(limit);
    const std::uint64_t firstSize = static_cast<std::uint64_t>(length) * 2 + 4096;
    if (!out.Reserve(0, static_cast<std::size_t>(std::min<std::uint64_t>(firstSize, limit)))) {
        return Fail(status, DecodeStatus::OutOfMemory);
    }

    // Produced byte j went to window position (j + 1) mod 4096, the current
    // position starting at 1. A match from position p therefore reads the
    // byte `distance` = (count + 1 - p) mod 4096 back (4096 when that is 0),
    // the same distance for every byte of the match; it reads a position this
    // stream has not written when fewer bytes than that have been produced.
    BitCursor in(input.data(), input.size());
    std::size_t count = 0;
    for (;;) {
        if (!out.Reserve(count, 0)) return Fail(status, DecodeStatus::OutOfMemory);
        std::uint8_t* const data = out.data();
        std::uint64_t window = in.Window();
        const std::uint64_t left = in.Left();
        std::uint64_t used = 0;
        bool ended = false;
        for (int t = 0; t < kTokensPerWindow; ++t) {
            if ((window >> 63) != 0) {  // literal
                if (left - used < kLiteralBits) return Fail(status, DecodeStatus::LzssTruncated);
                if (count == limit) return Fail(status, DecodeStatus::OutOfMemory);
                data[count++] = static_cast<std::uint8_t>(window >> 55);
                window <<= kLiteralBits;
                used += kLiteralBits;
                continue;
            }
            if (left - used < kEndBits) return Fail(status, DecodeStatus::LzssTruncated);
            const auto position = static_cast<std::uint32_t>(window >> 51) & kWindowMask;
            if (position == 0) {
                ended = true;
                break;
            }
            if (left - used < kMatchBits) return Fail(status, DecodeStatus::LzssTruncated);
            const std::size_t matchLength = ((window >> 47) & 0xF) + kLzssMinMatch;
            window <<= kMatchBits;
            used += kMatchBits;
            std::size_t distance = (count + 1 - position) & kWindowMask;
            if (distance == 0) distance = kLzssWindowSize;
            if (count < distance) return Fail(status, DecodeStatus::LzssUnwrittenCopy);
            if (matchLength > limit - count) return Fail(status, DecodeStatus::OutOfMemory);
            CopyMatch(data + count, distance, matchLength);
            count += matchLength;
        }
        if (ended) break;
        in.Skip(used);
    }

    if (count == 0) return Fail(status, DecodeStatus::LzssNothingProduced);
    return out.Finish(count);
}

}  // namespace morivane
