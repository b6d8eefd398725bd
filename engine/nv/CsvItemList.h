// The CSV item list that names the NV items of a backup: a header line, then
// one item per line as "name;number[;anything...]".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fennix {

// A line of up to 256 bytes for each of the 65,536 item numbers.
constexpr size_t kCsvFileMax = size_t{16} << 20;

struct CsvItem {
    std::string name;
    int32_t itemNumber = 0;
};

// Parses the whole text of a list. Lines end with LF or CR LF; the last line
// needs no line end. The first line is a header and is ignored. A line with no
// field at all (empty, or ';' only) names no item and is left out.
std::vector<CsvItem> ParseCsvItemList(const std::string& text);

}  // namespace fennix
