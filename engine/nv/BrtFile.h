// The BRT file: an NV backup. Little-endian: a signed 32-bit record count, then
// the records back to back, each an item number, a value length L (both signed
// 32-bit) and L value bytes. No header beyond the count, no padding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "nv/NvItem.h"

namespace fennix {

// Every 16-bit item number once with a plain 128-byte value takes 8.5 MiB;
// the rest leaves room for indexed items of up to 32 KiB.
constexpr size_t kBrtFileMax = size_t{64} << 20;

// Records without a value are written with length 0.
std::vector<uint8_t> EncodeBrt(const std::vector<CNV_ItemHolder>& records);

struct BrtContents {
    std::vector<CNV_ItemHolder> records;  // only records that were read whole
    int32_t count = 0;                    // the count the file claims
    bool complete = false;                // the file holds every record it promises
};

// Reads records until the claimed count is reached or the data stops making
// sense: a file that ends inside a record, a negative length or a negative
// count leaves `complete` false. Bytes after the last record are ignored.
BrtContents DecodeBrt(const uint8_t* data, size_t size);

}  // namespace fennix
