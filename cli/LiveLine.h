// The layout of one port's live line on a terminal: port, device, bar,
// percent, elapsed time, rate, then the stage (or the failure). The stage is
// what a person reads, so on a narrow terminal the device, the port name and
// the bar give way to it first.
#pragma once

#include <string>

namespace fennix::cli {

struct LiveLineParts {
    std::string port;     // as given; shown by its last path component
    std::string device;   // who the device is (its IMEI); empty when not known
    double fraction = 0;  // of the whole flow, 0 to 1
    std::string elapsed;  // "1:05"
    std::string rate;     // "840 kB/s" or empty
    std::string text;     // the stage ("writing AMSS 45%") or the failure line
};

// The last component of a port path: "ttyUSB0" of "/dev/ttyUSB0", the link's
// own name of a "/dev/serial/by-path/..." path.
std::string PortBaseName(const std::string& port);

// One line of at most `width - 1` characters (the last column is left free so
// that the terminal does not wrap). `portWidth`: the column of the port names
// (the longest base name of the run), so that the bars line up; `deviceWidth`
// likewise the longest device name (0: no device column).
std::string LayOutLiveLine(const LiveLineParts& parts, int portWidth, int width, int deviceWidth = 0);

}  // namespace fennix::cli
