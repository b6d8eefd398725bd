#include "ItemList.h"

#include <cctype>

namespace fennix::cli {

namespace {

// Fields between ';', empty ones skipped, as the library splits them.
std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    size_t pos = 0;
    while (pos < line.size()) {
        if (line[pos] == ';') {
            ++pos;
            continue;
        }
        size_t end = line.find(';', pos);
        if (end == std::string::npos) end = line.size();
        fields.push_back(line.substr(pos, end - pos));
        pos = end;
    }
    return fields;
}

// Leading blanks, a sign, then decimal digits: the library's reading of a number.
bool ReadNumber(const std::string& field, int64_t* number) {
    size_t pos = 0;
    while (pos < field.size() && std::isspace(static_cast<unsigned char>(field[pos]))) ++pos;
    bool negative = false;
    if (pos < field.size() && (field[pos] == '+' || field[pos] == '-')) negative = field[pos++] == '-';
    if (pos >= field.size() || !std::isdigit(static_cast<unsigned char>(field[pos]))) return false;
    int64_t value = 0;
    for (; pos < field.size() && std::isdigit(static_cast<unsigned char>(field[pos])) && value < (1ll << 32); ++pos)
        value = value * 10 + (field[pos] - '0');
    *number = negative ? -value : value;
    return true;
}

}  // namespace

std::vector<ListedItem> ReadItemList(const std::string& text) {
    std::vector<ListedItem> items;
    size_t pos = 0;
    int line = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        const bool hasEnd = end != std::string::npos;
        if (!hasEnd) end = text.size();
        std::string content = text.substr(pos, end - pos);
        if (hasEnd && !content.empty() && content.back() == '\r') content.pop_back();
        pos = hasEnd ? end + 1 : end;
        if (++line == 1) continue;  // the header
        const std::vector<std::string> fields = Fields(content);
        if (fields.empty()) continue;
        ListedItem item;
        item.line = line;
        item.text = content;
        item.numbered = fields.size() > 1 && ReadNumber(fields[1], &item.number);
        items.push_back(std::move(item));
    }
    return items;
}

std::vector<std::string> DescribeItemList(const std::vector<ListedItem>& items) {
    std::string numbers;
    for (const auto& item : items) numbers += " " + std::to_string(item.number);
    std::vector<std::string> lines{std::to_string(items.size()) + (items.size() == 1 ? " item" : " items") +
                                   " to read" + (items.empty() ? "" : ":" + numbers)};
    for (const auto& item : items)
        if (!item.numbered)
            lines.push_back("line " + std::to_string(item.line) + " (\"" + item.text +
                            "\") has no item number: read as item 0");
    return lines;
}

}  // namespace fennix::cli
