#include "nv/BrtFile.h"

#include "nv/ByteOrder.h"

namespace fennix {

std::vector<uint8_t> EncodeBrt(const std::vector<CNV_ItemHolder>& records) {
    std::vector<uint8_t> out;
    AppendLe32(out, static_cast<uint32_t>(records.size()));
    for (const CNV_ItemHolder& record : records) {
        const auto& value = record.Value();
        AppendLe32(out, static_cast<uint32_t>(record.itemNumber));
        AppendLe32(out, static_cast<uint32_t>(value.size()));
        out.insert(out.end(), value.begin(), value.end());
    }
    return out;
}

BrtContents DecodeBrt(const uint8_t* data, size_t size) {
    BrtContents contents;
    ByteReader reader(data, size);
    if (!reader.ReadI32(contents.count) || contents.count < 0) return contents;
    for (int32_t i = 0; i < contents.count; ++i) {
        int32_t number = 0;
        int32_t length = 0;
        const uint8_t* value = nullptr;
        if (!reader.ReadI32(number) || !reader.ReadI32(length) || length < 0 ||
            !reader.ReadBytes(static_cast<size_t>(length), value))
            return contents;
        CNV_ItemHolder record;
        record.itemNumber = number;
        record.SetValue(value, static_cast<size_t>(length));
        contents.records.push_back(std::move(record));
    }
    contents.complete = true;
    return contents;
}

}  // namespace fennix
