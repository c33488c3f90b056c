// A growing byte vector written bit by bit, most significant bit of each byte
// first: the bit order of both payload stages. Internal to the encoders.
#pragma once

#include <cstdint>
#include <vector>

namespace morivane {

class BitWriter {
  public:
    explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}

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

    // Bits in the vector plus those pending, as counted from its start.
    std::uint64_t BitCount() const { return 8ull * out_.size() + pending_; }

  private:
    std::vector<std::uint8_t>& out_;
    std::uint64_t acc_ = 0;
    int pending_ = 0;  // bits held in acc_, always < 8 between calls
};

}  // namespace morivane
