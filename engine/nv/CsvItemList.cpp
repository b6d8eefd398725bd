#include "nv/CsvItemList.h"

#include "nv/FieldText.h"

namespace fennix {

namespace {

// Calls `onLine` for every line of `text` with its line end removed.
template <typename OnLine>
void ForEachLine(const std::string& text, OnLine onLine) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        const bool hasEnd = end != std::string::npos;
        if (!hasEnd) end = text.size();
        size_t length = end - pos;
        if (hasEnd && length > 0 && text[end - 1] == '\r') --length;
        onLine(text.substr(pos, length));
        pos = hasEnd ? end + 1 : end;
    }
}

}  // namespace

std::vector<CsvItem> ParseCsvItemList(const std::string& text) {
    std::vector<CsvItem> items;
    bool header = true;
    ForEachLine(text, [&](const std::string& line) {
        if (header) {
            header = false;
            return;
        }
        const std::vector<std::string> fields = SplitFields(line, ';');
        if (fields.empty()) return;
        CsvItem item;
        item.name = fields[0];
        item.itemNumber = fields.size() > 1 ? ParseDecimalField(fields[1]) : 0;
        items.push_back(std::move(item));
    });
    return items;
}

}  // namespace fennix
