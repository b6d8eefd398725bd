// A text form of a virtual device's NV memory and file system, so that tests
// and the demo can preload a device from a file and read it back afterwards.
//
//   # comment (also after the words of a line)
//   item <number> plain <hex>              data field, zero-padded to 128 bytes
//   item <number> indexed [<hex> ...]      127 value bytes per index ("-": zeros)
//   item <number> status <status>          every read answers this status
//   ... followed by options: write=<status> plain=<status> end=<status>
//   missing <status>                       the answer for items not listed
//   array <number> <hex>                   an ARRAY entry that was written
//   dir <path>
//   file <path> <hex>                      ("-" for an empty file)
#pragma once

#include <string>

#include "simulator/EfsTree.h"
#include "simulator/NvMemory.h"

namespace fennix::sim {

// Adds what the text describes; false with a message naming the line on error.
bool LoadNvStore(const std::string& text, CNvMemory& nv, CEfsTree& efs, std::string* error);
bool LoadNvStoreFile(const std::string& path, CNvMemory& nv, CEfsTree& efs, std::string* error);

// The text form of the current contents (items in number order).
std::string SaveNvStore(const CNvMemory& nv, const CEfsTree& efs);
bool SaveNvStoreFile(const std::string& path, const CNvMemory& nv, const CEfsTree& efs);

std::string HexOf(const uint8_t* bytes, size_t count);
bool ParseHex(const std::string& text, std::vector<uint8_t>& bytes);

}  // namespace fennix::sim
