// Whole-file reads and safe replacement of files: the one reader the engine
// has, for the NV files (CSV, BRT, duck) and the download's files (HEX
// programmer, partition table, image headers) alike. In a folder of its own
// because both download/ and nv/ use it and neither may include the other.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "platform/File.h"

namespace fennix {

// Replaces `bytes` with what is left of the open file, up to its end or until
// more than `limit` bytes were read (the caller tells a file too large by the
// size it gets). False on a read error; `bytes` then holds what came before.
bool ReadToEnd(platform::File& file, std::vector<uint8_t>& bytes, size_t limit = std::numeric_limits<size_t>::max());

// The most any file the engine reads whole may hold; each format has its own,
// smaller limit (BrtFile.h, CsvItemList.h, DuckFile.h).
constexpr size_t kFileBytesMax = size_t{256} << 20;

// Reads the whole file, letting others open it as `share` allows. False when
// it cannot be opened or read, is no regular file (a FIFO, a device), or holds
// more than `limit` bytes: nothing beyond the limit is ever held in memory.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes, size_t limit = kFileBytesMax,
                   platform::Share share = platform::Share::Read);

// Replaces `path` with `bytes` without ever leaving a half-written file there:
// the bytes go to a file of this call's own beside it first (PendingFilePrefix,
// a random part and ".part", created exclusively), which is moved over `path` only once
// it is complete and flushed. Callers replacing the same path at once each
// land one whole file; the last to move wins. On failure `path` is left as it
// was and the file beside it is removed.
bool ReplaceFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

// "<path>.<process id>.": what every pending file of this process for `path`
// begins with, so that a process ending early can remove its own and leave
// those of other processes writing the same path alone.
std::string PendingFilePrefix(const std::string& path);

}  // namespace fennix
