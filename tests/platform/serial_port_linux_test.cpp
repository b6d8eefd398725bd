// The terminal-device serial port and the tty table of Linux.
#if defined(__linux__)
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "platform/SerialPort.h"
#include "platform/SerialPortTable.h"

namespace fennix::platform {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// The far end of a pseudo-terminal.
struct Pty {
    Pty() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        grantpt(master);
        unlockpt(master);
        path = ptsname(master);
        termios t{};
        tcgetattr(master, &t);
        cfmakeraw(&t);
        tcsetattr(master, TCSANOW, &t);
    }
    ~Pty() {
        if (master >= 0) close(master);
    }
    Bytes ReadFor(int ms) {
        Bytes out;
        auto end = Clock::now() + std::chrono::milliseconds(ms);
        while (Clock::now() < end) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 5) > 0) {
                uint8_t chunk[256];
                ssize_t n = read(master, chunk, sizeof chunk);
                if (n > 0) out.insert(out.end(), chunk, chunk + n);
            }
        }
        return out;
    }
    void Send(const Bytes& b) { ASSERT_EQ(static_cast<ssize_t>(b.size()), write(master, b.data(), b.size())); }
    int master = -1;
    std::string path;
};

// A port opened and set up as the channel does it.
void OpenAndSetUp(SerialPort& port, const std::string& path, uint32_t readMs) {
    ASSERT_TRUE(port.Open(path).IsOk());
    EXPECT_TRUE(port.SetEventMask().IsOk());
    EXPECT_TRUE(port.SetQueueSizes(4096, 4096).IsOk());
    EXPECT_TRUE(port.Purge().IsOk());
    EXPECT_TRUE(port.ReadSettings().IsOk());
    EXPECT_TRUE(port.WriteSettings(460800).IsOk());
    EXPECT_TRUE(port.WriteTimeouts(readMs).IsOk());
    EXPECT_TRUE(port.CreateWriteSignal().IsOk());
    EXPECT_TRUE(port.CreateReadSignal().IsOk());
}

TEST(SerialPortLinux, SetUpMakesTheTerminalRawAtTheRate) {
    Pty pty;
    SerialPort port;
    OpenAndSetUp(port, pty.path, 100);
    termios t{};
    ASSERT_EQ(0, tcgetattr(pty.master, &t));  // a master reports its terminal's settings
    EXPECT_EQ(static_cast<speed_t>(B460800), cfgetospeed(&t));
    EXPECT_EQ(0u, t.c_lflag & (ICANON | ECHO | ISIG));
    EXPECT_EQ(static_cast<tcflag_t>(CS8), t.c_cflag & CSIZE);
    EXPECT_EQ(0u, t.c_cflag & (PARENB | CSTOPB));
    EXPECT_EQ(0u, t.c_iflag & (IXON | IXOFF | ICRNL));
    EXPECT_EQ(0u, t.c_oflag & OPOST);
    // Binary data passes unchanged both ways.
    const Bytes all = {0x00, 0x0A, 0x0D, 0x11, 0x13, 0x7E, 0x7D, 0x03, 0x1C, 0xFF};
    size_t written = 0;
    ASSERT_TRUE(port.Write(all.data(), all.size(), &written).IsOk());
    EXPECT_EQ(all.size(), written);
    EXPECT_EQ(all, pty.ReadFor(100));
    pty.Send(all);
    uint8_t in[64];
    size_t got = 0;
    Bytes back;
    while (back.size() < all.size()) {
        ASSERT_TRUE(port.Read(in, sizeof in, &got, nullptr).IsOk());
        ASSERT_GT(got, 0u);
        back.insert(back.end(), in, in + got);
    }
    EXPECT_EQ(all, back);
}

TEST(SerialPortLinux, AWrittenRequestSurvivesAPurgeRightAfterIt) {
    // The 6280 download switch writes its command and purges at once.
    Pty pty;
    SerialPort port;
    OpenAndSetUp(port, pty.path, 100);
    const Bytes command = {0x3A, 0xA1, 0x6E, 0x7E};
    ASSERT_TRUE(port.Write(command.data(), command.size(), nullptr).IsOk());
    ASSERT_TRUE(port.Purge().IsOk());
    EXPECT_EQ(command, pty.ReadFor(100));
}

TEST(SerialPortLinux, PurgeDropsUnreadInput) {
    Pty pty;
    SerialPort port;
    OpenAndSetUp(port, pty.path, 50);
    pty.Send({1, 2, 3});
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(port.Purge().IsOk());
    uint8_t in[8];
    size_t got = 9;
    SerialReadFailure failure = SerialReadFailure::Start;
    EXPECT_TRUE(port.Read(in, sizeof in, &got, &failure).IsOk());
    EXPECT_EQ(0u, got);
    EXPECT_EQ(SerialReadFailure::None, failure);
}

