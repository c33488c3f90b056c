// A byte vector written bit by bit, most significant bit of each byte first:
// the bit order of both payload stages. The encoders write their streams
// with it, and the tests their hand-made ones (tests/support/bit_writer.h).
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace morivane {

class BitWriter {
  public:
    BitWriter() = default;
    // Goes on after the bytes of `start`, which it takes over (reserved room
    // included).
    explicit BitWriter(std::vector<std::uint8_t> start) : out_(std::move(start)) {}

    // Appends the low `count` bits of `value` (count 0..32), highest first.
    void Put(std::uint32_t value, int count) {
        acc_ = (acc_ << count) | (static_cast<std::uint64_t>(value) & ((1ull << count) - 1));
        pending_ += count;
        while (pending_ >= 8) {
            pending_ -= 8;
            out_.push_back(static_cast<std::uint8_t>(acc_ >> pending_));
        }
        acc_ &= (1ull << pending_) - 1;  // keep only bits not yet written
    }

    // Pads the last partial byte with zero bits.
    void Flush() {
        if (pending_ > 0) Put(0, 8 - pending_);
    }

    // The whole bytes written so far; a partial last byte only after Flush.
    const std::vector<std::uint8_t>& bytes() const { return out_; }

    // Flushes and hands the bytes over, leaving the writer empty.
    std::vector<std::uint8_t> Take() {
        Flush();
        std::vector<std::uint8_t> taken = std::move(out_);
        out_.clear();
        return taken;
    }

  private:
    std::vector<std::uint8_t> out_;
    std::uint64_t acc_ = 0;
    int pending_ = 0;  // bits held in acc_, always < 8 between calls
};

}  // namespace morivane
