// The parts of File that do not touch the system: ownership of the handle.
// Built on every system beside the system's own File.cpp.
#include "platform/File.h"

namespace fennix::platform {

File::~File() { Close(); }

File::File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = kInvalid; }

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        other.handle_ = kInvalid;
    }
    return *this;
}

}  // namespace fennix::platform
