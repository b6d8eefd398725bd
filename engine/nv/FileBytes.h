// Whole-file reads and safe replacement for the NV files (CSV, BRT, duck).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fennix {

// Reads the whole file, sharing it with other readers. False when it cannot
// be opened or read.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes);

// Replaces `path` with `bytes` without ever leaving a half-written file there:
// the bytes go to a file beside it first, which is moved over `path` only once
// it is complete and flushed. On failure `path` is left as it was and the file
// beside it is removed.
bool ReplaceFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// The name of the file beside `path` that ReplaceFileBytes writes first.
std::string PendingFileName(const std::string& path);

}  // namespace fennix
