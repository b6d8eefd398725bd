// A packet layer on one end of a pseudo-terminal and a scripted device on the
// other: the device answers the probe with the chosen mode and then answers
// requests from a table of exact request bytes. POSIX only; the tests skip
// where no pseudo-terminal exists.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "serial/Hdlc.h"
#include "serial/SerCOMLibrary.h"
#include "ser_com_peer.h"
#include "serial/Timeouts.h"
#include "ser_com_log_lines.h"
#include "serial_io_device.h"

namespace fennix::testsupport {

inline const Bytes kDiagProbeAnswer = {0x13, 0x61, 0x74, 0x0D, 0x62, 0x09, 0x7E};
inline const Bytes kDownloadProbeAnswer = {0x7E, 0x02, 0x6A, 0xD3, 0x7E};

inline Bytes DiagFrame(const Bytes& packet) { return PackFrame(packet.data(), packet.size(), 0, 0x7E); }
inline Bytes DownloadFrame(const Bytes& packet) { return PackFrame(packet.data(), packet.size(), 0x7E, 0x7E); }

inline Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline long ElapsedMs(std::chrono::steady_clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count());
}

// The log stays closed unless a test starts it (StartWith).
class SerComTest : public LogFileTest {
protected:
    static Timeouts Times() { return Timeouts::WithScale(0.05); }

    void SetUp() override {
        LogFileTest::SetUp();
        if (!PtyDevice::Available()) GTEST_SKIP() << "needs a pseudo-terminal";
        device_ = std::make_unique<PtyDevice>();
        ASSERT_TRUE(device_->ok());
        PtyDevice* device = device_.get();  // device_ is null while it is destroyed
        device_->OnReceive([this, device](const Bytes&) { AnswerPending(*device); });
        lib_ = std::make_unique<CSerCOMLibrary>(Times());
    }

    void TearDown() override {
        lib_.reset();
        device_.reset();
        LogFileTest::TearDown();
    }

    // Opens the port and waits for the listener to classify the device.
    void OpenIn(uint32_t mode) {
        device_->AnswerProbeWith(mode == kPhoneModeDL ? kDownloadProbeAnswer : kDiagProbeAnswer);
        ASSERT_EQ(PacketResult::Ok, lib_->OpenComport("Target download", device_->path().c_str()));
        ASSERT_TRUE(Eventually([&] { return SerComTestPeer::Channel(*lib_).GetPhoneMode() == mode; }, 5000))
            << "mode " << SerComTestPeer::Channel(*lib_).GetPhoneMode();
        // Whatever the device received so far was probing.
        mark_ = device_->Received().size();
    }

    // From now on, each time the device has received exactly `request` (as the
    // latest bytes), it sends `reply`.
    void Answer(const Bytes& request, const Bytes& reply) {
        std::lock_guard<std::mutex> hold(lock_);
        answers_[request] = reply;
    }

    // Bytes the device received since the last mark, and a new mark.
    Bytes WireSinceMark() {
        Bytes all = device_->Received();
        Bytes since(all.begin() + static_cast<long>(std::min(mark_, all.size())), all.end());
        mark_ = all.size();
        return since;
    }

    // A packet layer with another time table, in place of the first one
    // (before OpenIn).
    void RebuildWith(const Timeouts& times) {
        lib_.reset();
        lib_ = std::make_unique<CSerCOMLibrary>(times);
    }

    PtyDevice& Device() { return *device_; }
    CSerCOMLibrary& Lib() { return *lib_; }
    CSerialIO& Channel() { return SerComTestPeer::Channel(*lib_); }
    CFrameLink& Link() { return SerComTestPeer::Link(*lib_); }
    ModeSwitcherTestPeer Switcher() { return SerComTestPeer::Switcher(*lib_); }

private:
    void AnswerPending(PtyDevice& device) {
        Bytes all = device.Received();
        Bytes reply;
        {
            std::lock_guard<std::mutex> hold(lock_);
            for (const auto& [request, answer] : answers_) {
                if (all.size() >= request.size() &&
                    std::equal(request.begin(), request.end(), all.end() - request.size())) {
                    reply = answer;
                    break;
                }
            }
        }
        if (!reply.empty()) device.Send(reply);
    }

    std::unique_ptr<PtyDevice> device_;
    std::unique_ptr<CSerCOMLibrary> lib_;
    std::mutex lock_;
    std::map<Bytes, Bytes> answers_;
    size_t mark_ = 0;
};

}  // namespace fennix::testsupport
