// Feeds arbitrary bytes to the BRT reader; whatever it reads whole must write
// back as the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "nv/BrtFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fennix::BrtContents contents = fennix::DecodeBrt(data, size);
    if (!contents.complete) return 0;
    if (contents.records.size() != static_cast<size_t>(contents.count)) abort();
    const auto encoded = fennix::EncodeBrt(contents.records);
    if (encoded.size() > size || std::memcmp(encoded.data(), data, encoded.size()) != 0) abort();
    return 0;
}
