// The live line on narrow terminals: the stage stays readable.
#include <gtest/gtest.h>

#include "LiveLine.h"

namespace fennix::cli {
namespace {

const LiveLineParts kWriting{"/dev/serial/by-path/pci-0000:00:14.0-usb-0:2.4:1.0-port0",
                             "352099001761481",
                             0.45,
                             "0:12",
                             "812 kB/s",
                             "writing AMSS 45%"};

TEST(LiveLine, EightyColumnsKeepTheWholeStageOfALongPortPath) {
    const std::string port = PortBaseName(kWriting.port);
    EXPECT_EQ(port, "pci-0000:00:14.0-usb-0:2.4:1.0-port0");
    const std::string line = LayOutLiveLine(kWriting, static_cast<int>(port.size()), 80, 15);
    EXPECT_LE(line.size(), 79u) << line;
    EXPECT_NE(line.find("writing AMSS 45%"), std::string::npos) << line;
    EXPECT_NE(line.find("1.0-port0"), std::string::npos) << line;  // the end, where a bench's sockets differ
    EXPECT_NE(line.find(" 45%"), std::string::npos) << line;
}

TEST(LiveLine, WideTerminalsShowTheFullBarAndName) {
    const LiveLineParts parts{"/dev/ttyUSB0", "", 0.5, "0:03", "", "programmer"};
    const std::string line = LayOutLiveLine(parts, 7, 200);
    EXPECT_EQ(line.rfind("ttyUSB0 [##########..........]  50%", 0), 0u) << line;
    EXPECT_EQ(line.substr(line.size() - 10), "programmer");
}

// The IMEI beside a short port name at 80 columns; at 60 it gives way to the stage.
TEST(LiveLine, DeviceStandsBesideThePortWhileTheStageKeepsItsRoom) {
    LiveLineParts parts = kWriting;
    parts.port = "/dev/ttyUSB0";
    parts.text = "writing OEMSBL 100%";
    const std::string wide = LayOutLiveLine(parts, 7, 80, 15);
    EXPECT_EQ(wide.rfind("ttyUSB0 352099001761481 [", 0), 0u) << wide;
    EXPECT_EQ(wide.substr(wide.size() - 19), "writing OEMSBL 100%") << wide;
    EXPECT_LE(wide.size(), 79u) << wide;
    const std::string narrow = LayOutLiveLine(parts, 7, 60, 15);
    EXPECT_EQ(narrow.find("352099001761481"), std::string::npos) << narrow;
    EXPECT_EQ(narrow.substr(narrow.size() - 19), "writing OEMSBL 100%") << narrow;
    // A shorter name is padded to the run's device column, so that the bars line up.
    parts.device = "ESN 8A1B2C3D";
    EXPECT_EQ(LayOutLiveLine(parts, 7, 80, 15).find('['), wide.find('['));
}

}  // namespace
}  // namespace fennix::cli
