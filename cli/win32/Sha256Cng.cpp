#include <windows.h>
#include <bcrypt.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "Sha256.h"

namespace fennix::cli {

namespace {
struct AlgorithmCloser {
    void operator()(void* h) const { BCryptCloseAlgorithmProvider(h, 0); }
};
struct HashCloser {
    void operator()(void* h) const { BCryptDestroyHash(h); }
};
}  // namespace

std::string Sha256OfFile(const std::string& path, std::string* error) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) {
        if (error) *error = "cannot read " + path;
        return {};
    }
    BCRYPT_ALG_HANDLE algorithmHandle = nullptr;
    if (BCryptOpenAlgorithmProvider(&algorithmHandle, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) {
        if (error) *error = "SHA-256 is not available";
        return {};
    }
    std::unique_ptr<void, AlgorithmCloser> algorithm(algorithmHandle);
    BCRYPT_HASH_HANDLE hashHandle = nullptr;
    if (BCryptCreateHash(algorithmHandle, &hashHandle, nullptr, 0, nullptr, 0, 0) < 0) {
        if (error) *error = "SHA-256 is not available";
        return {};
    }
    std::unique_ptr<void, HashCloser> hash(hashHandle);
    std::vector<unsigned char> buffer(1 << 16);
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0)
        BCryptHashData(hashHandle, buffer.data(), static_cast<ULONG>(n), 0);
    if (std::ferror(file.get())) {
        if (error) *error = "cannot read " + path;
        return {};
    }
    unsigned char digest[32];
    BCryptFinishHash(hashHandle, digest, sizeof digest, 0);
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned char byte : digest) {
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
    }
    return text;
}

}  // namespace fennix::cli
