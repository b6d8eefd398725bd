#include "platform/File.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fennix::platform {

int File::Open(const std::string& path, OpenMode mode, Share /*share*/) {
    Close();
    int flags = O_CLOEXEC;
    switch (mode) {
        // Non-blocking, so that a FIFO without a writer is refused below
        // instead of holding the caller in open().
        case OpenMode::Read: flags |= O_RDONLY | O_NONBLOCK; break;
        case OpenMode::ReadWriteTruncate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
        case OpenMode::ReadWriteOpenOrCreate: flags |= O_RDWR | O_CREAT; break;
        case OpenMode::WriteTruncate: flags |= O_WRONLY | O_CREAT | O_TRUNC; break;
        case OpenMode::WriteCreateNew: flags |= O_WRONLY | O_CREAT | O_EXCL; break;
    }
    int fd = ::open(path.c_str(), flags, 0644);
    if (fd < 0) return errno;
    if (mode == OpenMode::Read) {
        // Input files are read to their end: a device or a pipe has none.
        struct stat st {};
        const int refused = ::fstat(fd, &st) != 0  ? errno
                            : S_ISDIR(st.st_mode)  ? EISDIR
                            : !S_ISREG(st.st_mode) ? EINVAL
                                                   : 0;
        if (refused != 0 || ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0) {
            ::close(fd);
            return refused != 0 ? refused : errno;
        }
    }
    handle_ = fd;
    return 0;
}

int64_t File::Read(void* buffer, size_t count) {
    if (!IsOpen()) return -1;
    for (;;) {
        ssize_t n = ::read(static_cast<int>(handle_), buffer, count);
        if (n >= 0) return n;
        if (errno != EINTR) return -1;
    }
}

bool File::Write(const void* data, size_t count) {
    if (!IsOpen()) return false;
    const auto* p = static_cast<const unsigned char*>(data);
    while (count > 0) {
        ssize_t n = ::write(static_cast<int>(handle_), p, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

int64_t File::Seek(int64_t offset, Whence whence) {
    if (!IsOpen()) return -1;
    int w = whence == Whence::Begin ? SEEK_SET : whence == Whence::Current ? SEEK_CUR : SEEK_END;
    off_t pos = ::lseek(static_cast<int>(handle_), static_cast<off_t>(offset), w);
    return pos < 0 ? -1 : static_cast<int64_t>(pos);
}

int64_t File::Size() const {
    if (!IsOpen()) return -1;
    struct stat st {};
    if (::fstat(static_cast<int>(handle_), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool File::Flush() {
    if (!IsOpen()) return false;
    return ::fsync(static_cast<int>(handle_)) == 0;
}

void File::Close() {
    if (IsOpen()) {
        ::close(static_cast<int>(handle_));
        handle_ = kInvalid;
    }
}

int RenameOver(const std::string& from, const std::string& to) {
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

int RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 ? 0 : errno; }

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

unsigned long CurrentProcessId() { return static_cast<unsigned long>(::getpid()); }

}  // namespace fennix::platform
