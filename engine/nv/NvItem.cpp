#include "nv/NvItem.h"

namespace fennix {

void CNV_ItemHolder::SetValue(const uint8_t* bytes, size_t length) {
    value_.assign(bytes, bytes + length);
    hasValue_ = true;
}

void CNV_ItemHolder::SetValue(std::vector<uint8_t> bytes) {
    value_ = std::move(bytes);
    hasValue_ = true;
}

void CNV_ItemHolder::ClearValue() {
    value_.clear();
    hasValue_ = false;
}

int32_t CNVArray::Add(const CNV_ItemHolder& record) {
    records_.push_back(record);
    return static_cast<int32_t>(records_.size() - 1);
}

}  // namespace fennix