// The next read waits for a byte the device sends a moment later, and gets it.
void ExpectReadWaitsForALateByte(SerialPort& port, Pty& pty) {
    std::thread device([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        pty.Send({0x42});
    });
    uint8_t in[8];
    size_t got = 0;
    EXPECT_TRUE(port.Read(in, sizeof in, &got, nullptr).IsOk());
    device.join();
    EXPECT_EQ(1u, got);
    EXPECT_EQ(0x42, in[0]);
}

TEST(SerialPortLinux, ReadReturnsWhatIsWaitingOrNothingAfterTheTimeout) {
    Pty pty;
    SerialPort port;
    OpenAndSetUp(port, pty.path, 80);
    uint8_t in[8];
    size_t got = 9;
    auto start = Clock::now();
    EXPECT_TRUE(port.Read(in, sizeof in, &got, nullptr).IsOk());
    EXPECT_EQ(0u, got);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(75));
    // More waiting than fits: the read takes what fits, the rest stays.
    pty.Send({1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(port.Read(in, sizeof in, &got, nullptr).IsOk());
    EXPECT_EQ(8u, got);
    EXPECT_TRUE(port.Read(in, sizeof in, &got, nullptr).IsOk());
    EXPECT_EQ(2u, got);
    EXPECT_EQ(9, in[0]);
}

TEST(SerialPortLinux, WakeEndsABlockedReadAndDiscardForgetsAnUnusedOne) {
    Pty pty;
    SerialPort port;
    OpenAndSetUp(port, pty.path, 60000);
    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        port.WakeReader();
    });
    uint8_t in[8];
    size_t got = 9;
    auto start = Clock::now();
    EXPECT_TRUE(port.Read(in, sizeof in, &got, nullptr).IsOk());
    waker.join();
    EXPECT_EQ(0u, got);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));

    // A wake-up with no reader would end the next read at once; discarded,
    // the next read waits for its bytes again.
    port.WakeReader();
    port.DiscardWake();
    ExpectReadWaitsForALateByte(port, pty);
}

TEST(SerialPortLinux, WaitForInputReadsNothingAndEndsOnBytesAWakeOrTheTime) {
    Pty pty;
    SerialPort port;
    OpenAndSetUp(port, pty.path, 60000);
    auto start = Clock::now();
    EXPECT_FALSE(port.WaitForInput(40));
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(35));

    pty.Send({1, 2, 3});
    EXPECT_TRUE(port.WaitForInput(5000));
    EXPECT_TRUE(port.WaitForInput(5000)) << "the bytes are still there";
    uint8_t in[8];
    size_t got = 0;
    EXPECT_TRUE(port.Read(in, sizeof in, &got, nullptr).IsOk());
    EXPECT_EQ(3u, got);
    EXPECT_EQ(3, in[2]);

    // A wake ends the wait and is used up by it: the next wait and read wait
    // for bytes again.
    std::thread waker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        port.WakeReader();
    });
    start = Clock::now();
    EXPECT_TRUE(port.WaitForInput(60000));
    waker.join();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(30));
    EXPECT_FALSE(port.WaitForInput(20));
    ExpectReadWaitsForALateByte(port, pty);
}

TEST(SerialPortLinux, AReadAfterAWaitStillReportsAHangUp) {
    auto pty = std::make_unique<Pty>();
    SerialPort port;
    OpenAndSetUp(port, pty->path, 60000);
    pty.reset();  // the device end closes
    EXPECT_TRUE(port.WaitForInput(5000));
    uint8_t in[8];
    size_t got = 0;
    SerialReadFailure failure = SerialReadFailure::None;
    EXPECT_FALSE(port.Read(in, sizeof in, &got, &failure).IsOk());
    EXPECT_EQ(SerialReadFailure::Start, failure);
}

TEST(SerialPortLinux, OpenIsExclusive) {
    Pty pty;
    SerialPort first, second;
    ASSERT_TRUE(first.Open(pty.path).IsOk());
    EXPECT_FALSE(second.Open(pty.path).IsOk());
    EXPECT_FALSE(second.IsOpen());
    EXPECT_TRUE(first.CloseDevice().IsOk());
    EXPECT_TRUE(second.Open(pty.path).IsOk());
}

TEST(SerialPortLinux, NonTerminalsAndMissingDevicesDoNotOpen) {
    SerialPort port;
    EXPECT_FALSE(port.Open("/dev/null").IsOk());
    EXPECT_FALSE(port.Open("/nonexistent/ttyUSB0").IsOk());
    EXPECT_FALSE(port.IsOpen());
    uint8_t in[4];
    size_t got = 0;
    SerialReadFailure failure = SerialReadFailure::None;
    EXPECT_FALSE(port.Read(in, sizeof in, &got, &failure).IsOk());
    EXPECT_EQ(SerialReadFailure::Start, failure);
    EXPECT_FALSE(port.Write(in, 1, nullptr).IsOk());
}

