// Test fixture: one virtual device and a raw host port opened on it.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "TestBytes.h"
#include "simulator/HostPort.h"
#include "simulator/SimulatorFixture.h"

namespace fennix::sim::test {

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

    std::unique_ptr<CScopedDevice> dev_;
    CHostPort port_;
};

}  // namespace fennix::sim::test
