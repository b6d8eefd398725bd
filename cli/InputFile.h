// The tool's input files: the most each kind may hold, and the check every
// one passes before a port is opened. The limits are the engine's, so that a
// file the tool takes is never one the engine refuses halfway through a run.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fennix::cli {

// Every 16-bit NV item number once with a 128-byte value takes 8.5 MiB; the
// rest leaves room for indexed items of up to 32 KiB.
constexpr uint64_t kBrtFileLimit = 64ull << 20;
// A line of up to 256 bytes for each of the 65,536 item numbers.
constexpr uint64_t kCsvFileLimit = 16ull << 20;
// Every item number with a 130-byte ARRAY value and some 800 device files of
// 65,535 bytes, the most one file write carries.
constexpr uint64_t kDuckFileLimit = 64ull << 20;
// Programmers are tens of kilobytes; the engine takes no HEX file beyond this.
constexpr uint64_t kProgrammerFileLimit = 16ull << 20;

// Why `path` cannot be an input file: it is missing or no regular file (a
// FIFO, a device, a folder; a link to a regular file is fine), cannot be
// read, or holds more than `limit` bytes. Empty when it can.
std::string InputFileProblem(const std::string& path, uint64_t limit);

// The whole file after InputFileProblem found none; false with `error` set
// otherwise, or when the file has grown past `limit` since.
bool ReadInputFile(const std::string& path, uint64_t limit, std::vector<uint8_t>* bytes, std::string* error);

}  // namespace fennix::cli
