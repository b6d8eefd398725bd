// One NV item and an ordered list of them. Value types: a copy never shares its
// value bytes with the original.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fennix {

class CNV_ItemHolder {
public:
    // A record without a value reports -1.
    int32_t ValueLength() const { return hasValue_ ? static_cast<int32_t>(value_.size()) : -1; }
    bool HasValue() const { return hasValue_; }
    const std::vector<uint8_t>& Value() const { return value_; }

    // Stores a private copy of `length` bytes; length 0 gives an empty value.
    void SetValue(const uint8_t* bytes, size_t length);
    void SetValue(std::vector<uint8_t> bytes);
    void ClearValue();

    // NV item number; -1 for named entries and in a new record. Only the low
    // 16 bits go on the wire.
    int32_t itemNumber = -1;
    std::string name;

private:
    bool hasValue_ = false;
    std::vector<uint8_t> value_;
};

class CNVArray {
public:
    virtual ~CNVArray() = default;

    // Appends a copy and returns its index (the count before the call).
    int32_t Add(const CNV_ItemHolder& record);
    int32_t Count() const { return static_cast<int32_t>(records_.size()); }
    // Callers ask only for indexes in [0, Count()).
    const CNV_ItemHolder& At(int32_t index) const { return records_.at(static_cast<size_t>(index)); }
    CNV_ItemHolder& At(int32_t index) { return records_.at(static_cast<size_t>(index)); }
    void RemoveAll() { records_.clear(); }

    std::vector<CNV_ItemHolder>::const_iterator begin() const { return records_.begin(); }
    std::vector<CNV_ItemHolder>::const_iterator end() const { return records_.end(); }

private:
    std::vector<CNV_ItemHolder> records_;
};

}  // namespace fennix
