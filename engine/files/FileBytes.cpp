#include "files/FileBytes.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <random>

namespace fennix {

namespace {

constexpr int kPendingNameAttempts = 16;

// A name no other writer of the same file uses: random, with a counter and
// the clock mixed in so that a weak random source still gives distinct names.
std::string PendingCandidate(const std::string& path) {
    static std::atomic<uint64_t> counter{0};
    std::random_device random;
    const uint64_t tick = static_cast<uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    const uint64_t token =
        (static_cast<uint64_t>(random()) << 32 ^ random()) ^ tick ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, "%016llx.part", static_cast<unsigned long long>(token));
    return PendingFilePrefix(path) + suffix;
}

// Creates the pending file beside `path` exclusively, so that no other
// session's bytes can end up in it. Empty name when none could be made.
std::string CreatePendingFile(const std::string& path, platform::File& file) {
    for (int attempt = 0; attempt < kPendingNameAttempts; ++attempt) {
        std::string candidate = PendingCandidate(path);
        if (file.Open(candidate, platform::OpenMode::WriteCreateNew, platform::Share::None) == 0) return candidate;
    }
    return {};
}

}  // namespace

bool ReadToEnd(platform::File& file, std::vector<uint8_t>& bytes, size_t limit) {
    constexpr size_t kBlock = 64 * 1024;
    bytes.clear();
    while (bytes.size() <= limit) {
        const size_t at = bytes.size();
        bytes.resize(at + kBlock);
        const int64_t got = file.Read(bytes.data() + at, kBlock);
        bytes.resize(at + static_cast<size_t>(got > 0 ? got : 0));
        if (got < 0) return false;
        if (got == 0) return true;
    }
    return true;
}

std::string PendingFilePrefix(const std::string& path) {
    return path + "." + std::to_string(platform::CurrentProcessId()) + ".";
}

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes, size_t limit, platform::Share share) {
    bytes.clear();
    platform::File file;
    if (file.Open(path, platform::OpenMode::Read, share) != 0) return false;
    const int64_t size = file.Size();
    if (size < 0 || static_cast<uint64_t>(size) > limit) return false;
    // The size is checked again after the read: the file may grow meanwhile.
    const bool read = ReadToEnd(file, bytes, limit) && bytes.size() <= limit;
    if (!read) bytes.clear();
    return read;
}

bool ReplaceFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::string pending;
    {
        platform::File file;
        pending = CreatePendingFile(path, file);
        if (pending.empty()) return false;
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
