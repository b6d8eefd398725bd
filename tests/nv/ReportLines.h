// The lines a flow reports to the operator, as tests collect and compare them.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace fennix::test {

struct Line {
    std::string text;
    int32_t status;
    bool operator==(const Line& o) const { return text == o.text && status == o.status; }
};
inline std::ostream& operator<<(std::ostream& os, const Line& l) {
    return os << '"' << l.text << "\" (" << l.status << ')';
}
using Lines = std::vector<Line>;

// The progress callback is a plain function: it appends to the list a test
// names here (and drops lines while none is named).
inline Lines*& CollectingInto() {
    static Lines* lines = nullptr;
    return lines;
}
inline void CollectLine(const char* text, int32_t status) {
    if (CollectingInto()) CollectingInto()->push_back({text, status});
}

}  // namespace fennix::test
