#include "platform/File.h"

#include <windows.h>

namespace fennix::platform {

namespace {
HANDLE AsHandle(intptr_t h) { return reinterpret_cast<HANDLE>(h); }
}  // namespace

int File::Open(const std::string& path, OpenMode mode, Share share) {
    Close();
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    switch (mode) {
        case OpenMode::Read: break;
        case OpenMode::ReadWriteTruncate:
            access |= GENERIC_WRITE;
            disposition = CREATE_ALWAYS;
            break;
        case OpenMode::ReadWriteOpenOrCreate:
            access |= GENERIC_WRITE;
            disposition = OPEN_ALWAYS;
            break;
        case OpenMode::WriteTruncate:
            access = GENERIC_WRITE;
            disposition = CREATE_ALWAYS;
            break;
        case OpenMode::WriteCreateNew:
            access = GENERIC_WRITE;
            disposition = CREATE_NEW;
            break;
    }
    DWORD shareMode = 0;
    if (share == Share::Read) shareMode = FILE_SHARE_READ;
    if (share == Share::ReadWrite) shareMode = FILE_SHARE_READ | FILE_SHARE_WRITE;
    HANDLE h = CreateFileA(path.c_str(), access, shareMode, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return static_cast<int>(GetLastError());
    // Input files are read to their end: a console, a pipe or a port has none.
    if (mode == OpenMode::Read && GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        return ERROR_INVALID_FUNCTION;
    }
    handle_ = reinterpret_cast<intptr_t>(h);
    return 0;
}

int64_t File::Read(void* buffer, size_t count) {
    if (!IsOpen()) return -1;
    DWORD done = 0;
    DWORD want = count > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<DWORD>(count);
    if (!ReadFile(AsHandle(handle_), buffer, want, &done, nullptr)) return -1;
    return done;
}

bool File::Write(const void* data, size_t count) {
    if (!IsOpen()) return false;
    const auto* p = static_cast<const unsigned char*>(data);
    while (count > 0) {
        DWORD chunk = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
        DWORD done = 0;
        if (!WriteFile(AsHandle(handle_), p, chunk, &done, nullptr) || done == 0) return false;
        p += done;
        count -= done;
    }
    return true;
}

int64_t File::Seek(int64_t offset, Whence whence) {
    if (!IsOpen()) return -1;
    DWORD method = whence == Whence::Begin ? FILE_BEGIN : whence == Whence::Current ? FILE_CURRENT : FILE_END;
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER position;
    if (!SetFilePointerEx(AsHandle(handle_), distance, &position, method)) return -1;
    return position.QuadPart;
}

int64_t File::Size() const {
    if (!IsOpen()) return -1;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(AsHandle(handle_), &size)) return -1;
    return size.QuadPart;
}

bool File::Flush() { return IsOpen() && FlushFileBuffers(AsHandle(handle_)) != 0; }

void File::Close() {
    if (IsOpen()) {
        CloseHandle(AsHandle(handle_));
        handle_ = kInvalid;
    }
}

int RenameOver(const std::string& from, const std::string& to) {
    // While another writer is moving its own file over `to`, or a reader has
    // it open, the move is refused for a moment: try again for up to a second.
    constexpr int kAttempts = 100;
    DWORD error = 0;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return 0;
        error = GetLastError();
        if (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) break;
        Sleep(10);
    }
    return static_cast<int>(error);
}

int RemoveFile(const std::string& path) { return DeleteFileA(path.c_str()) ? 0 : static_cast<int>(GetLastError()); }

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

unsigned long CurrentProcessId() { return GetCurrentProcessId(); }

}  // namespace fennix::platform
