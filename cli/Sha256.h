// SHA-256 of a file, from the system's own implementation (OpenSSL's
// libcrypto on Linux, CNG on Windows).
#pragma once

#include <string>

namespace fennix::cli {

// Lower-case hex digest of the file's bytes; empty with `error` set when the
// file cannot be read.
std::string Sha256OfFile(const std::string& path, std::string* error);

}  // namespace fennix::cli
