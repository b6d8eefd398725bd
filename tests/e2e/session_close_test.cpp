// Close from another thread while a flow runs (a front-end's Ctrl-C): the flow
// ends promptly with its failure line and result, Close returns once it has
// and frees the session, and no thread of the session is left. At the real
// timings, where the waits the flow is in last many seconds.
#include <gtest/gtest.h>

#include <dirent.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "../nv/TestFiles.h"
#include "../session/EventLog.h"
#include "download_e2e_support.h"
#include "fennix/fennix.h"

namespace fennix::testsupport {
namespace {

using Clock = std::chrono::steady_clock;

// The lines of the flow thread, seen from the closing thread.
struct SharedLines {
    std::mutex lock;
    std::condition_variable added;
    std::vector<ReportedLine> lines;
};

SharedLines& Shared() {
    static SharedLines shared;
    return shared;
}

void CollectShared(const char* text, int32_t status) {
    SharedLines& s = Shared();
    {
        std::lock_guard<std::mutex> hold(s.lock);
        s.lines.push_back({text, status});
    }
    s.added.notify_all();
}

size_t ThreadsOfThisProcess() {
    size_t n = 0;
    if (DIR* tasks = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(tasks)) n += entry->d_name[0] != '.';
        closedir(tasks);
    }
    return n;
}

class CloseWhileRunning : public ::testing::Test {
protected:
    void SetUp() override {
        const char* scale = std::getenv("FENNIX_TIME_SCALE");
        hadScale_ = scale != nullptr;
        if (scale) savedScale_ = scale;
        ::setenv("FENNIX_TIME_SCALE", "1", 1);
        std::lock_guard<std::mutex> hold(Shared().lock);
        Shared().lines.clear();
    }
    void TearDown() override {
        if (hadScale_)
            ::setenv("FENNIX_TIME_SCALE", savedScale_.c_str(), 1);
        else
            ::unsetenv("FENNIX_TIME_SCALE");
    }

    // Runs `flow` on a thread of its own, closes the session from this thread
    // once `line` was reported (and a little after), and checks how it ended.
    void CloseAfter(const std::string& line, FennixHandle session, const std::function<int32_t()>& flow,
                    int32_t expectedResult, const std::string& lastLine) {
        const size_t threadsBefore = ThreadsOfThisProcess();
        std::atomic<int32_t> result{0};
        std::thread runner([&] { result = flow(); });
        {
            std::unique_lock<std::mutex> hold(Shared().lock);
            const bool seen = Shared().added.wait_for(hold, std::chrono::seconds(60), [&] {
                for (const auto& l : Shared().lines)
                    if (l.text == line) return true;
                return false;
            });
            EXPECT_TRUE(seen) << line;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const auto start = Clock::now();
        EXPECT_EQ(0, Close(session));
        const long closeMs = MsBetween(start, Clock::now());
        RecordProperty("close_ms", static_cast<int>(closeMs));
        EXPECT_LT(closeMs, 2000);
        runner.join();
        EXPECT_EQ(expectedResult, result.load());
        std::lock_guard<std::mutex> hold(Shared().lock);
        ASSERT_FALSE(Shared().lines.empty());
        EXPECT_EQ(lastLine, Shared().lines.back().text);
        EXPECT_EQ(-1, Shared().lines.back().status);
        EXPECT_EQ(threadsBefore, ThreadsOfThisProcess()) << "the listener has ended";
    }

private:
    bool hadScale_ = false;
    std::string savedScale_;
};

FennixHandle DownloadSession(const std::string& port, const TestImageSet& images) {
    FennixHandle session = SetComPort(port.c_str());
    const auto& set = images.Set();
    SetCallBack(session, CollectShared);
    SetSkipCheck(session);
    SetHexFile(session, set.programmer.c_str());
    SetMbnFile(session, set.partition.c_str(), nullptr, nullptr, set.qcsblhd.c_str(), set.qcsbl.c_str(),
               set.oemsblhd.c_str(), set.oemsbl.c_str(), set.amsshd.c_str(), set.amss.c_str(), set.cefs.c_str());
    return session;
}

TEST_F(CloseWhileRunning, DownloadInTheStreamingStageFailsItsImage) {
    sim::SampleImageSizes sizes = TestImageSet::SmallSizes();
    sizes.amss = 400 * 1024;
    TestImageSet images(sizes);
    sim::CScopedDevice device(sim::DownloadDevice());
    ASSERT_TRUE(device.Ok());
    // Every stream write is answered a little late: the AMSS takes seconds.
    device->SetRequestHook([](sim::CDeviceContext&, const sim::Packet& p) {
        if (p.size() > 8 && p[0] == 0x07) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return false;
    });
    FennixHandle session = DownloadSession(device.Path(), images);
    test::EventLog events;
    SetEventCallback(session, test::EventLog::Receive, &events);
    CloseAfter(
        "Download OEMSBLHD and OEMSBL File Success!!", session, [&] { return StartDownload(session); },
        kPacketCancelled, "Download AMSSHD and AMSS File Failed!!");
    EXPECT_EQ(kPacketCancelled, events.End().result);
    EXPECT_EQ("cancelled", events.End().causeKey);
    EXPECT_FALSE(sim::CompareWithSet(sim::SnapshotDownloadTarget(device.Device()), images.Set()).identical);
}

TEST_F(CloseWhileRunning, DownloadInItsLastPauseIsNoSuccess) {
    TestImageSet images;
    sim::CScopedDevice device(sim::DownloadDevice());
    ASSERT_TRUE(device.Ok());
    FennixHandle session = DownloadSession(device.Path(), images);
    // The pause after the reset lasts 20 s.
    CloseAfter(
        "Reset !! Please Wait....", session, [&] { return StartDownload(session); }, kPacketCancelled,
        "Download Process Failed!!");
}

TEST_F(CloseWhileRunning, BackupWaitingForASilentDeviceFailsTheModeChange) {
    sim::DeviceOptions options = sim::DiagDevice();
    options.faults.silent = true;
    sim::CScopedDevice device(options);
    ASSERT_TRUE(device.Ok());
    test::ScratchDir dir;
    test::WriteText(dir.File("items.csv"), "Name;Item\nplain;550\n");
    FennixHandle session = SetComPort(device.Path().c_str());
    SetCallBack(session, CollectShared);
    SetCsvBrtFile(session, dir.File("items.csv").c_str(), dir.File("nv.brt").c_str());
    // Detection would give up after 84 s; the listener reopens the port meanwhile.
    CloseAfter(
        "Open ComPort Success!!", session, [&] { return StartBackupBrt(session); }, kPacketCancelled,
        "Change to DIAG Mode Failed!!");
}

}  // namespace
}  // namespace fennix::testsupport
