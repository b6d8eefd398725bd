// The live line on narrow terminals: the stage stays readable.
#include <gtest/gtest.h>

#include "LiveLine.h"

namespace fennix::cli {
namespace {

const LiveLineParts kWriting{"/dev/serial/by-path/pci-0000:00:14.0-usb-0:2.4:1.0-port0", 0.45, "0:12", "812 kB/s",
                             "writing AMSS 45%"};

TEST(LiveLine, EightyColumnsKeepTheWholeStageOfALongPortPath) {
    const std::string port = PortBaseName(kWriting.port);
    EXPECT_EQ(port, "pci-0000:00:14.0-usb-0:2.4:1.0-port0");
    const std::string line = LayOutLiveLine(kWriting, static_cast<int>(port.size()), 80);
    EXPECT_LE(line.size(), 79u) << line;
    EXPECT_NE(line.find("writing AMSS 45%"), std::string::npos) << line;
    EXPECT_NE(line.find("1.0-port0"), std::string::npos) << line;  // the end, where a bench's sockets differ
    EXPECT_NE(line.find(" 45%"), std::string::npos) << line;
}

TEST(LiveLine, WideTerminalsShowTheFullBarAndName) {
    const LiveLineParts parts{"/dev/ttyUSB0", 0.5, "0:03", "", "programmer"};
    const std::string line = LayOutLiveLine(parts, 7, 200);
    EXPECT_EQ(line.rfind("ttyUSB0 [##########..........]  50%", 0), 0u) << line;
    EXPECT_EQ(line.substr(line.size() - 10), "programmer");
}

}  // namespace
}  // namespace fennix::cli
