#include "nv/FieldText.h"

#include <limits>

namespace fennix {

std::vector<TextField> SplitFieldsAt(const std::string& text, char separator) {
    std::vector<TextField> fields;
    size_t pos = 0;
    while (pos < text.size()) {
        if (text[pos] == separator) {
            ++pos;
            continue;
        }
        size_t end = text.find(separator, pos);
        if (end == std::string::npos) end = text.size();
        fields.push_back(TextField{text.substr(pos, end - pos), pos});
        pos = end;
    }
    return fields;
}

std::vector<std::string> SplitFields(const std::string& text, char separator) {
    std::vector<std::string> out;
    for (auto& field : SplitFieldsAt(text, separator)) out.push_back(std::move(field.text));
    return out;
}

namespace {
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
}  // namespace

int32_t ParseDecimalField(const std::string& field) {
    size_t pos = 0;
    while (pos < field.size() && IsBlank(field[pos])) ++pos;
    bool negative = false;
    if (pos < field.size() && (field[pos] == '+' || field[pos] == '-')) {
        negative = field[pos] == '-';
        ++pos;
    }
    // Accumulate the magnitude with a ceiling just past the 32-bit range so
    // long digit runs cannot overflow.
    const int64_t ceiling = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
    int64_t magnitude = 0;
    for (; pos < field.size() && field[pos] >= '0' && field[pos] <= '9'; ++pos) {
        magnitude = magnitude * 10 + (field[pos] - '0');
        if (magnitude > ceiling) magnitude = ceiling;
    }
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (value < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(value);
}

}  // namespace fennix
