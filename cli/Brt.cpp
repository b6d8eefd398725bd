#include "Brt.h"

#include "InputFile.h"

namespace fennix::cli {

int32_t Le32(const std::vector<uint8_t>& b, uint64_t at) {
    return static_cast<int32_t>(static_cast<uint32_t>(b[at]) | static_cast<uint32_t>(b[at + 1]) << 8 |
                                static_cast<uint32_t>(b[at + 2]) << 16 | static_cast<uint32_t>(b[at + 3]) << 24);
}

std::string Hex(const std::vector<uint8_t>& bytes, size_t from, size_t count) {
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (size_t i = from; i < bytes.size() && i - from < count; ++i) {
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 15];
    }
    return text;
}

bool ReadBrt(const std::string& path, BrtFile* file, std::string* error) {
    std::vector<uint8_t> bytes;
    if (!ReadInputFile(path, kBrtFileLimit, &bytes, error)) return false;
    file->size = bytes.size();
    if (bytes.size() < 4) {
        file->damage = "the file has " + std::to_string(bytes.size()) + " bytes, too few for the record count";
        return true;
    }
    file->count = Le32(bytes, 0);
    if (file->count < 0) {
        file->damage = "the record count is negative (" + std::to_string(file->count) + ")";
        return true;
    }
    uint64_t at = 4;
    for (int32_t i = 0; i < file->count; ++i) {
        const std::string where =
            "record " + std::to_string(i + 1) + " of " + std::to_string(file->count) + " at byte " + std::to_string(at);
        if (bytes.size() - at < 8) {
            file->damage = "the file ends inside " + where + " (its item number and length need 8 bytes, " +
                           std::to_string(bytes.size() - at) + " are left)";
            return true;
        }
        BrtRecord record;
        record.offset = at;
        record.item = Le32(bytes, at);
        const int32_t length = Le32(bytes, at + 4);
        if (length < 0) {
            file->damage =
                where + " (item " + std::to_string(record.item) + ") has a negative length " + std::to_string(length);
            return true;
        }
        if (bytes.size() - at - 8 < static_cast<uint64_t>(length)) {
            file->damage = "the file ends inside " + where + " (item " + std::to_string(record.item) + "): its " +
                           std::to_string(length) + " value bytes need " + std::to_string(at + 8 + length) +
                           " bytes, the file has " + std::to_string(bytes.size());
            return true;
        }
        record.value.assign(bytes.begin() + static_cast<std::ptrdiff_t>(at + 8),
                            bytes.begin() + static_cast<std::ptrdiff_t>(at + 8 + length));
        at += 8 + static_cast<uint64_t>(length);
        file->records.push_back(std::move(record));
    }
    if (at != bytes.size())
        file->note = std::to_string(bytes.size() - at) + " bytes follow the last record at byte " + std::to_string(at);
    return true;
}

}  // namespace fennix::cli
