// Small helpers for writing and comparing byte strings in the tests.
#pragma once

#include <cstdint>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace fennix::sim::test {

using Bytes = std::vector<uint8_t>;

// "61 74 0D" -> {0x61, 0x74, 0x0D}
inline Bytes Hex(const std::string& text) {
    Bytes out;
    std::istringstream in(text);
    std::string token;
    while (in >> token) out.push_back(static_cast<uint8_t>(std::stoul(token, nullptr, 16)));
    return out;
}

inline Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

inline Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline std::string ToHex(const Bytes& bytes) {
    std::string out;
    char hex[4];
    for (uint8_t b : bytes) {
        std::snprintf(hex, sizeof hex, "%02X ", b);
        out += hex;
    }
    if (!out.empty()) out.pop_back();
    return out;
}

// The host's mode probe: "at\r" in DIAG form, then the download no-operation
// in DIAG form.
inline Bytes Probe() { return Hex("61 74 0D 1C D5 7E 06 4E 95 7E"); }

}  // namespace fennix::sim::test
