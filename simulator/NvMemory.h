// The NV memory of a virtual device: items that answer the plain read, items
// that refuse it (status 6) and answer index by index, and items that answer
// every read with a status of their own (5: not active). It takes the three
// NV write forms (item, ARRAY entry, 128-byte chunk) and answers each request
// with the 133-byte NV answer.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace fennix::sim {

constexpr size_t kSimNvDataSize = 128;
constexpr size_t kSimNvIndexSize = 127;

struct SimNvItem {
    enum class Kind { Plain, Indexed, Status };
    Kind kind = Kind::Plain;
    std::array<uint8_t, kSimNvDataSize> data{};                 // Plain: the data field
    std::vector<std::array<uint8_t, kSimNvIndexSize>> indexes;  // Indexed: values per index
    uint16_t status = 5;                                        // Status: the answer to every read
    uint16_t plainReadStatus = 6;                               // Indexed: the answer to the plain read
    uint16_t endStatus = 6;                                     // Indexed: the answer past the last index
    uint16_t writeStatus = 0;                                   // any write: non-zero refuses it and changes nothing

    static SimNvItem Plain(const std::vector<uint8_t>& bytes);
    static SimNvItem Indexed(const std::vector<std::vector<uint8_t>>& values);
    static SimNvItem WithStatus(uint16_t status);
};

class CNvMemory {
public:
    std::map<uint16_t, SimNvItem> items;
    // ARRAY entry writes by item number: the 130 bytes that followed byte 3.
    std::map<uint16_t, std::vector<uint8_t>> arrayEntries;
    uint16_t missingStatus = 5;  // the answer to reads of items not in memory
    // After this many more NV answers the memory answers nothing (-1: never).
    int32_t answersBeforeSilence = -1;
    uint32_t reads = 0;
    uint32_t writes = 0;

    // The answer to an NV read (38) or write (39) request; nullopt for silence
    // or a request of neither form (which the device then refuses).
    std::optional<std::vector<uint8_t>> Answer(const std::vector<uint8_t>& request);
    // Whether the request has one of the NV lengths this memory understands.
    static bool IsNvRequest(const std::vector<uint8_t>& request);

    // The data field a plain read of the item would return (zeros unless
    // plain), and the 127 value bytes of an index (empty when absent).
    std::vector<uint8_t> DataOf(uint16_t item) const;
    std::vector<uint8_t> IndexOf(uint16_t item, size_t index) const;

private:
    std::vector<uint8_t> Read(const std::vector<uint8_t>& request);
    std::vector<uint8_t> Write(const std::vector<uint8_t>& request);
    bool TakeAnswer();
};

// Builds the 133-byte NV answer.
std::vector<uint8_t> SimNvAnswer(uint8_t code, uint16_t item, const uint8_t* data, size_t dataLength, uint16_t status);

}  // namespace fennix::sim
