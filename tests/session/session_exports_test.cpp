// The exported session functions on a missing session, and a session made by
// SetComPort on a port that is not there.
#include <gtest/gtest.h>

#include "session/SessionBench.h"
#include "fennix/fennix.h"

namespace fennix::test {
namespace {

TEST(Exports, MissingSessionIsHarmless) {
    EXPECT_EQ(0, Close(nullptr));
    EXPECT_EQ(-1, SetSkipCheck(nullptr));
    EXPECT_EQ(-1, SetHexFile(nullptr, "x"));
    EXPECT_EQ(-1, StartDownload(nullptr));
    EXPECT_EQ(-1, SetCallBack(nullptr, RecordLine));
    EXPECT_EQ(-1, SetMbnFile(nullptr, "", "", "", "", "", "", "", "", "", ""));
}

TEST(Exports, EmptyPortNameReportsTwoLinesAndFails) {
    RecordedLines().clear();
    FennixHandle session = SetComPort(nullptr);
    ASSERT_NE(nullptr, session);
    EXPECT_EQ(0, SetCallBack(session, RecordLine));
    EXPECT_EQ(1, SetHexFile(session, "prg.hex"));
    EXPECT_EQ(0, SetMbnFile(session, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                            nullptr));
    EXPECT_EQ(0, SetSkipCheck(session));
    EXPECT_EQ(-1, StartDownload(session));
    EXPECT_EQ((std::vector<Line>{{"Please Select ComPort..", 0}, {"Open ComPort Failed!!", -1}}), RecordedLines());
    EXPECT_EQ(0, Close(session));
}

}  // namespace
}  // namespace fennix::test
