// AT command mode (DS): echoes what the host types and answers each command
// line at its carriage return. Garbage in front of the "AT" of a line is
// ignored, as modems do, so binary bytes echoed from an earlier probe do not
// spoil the next command.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace fennix::sim {

class CAtInterpreter {
public:
    struct Line {
        std::string command;  // from "AT" on, as typed (empty: no AT in the line)
        std::string answer;   // text to send after the echo
        bool switchToDiag = false;
        bool echoOff = false;
        bool echoOn = false;
    };

    // Takes one byte; true when it ended a line, whose outcome is in *line.
    bool Feed(uint8_t byte, Line* line);
    void Reset() { pending_.clear(); }

    // The answer to one command line (upper or lower case).
    static Line Evaluate(const std::string& command);

private:
    std::string pending_;
};

}  // namespace fennix::sim
