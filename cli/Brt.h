// Reading BRT files (NV backups) for `brt show` and `brt diff`: a 32-bit
// record count, then per record the item number, the value length and the
// value, all little-endian.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fennix::cli {

struct BrtRecord {
    int32_t item = 0;
    std::vector<uint8_t> value;
    uint64_t offset = 0;  // of the record in the file
};

struct BrtFile {
    int32_t count = 0;  // as the file declares it
    std::vector<BrtRecord> records;
    std::string damage;  // where and why reading stopped early; empty for a whole file
    std::string note;    // bytes after the last record, which a restore ignores
    uint64_t size = 0;
};

// False with `error` set when the file cannot be read at all.
bool ReadBrt(const std::string& path, BrtFile* file, std::string* error);

// The signed 32-bit little-endian field at `at`; four bytes must be there.
int32_t Le32(const std::vector<uint8_t>& bytes, uint64_t at);

std::string Hex(const std::vector<uint8_t>& bytes, size_t from = 0, size_t count = SIZE_MAX);

}  // namespace fennix::cli
