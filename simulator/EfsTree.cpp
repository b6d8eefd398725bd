#include "simulator/EfsTree.h"

#include <algorithm>

namespace fennix::sim {

namespace {

constexpr uint16_t kProbe = 19;
constexpr uint16_t kOpen = 2;
constexpr uint16_t kWrite = 5;
constexpr uint16_t kClose = 3;
constexpr uint16_t kMkdir = 9;

constexpr uint32_t kNoEntry = 2;       // ENOENT
constexpr uint32_t kBadHandle = 9;     // EBADF
constexpr uint32_t kExists = 17;       // EEXIST
constexpr uint32_t kIsDirectory = 21;  // EISDIR
constexpr uint32_t kInvalid = 22;      // EINVAL
constexpr uint32_t kTooBig = 27;       // EFBIG
constexpr size_t kFileSizeMax = 1u << 20;
constexpr uint32_t kCreate = 0x40;
constexpr uint32_t kTruncate = 0x200;
constexpr uint32_t kFailed = 0xFFFFFFFF;

uint32_t Le32(const std::vector<uint8_t>& bytes, size_t at) {
    if (bytes.size() < at + 4) return 0;
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (static_cast<uint32_t>(bytes[at + 3]) << 24);
}

std::vector<uint8_t> Head(uint16_t code) {
    return {75, 19, static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8)};
}

void Put32(std::vector<uint8_t>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// The NUL-terminated path starting at `at`; the whole rest without a NUL.
std::string PathAt(const std::vector<uint8_t>& request, size_t at) {
    if (at >= request.size()) return {};
    auto end = std::find(request.begin() + static_cast<long>(at), request.end(), uint8_t{0});
    return std::string(request.begin() + static_cast<long>(at), end);
}

}  // namespace

std::string CEfsTree::Normalize(const std::string& path) {
    std::string out;
    size_t pos = 0;
    while (pos < path.size()) {
        if (path[pos] == '/') {
            ++pos;
            continue;
        }
        size_t end = path.find('/', pos);
        if (end == std::string::npos) end = path.size();
        if (!out.empty()) out += '/';
        out += path.substr(pos, end - pos);
        pos = end;
    }
    return out;
}

bool CEfsTree::HasDirectory(const std::string& path) const {
    const std::string normalized = Normalize(path);
    return normalized.empty() || directories.count(normalized) != 0;
}

bool CEfsTree::ParentExists(const std::string& normalized) const {
    const size_t slash = normalized.rfind('/');
    return slash == std::string::npos || directories.count(normalized.substr(0, slash)) != 0;
}

std::optional<std::vector<uint8_t>> CEfsTree::Answer(const std::vector<uint8_t>& request) {
    if (request.size() < 4 || request[0] != 75 || request[1] != 19) return std::nullopt;
    const uint16_t code = static_cast<uint16_t>(request[2] | (request[3] << 8));
    std::vector<uint8_t> answer;
    switch (code) {
        case kProbe:
            answer = Head(kProbe);
            Put32(answer, probeError);
            break;
        case kOpen: answer = Open(request); break;
        case kWrite: answer = WriteAt(request); break;
        case kClose: answer = CloseHandle(request); break;
        case kMkdir: answer = MakeDirectory(request); break;
        default: return std::nullopt;
    }
    ++requests[code];
    return answer;
}

std::vector<uint8_t> CEfsTree::Open(const std::vector<uint8_t>& request) {
    std::vector<uint8_t> answer = Head(kOpen);
    const uint32_t flags = Le32(request, 4);
    const std::string path = Normalize(PathAt(request, 12));
    uint32_t error = 0;
    if (openFailures > 0) {
        --openFailures;
        error = kNoEntry;
    } else if (request.size() < 13 || path.empty()) {
        error = kInvalid;
    } else if (directories.count(path) != 0) {
        error = kIsDirectory;
    } else if (!ParentExists(path)) {
        error = kNoEntry;
    } else if (files.count(path) == 0 && (flags & kCreate) == 0) {
        error = kNoEntry;
    }
    if (error != 0) {
        Put32(answer, kFailed);
        Put32(answer, error);
        return answer;
    }
    auto& contents = files[path];
    if (flags & kTruncate) contents.clear();
    const uint32_t handle = nextHandle_++;
    open_[handle] = path;
    Put32(answer, handle);
    Put32(answer, 0);
    return answer;
}

std::vector<uint8_t> CEfsTree::WriteAt(const std::vector<uint8_t>& request) {
    const uint32_t handle = Le32(request, 4);
    const uint32_t offset = Le32(request, 8);
    std::vector<uint8_t> answer = Head(kWrite);
    Put32(answer, handle);
    Put32(answer, offset);
    auto found = open_.find(handle);
    if (request.size() < 12 || found == open_.end()) {
        Put32(answer, kFailed);
        Put32(answer, kBadHandle);
        return answer;
    }
    auto& contents = files[found->second];
    const size_t count = request.size() - 12;
    if (offset > kFileSizeMax || offset + count > kFileSizeMax) {
        Put32(answer, kFailed);
        Put32(answer, kTooBig);
        return answer;
    }
    if (contents.size() < offset + count) contents.resize(offset + count);
    std::copy(request.begin() + 12, request.end(), contents.begin() + offset);
    Put32(answer, static_cast<uint32_t>(count));
    Put32(answer, 0);
    return answer;
}

std::vector<uint8_t> CEfsTree::CloseHandle(const std::vector<uint8_t>& request) {
    std::vector<uint8_t> answer = Head(kClose);
    Put32(answer, open_.erase(Le32(request, 4)) != 0 ? 0 : kBadHandle);
    return answer;
}

std::vector<uint8_t> CEfsTree::MakeDirectory(const std::vector<uint8_t>& request) {
    std::vector<uint8_t> answer = Head(kMkdir);
    const std::string path = Normalize(PathAt(request, 6));
    uint32_t error = 0;
    if (request.size() < 7 || path.empty() || directories.count(path) != 0 || files.count(path) != 0)
        error = kExists;
    else if (!ParentExists(path))
        error = kNoEntry;
    else
        directories.insert(path);
    Put32(answer, error);
    return answer;
}

}  // namespace fennix::sim
