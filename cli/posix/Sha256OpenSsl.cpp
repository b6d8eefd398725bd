#include <openssl/evp.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "Sha256.h"

namespace fennix::cli {

std::string Sha256OfFile(const std::string& path, std::string* error) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
    if (!file) {
        if (error) *error = "cannot read " + path;
        return {};
    }
    std::unique_ptr<EVP_MD_CTX, void (*)(EVP_MD_CTX*)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        if (error) *error = "SHA-256 is not available";
        return {};
    }
    std::vector<unsigned char> buffer(1 << 16);
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0)
        EVP_DigestUpdate(context.get(), buffer.data(), n);
    if (std::ferror(file.get())) {
        if (error) *error = "cannot read " + path;
        return {};
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_DigestFinal_ex(context.get(), digest, &length);
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

}  // namespace fennix::cli
