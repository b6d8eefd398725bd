// A fixture that points the daily log at a private file in the temp folder and
// reads back what was written.
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "fennix/fennix.h"
#include "log/Log.h"
#include "log_settings_helper.h"
#include "platform/File.h"
#include "platform/Time.h"

namespace fennix::testsupport {

// One line of the log split into its tag, its checked timestamp and the rest.
struct LogLineParts {
    std::string tag;
    std::string rest;  // everything after the timestamp's TAB, without CR LF
};

inline bool IsTimestamp(const std::string& s) {
    // yyyy-mm-dd hh:mm:ss:mmm
    static const char kShape[] = "dddd-dd-dd dd:dd:dd:ddd";
    if (s.size() != sizeof kShape - 1) return false;
    for (size_t i = 0; i < s.size(); ++i) {
        bool digit = std::isdigit(static_cast<unsigned char>(s[i])) != 0;
        if (kShape[i] == 'd' ? !digit : s[i] != kShape[i]) return false;
    }
    return true;
}

class LogFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        EndLog();
        ClearLogSettings();
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        prefix_ = ::testing::TempDir() + "fennix_" + info->name() + "_";
        SetLogApp(prefix_);
        path_ = PathFor(prefix_);
        platform::RemoveFile(path_);
    }

    void TearDown() override {
        EndLog();
        ClearLogSettings();
        platform::RemoveFile(path_);
    }

    static std::string PathFor(const std::string& prefix) {
        platform::LocalTime t = platform::NowLocal();
        char date[32];
        std::snprintf(date, sizeof date, "%04d%02d%02d.log", t.year, t.month, t.day);
        return prefix + date;
    }

    // Threshold and append option keep their last values between openings, so
    // tests that rely on them state them.
    void StartWith(uint32_t level, uint32_t append = 0) {
        SetLogLevel(level);
        SetLogAppend(append);
        ASSERT_EQ(0, StartLog());
    }

    std::string ReadRaw() const {
        platform::File f;
        if (f.Open(path_, platform::OpenMode::Read, platform::Share::ReadWrite) != 0) return {};
        std::string text;
        char chunk[4096];
        for (;;) {
            int64_t n = f.Read(chunk, sizeof chunk);
            if (n <= 0) break;
            text.append(chunk, static_cast<size_t>(n));
        }
        return text;
    }

    // Lines split at CR LF; every line's tag and timestamp are checked.
    std::vector<LogLineParts> ReadLines() const {
        std::vector<LogLineParts> lines;
        const std::string raw = ReadRaw();
        size_t start = 0;
        while (start < raw.size()) {
            size_t end = raw.find("\r\n", start);
            if (end == std::string::npos) end = raw.size();
            const std::string line = raw.substr(start, end - start);
            start = end + 2;
            size_t tab1 = line.find('\t');
            size_t tab2 = tab1 == std::string::npos ? tab1 : line.find('\t', tab1 + 1);
            EXPECT_NE(std::string::npos, tab2) << line;
            if (tab2 == std::string::npos) continue;
            EXPECT_TRUE(IsTimestamp(line.substr(tab1 + 1, tab2 - tab1 - 1))) << line;
            lines.push_back({line.substr(0, tab1), line.substr(tab2 + 1)});
        }
        return lines;
    }

    std::vector<std::string> ReadMessages() const {
        std::vector<std::string> messages;
        for (const auto& l : ReadLines()) messages.push_back(l.rest);
        return messages;
    }

    std::string prefix_;
    std::string path_;
};

inline const std::string kAsterisks(79, '*');

}  // namespace fennix::testsupport
