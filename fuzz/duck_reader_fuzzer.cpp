// Feeds arbitrary bytes to the duck file reader and to the tool's, which must
// find damage exactly where the engine refuses a file.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "Duck.h"
#include "nv/DuckFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fennix::CNVArray numbered;
    fennix::CNVArray named;
    const bool whole = fennix::DecodeDuck(data, size, numbered, named);
    if (!whole && numbered.Count() + named.Count() != 0) abort();
    if (whole != fennix::cli::DuckDamage(std::vector<uint8_t>(data, data + size)).empty()) abort();
    // Every record costs at least 8 bytes of the file, every value is real.
    size_t bytes = 0;
    for (const auto* list : {&numbered, &named})
        for (const auto& record : *list) {
            if (record.ValueLength() < 0) abort();
            bytes += 4 + record.Value().size();
        }
    if (bytes > size) abort();
    for (const auto& record : numbered)
        if (record.itemNumber == -1) abort();
    return 0;
}
