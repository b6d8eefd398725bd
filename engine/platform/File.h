// Byte-oriented file access for the engine: the log file, programmer and image
// files, CSV/BRT/duck files. One implementation per operating system.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fennix::platform {

enum class OpenMode {
    Read,                   // existing regular file (or a link to one), read only
    ReadWriteTruncate,      // create anew, discarding an existing file
    ReadWriteOpenOrCreate,  // open an existing file or create it
    WriteTruncate,          // create anew for writing only
    WriteCreateNew,         // create for writing only; fails when the file exists
};

// What other processes may do with the file while it is open. Windows honours
// this; POSIX systems have no mandatory sharing and ignore it.
enum class Share { None, Read, ReadWrite };

enum class Whence { Begin, Current, End };

class File {
public:
    File() = default;
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;

    // Returns 0 or the system error number.
    int Open(const std::string& path, OpenMode mode, Share share = Share::Read);
    bool IsOpen() const { return handle_ != kInvalid; }
    // Bytes read (0 at the end of the file), or -1 on error.
    int64_t Read(void* buffer, size_t count);
    // True when every byte was written.
    bool Write(const void* data, size_t count);
    // New position from the start, or -1 on error.
    int64_t Seek(int64_t offset, Whence whence);
    // File size in bytes, or -1 on error.
    int64_t Size() const;
    bool Flush();
    void Close();

private:
    static constexpr intptr_t kInvalid = -1;
    intptr_t handle_ = kInvalid;
};

// Moves `from` over `to`, replacing `to` in one step where the system allows it.
// Returns 0 or the system error number.
int RenameOver(const std::string& from, const std::string& to);
// Returns 0 or the system error number.
int RemoveFile(const std::string& path);
bool FileExists(const std::string& path);
// The calling process's id: part of the names of its own temporary files.
unsigned long CurrentProcessId();

}  // namespace fennix::platform
