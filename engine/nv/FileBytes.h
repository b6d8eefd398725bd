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
// the bytes go to a file of this call's own beside it first (`path`, a random
// part and ".part", created exclusively), which is moved over `path` only once
// it is complete and flushed. Callers replacing the same path at once each
// land one whole file; the last to move wins. On failure `path` is left as it
// was and the file beside it is removed.
bool ReplaceFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace fennix
