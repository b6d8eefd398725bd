#include "InputFile.h"

#include <filesystem>
#include <fstream>

namespace fennix::cli {

namespace fs = std::filesystem;

std::string InputFileProblem(const std::string& path, uint64_t limit) {
    std::error_code error;
    if (!fs::is_regular_file(path, error)) return path + " does not exist or is not a file";
    const uint64_t size = fs::file_size(path, error);
    if (error || !std::ifstream(path, std::ios::binary)) return "cannot read " + path;
    if (size > limit)
        return path + " has " + std::to_string(size) + " bytes; the most it may have is " + std::to_string(limit);
    return {};
}

bool ReadInputFile(const std::string& path, uint64_t limit, std::vector<uint8_t>* bytes, std::string* error) {
    bytes->clear();
    *error = InputFileProblem(path, limit);
    if (!error->empty()) return false;
    std::ifstream in(path, std::ios::binary);
    constexpr size_t kBlock = 64 * 1024;
    while (in && bytes->size() <= limit) {
        const size_t at = bytes->size();
        bytes->resize(at + kBlock);
        in.read(reinterpret_cast<char*>(bytes->data() + at), kBlock);
        bytes->resize(at + static_cast<size_t>(in.gcount()));
    }
    if (bytes->size() > limit) {
        *error = path + " grew past " + std::to_string(limit) + " bytes while it was read";
    } else if (in.bad()) {
        *error = "cannot read " + path;
    }
    if (error->empty()) return true;
    bytes->clear();
    return false;
}

}  // namespace fennix::cli
