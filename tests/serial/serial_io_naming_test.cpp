// Port numbers, device paths and log names of the serial channel.
#include <gtest/gtest.h>

#include <string>

#include "log/Log.h"
#include "log/log_test_fixture.h"
#include "platform/SerialPortTable.h"
#include "serial/SerialIO.h"
#include "serial_io_channel.h"
#include "serial_io_device.h"

namespace fennix {
namespace {

TEST(SerialIONaming, PortNumberIsTheNumberAfterTheFirstM) {
    EXPECT_EQ(12u, CSerialIO::ParsePortNumber("com12"));
    EXPECT_EQ(12u, CSerialIO::ParsePortNumber("COM12"));
    EXPECT_EQ(3u, CSerialIO::ParsePortNumber("COM3 (USB)"));
    EXPECT_EQ(7u, CSerialIO::ParsePortNumber("\\\\.\\COM7"));
    // Digits end at the first non-digit; an M without digits gives 0.
    EXPECT_EQ(4u, CSerialIO::ParsePortNumber("COM4X5"));
    EXPECT_EQ(0u, CSerialIO::ParsePortNumber("COMX"));
    EXPECT_EQ(0u, CSerialIO::ParsePortNumber("XMM3"));  // the first M is followed by M
    EXPECT_EQ(0u, CSerialIO::ParsePortNumber("/dev/ttyUSB0"));
    EXPECT_EQ(0u, CSerialIO::ParsePortNumber(""));
    EXPECT_EQ(0u, CSerialIO::ParsePortNumber(nullptr));
}

TEST(SerialIONaming, OnlyTheFirstFifteenCharactersCount) {
    // Of "xxxxxxCOM123456789" only "xxxxxxCOM123456" is looked at.
    EXPECT_EQ(123456u, CSerialIO::ParsePortNumber("xxxxxxCOM123456789"));
    EXPECT_EQ(1234u, CSerialIO::ParsePortNumber("xxxxxxxxCOM12345"));
    // A number too large for any port is no port.
    EXPECT_EQ(0u, CSerialIO::ParsePortNumber("COM99999999999"));
}

#if defined(_WIN32)
TEST(SerialIONaming, PortsFromTenOnAreOpenedThroughTheDevicePath) {
    auto nine = platform::NameSerialPort("com9", 9);
    EXPECT_EQ("COM9", nine.devicePath);
    EXPECT_EQ("COM9", nine.shortName);
    auto ten = platform::NameSerialPort("COM10", 10);
    EXPECT_EQ("\\\\.\\COM10", ten.devicePath);
    EXPECT_EQ("COM10", ten.shortName);
}
#else
TEST(SerialIONaming, PortsAreNamedByDevicePathAndLoggedByItsLastComponent) {
    auto usb = platform::NameSerialPort("/dev/ttyUSB0", 0);
    EXPECT_EQ("/dev/ttyUSB0", usb.devicePath);
    EXPECT_EQ("ttyUSB0", usb.shortName);
    auto link = platform::NameSerialPort("/tmp/fennix-sim/port3", 3);
    EXPECT_EQ("/tmp/fennix-sim/port3", link.devicePath);
    EXPECT_EQ("port3", link.shortName);
    auto bare = platform::NameSerialPort("ttyACM2", 0);
    EXPECT_EQ("/dev/ttyACM2", bare.devicePath);
    EXPECT_EQ("ttyACM2", bare.shortName);
}
#endif

class SerialIONamingLog : public testsupport::LogFileTest {};

TEST_F(SerialIONamingLog, OpenNamesThePortAndItsLogLines) {
    StartWith(5);
#if defined(_WIN32)
    const char* given = "com10";
    const std::string path = "\\\\.\\COM10", name = "COM10";
#else
    const char* given = "/nonexistent/fennix/ttyQC10";
    const std::string path = given, name = "ttyQC10";
#endif
    {
        testsupport::RecordingChannel channel;
        EXPECT_EQ(ChannelResult::Ok, channel.Open(given, 115200));
        EXPECT_EQ(path, channel.DevicePath());
        EXPECT_EQ(name, channel.PortName());
        // The port does not exist: the listener keeps looking for it.
        EXPECT_TRUE(testsupport::Eventually([&] { return channel.Count(kNotifyStart) == 1; }, 5000));
        EXPECT_EQ(kPhoneModeUnknown, channel.GetPhoneMode());
        EXPECT_FALSE(channel.IsPortOpen());
        EXPECT_EQ(ChannelResult::Ok, channel.Close());
    }
    EndLog();
    bool sawNotFound = false;
    for (const auto& line : ReadLines()) {
        if (line.rest.find(name + "\tCSerialIO::InternalOpen\tCOM port is not found in the Registry.") !=
            std::string::npos) {
            sawNotFound = true;
        }
    }
    EXPECT_TRUE(sawNotFound);
}

}  // namespace
}  // namespace fennix
