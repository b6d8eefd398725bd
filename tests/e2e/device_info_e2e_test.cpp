// ReadDeviceInfo end to end: the export over a pseudo-terminal against a
// virtual device whose identity the knobs and options set.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fennix/fennix.h"
#include "simulator/SimulatorFixture.h"

namespace fennix {
namespace {

class DeviceInfoE2E : public ::testing::Test {
protected:
    void SetUp() override { setenv("FENNIX_TIME_SCALE", "0.05", 1); }
    void TearDown() override { unsetenv("FENNIX_TIME_SCALE"); }

    // The result of ReadDeviceInfo on a new session over the device.
    static int32_t Read(sim::CScopedDevice& device, FennixDeviceInfo& info, uint32_t size = sizeof(FennixDeviceInfo)) {
        EXPECT_TRUE(device.Ok()) << device.Error();
        FennixHandle session = SetComPort(device.Path().c_str());
        EXPECT_NE(nullptr, session);
        std::memset(&info, 0x55, sizeof info);
        info.size = size;
        const int32_t result = ReadDeviceInfo(session, &info);
        Close(session);
        return result;
    }
};

TEST_F(DeviceInfoE2E, DiagDeviceGivesTheIdentityItsSettingsMake) {
    sim::DeviceOptions o = sim::DiagDevice("K7M01");
    o.knobs["id.esn"] = 0x8A1B2C3D;
    o.knobs["id.imei"] = 490154203237519;  // the check digit would be 8
    o.knobs["id.meid"] = 0xA1000012345678;
    o.buildIdTail = "-BUILD9";
    o.model = "MODEL-77";
    o.compileDate = "Dec 01 2008";
    o.compileTime = "12:34:56";
    o.releaseDate = "Dec 02 2008";
    o.releaseTime = "01:02:03";
    o.versionDirectory = "gvd1234";
    sim::CScopedDevice device(o);
    FennixDeviceInfo info;
    ASSERT_EQ(1, Read(device, info));
    EXPECT_EQ(FENNIX_MODE_DIAG, info.mode);
    EXPECT_EQ(1, info.group);
    EXPECT_STREQ("8A1B2C3D", info.esn);
    EXPECT_STREQ("490154203237519", info.imei);
    EXPECT_EQ(0, info.imeiValid);
    EXPECT_STREQ("A1000012345678", info.meid);
    EXPECT_STREQ("Dec 01 2008", info.compileDate);
    EXPECT_STREQ("12:34:56", info.compileTime);
    EXPECT_STREQ("Dec 02 2008", info.releaseDate);
    EXPECT_STREQ("01:02:03", info.releaseTime);
    EXPECT_STREQ("gvd1234", info.versionDir);
    EXPECT_STREQ("K7M01-BUILD9", info.buildId);
    EXPECT_STREQ("MODEL-77", info.model);
}

TEST_F(DeviceInfoE2E, AtDeviceWithoutMeidStillAnswers) {
    sim::DeviceOptions o = sim::QuickOptions(sim::DeviceMode::At);
    o.knobs["nv.refuse-item"] = 1943;
    sim::CScopedDevice device(o);
    FennixDeviceInfo info;
    // An older caller's structure ends after the MEID: nothing past it is written.
    ASSERT_EQ(1, Read(device, info, offsetof(FennixDeviceInfo, compileDate)));
    EXPECT_EQ(FENNIX_MODE_AT, info.mode);
    EXPECT_STREQ("", info.meid);
    EXPECT_EQ(15u, std::strlen(info.imei));
    EXPECT_EQ(1, info.imeiValid);
    EXPECT_EQ(0x55, static_cast<unsigned char>(info.compileDate[0]));

    FennixDeviceInfo tooSmall;
    EXPECT_EQ(-1, Read(device, tooSmall, offsetof(FennixDeviceInfo, meid)));
}

TEST_F(DeviceInfoE2E, DownloadDeviceIsLeftWhereItIs) {
    sim::CScopedDevice device(sim::QuickOptions(sim::DeviceMode::Download));
    FennixDeviceInfo info;
    ASSERT_EQ(1, Read(device, info));
    EXPECT_EQ(FENNIX_MODE_DOWNLOAD, info.mode);
    EXPECT_EQ(-1, info.group);
    EXPECT_STREQ("", info.esn);
    EXPECT_STREQ("", info.buildId);
    EXPECT_EQ(0u, device->Recording().Requests(sim::DeviceMode::Diag, 0x7C).size());
}

}  // namespace
}  // namespace fennix