TEST(SerialPortLinux, AHungUpDeviceFailsTheRead) {
    auto pty = std::make_unique<Pty>();
    SerialPort port;
    OpenAndSetUp(port, pty->path, 1000);
    pty.reset();
    uint8_t in[8];
    size_t got = 0;
    SerialReadFailure failure = SerialReadFailure::None;
    EXPECT_FALSE(port.Read(in, sizeof in, &got, &failure).IsOk());
    EXPECT_EQ(SerialReadFailure::Start, failure);
}

TEST(SerialPortLinux, WriteTimesOutWhenTheDeviceReadsNothing) {
    Pty pty;
    SerialPort port;
    OpenAndSetUp(port, pty.path, 50);
    // Fill the terminal's buffers from a second descriptor: the far end
    // never reads, so there is no room left.
    int filler = open(pty.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(filler, 0);
    uint8_t block[1024] = {};
    for (int refused = 0; refused < 5;) {
        // The terminal moves bytes on to the far end's queue in the
        // background: full means refused several times in a row.
        if (write(filler, block, sizeof block) > 0) {
            refused = 0;
        } else {
            ++refused;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    close(filler);
    // 100 bytes may take 1 ms each plus 50 ms.
    Bytes request(100, 0x55);
    size_t written = 0;
    auto start = Clock::now();
    EXPECT_EQ(PortResult::Status::TimedOut, port.Write(request.data(), request.size(), &written).GetStatus());
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(145));
    EXPECT_LT(written, request.size());
}

TEST(SerialPortTableLinux, TerminalsAreRegisteredOtherDevicesNot) {
    Pty pty;
    EXPECT_TRUE(IsSerialPortPresent(pty.path, 0, nullptr));
    std::string link = ::testing::TempDir() + "fennix_port_link";
    unlink(link.c_str());
    ASSERT_EQ(0, symlink(pty.path.c_str(), link.c_str()));
    EXPECT_TRUE(IsSerialPortPresent(link, 0, nullptr));
    unlink(link.c_str());
    EXPECT_FALSE(IsSerialPortPresent("/dev/null", 0, nullptr));
    EXPECT_FALSE(IsSerialPortPresent("/dev/tty", 0, nullptr));
    EXPECT_FALSE(IsSerialPortPresent("/dev/ptmx", 0, nullptr));
    EXPECT_FALSE(IsSerialPortPresent("/nonexistent/ttyUSB0", 0, nullptr));
    EXPECT_FALSE(IsSerialPortPresent("", 0, nullptr));
    EXPECT_FALSE(IsSerialPortPresent(::testing::TempDir(), 0, nullptr));
}

// A fake sysfs tree: class/tty/<name>/device/driver -> .../drivers/<driver>.
class FakeSysfs : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = ::testing::TempDir() + "fennix_sysfs_" + std::to_string(getpid());
        Run("rm -rf '" + root_ + "'");
        Run("mkdir -p '" + root_ + "/class/tty' '" + root_ + "/bus/usb-serial/drivers/qcserial' '" + root_ +
            "/bus/serial/drivers/serial8250'");
        setenv("FENNIX_SYSFS_ROOT", root_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("FENNIX_SYSFS_ROOT");
        Run("rm -rf '" + root_ + "'");
    }
    void AddTty(const std::string& name, const std::string& driver) {
        std::string dir = root_ + "/class/tty/" + name;
        Run("mkdir -p '" + dir + "/device'");
        if (!driver.empty()) {
            std::string bus = driver == "qcserial" ? "usb-serial" : "serial";
            ASSERT_EQ(
                0, symlink((root_ + "/bus/" + bus + "/drivers/" + driver).c_str(), (dir + "/device/driver").c_str()));
        }
    }
    static void Run(const std::string& command) { ASSERT_EQ(0, std::system(command.c_str())); }
    std::string root_;
};

TEST_F(FakeSysfs, TableListsTtysWithADriverInNaturalOrder) {
    AddTty("ttyUSB10", "qcserial");
    AddTty("ttyUSB2", "qcserial");
    AddTty("ttyS0", "serial8250");
    AddTty("tty1", "");  // a virtual console: no driver
    std::vector<SerialPortEntry> table = ReadSerialPortTable();
    ASSERT_EQ(3u, table.size());
    EXPECT_EQ("serial8250", table[0].deviceName);
    EXPECT_EQ("/dev/ttyS0", table[0].portName);
    EXPECT_EQ("/dev/ttyUSB2", table[1].portName);
    EXPECT_EQ("qcserial", table[1].deviceName);
    EXPECT_EQ("/dev/ttyUSB10", table[2].portName);
    EXPECT_NE(std::string::npos, table[2].deviceName.find(QualcommDeviceNameMarker()));
}

TEST_F(FakeSysfs, MissingTableIsEmpty) {
    setenv("FENNIX_SYSFS_ROOT", (root_ + "/nothing").c_str(), 1);
    EXPECT_TRUE(ReadSerialPortTable().empty());
}

}  // namespace
}  // namespace fennix::platform
#endif
