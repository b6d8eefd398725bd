// The event stream of a download through the exports: its stages in order,
// its progress, the operator's lines again, and one END with the export's
// result and the cause of a failure, wherever the flow stopped.
#include <gtest/gtest.h>

#include <functional>

#include "session/EventLog.h"
#include "session/SessionBench.h"
#include "session/SessionRegistry.h"

namespace fennix::test {
namespace {

// A session of the bench behind a handle, with a programmer of 2500 bytes, a
// partition table, PBL and AMSS; its events recorded.
struct EventBench {
    SessionBench bench;
    TempDir dir;
    EventLog log;
    CQualCmd* session = bench.session.get();
    FakeDevice& device = *bench.device;
    FennixHandle handle = nullptr;

    EventBench() {
        session->SetEventCallback(EventLog::Receive, &log);
        session->SetProgrammerPath(dir.WriteText("p.hex", HexText(0x0010, Pattern(2500, 1))).c_str());
        SetImages(dir.Write("amss.mbn", Pattern(20000, 5)));
    }
    ~EventBench() { Close(handle); }
    void SetImages(const std::string& amss) {
        session->SetImagePaths(dir.Write("part.mbn", Pattern(300, 2)).c_str(), nullptr,
                               dir.Write("pbl.mbn", Pattern(3000, 3)).c_str(), nullptr, nullptr, nullptr, nullptr,
                               dir.Write("amsshd.mbn", Pattern(40, 4)).c_str(), amss.c_str(), nullptr);
    }
    // The callback's lines, to compare with the LINE events.
    static std::vector<std::pair<std::string, int32_t>> CallbackLines() {
        std::vector<std::pair<std::string, int32_t>> out;
        for (const Line& line : RecordedLines()) out.emplace_back(line.text, line.status);
        return out;
    }
    int32_t Run() {
        handle = RegisterSession(std::move(bench.session));
        return StartDownload(handle);
    }
};

TEST(Events, DownloadTellsItsStagesInOrderItsLinesAgainAndOneEnd) {
    EventBench b;
    EXPECT_EQ(1, b.Run());
    EXPECT_EQ((std::vector<std::string>{"open", "mode-switch", "programmer", "hello", "partition-table",
                                        "image-open PBL", "image-write PBL", "image-close PBL", "image-open AMSS",
                                        "image-write AMSS", "image-close AMSS", "reset", "power-on-check"}),
              b.log.Stages());
    EXPECT_EQ(EventBench::CallbackLines(), b.log.Lines());
    const RecordedEvent end = b.log.End();
    EXPECT_EQ(FENNIX_EVENT_END, end.kind);
    EXPECT_EQ(1, end.result);
    EXPECT_EQ(FENNIX_CAUSE_NONE, end.cause);
    EXPECT_EQ("none", end.causeKey);
    EXPECT_EQ("power-on-check", end.stageKey);

    std::map<std::string, std::vector<RecordedEvent>> progress;  // by stage and image
    for (const auto& e : b.log.events) {
        EXPECT_NE(-1, e.kind) << "size of the event";
        if (e.imageName == "PBL") {
            EXPECT_EQ(1, e.image);
        }
        if (e.imageName == "AMSS") {
            EXPECT_EQ(5, e.image);
        }
        if (e.kind == FENNIX_EVENT_PROGRESS) progress[e.stageKey + " " + e.imageName].push_back(e);
    }
    for (const auto& [stage, total] : {std::pair<std::string, uint64_t>{"programmer (null)", 2500},
                                       {"image-write PBL", 3000},
                                       {"image-write AMSS", 20000}}) {
        const auto& steps = progress[stage];
        ASSERT_FALSE(steps.empty()) << stage;
        EXPECT_LE(steps.size(), 100u) << stage;
        for (size_t i = 0; i < steps.size(); ++i) {
            EXPECT_EQ(total, steps[i].total) << stage;
            if (i) {
                EXPECT_LT(steps[i - 1].done, steps[i].done) << stage;
            }
        }
        EXPECT_EQ(total, steps.back().done) << stage;
    }
    EXPECT_EQ(3u, progress.size());
}

struct CauseCase {
    const char* name;
    std::function<void(EventBench&)> arrange;
    int32_t result;
    int32_t cause;
    const char* causeKey;
};

// The device's answer to one command replaced.
std::function<void(EventBench&)> Answering(int command, Answer answer, bool cancel = false) {
    return [=](EventBench& b) {
        CQualCmd* session = b.session;
        b.device.script = [=](int cmd, const std::vector<uint8_t>&, int) {
            if (cmd != command) return Answer::Usual();
            if (cancel) session->Cancel();
            return answer;
        };
    };
}

TEST(Events, EachFailureEndsWithTheExportsResultAndWhereItHappened) {
    const CauseCase cases[] = {
        {"no port", [](EventBench& b) { b.session->SetPortName(nullptr); }, -1, FENNIX_CAUSE_PORT_MISSING,
         "port-missing"},
        {"no answer to the probe", [](EventBench& b) { b.device.dlResult = kPacketModeUnknown; }, kPacketModeUnknown,
         FENNIX_CAUSE_NO_ANSWER, "no-answer"},
        {"switch failed", [](EventBench& b) { b.device.dlResult = kPacketDsSwitchFailed; }, kPacketDsSwitchFailed,
         FENNIX_CAUSE_MODE_SWITCH_FAILED, "mode-switch-failed"},
        {"programmer missing", [](EventBench& b) { b.session->SetProgrammerPath(b.dir.Path("none.hex").c_str()); }, -1,
         FENNIX_CAUSE_FILE_MISSING, "file-missing"},
        {"programmer damaged",
         [](EventBench& b) {
             b.session->SetProgrammerPath(b.dir.WriteText("bad.hex", "this is no Intel HEX file\n").c_str());
         },
         -1, FENNIX_CAUSE_FILE_DAMAGED, "file-damaged"},
        {"NOPs unanswered", Answering(kNop, Answer::None()), -1, FENNIX_CAUSE_PROGRAMMER_REFUSED, "programmer-refused"},
        {"hello unanswered", Answering(kHello, Answer::None()), kPacketTimeout, FENNIX_CAUSE_PROGRAMMER_REFUSED,
         "programmer-refused"},
        {"partition table refused", Answering(kPartition, Answer::With({0x0E, 0})), -1, FENNIX_CAUSE_IMAGE_OPEN_REFUSED,
         "image-open-refused"},
        {"image refused at its open", Answering(kOpenImage, Answer::With({0x0E, 0})), -1,
         FENNIX_CAUSE_IMAGE_OPEN_REFUSED, "image-open-refused"},
        {"image body missing", [](EventBench& b) { b.SetImages(b.dir.Path("none.mbn")); }, -1,
         FENNIX_CAUSE_FILE_MISSING, "file-missing"},
        {"block refused", Answering(kStreamWrite, Answer::With({0x0E, 0, 0, 0, 0})), -1,
         FENNIX_CAUSE_IMAGE_WRITE_REFUSED, "image-write-refused"},
        {"block unanswered", Answering(kStreamWrite, Answer::None()), kPacketTimeout, FENNIX_CAUSE_STOPPED_ANSWERING,
         "stopped-answering"},
        {"image refused at its close", Answering(kCloseImage, Answer::With({0x0E})), -1,
         FENNIX_CAUSE_IMAGE_CLOSE_REFUSED, "image-close-refused"},
        {"reset refused", Answering(kReset, Answer::With({0x0E})), -2, FENNIX_CAUSE_DEVICE_REFUSED, "device-refused"},
        {"reset unanswered", Answering(kReset, Answer::None()), -2, FENNIX_CAUSE_STOPPED_ANSWERING,
         "stopped-answering"},
        {"not back after the reset", Answering(kLoopback, Answer::None()), -1, FENNIX_CAUSE_NOT_BACK_AFTER_RESET,
         "not-back-after-reset"},
        {"closed while writing", Answering(kStreamWrite, Answer::None(), true), kPacketTimeout, FENNIX_CAUSE_CANCELLED,
         "cancelled"},
    };
    for (const CauseCase& c : cases) {
        EventBench b;
        c.arrange(b);
        EXPECT_EQ(c.result, b.Run()) << c.name;
        const RecordedEvent end = b.log.End();
        EXPECT_EQ(FENNIX_EVENT_END, end.kind) << c.name;
        EXPECT_EQ(c.result, end.result) << c.name;
        EXPECT_EQ(c.cause, end.cause) << c.name;
        EXPECT_EQ(c.causeKey, end.causeKey) << c.name;
        EXPECT_NE("the flow succeeded", end.text) << c.name;
        EXPECT_EQ(EventBench::CallbackLines(), b.log.Lines()) << c.name;
    }
}

}  // namespace
}  // namespace fennix::test
