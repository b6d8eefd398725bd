#include "console/LogColour.h"

#include <cstring>

namespace tarnwell {

namespace {

bool ContainsAfterFirst(const char* text, const char* word) {
    return text[0] != '\0' && std::strstr(text + 1, word) != nullptr;
}

}  // namespace

ListColour ColourAfterLine(const char* entryText) {
    if (entryText == nullptr) return ListColour::Unchanged;
    if (ContainsAfterFirst(entryText, "Process Success")) return ListColour::Grey;
    if (ContainsAfterFirst(entryText, "Failed")) return ListColour::Red;
    return ListColour::Unchanged;
}

}  // namespace tarnwell
