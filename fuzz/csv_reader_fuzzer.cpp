// Feeds arbitrary text to the CSV item list reader.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "nv/CsvItemList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    size_t lines = 0;
    for (char c : text) lines += c == '\n';
    const auto items = fennix::ParseCsvItemList(text);
    // At most one item per line after the header, and never an empty name or
    // one holding a separator or a line end.
    if (items.size() > lines) abort();
    for (const auto& item : items)
        if (item.name.empty() || item.name.find(';') != std::string::npos || item.name.find('\n') != std::string::npos)
            abort();
    return 0;
}
