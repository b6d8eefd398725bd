#include "simulator/NvMemory.h"

#include <algorithm>

namespace fennix::sim {

namespace {

constexpr uint8_t kRead = 38;
constexpr uint8_t kWrite = 39;
constexpr size_t kPlainRead = 3;
constexpr size_t kIndexedRead = 4;
constexpr size_t kItemWrite = 131;
constexpr size_t kArrayEntryWrite = 133;
constexpr size_t kChunkWrite = 134;

uint16_t ItemOf(const std::vector<uint8_t>& request) { return static_cast<uint16_t>(request[1] | (request[2] << 8)); }

template <size_t N>
std::array<uint8_t, N> Fixed(const uint8_t* bytes, size_t length) {
    std::array<uint8_t, N> out{};
    std::copy(bytes, bytes + std::min(length, N), out.begin());
    return out;
}

}  // namespace

SimNvItem SimNvItem::Plain(const std::vector<uint8_t>& bytes) {
    SimNvItem item;
    item.data = Fixed<kSimNvDataSize>(bytes.data(), bytes.size());
    return item;
}

SimNvItem SimNvItem::Indexed(const std::vector<std::vector<uint8_t>>& values) {
    SimNvItem item;
    item.kind = Kind::Indexed;
    for (const auto& value : values) item.indexes.push_back(Fixed<kSimNvIndexSize>(value.data(), value.size()));
    return item;
}

SimNvItem SimNvItem::WithStatus(uint16_t status) {
    SimNvItem item;
    item.kind = Kind::Status;
    item.status = status;
    return item;
}

std::vector<uint8_t> SimNvAnswer(uint8_t code, uint16_t item, const uint8_t* data, size_t dataLength, uint16_t status) {
    std::vector<uint8_t> answer(133, 0);
    answer[0] = code;
    answer[1] = static_cast<uint8_t>(item);
    answer[2] = static_cast<uint8_t>(item >> 8);
    std::copy(data, data + std::min(dataLength, kSimNvDataSize), answer.begin() + 3);
    answer[131] = static_cast<uint8_t>(status);
    answer[132] = static_cast<uint8_t>(status >> 8);
    return answer;
}

bool CNvMemory::IsNvRequest(const std::vector<uint8_t>& request) {
    if (request.empty()) return false;
    const size_t n = request.size();
    if (request[0] == kRead) return n == kPlainRead || n == kIndexedRead;
    if (request[0] == kWrite) return n == kItemWrite || n == kArrayEntryWrite || n == kChunkWrite;
    return false;
}

bool CNvMemory::TakeAnswer() {
    if (answersBeforeSilence == 0) return false;
    if (answersBeforeSilence > 0) --answersBeforeSilence;
    return true;
}

std::optional<std::vector<uint8_t>> CNvMemory::Answer(const std::vector<uint8_t>& request) {
    if (!IsNvRequest(request)) return std::nullopt;
    if (!TakeAnswer()) return std::nullopt;
    return request[0] == kRead ? Read(request) : Write(request);
}

std::vector<uint8_t> CNvMemory::Read(const std::vector<uint8_t>& request) {
    ++reads;
    const uint16_t number = ItemOf(request);
    auto found = items.find(number);
    if (found == items.end()) return SimNvAnswer(kRead, number, nullptr, 0, missingStatus);
    const SimNvItem& item = found->second;
    switch (item.kind) {
        case SimNvItem::Kind::Status: return SimNvAnswer(kRead, number, nullptr, 0, item.status);
        case SimNvItem::Kind::Plain: return SimNvAnswer(kRead, number, item.data.data(), item.data.size(), 0);
        case SimNvItem::Kind::Indexed: break;
    }
    if (request.size() == kPlainRead) return SimNvAnswer(kRead, number, nullptr, 0, item.plainReadStatus);
    const uint8_t index = request[3];
    if (index >= item.indexes.size()) return SimNvAnswer(kRead, number, &index, 1, item.endStatus);
    std::array<uint8_t, kSimNvDataSize> field{};
    field[0] = index;
    std::copy(item.indexes[index].begin(), item.indexes[index].end(), field.begin() + 1);
    return SimNvAnswer(kRead, number, field.data(), field.size(), 0);
}

std::vector<uint8_t> CNvMemory::Write(const std::vector<uint8_t>& request) {
    ++writes;
    const uint16_t number = ItemOf(request);
    const uint8_t* field = request.data() + 3;
    auto found = items.find(number);
    const uint16_t refusal = found == items.end() ? 0 : found->second.writeStatus;
    if (refusal != 0) return SimNvAnswer(kWrite, number, field, kSimNvDataSize, refusal);

    SimNvItem& item = items[number];
    if (request.size() == kArrayEntryWrite) {
        arrayEntries[number].assign(field, field + 130);
        return SimNvAnswer(kWrite, number, field, kSimNvDataSize, 0);
    }
    if (request.size() == kChunkWrite) {
        // Chunk k carries the 127 value bytes of index k (and a spare byte).
        const uint8_t index = request[3];
        if (item.kind != SimNvItem::Kind::Indexed) {
            item.kind = SimNvItem::Kind::Indexed;
            item.indexes.clear();
        }
        if (item.indexes.size() <= index) item.indexes.resize(index + 1u);
        item.indexes[index] = Fixed<kSimNvIndexSize>(request.data() + 4, kSimNvIndexSize);
        return SimNvAnswer(kWrite, number, request.data() + 4, kSimNvDataSize, 0);
    }
    if (item.kind == SimNvItem::Kind::Indexed) {
        // The data field of an indexed item is the index byte and its values,
        // as the indexed read answers it.
        const uint8_t index = field[0];
        if (item.indexes.size() <= index) item.indexes.resize(index + 1u);
        item.indexes[index] = Fixed<kSimNvIndexSize>(field + 1, kSimNvIndexSize);
    } else {
        item.kind = SimNvItem::Kind::Plain;
        item.data = Fixed<kSimNvDataSize>(field, kSimNvDataSize);
    }
    return SimNvAnswer(kWrite, number, field, kSimNvDataSize, 0);
}

std::vector<uint8_t> CNvMemory::DataOf(uint16_t number) const {
    auto found = items.find(number);
    if (found == items.end() || found->second.kind != SimNvItem::Kind::Plain)
        return std::vector<uint8_t>(kSimNvDataSize, 0);
    return std::vector<uint8_t>(found->second.data.begin(), found->second.data.end());
}

std::vector<uint8_t> CNvMemory::IndexOf(uint16_t number, size_t index) const {
    auto found = items.find(number);
    if (found == items.end() || found->second.kind != SimNvItem::Kind::Indexed || index >= found->second.indexes.size())
        return {};
    const auto& values = found->second.indexes[index];
    return std::vector<uint8_t>(values.begin(), values.end());
}

}  // namespace fennix::sim
