// A flow whose port is missing, held by another program or not permitted
// fails at the open, at once (not after the 84-120 s of mode detection), and
// the diagnostic log says why.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <functional>

#include "../nv/TestFiles.h"
#include "download_e2e_support.h"
#include "platform/SerialPort.h"
#include "serial/SerCOMLibrary.h"
#include "serial_e2e_fixture.h"
#include "session/NvSession.h"

namespace fennix::testsupport {
namespace {

using Clock = std::chrono::steady_clock;

// Every flow of a session on `port`, at the real timings: each reports its
// start text and "Open ComPort Failed!!" and ends with its failure result;
// the session and the flow's cause tell why.
void ExpectEveryFlowFailsAtTheOpen(const std::string& port, platform::PortOpenFailure reason, Cause cause) {
    const Timeouts times = Timeouts::WithScale(1.0);
    CQualCmd session(std::make_unique<CSerCOMLibrary>(times), times);
    session.SetCallback(RecordThreadLine);
    session.SetPortName(port.c_str());
    const struct {
        const char* start;
        std::function<FlowOutcome()> run;
    } flows[] = {
        {"Start To Download Process...", [&] { return session.StartDownload(); }},
        {"Start To BackupBrt Process...", [&] { return RunBackupBrt(session); }},
        {"Start To RestoreBrt Process...", [&] { return RunRestoreBrt(session); }},
    };
    for (const auto& flow : flows) {
        ThreadLines().clear();
        const auto start = Clock::now();
        const FlowOutcome outcome = flow.run();
        EXPECT_EQ(-1, FlowResultCode(outcome)) << flow.start;
        EXPECT_EQ(cause, outcome.cause) << flow.start;
        EXPECT_LT(MsBetween(start, Clock::now()), 3000) << flow.start;
        EXPECT_EQ((std::vector<std::string>{flow.start, "Open ComPort Failed!!"}), TextsWithoutPercent(ThreadLines()));
        EXPECT_EQ(-1, ThreadLines().back().status);
        EXPECT_EQ(reason, session.OpenFailure()) << flow.start;
    }
    ThreadLines().clear();
    const auto start = Clock::now();
    const FlowOutcome items = SendItemLists(session);
    EXPECT_EQ(0, ItemListsResultCode(items));
    EXPECT_EQ(cause, items.cause);
    EXPECT_LT(MsBetween(start, Clock::now()), 3000);
    EXPECT_TRUE(ThreadLines().empty());
}

platform::PortOpenFailure OpenFailureOf(const std::string& port) {
    CSerCOMLibrary lib(Timeouts::WithScale(1.0));
    EXPECT_EQ(kPacketOpenFailed, lib.OpenComport("Target download", port.c_str()));
    EXPECT_FALSE(lib.IsListenerRunning());
    return lib.LastOpenFailure();
}

class PortOpen : public LogFileTest {
protected:
    size_t ReasonLines(const std::string& path, const char* reason) {
        EndLog();
        return CountPortLines(ParseLogLines(ReadRaw()), "<!ER>",
                              "CSerialIO::Open\tCan not open " + path + ": " + reason + ".");
    }
};

TEST_F(PortOpen, MissingPortFailsEveryFlowAtOnce) {
    const std::string port = "/nonexistent/ttyMSM9";
    StartWith(1);
    ExpectEveryFlowFailsAtTheOpen(port, platform::PortOpenFailure::NoSuchPort, Cause::PortMissing);
    EXPECT_EQ(platform::PortOpenFailure::NoSuchPort, OpenFailureOf(port));
    EXPECT_EQ(5u, ReasonLines(port, "no such port"));
}

TEST_F(PortOpen, PortHeldByAnotherProgramFailsAtOnceAndServesOnceFree) {
    sim::CScopedDevice device(sim::DiagDevice());
    ASSERT_TRUE(device.Ok());
    {
        platform::SerialPort holder;
        ASSERT_EQ(0, holder.Open(device.Path()));
        StartWith(1);
        ExpectEveryFlowFailsAtTheOpen(device.Path(), platform::PortOpenFailure::InUse, Cause::PortBusy);
        EXPECT_EQ(platform::PortOpenFailure::InUse, OpenFailureOf(device.Path()));
        EXPECT_EQ(5u, ReasonLines(device.Path(), "in use"));
    }
    const Timeouts times = DownloadTestTimes();
    CQualCmd session(std::make_unique<CSerCOMLibrary>(times), times);
    session.SetPortName(device.Path().c_str());
    test::ScratchDir dir;
    test::WriteText(dir.File("items.csv"), "Name;Item\n");
    session.SetCsvBrtPaths(dir.File("items.csv").c_str(), dir.File("nv.brt").c_str());
    EXPECT_EQ(1, FlowResultCode(RunBackupBrt(session)));
}

// The terminal itself is named (a user without rights may not even look into
// the device's private folder), made unreadable, and opened by a process
// that runs as nobody when this one is the superuser (who may open anything).
TEST_F(PortOpen, PortWithoutPermissionFailsAtOnce) {
    sim::CScopedDevice device(sim::DiagDevice());
    ASSERT_TRUE(device.Ok());
    char terminal[PATH_MAX];
    ASSERT_NE(nullptr, realpath(device.Path().c_str(), terminal));
    ASSERT_EQ(0, chmod(terminal, 0));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        constexpr uid_t kNobody = 65534;
        if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(2);
        CSerCOMLibrary lib(Timeouts::WithScale(1.0));
        const bool refused = lib.OpenComport("Target download", terminal) == kPacketOpenFailed;
        _exit(refused && lib.LastOpenFailure() == platform::PortOpenFailure::PermissionDenied ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status)) << "2: could not become nobody";
}

}  // namespace
}  // namespace fennix::testsupport
