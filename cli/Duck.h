// Checking a duck file for `nv-import` before a port is opened. The layout
// (little-endian records up to the end of the file, no header):
//   numbered: item number (not -1), length L, L value bytes
//   named:    -1, name length M, M name bytes, L1, L1 bytes and, unless the
//             name is an ARRAY name, L2 and L2 bytes.
// The library refuses a damaged file whole without saying where; this reader
// finds the record and the field that break it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fennix::cli {

// Where and why the bytes stop being a duck file ("record 12 (item 550) at
// byte 3456: the value's length 70000 runs past the end of the file (65000
// bytes)"); empty for a whole file.
std::string DuckDamage(const std::vector<uint8_t>& bytes);

// False with `error` set when the file cannot be read at all; otherwise
// `damage` as DuckDamage gives it.
bool CheckDuck(const std::string& path, std::string* damage, std::string* error);

}  // namespace fennix::cli
