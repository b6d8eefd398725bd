// The item list of a backup as the library reads it (a header line, then
// "name;number" lines), read again here only to show the person what it
// says: which items will be asked for, and which lines become item 0 because
// their number field has no digit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fennix::cli {

struct ListedItem {
    int line = 0;  // 1-based line of the file
    std::string text;
    int64_t number = 0;
    bool numbered = false;  // the number field starts with a digit (after blanks and a sign)
};

std::vector<ListedItem> ReadItemList(const std::string& text);

// "4 items to read: 65546 550 21 30" and, for each line read as item 0
// without a digit, "line 3 ("wide;x") has no item number: read as item 0".
std::vector<std::string> DescribeItemList(const std::vector<ListedItem>& items);

}  // namespace fennix::cli
