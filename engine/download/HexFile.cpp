#include "download/HexFile.h"

#include <array>

namespace fennix {

namespace {

// One record's text after its colon and count: address 4, type 2, data
// 2 x 255, checksum 2, line end 2. Records of any length are read whole.
constexpr size_t kLongestRecordText = 4 + 2 + 2 * 255 + 2 + 2;
constexpr size_t kFirstRecordChars = 17;
constexpr size_t kShortestFirstRecord = 15;
constexpr size_t kDataOffset = 6;  // address and type come before the data
constexpr uint32_t kAddressRecordCount = 2;
constexpr uint32_t kShortRecord = 16;  // a shorter data record ends the block

unsigned HexDigit(char c) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    return 0;
}

uint32_t ConvertPairs(const char* text, size_t pairs, uint8_t* out) {
    for (size_t i = 0; i < pairs; ++i) out[i] = CHexFile::HexByte(text + 2 * i);
    return static_cast<uint32_t>(pairs);
}

}  // namespace

uint8_t CHexFile::HexByte(const char* twoChars) {
    return static_cast<uint8_t>(16 * HexDigit(twoChars[0]) + HexDigit(twoChars[1]));
}

size_t CHexFile::ReadChars(char* buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
        int64_t n = file_.Read(buffer + done, count - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return done;
}

int CHexFile::Open(const std::string& path, platform::Share share, int* error) {
    recordLength_ = 0;
    consumed_ = 0;
    int rc = file_.Open(path, platform::OpenMode::Read, share);
    if (error != nullptr) *error = rc;
    if (rc != 0) return 0;
    char first[kFirstRecordChars] = {};
    if (ReadChars(first, sizeof first) < kShortestFirstRecord) {
        file_.Close();
        return 0;
    }
    segmentHigh_ = HexByte(first + 9);
    segmentLow_ = HexByte(first + 11);
    return 1;
}

uint32_t CHexFile::ReadData(uint8_t* destination) {
    uint32_t count = 0;
    do {
        // Characters missing at the end of the file read as zeros.
        std::array<char, kLongestRecordText> text{};
        if (consumed_ != 0) {
            // The rest of the record a full block cut: data, checksum, line end.
            size_t n = ReadChars(text.data(), 2 * (recordLength_ - consumed_) + 4);
            if (n >= 4) count += ConvertPairs(text.data(), (n - 4) / 2, destination + count);
            consumed_ = 0;
            continue;
        }
        char head[3] = {};
        // Without an end record the block still holds what was gathered.
        if (ReadChars(head, sizeof head) < sizeof head) return count;
        const uint32_t n = HexByte(head + 1);
        if (n == 0) return count;  // end record
        if (n == kAddressRecordCount) {
            ReadChars(text.data(), 14);
            continue;
        }
        if (count + n <= kBlockSize) {
            ReadChars(text.data(), 2 * n + 10);
            count += ConvertPairs(text.data() + kDataOffset, n, destination + count);
            consumed_ = 0;
        } else {
            const uint32_t k = kBlockSize - count;
            ReadChars(text.data(), 2 * k + 6);
            count += ConvertPairs(text.data() + kDataOffset, k, destination + count);
            consumed_ = k;
        }
        recordLength_ = n;
    } while (recordLength_ >= kShortRecord && count < kBlockSize);
    return count;
}

}  // namespace fennix
