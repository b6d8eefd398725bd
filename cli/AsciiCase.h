// Letter case of the ASCII letters only: port names, file names, platform IDs
// and hex digits, whose case carries no meaning, compared and shown whatever
// the user's locale.
#pragma once

#include <cctype>
#include <string>

namespace fennix::cli {

inline std::string AsciiUpper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

inline std::string AsciiLower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

inline bool EqualIgnoringCase(const std::string& a, const std::string& b) { return AsciiUpper(a) == AsciiUpper(b); }

}  // namespace fennix::cli
