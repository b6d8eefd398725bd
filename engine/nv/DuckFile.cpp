#include "nv/DuckFile.h"

#include <algorithm>
#include <vector>

#include "files/FileBytes.h"
#include "nv/ByteOrder.h"
#include "nv/FieldText.h"

namespace fennix {

bool IsArrayName(const std::string& name) {
    const auto fields = SplitFields(name, '#');
    return !fields.empty() && fields[0] == "ARRAY";
}

int32_t ArrayItemNumber(const std::string& name) {
    const auto fields = SplitFields(name, '#');
    return fields.size() > 1 ? ParseDecimalField(fields[1]) : 0;
}

namespace {

// A length field followed by that many bytes.
bool ReadCounted(ByteReader& reader, const uint8_t*& bytes, int32_t& length) {
    return reader.ReadI32(length) && length >= 0 && reader.ReadBytes(static_cast<size_t>(length), bytes);
}

bool DecodeRecords(ByteReader& reader, CNVArray& numbered, CNVArray& named) {
    while (!reader.AtEnd()) {
        int32_t first = 0;
        if (!reader.ReadI32(first)) return false;
        const uint8_t* bytes = nullptr;
        int32_t length = 0;
        if (first != kDuckNamedRecord) {
            if (!ReadCounted(reader, bytes, length)) return false;
            CNV_ItemHolder record;
            record.itemNumber = first;
            record.SetValue(bytes, static_cast<size_t>(length));
            numbered.Add(record);
            continue;
        }
        if (!ReadCounted(reader, bytes, length)) return false;
        // A NUL inside the name ends it early; the record still spans all M bytes.
        const uint8_t* nameEnd = std::find(bytes, bytes + length, uint8_t{0});
        CNV_ItemHolder entry;
        entry.name.assign(bytes, nameEnd);
        if (!ReadCounted(reader, bytes, length)) return false;
        entry.SetValue(bytes, static_cast<size_t>(length));
        if (IsArrayName(entry.name)) {
            named.Add(entry);
            continue;
        }
        // A file entry carries a second value; both records go in only when
        // both were read whole.
        if (!ReadCounted(reader, bytes, length)) return false;
        CNV_ItemHolder second;
        second.SetValue(bytes, static_cast<size_t>(length));
        named.Add(entry);
        named.Add(second);
    }
    return true;
}

}  // namespace

bool DecodeDuck(const uint8_t* data, size_t size, CNVArray& numbered, CNVArray& named) {
    numbered.RemoveAll();
    named.RemoveAll();
    ByteReader reader(data, size);
    if (DecodeRecords(reader, numbered, named)) return true;
    numbered.RemoveAll();
    named.RemoveAll();
    return false;
}

FlowOutcome LoadDuckFile(const std::string& path, CNVArray& numbered, CNVArray& named) {
    numbered.RemoveAll();
    named.RemoveAll();
    std::vector<uint8_t> bytes;
    if (!ReadFileBytes(path, bytes, kDuckFileMax)) return FlowOutcome::Failure(Cause::FileMissing);
    if (!DecodeDuck(bytes.data(), bytes.size(), numbered, named)) return FlowOutcome::Failure(Cause::FileDamaged);
    return FlowOutcome::Success();
}

}  // namespace fennix
