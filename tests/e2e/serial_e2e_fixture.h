// A packet layer opened on a virtual device, for the end-to-end tests of the
// serial transport.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "serial/SerCOMLibrary.h"
#include "serial/Timeouts.h"
#include "../serial/ser_com_log_lines.h"
#include "../serial/ser_com_peer.h"
#include "simulator/SimulatorFixture.h"

namespace fennix::testsupport {

// Time factor of the engine in these tests; the device keeps its own times.
constexpr double kE2eTimeScale = 0.05;

// The DIAG commands of the mode switches (the probe's frames are left out).
inline bool IsSwitchCommand(int command) {
    static const int kCommands[] = {0x7C, 0x00, 0x0C, 0x29, 0x3A, 0x1F, 0x60, 0x73};
    return std::find(std::begin(kCommands), std::end(kCommands), command) != std::end(kCommands);
}

// The log stays closed unless a test starts it (StartWith).
class SerialE2ETest : public LogFileTest {
protected:
    void TearDown() override {
        lib_.reset();
        device_.reset();
        LogFileTest::TearDown();
    }

    // Ends the log and returns its lines: tag and everything after the
    // timestamp. The empty lines behind system error texts are left out.
    std::vector<LogLineParts> FinishLog() {
        lib_.reset();
        EndLog();
        return ParseLogLines(ReadRaw());
    }

    // Starts the device and opens the port on it; the listener then probes.
    void Start(sim::DeviceOptions options, double scale = kE2eTimeScale) {
        lib_.reset();
        device_ = std::make_unique<sim::CScopedDevice>(std::move(options));
        ASSERT_TRUE(device_->Ok()) << "device: " << device_->Error();
        times_ = Timeouts::WithScale(scale);
        // Pauses shrink with the scale, but a raw reply wait of 100 ms is too
        // short for a sanitizer build on a loaded machine: a slow answer would
        // be taken for a lost one and fail the switch early.
        times_.rawReplyWait = std::max<uint32_t>(times_.rawReplyWait, 1000);
        lib_ = std::make_unique<CSerCOMLibrary>(times_);
        ASSERT_EQ(PacketResult::Ok, lib_->OpenComport("Target download", device_->Path().c_str()));
    }

    bool WaitForMode(uint32_t mode, int ms = 5000) {
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (SerComTestPeer::Channel(*lib_).GetPhoneMode() != mode) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }

    // The DIAG switch commands the device received, in order.
    std::vector<int> SwitchCommands() const {
        std::vector<int> commands;
        for (const auto& packet : device_->Device().Recording().Requests(sim::DeviceMode::Diag)) {
            if (!packet.empty() && IsSwitchCommand(packet[0])) commands.push_back(packet[0]);
        }
        return commands;
    }

    // A download-mode no-operation: its acknowledgement's length (1) or the
    // packet layer's result.
    int32_t Nop() {
        uint8_t nop = 0x06;
        uint8_t reply[16] = {};
        int32_t result = lib_->DLTxRx(&nop, 1, reply, sizeof reply, times_.replyWait).LengthOrCode();
        if (result == 1 && reply[0] != 0x02) return -1;
        return result;
    }

    sim::CVirtualDevice& Device() { return device_->Device(); }
    CSerCOMLibrary& Lib() { return *lib_; }
    CSerialIO& Channel() { return SerComTestPeer::Channel(*lib_); }
    CFrameLink& Link() { return SerComTestPeer::Link(*lib_); }
    const Timeouts& Times() const { return times_; }
    std::string Path() const { return device_->Path(); }

private:
    std::unique_ptr<sim::CScopedDevice> device_;
    std::unique_ptr<CSerCOMLibrary> lib_;
    Timeouts times_;
};

inline long MsBetween(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count());
}

}  // namespace fennix::testsupport
