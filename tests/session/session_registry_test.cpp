// Handles and Close as a long-running bench meets them: stale and doubly
// closed handles, Close racing a flow's start, a second Close while the first
// waits, Close from inside the progress callback, and a flow's thread that
// exits in the middle of the flow.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <pthread.h>
#endif

#include "fennix/fennix.h"
#include "serial/ResultCodes.h"
#include "session/QualCmd.h"
#include "session/SessionRegistry.h"

namespace fennix::test {
namespace {

struct LinkRecord {
    std::atomic<bool> destroyed{false};
    std::atomic<int> closes{0};
};

// A device that enters every mode and answers nothing; cancelling makes every
// later step fail as the serial link's does.
class RecordingLink : public ISessionLink {
public:
    explicit RecordingLink(std::shared_ptr<LinkRecord> record) : record_(std::move(record)) {}
    ~RecordingLink() override { record_->destroyed = true; }
    int32_t OpenComport(const char*, const char*) override { return 1; }
    int32_t CloseCOMPort() override {
        ++record_->closes;
        return 1;
    }
    int32_t IsDLConnected() override { return cancelled_ ? kPacketCancelled : 1; }
    int32_t IsDIAGConnected() override { return cancelled_ ? kPacketCancelled : 1; }
    void Cancel() override { cancelled_ = true; }
    int32_t DIAGTxRx(const uint8_t*, uint32_t, uint8_t*, uint32_t, uint32_t) override { return Answer(); }
    int32_t DLTxRx(const uint8_t*, uint32_t, uint8_t*, uint32_t, uint32_t) override { return Answer(); }
    int32_t ReadReturnPacket(uint8_t*, uint32_t, uint32_t* count, uint32_t) override {
        if (count) *count = 0;
        return 0;
    }

private:
    int32_t Answer() const { return cancelled_ ? kPacketCancelled : kPacketTimeout; }
    std::shared_ptr<LinkRecord> record_;
    std::atomic<bool> cancelled_{false};
};

// What the progress callback does; set only while no flow runs.
std::function<void(const std::string&)>& OnRegistryLine() {
    static std::function<void(const std::string&)> hook;
    return hook;
}
std::atomic<int>& RegistryLineCount() {
    static std::atomic<int> count{0};
    return count;
}
void RegistryLine(const char* text, int32_t) {
    ++RegistryLineCount();
    if (OnRegistryLine()) OnRegistryLine()(text);
}

struct RegisteredSession {
    std::shared_ptr<LinkRecord> record = std::make_shared<LinkRecord>();
    FennixHandle handle = nullptr;
    RegisteredSession() {
        auto session =
            std::make_unique<CQualCmd>(std::make_unique<RecordingLink>(record), Timeouts::WithScale(0.01), nullptr);
        session->SetPortName("COM5");
        handle = RegisterSession(std::move(session));
        SetCallBack(handle, RegistryLine);
    }
};

struct SessionHandles : ::testing::Test {
    void SetUp() override { RegistryLineCount() = 0; }
    void TearDown() override { OnRegistryLine() = nullptr; }
};

// Every export on a handle that is not a live session: its failure value, and
// no line from any session.
void ExpectNoLiveSession(FennixHandle handle) {
    const int before = RegistryLineCount();
    EXPECT_EQ(-1, SetHexFile(handle, "p.hex"));
    EXPECT_EQ(-1, SetMbnFile(handle, "", "", "", "", "", "", "", "", "", ""));
    EXPECT_EQ(-1, SetSkipCheck(handle));
    EXPECT_EQ(-1, SetCallBack(handle, RegistryLine));
    EXPECT_EQ(-1, SetEventCallback(
                      handle, [](const FennixEvent*, void*) { ++RegistryLineCount(); }, nullptr));
    EXPECT_EQ(-1, SetCsvBrtFile(handle, "a.csv", "b.brt"));
    EXPECT_EQ(-1, StartDownload(handle));
    EXPECT_EQ(-1, StartBackupBrt(handle));
    EXPECT_EQ(-1, StartRestoreBrt(handle));
    EXPECT_EQ(0, DuckToNVArray(handle, "x.duck"));
    EXPECT_EQ(0, NVArrayToMobile(handle));
    EXPECT_EQ(0, Close(handle));
    EXPECT_EQ(before, RegistryLineCount());
}

TEST_F(SessionHandles, ClosedHandleTouchesNothingNotEvenALaterSession) {
    for (int i = 0; i < 20; ++i) {
        FennixHandle old = SetComPort(nullptr);
        ASSERT_NE(nullptr, old);
        EXPECT_EQ(0, Close(old));
        EXPECT_EQ(0, Close(old));
        // Likely at the freed session's address: an address as handle would reach it.
        FennixHandle later = SetComPort(nullptr);
        ASSERT_EQ(0, SetCallBack(later, RegistryLine));
        ExpectNoLiveSession(old);
        EXPECT_EQ(-1, StartDownload(later));
        EXPECT_EQ(2, RegistryLineCount()) << "the later session's own two lines";
        RegistryLineCount() = 0;
        EXPECT_EQ(0, Close(later));
    }
    ExpectNoLiveSession(reinterpret_cast<FennixHandle>(static_cast<uintptr_t>(0x5eed)));
}

TEST_F(SessionHandles, CloseRacingAFlowsStartNeverLetsItRunOnAFreedSession) {
    std::mt19937 random(7);
    for (int i = 0; i < 300; ++i) {
        RegisteredSession s;
        const int spin = static_cast<int>(random() % 100000);
        std::atomic<int32_t> result{0};
        std::thread flow([&] { result = StartBackupBrt(s.handle); });
        for (volatile int k = 0; k < spin; k = k + 1) {
        }
        EXPECT_EQ(0, Close(s.handle));
        EXPECT_TRUE(s.record->destroyed);
        flow.join();
        EXPECT_LT(result.load(), 0) << "refused, or cancelled by the Close";
    }
}

TEST_F(SessionHandles, SecondCloseReturnsOnlyOnceTheSessionIsFreed) {
    RegisteredSession s;
    std::mutex lock;
    std::condition_variable changed;
    bool inFlow = false, released = false;
    OnRegistryLine() = [&](const std::string& text) {
        if (text != "Open ComPort Success!!") return;
        std::unique_lock<std::mutex> hold(lock);
        inFlow = true;
        changed.notify_all();
        changed.wait(hold, [&] { return released; });
    };
    std::thread flow([&] { StartBackupBrt(s.handle); });
    {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return inFlow; });
    }
    std::atomic<int> freedWhenReturned{0};
    std::vector<std::thread> closers;
    for (int i = 0; i < 2; ++i)
        closers.emplace_back([&] {
            EXPECT_EQ(0, Close(s.handle));
            freedWhenReturned += s.record->destroyed ? 1 : 0;
        });
    // Both closers are most likely waiting by now; any order must pass.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    {
        std::lock_guard<std::mutex> hold(lock);
        released = true;
    }
    changed.notify_all();
    for (auto& closer : closers) closer.join();
    flow.join();
    EXPECT_EQ(2, freedWhenReturned.load());
}

