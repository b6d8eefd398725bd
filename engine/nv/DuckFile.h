// The duck file: a prepared set of NV items and device files. Little-endian
// records up to the end of the file, no header:
//   numbered: item number (not -1), length L, L value bytes
//   named:    -1, name length M, M name bytes, L1, L1 bytes and, unless the
//             name is an ARRAY name, L2 and L2 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "flow/FlowEvents.h"
#include "nv/NvItem.h"

namespace fennix {

constexpr int32_t kDuckNamedRecord = -1;
// Every item number with a 130-byte ARRAY value (9 MiB) and some 800 device
// files of the largest length a file write carries (65,535 bytes).
constexpr size_t kDuckFileMax = size_t{64} << 20;

// An entry name whose first '#'-separated field is exactly "ARRAY" names an NV
// item written as an ARRAY entry; its second field is the item number.
bool IsArrayName(const std::string& name);
// The item number of an ARRAY name; 0 when the name has no second field.
int32_t ArrayItemNumber(const std::string& name);

// Fills `numbered` with the numbered records and `named` with the named ones
// (a file entry gives two records in a row: the name with the file's contents,
// then an unnamed record with the second value). Both lists are emptied first.
// Returns false when the data stops inside a record or holds a negative
// length; both lists are then left empty, so nothing of a damaged file is sent.
bool DecodeDuck(const uint8_t* data, size_t size, CNVArray& numbered, CNVArray& named);

// LoadDuckFile: succeeds when the file was read to its end; fails with
// FileMissing when it cannot be read and FileDamaged when it is damaged (the
// lists are then empty).
FlowOutcome LoadDuckFile(const std::string& path, CNVArray& numbered, CNVArray& named);

}  // namespace fennix
