// The text of log lines: tags, the three forms, dumps, system errors, cuts.
#include <string>
#include <thread>
#include <vector>

#include "log/LogFormat.h"
#include "log_test_fixture.h"
#include "platform/SystemError.h"

namespace fennix::testsupport {
namespace {

const LogLineParts* FindLine(const std::vector<LogLineParts>& lines, const std::string& rest) {
    for (const auto& l : lines)
        if (l.rest == rest) return &l;
    return nullptr;
}

TEST_F(LogFileTest, EachFormCarriesItsTagAndFields) {
    StartWith(5);
    EXPECT_EQ(1, LogLine(kLogDebug, "value %d", 42));
    EXPECT_EQ(1, LogFuncLine(kLogWarning, "CSerialIO::InternalOpen", "opened %s", "COM5"));
    EXPECT_EQ(1, LogPortLine(kLogError, "COM5", "CSerCOMLibrary::TxRx", "sent %u bytes", 7u));
    EXPECT_EQ(1, LogFuncLine(kLogNormal, "InternalChange2DL6280", "%s", ""));
    EndLog();
    const auto lines = ReadLines();
    ASSERT_EQ(8u, lines.size());
    EXPECT_EQ("<DBG>", lines[2].tag);
    EXPECT_EQ("value 42", lines[2].rest);
    // The function line has a blank in front of its message, the port line none.
    EXPECT_EQ("<WRN>", lines[3].tag);
    EXPECT_EQ("CSerialIO::InternalOpen\t opened COM5", lines[3].rest);
    EXPECT_EQ("<!ER>", lines[4].tag);
    EXPECT_EQ("COM5\tCSerCOMLibrary::TxRx\tsent 7 bytes", lines[4].rest);
    EXPECT_EQ("<NML>", lines[5].tag);
    EXPECT_EQ("InternalChange2DL6280\t ", lines[5].rest);
}

TEST_F(LogFileTest, LevelsWithoutATagStartWithTheTab) {
    StartWith(5);
    EXPECT_EQ(1, LogLine(2, "two"));
    EXPECT_EQ(1, LogPortLine(4, "COM1", "F", "four"));
    EndLog();
    const std::string raw = ReadRaw();
    EXPECT_NE(std::string::npos, raw.find("\r\n\t")) << raw;
    const auto lines = ReadLines();
    ASSERT_NE(nullptr, FindLine(lines, "two"));
    EXPECT_EQ("", FindLine(lines, "two")->tag);
    ASSERT_NE(nullptr, FindLine(lines, "COM1\tF\tfour"));
    EXPECT_EQ("", FindLine(lines, "COM1\tF\tfour")->tag);
}

TEST_F(LogFileTest, NullNamesAreEmptyFields) {
    StartWith(5);
    EXPECT_EQ(1, LogPortLine(kLogError, nullptr, nullptr, "m"));
    EndLog();
    EXPECT_NE(nullptr, FindLine(ReadLines(), "\t\tm"));
}

TEST_F(LogFileTest, HexDumpsShowUppercaseDigitsAndTheirCount) {
    StartWith(5);
    const uint8_t bytes[] = {0x7E, 0x02, 0xab};
    EXPECT_EQ(1, LogHexDump(kLogDebug, bytes, sizeof bytes));
    EXPECT_EQ(1, LogPortHexDump(kLogWarning, "COM5", "CSerialIO::WriteBuffer", bytes, 2));
    EXPECT_EQ(1, LogHexDump(kLogDebug, bytes, 0));
    EndLog();
    const auto lines = ReadLines();
    const LogLineParts* plain = FindLine(lines, "The 3 bytes buffer content is: 7E 02 AB ");
    ASSERT_NE(nullptr, plain);
    EXPECT_EQ("<DBG>", plain->tag);
    const LogLineParts* port = FindLine(lines, "COM5\tCSerialIO::WriteBuffer\tThe 2 bytes buffer content is: 7E 02 ");
    ASSERT_NE(nullptr, port);
    EXPECT_EQ("<WRN>", port->tag);
    EXPECT_NE(nullptr, FindLine(lines, "The 0 bytes buffer content is: "));
}

TEST_F(LogFileTest, FilteredHexDumpsWriteNothing) {
    StartWith(1);
    const uint8_t bytes[] = {1};
    EXPECT_EQ(0, LogHexDump(kLogDebug, bytes, 1));
    // The port form counts a filtered dump as written.
    EXPECT_EQ(1, LogPortHexDump(kLogDebug, "COM5", "F", bytes, 1));
    EndLog();
    EXPECT_EQ(4u, ReadLines().size());
}

TEST_F(LogFileTest, LongDumpIsClippedAndItsLineCutWithoutLineEnd) {
    StartWith(5);
    std::vector<uint8_t> bytes(5000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(1, LogHexDump(kLogDebug, bytes.data(), bytes.size()));
    EndLog();
    const std::string raw = ReadRaw();
    const size_t start = raw.find("<DBG>\t");
    ASSERT_NE(std::string::npos, start);
    // The closing banner follows the 4096 bytes of the cut line directly.
    ASSERT_GT(raw.size(), start + 4096 + 6);
    EXPECT_EQ("<NML>\t", raw.substr(start + 4096, 6));
    const std::string line = raw.substr(start, 4096);
    EXPECT_EQ(std::string::npos, line.find('\r'));
    const std::string head = "\tThe 4096 bytes buffer content is: ";
    const size_t digits = line.find(head);
    ASSERT_NE(std::string::npos, digits);
    const std::string shown = line.substr(digits + head.size());
    EXPECT_EQ(logformat::HexDigits(bytes.data(), bytes.size()).substr(0, shown.size()), shown);
}

TEST_F(LogFileTest, LinesAreCutAtFourKilobytes) {
    StartWith(1);
    // Tag, timestamp, two TABs and CR LF take 32 bytes.
    EXPECT_EQ(1, LogLine(kLogError, "%s", std::string(4096 - 32, 'a').c_str()));
    EXPECT_EQ(1, LogLine(kLogError, "%s", std::string(4096 - 31, 'b').c_str()));
    EXPECT_EQ(1, LogFuncLine(kLogError, "F", "%s", std::string(6000, 'c').c_str()));
    EndLog();
    const std::string raw = ReadRaw();
    const size_t a = raw.find("aaaa");
    ASSERT_NE(std::string::npos, a);
    EXPECT_EQ(std::string(4096 - 32, 'a') + "\r\n<!ER>", raw.substr(a, 4096 - 32 + 7));
    // One byte too long: the line keeps its CR but loses the LF.
    const size_t b = raw.find("bbbb");
    ASSERT_NE(std::string::npos, b);
    EXPECT_EQ(std::string(4096 - 31, 'b') + "\r<!ER>", raw.substr(b, 4096 - 31 + 6));
    const size_t c = raw.find("\tF\t ccc");
    ASSERT_NE(std::string::npos, c);
    const size_t lineStart = raw.rfind("<!ER>", c);
    EXPECT_EQ("<NML>", raw.substr(lineStart + 4096, 5));
}

TEST_F(LogFileTest, SystemErrorLineCarriesTheSystemsText) {
    const int kFileNotFound = 2;  // the same number on both systems
    const std::string text = platform::SystemErrorText(kFileNotFound);
    ASSERT_FALSE(text.empty());
    StartWith(1);
    EXPECT_EQ(1, LogSystemError("COM5", "CSerialIO::InternalOpen", kFileNotFound));
    EndLog();
    const std::string raw = ReadRaw();
    const std::string expected = "<!ER>\t";
    const size_t at = raw.find("\tCOM5\tCSerialIO::InternalOpen\tThe system error number [2] --> " + text + "\r\n");
    ASSERT_NE(std::string::npos, at) << raw;
    EXPECT_EQ(expected, raw.substr(raw.rfind("\r\n", at) + 2, expected.size()));
}

TEST_F(LogFileTest, SystemErrorWithoutTextOrBelowThresholdWritesNothing) {
    const int kNoSuchError = 0x2FFFFFFF;
    ASSERT_TRUE(platform::SystemErrorText(kNoSuchError).empty());
    StartWith(1);
    EXPECT_EQ(1, LogSystemError("COM5", "F", kNoSuchError));
    EndLog();
    StartWith(0);
    EXPECT_EQ(1, LogSystemError("COM5", "F", 2));
    EndLog();
    EXPECT_EQ(4u, ReadLines().size());
}

TEST_F(LogFileTest, LinesOfConcurrentWritersDoNotMix) {
    StartWith(5);
    constexpr int kThreads = 4;
    constexpr int kLines = 200;
    const std::string padding(300, '.');
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &padding] {
            const std::string port = "COM" + std::to_string(t);
            for (int i = 0; i < kLines; ++i)
                LogPortLine(kLogWarning, port.c_str(), "CSerialIO::ListenerThread", "line %d %s", i, padding.c_str());
        });
    }
    for (auto& th : threads) th.join();
    EndLog();
    const auto lines = ReadLines();
    ASSERT_EQ(4u + kThreads * kLines, lines.size());
    std::vector<int> next(kThreads, 0);
    for (size_t i = 2; i + 2 < lines.size(); ++i) {
        ASSERT_EQ("<WRN>", lines[i].tag);
        int t = lines[i].rest[3] - '0';
        ASSERT_TRUE(t >= 0 && t < kThreads) << lines[i].rest;
        // Each thread's lines arrive whole and in its own order.
        EXPECT_EQ(
            "COM" + std::to_string(t) + "\tCSerialIO::ListenerThread\tline " + std::to_string(next[t]) + " " + padding,
            lines[i].rest);
        ++next[t];
    }
}

}  // namespace
}  // namespace fennix::testsupport
