// Reader of the programmer file in Intel HEX form. Open reads the whole file
// and checks every line up to the end record: a colon, hex digit pairs, a
// byte count that matches the line and a record checksum; lines end in CR LF
// or LF. The first record holds the start segment; the data of the records
// after it come out in blocks of at most 1017 bytes, one write packet each,
// in file order whatever their addresses and types say: a record of two bytes
// is taken for an address record and skipped, one of no bytes ends the data,
// and a data record of fewer than 16 bytes ends its block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/File.h"

namespace fennix {

class CHexFile {
public:
    static constexpr uint32_t kBlockSize = 1017;

    // 1 when the file opened and holds at least the 15 characters of a first
    // record, otherwise 0; `error` receives the system error number of a
    // failed open. A file that opens but has a line that is not a record
    // still gives 1: Fault() tells. Opening starts the data from the
    // beginning again.
    int Open(const std::string& path, platform::Share share = platform::Share::ReadWrite, int* error = nullptr);
    // Fills `destination` (room for kBlockSize bytes) with the next block and
    // returns its size. A block ends when it is full, after a record of fewer
    // than 16 bytes, at the end record or after the last record. Of a file
    // with a fault, only the records before the faulty line are delivered.
    uint32_t ReadData(uint8_t* destination);
    void Close() { file_.Close(); }
    bool IsOpen() const { return file_.IsOpen(); }

    uint8_t StartSegmentHigh() const { return segmentHigh_; }
    uint8_t StartSegmentLow() const { return segmentLow_; }

    // Empty when every line up to the end record is a well-formed record and
    // the first one holds the start segment; otherwise the first faulty line
    // and what is wrong with it.
    const std::string& Fault() const { return fault_; }
    // Empty while every data record read so far went into a block and, once
    // the reads stopped, none is left before the end record; otherwise which
    // data the blocks do not carry.
    std::string DataNotDelivered() const;

    // Two hex digits of either case; any other character counts as 0.
    static uint8_t HexByte(const char* twoChars);

private:
    struct Record {
        uint8_t type = 0;
        uint32_t count = 0;  // data bytes
        size_t at = 0;       // where its data start in data_
        size_t line = 0;     // 1-based line of the file
    };
    void Parse(std::string_view text);

    platform::File file_;
    std::vector<Record> records_;  // the records after the first, up to the end record
    std::vector<uint8_t> data_;    // their data bytes, one after the other
    std::string fault_;
    size_t next_ = 0;             // the record ReadData takes next
    size_t skippedDataLine_ = 0;  // a data record of two bytes that was skipped
    uint32_t recordLength_ = 0;   // data bytes of the last data record taken
    uint32_t consumed_ = 0;       // bytes of that record already delivered when a block cut it
    uint8_t segmentHigh_ = 0;
    uint8_t segmentLow_ = 0;
};

}  // namespace fennix
