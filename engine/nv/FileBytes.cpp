#include "nv/FileBytes.h"

#include "platform/File.h"

namespace fennix {

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes) {
    bytes.clear();
    platform::File file;
    if (file.Open(path, platform::OpenMode::Read, platform::Share::Read) != 0) return false;
    uint8_t block[16384];
    for (;;) {
        const int64_t got = file.Read(block, sizeof block);
        if (got < 0) return false;
        if (got == 0) return true;
        bytes.insert(bytes.end(), block, block + got);
    }
}

std::string PendingFileName(const std::string& path) { return path + ".part"; }

bool ReplaceFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    const std::string pending = PendingFileName(path);
    {
        platform::File file;
        if (file.Open(pending, platform::OpenMode::WriteTruncate, platform::Share::None) != 0) return false;
        const bool written = (bytes.empty() || file.Write(bytes.data(), bytes.size())) && file.Flush();
        file.Close();
        if (!written) {
            platform::RemoveFile(pending);
            return false;
        }
    }
    if (platform::RenameOver(pending, path) != 0) {
        platform::RemoveFile(pending);
        return false;
    }
    return true;
}

}  // namespace fennix
