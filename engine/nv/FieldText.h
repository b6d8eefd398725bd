// Field splitting and number reading shared by the CSV item list, the duck
// file's entry names and device file paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fennix {

struct TextField {
    std::string text;
    size_t offset;  // where the field starts in the split text
};

// Splits at `separator`. A run of separators counts as one and separators at
// either end are skipped, so an empty field is never produced.
std::vector<TextField> SplitFieldsAt(const std::string& text, char separator);
std::vector<std::string> SplitFields(const std::string& text, char separator);

// Reads a decimal number the way item numbers are written by hand: leading
// white space is skipped, an optional sign and the digits after it are read,
// and reading stops at the first other character. No digits gives 0; a value
// beyond the 32-bit range is clamped to it.
int32_t ParseDecimalField(const std::string& field);

}  // namespace fennix
