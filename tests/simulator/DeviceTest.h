// Test fixture: one virtual device and a raw host port opened on it.
#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <memory>
#include <string>

#include "TestBytes.h"
#include "simulator/HostPort.h"
#include "simulator/SimulatorFixture.h"
#include "simulator/StreamingFlash.h"

namespace fennix::sim::test {

// Whether anything (a link, dangling or not) is at the path.
inline bool PathExists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// The data of an NV item as a plain read (38) returns it; empty without an
// answer.
inline Bytes ReadNvItem(CHostPort& port, uint16_t item) {
    const Bytes request{0x26, static_cast<uint8_t>(item), static_cast<uint8_t>(item >> 8)};
    Bytes answer = port.Exchange(request, false, std::chrono::milliseconds(1500));
    return answer.size() == 133 ? Bytes(answer.begin() + 3, answer.begin() + 131) : Bytes{};
}

class DeviceTest : public ::testing::Test {
protected:
    void Start(DeviceOptions options) {
        dev_ = std::make_unique<CScopedDevice>(std::move(options));
        ASSERT_TRUE(dev_->Ok()) << dev_->Error();
        ASSERT_EQ(0, port_.Open(dev_->Path()));
    }
    // Writes a fixed DIAG frame and returns the raw reply frame.
    Bytes Raw(const std::string& frame) {
        EXPECT_EQ(0, port_.Write(Hex(frame)));
        return port_.ReadFrames(1, false, std::chrono::milliseconds(3000));
    }
    CVirtualDevice& Dev() { return dev_->Device(); }
    // A download-mode device (with `options`' knobs) whose programmer runs,
    // with the AMSS image open for stream writes.
    void StartWithImageOpen(DeviceOptions options) {
        Start(std::move(options));
        Dev().WithState([](DeviceState& s) {
            DownloadTarget& target = s.Extension<DownloadTarget>();
            target.programmerRunning = true;
            target.runningSinceBoot = s.bootCount;
        });
        ASSERT_EQ(Hex("1C 00"), port_.Exchange(Hex("1B 05"), true));
    }

    std::unique_ptr<CScopedDevice> dev_;
    CHostPort port_;
};

}  // namespace fennix::sim::test
