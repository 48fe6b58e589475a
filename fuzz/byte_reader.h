// Reads a fuzz input front to back; past its end every value is 0. Simple on
// purpose, so that a seed input can be written down call by call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzz {

class ByteReader {
  public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t remaining() const { return size_ - at_; }
    uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    int32_t word() {
        uint32_t v = 0;
        for (int i = 0; i < 4; i++) {
            v |= uint32_t{byte()} << (8 * i);
        }
        return static_cast<int32_t>(v);
    }
    std::vector<uint8_t> bytes(size_t n) {
        n = n < remaining() ? n : remaining();
        std::vector<uint8_t> out(data_ + at_, data_ + at_ + n);
        at_ += n;
        return out;
    }

  private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

} // namespace fuzz
