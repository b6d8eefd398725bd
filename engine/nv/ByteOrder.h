// Little-endian field access for requests, answers and the NV files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fennix {

inline void PutLe16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

inline void PutLe32(uint8_t* at, uint32_t value) {
    PutLe16(at, value & 0xFFFF);
    PutLe16(at + 2, value >> 16);
}

inline uint16_t GetLe16(const uint8_t* at) { return static_cast<uint16_t>(at[0] | (at[1] << 8)); }

inline uint32_t GetLe32(const uint8_t* at) { return GetLe16(at) | (static_cast<uint32_t>(GetLe16(at + 2)) << 16); }

inline void AppendLe16(std::vector<uint8_t>& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

inline void AppendLe32(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t bytes[4];
    PutLe32(bytes, value);
    out.insert(out.end(), bytes, bytes + 4);
}

// Reads little-endian fields from a byte range without ever passing its end.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool AtEnd() const { return pos_ == size_; }
    size_t Remaining() const { return size_ - pos_; }
    bool ReadI32(int32_t& value) {
        if (Remaining() < 4) return false;
        value = static_cast<int32_t>(GetLe32(data_ + pos_));
        pos_ += 4;
        return true;
    }
    // Takes `count` bytes; false (and nothing taken) when fewer remain.
    bool ReadBytes(size_t count, const uint8_t*& bytes) {
        if (Remaining() < count) return false;
        bytes = data_ + pos_;
        pos_ += count;
        return true;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace fennix
