// A whole download by the Windows build, under Wine, through Fennix.dll's
// exports, against a virtual device behind a Wine COM port (see
// download_wine_test.sh, which then compares what the device holds with the
// files). The port comes in FENNIX_WINE_DL_PORT; files are made in the current
// folder.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "fennix/fennix.h"

namespace {

struct Line {
    std::string text;
    int32_t status;
};
std::vector<Line> gLines;
void Collect(const char* text, int32_t status) { gLines.push_back({text, status}); }

std::vector<uint8_t> Bytes(size_t n, uint32_t seed) {
    std::vector<uint8_t> out(n);
    uint32_t x = seed * 2654435761u + 7;
    for (auto& b : out) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    return out;
}

void WriteFile(const char* name, const std::vector<uint8_t>& bytes) {
    std::ofstream out(name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::string HexRecord(size_t count, unsigned address, unsigned type, const uint8_t* data) {
    char digits[16];
    unsigned sum = static_cast<unsigned>(count) + (address >> 8) + (address & 0xFF) + type;
    std::snprintf(digits, sizeof digits, ":%02X%04X%02X", static_cast<unsigned>(count), address, type);
    std::string line = digits;
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", data[i]);
        line += digits;
        sum += data[i];
    }
    std::snprintf(digits, sizeof digits, "%02X\r\n", (0x100 - (sum & 0xFF)) & 0xFF);
    return line + digits;
}

TEST(DownloadUnderWine, FlashesTheVirtualDeviceThroughTheDll) {
    const char* port = std::getenv("FENNIX_WINE_DL_PORT");
    ASSERT_NE(nullptr, port) << "FENNIX_WINE_DL_PORT is not set";

    const std::vector<uint8_t> programmer = Bytes(3000, 1);
    WriteFile("programmer.expected", programmer);
    const uint8_t segment[2] = {0x00, 0x10};
    std::string hex = HexRecord(2, 0, 4, segment);
    for (size_t at = 0; at < programmer.size(); at += 32)
        hex += HexRecord(std::min<size_t>(32, programmer.size() - at), static_cast<unsigned>(at), 0, &programmer[at]);
    hex += HexRecord(0, 0, 1, nullptr);
    WriteFile("NPRG6280.HEX", std::vector<uint8_t>(hex.begin(), hex.end()));
    WriteFile("partition.mbn", Bytes(200, 2));
    WriteFile("qcsblhd_cfgdata.mbn", Bytes(700, 3));
    WriteFile("qcsbl.mbn", Bytes(5000, 4));
    WriteFile("oemsblhd.mbn", Bytes(40, 5));
    WriteFile("oemsbl.mbn", Bytes(8192, 6));
    WriteFile("amsshd.mbn", Bytes(40, 7));
    WriteFile("amss.mbn", Bytes(200000, 8));
    WriteFile("cefs.mbn", Bytes(3000, 9));

    FennixHandle session = SetComPort(port);
    ASSERT_NE(nullptr, session);
    EXPECT_EQ(0, SetCallBack(session, Collect));
    EXPECT_EQ(1, SetHexFile(session, "NPRG6280.HEX"));
    EXPECT_EQ(0, SetMbnFile(session, "partition.mbn", "", "", "qcsblhd_cfgdata.mbn", "qcsbl.mbn", "oemsblhd.mbn",
                            "oemsbl.mbn", "amsshd.mbn", "amss.mbn", "cefs.mbn"));
    EXPECT_EQ(1, StartDownload(session));
    EXPECT_EQ(0, Close(session));

    ASSERT_GE(gLines.size(), 3u);
    for (const auto& l : gLines)
        if (l.text.find("% completed.") == std::string::npos) std::printf("  %s\n", l.text.c_str());
    EXPECT_EQ("Reset !! Please Wait....", gLines[gLines.size() - 3].text);
    EXPECT_EQ("", gLines[gLines.size() - 2].text);  // the power-on check passed
    EXPECT_EQ("Download Process Success!!", gLines.back().text);
    for (const auto& l : gLines) EXPECT_EQ(0, l.status) << l.text;
}

}  // namespace
