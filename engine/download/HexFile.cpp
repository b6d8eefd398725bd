#include "download/HexFile.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "files/FileBytes.h"

namespace fennix {

namespace {

constexpr size_t kShortestFirstRecord = 15;
// Programmers are tens of kilobytes; a file far beyond that is not one.
constexpr size_t kLargestFile = size_t{16} << 20;
constexpr uint32_t kAddressRecordCount = 2;
constexpr uint32_t kShortRecord = 16;  // a shorter data record ends the block
constexpr uint8_t kDataRecordType = 0x00;
// Byte count, two address bytes and the type before the data; the checksum after.
constexpr size_t kRecordFrameBytes = 5;

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The bytes of one line's record (count, address, type, data, checksum), or
// what keeps the line from being a record.
const char* DecodeRecord(std::string_view line, std::vector<uint8_t>& bytes) {
    if (line.empty() || line[0] != ':') return "no ':' at its start";
    const std::string_view digits = line.substr(1);
    if (digits.size() % 2 != 0) return "an odd number of hex digits";
    bytes.clear();
    for (size_t i = 0; i < digits.size(); i += 2) {
        const int high = HexValue(digits[i]);
        const int low = HexValue(digits[i + 1]);
        if (high < 0 || low < 0) return "a character that is not a hex digit";
        bytes.push_back(static_cast<uint8_t>(high * 16 + low));
    }
    if (bytes.size() < kRecordFrameBytes) return "too short for a record";
    if (bytes[0] != bytes.size() - kRecordFrameBytes) return "a byte count that does not match its length";
    unsigned sum = 0;
    for (uint8_t b : bytes) sum += b;
    if ((sum & 0xFF) != 0) return "a wrong record checksum";
    return nullptr;
}

}  // namespace

uint8_t CHexFile::HexByte(const char* twoChars) {
    const int high = HexValue(twoChars[0]);
    const int low = HexValue(twoChars[1]);
    return static_cast<uint8_t>(16 * std::max(high, 0) + std::max(low, 0));
}

int CHexFile::Open(const std::string& path, platform::Share share, int* error) {
    records_.clear();
    data_.clear();
    fault_.clear();
    next_ = 0;
    skippedDataLine_ = 0;
    recordLength_ = 0;
    consumed_ = 0;
    int rc = file_.Open(path, platform::OpenMode::Read, share);
    if (error != nullptr) *error = rc;
    if (rc != 0) return 0;

    std::vector<uint8_t> bytes;
    // A read that fails leaves the lines read before it, as an early end would.
    ReadToEnd(file_, bytes, kLargestFile);
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (text.size() < kShortestFirstRecord) {
        file_.Close();
        return 0;
    }
    segmentHigh_ = HexByte(text.data() + 9);
    segmentLow_ = HexByte(text.data() + 11);
    if (text.size() > kLargestFile)
        fault_ = "more than " + std::to_string(kLargestFile) + " bytes, too large for a programmer";
    else
        Parse(text);
    return 1;
}

void CHexFile::Parse(std::string_view text) {
    std::vector<uint8_t> bytes;
    size_t lineNumber = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + start, end - start);
        start = end + 1;
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

        const char* problem = DecodeRecord(line, bytes);
        const uint32_t count = problem ? 0 : bytes[0];
        if (!problem && lineNumber == 1 && count != 2) problem = "not a record of the two start segment bytes";
        if (problem) {
            fault_ = "line " + std::to_string(lineNumber) + ": " + problem;
            return;
        }
        if (lineNumber == 1) continue;
        records_.push_back({bytes[3], count, data_.size(), lineNumber});
        data_.insert(data_.end(), bytes.begin() + 4, bytes.end() - 1);
        if (count == 0) return;  // the end record; nothing after it is read
    }
}

uint32_t CHexFile::ReadData(uint8_t* destination) {
    uint32_t count = 0;
    do {
        if (consumed_ != 0) {
            // The rest of the record a full block cut.
            const Record& cut = records_[next_ - 1];
            const uint32_t rest = cut.count - consumed_;
            std::memcpy(destination + count, data_.data() + cut.at + consumed_, rest);
            count += rest;
            consumed_ = 0;
            continue;
        }
        // Without an end record the block still holds what was gathered.
        if (next_ == records_.size()) return count;
        const Record& record = records_[next_];
        if (record.count == 0) return count;  // end record
        ++next_;
        if (record.count == kAddressRecordCount) {
            if (record.type == kDataRecordType && skippedDataLine_ == 0) skippedDataLine_ = record.line;
            continue;
        }
        const uint32_t take = std::min(record.count, kBlockSize - count);
        std::memcpy(destination + count, data_.data() + record.at, take);
        count += take;
        consumed_ = take < record.count ? take : 0;
        recordLength_ = record.count;
    } while (recordLength_ >= kShortRecord && count < kBlockSize);
    return count;
}

std::string CHexFile::DataNotDelivered() const {
    if (skippedDataLine_ != 0)
        return "line " + std::to_string(skippedDataLine_) + ": a data record of two bytes, read as an address record";
    if (consumed_ != 0) return "line " + std::to_string(records_[next_ - 1].line) + ": the rest of a cut record";
    for (size_t i = next_; i < records_.size() && records_[i].count != 0; ++i) {
        if (records_[i].type == kDataRecordType)
            return "line " + std::to_string(records_[i].line) + ": data after the block the upload ends with";
    }
    return {};
}

}  // namespace fennix
