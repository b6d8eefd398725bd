// Reader of the programmer file in Intel HEX form. It is positional: it relies
// on the layout of each line (colon, count, address, type, data, checksum,
// CR LF) rather than searching for colons and line ends, and it ignores
// addresses, record types and checksums. The first record holds the start
// segment; the data of the records after it come out in blocks of at most
// 1017 bytes, one write packet each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/File.h"

namespace fennix {

class CHexFile {
public:
    static constexpr uint32_t kBlockSize = 1017;

    // 1 when the file opened and its first record (at least 15 characters) was
    // read, otherwise 0; `error` receives the system error number of a failed
    // open. Opening starts the data from the beginning again.
    int Open(const std::string& path, platform::Share share = platform::Share::ReadWrite, int* error = nullptr);
    // Fills `destination` (room for kBlockSize bytes) with the next block and
    // returns its size. A block ends when it is full, after a record of fewer
    // than 16 bytes, at the end record or at the end of the file.
    uint32_t ReadData(uint8_t* destination);
    void Close() { file_.Close(); }
    bool IsOpen() const { return file_.IsOpen(); }

    uint8_t StartSegmentHigh() const { return segmentHigh_; }
    uint8_t StartSegmentLow() const { return segmentLow_; }

    // Two hex digits of either case; any other character counts as 0.
    static uint8_t HexByte(const char* twoChars);

private:
    size_t ReadChars(char* buffer, size_t count);

    platform::File file_;
    uint32_t recordLength_ = 0;  // data bytes of the last data record taken
    uint32_t consumed_ = 0;      // bytes of that record already delivered when a block cut it
    uint8_t segmentHigh_ = 0;
    uint8_t segmentLow_ = 0;
};

}  // namespace fennix
