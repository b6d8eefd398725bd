// Reading the serial transport's port lines back from the diagnostic log.
#pragma once

#include <string>
#include <vector>

#include "../log/log_test_fixture.h"

namespace fennix::testsupport {

// Tag and everything after the timestamp of each line. The empty lines that
// follow system error texts are left out.
inline std::vector<LogLineParts> ParseLogLines(const std::string& raw) {
    std::vector<LogLineParts> lines;
    size_t start = 0;
    while (start < raw.size()) {
        size_t end = raw.find("\r\n", start);
        if (end == std::string::npos) end = raw.size();
        const std::string line = raw.substr(start, end - start);
        start = end + 2;
        size_t tab1 = line.find('\t');
        size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
        if (tab2 != std::string::npos) lines.push_back({line.substr(0, tab1), line.substr(tab2 + 1)});
    }
    return lines;
}

// Counts the lines of `tag` whose port field is followed by
// `functionAndMessage` ("Function\tMessage").
inline size_t CountPortLines(const std::vector<LogLineParts>& lines, const std::string& tag,
                             const std::string& functionAndMessage) {
    const std::string tail = "\t" + functionAndMessage;
    size_t n = 0;
    for (const auto& line : lines) {
        if (line.tag == tag && line.rest.size() > tail.size() &&
            line.rest.compare(line.rest.size() - tail.size(), tail.size(), tail) == 0)
            ++n;
    }
    return n;
}

}  // namespace fennix::testsupport
