// Reads arbitrary text as a programmer file, block by block as the uploader
// does, into a buffer of exactly one block so that any overrun is caught.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <random>
#include <string>

#include "download/HexFile.h"
#include "platform/File.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// The file each input is written to, removed when the fuzzer exits.
struct ScratchFile {
    ScratchFile() {
        std::random_device random;
        // Rewriting a file once per input is cheap in memory, slow on a disk.
        std::filesystem::path folder = "/dev/shm";
        std::error_code error;
        if (!std::filesystem::is_directory(folder, error)) folder = std::filesystem::temp_directory_path();
        path = (folder / ("fennix_hex_fuzz_" + std::to_string(random()) + ".hex")).string();
    }
    ~ScratchFile() { fennix::platform::RemoveFile(path); }
    std::string path;
};

const std::string& ScratchPath() {
    static const ScratchFile scratch;
    return scratch.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    {
        fennix::platform::File out;
        if (out.Open(ScratchPath(), fennix::platform::OpenMode::WriteTruncate) != 0) return 0;
        if (!out.Write(data, size)) return 0;
    }
    fennix::CHexFile hex;
    if (hex.Open(ScratchPath()) == 0) return 0;
    auto block = std::make_unique<uint8_t[]>(fennix::CHexFile::kBlockSize);
    // Every full block consumes at least three characters of the file.
    for (size_t calls = 0; calls <= size; ++calls) {
        const uint32_t n = hex.ReadData(block.get());
        Check(n <= fennix::CHexFile::kBlockSize);
        if (n < fennix::CHexFile::kBlockSize) return 0;
    }
    Check(false);  // the reader never came to an end
    return 0;
}