TEST_F(SessionHandles, CloseInsideTheCallbackCancelsTheFlowAndFreesItAfterwards) {
    RegisteredSession s;
    std::atomic<bool> aliveAfterClose{false};
    OnRegistryLine() = [&](const std::string& text) {
        if (text != "Open ComPort Success!!") return;
        EXPECT_EQ(0, Close(s.handle));
        aliveAfterClose = !s.record->destroyed;
        EXPECT_EQ(-1, SetSkipCheck(s.handle)) << "no live session once Close was called";
    };
    std::promise<bool> freedOnReturn;
    std::future<bool> done = freedOnReturn.get_future();
    std::thread flow([&] {
        const int32_t result = StartDownload(s.handle);
        EXPECT_NE(1, result);
        freedOnReturn.set_value(s.record->destroyed);
    });
    // A hang is the fault under test: give up waiting rather than block the suite.
    if (done.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
        flow.detach();
        FAIL() << "Close inside the callback never returned";
    }
    flow.join();
    EXPECT_TRUE(aliveAfterClose);
    EXPECT_TRUE(done.get());
    ExpectNoLiveSession(s.handle);
}

#if !defined(_WIN32)
TEST_F(SessionHandles, ThreadExitingInAFlowLeavesTheSessionClosable) {
    RegisteredSession s;
    OnRegistryLine() = [](const std::string& text) {
        if (text == "Open ComPort Success!!") pthread_exit(nullptr);
    };
    pthread_t thread;
    ASSERT_EQ(0, pthread_create(
                     &thread, nullptr,
                     [](void* handle) -> void* {
                         StartBackupBrt(static_cast<FennixHandle>(handle));
                         return nullptr;
                     },
                     s.handle));
    ASSERT_EQ(0, pthread_join(thread, nullptr));
    EXPECT_GT(s.record->closes.load(), 0) << "the port closes on the way out";
    EXPECT_FALSE(s.record->destroyed);
    EXPECT_EQ(0, Close(s.handle));
    EXPECT_TRUE(s.record->destroyed);
}
#endif

}  // namespace
}  // namespace fennix::test
