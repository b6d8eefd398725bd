#include "console/WorkerSequence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace tarnwell {
namespace {

// The dialog as the tests set it up; every read is recorded so the tests can
// see what the worker looked at.
class FakeControls : public SlotControls {
public:
    FakeControls() {
        for (const ImageRowInfo& info : ImageRows()) rows[info.row] = {info.tickedAtStart, info.initialPath};
    }
    int SelectedPortNumber() override {
        reads.push_back("port");
        return port;
    }
    RowState ReadRow(ImageRow row) override {
        reads.push_back(RowInfo(row).label);
        return rows[row];
    }
    bool SkipCheckTicked() override {
        reads.push_back("skip");
        return skip;
    }
    std::string CurrentProgrammerPath() override {
        reads.push_back("programmer");
        return programmer;
    }
    void Warn(const char* text) override { warnings.push_back(text); }

    void Untick(ImageRow row) { rows[row].ticked = false; }
    void Set(ImageRow row, bool ticked, std::string path) { rows[row] = {ticked, std::move(path)}; }

    int port = 5;
    bool skip = false;
    std::string programmer = "C:\\Tools\\NPRG6250SEC.HEX";
    std::map<ImageRow, RowState> rows;
    std::vector<std::string> reads;
    std::vector<std::string> warnings;
};

// Records the engine calls in order.
class FakeEngine : public SessionCalls {
public:
    FennixHandle OpenSession(const char* portName) override {
        calls.push_back(std::string("SetComPort ") + portName);
        ++open;
        return &session;
    }
    void SetCallBack(FennixHandle s, ProgressCallback cb) override {
        Check(s);
        callback = cb;
        calls.push_back("SetCallBack");
    }
    void SetSkipCheck(FennixHandle s) override {
        Check(s);
        calls.push_back("SetSkipCheck");
    }
    void SetHexFile(FennixHandle s, const char* path) override {
        Check(s);
        calls.push_back(std::string("SetHexFile ") + path);
    }
    void SetMbnFile(FennixHandle s, const ImagePaths& images) override {
        Check(s);
        paths = images;
        calls.push_back("SetMbnFile");
    }
    void StartDownload(FennixHandle s) override {
        Check(s);
        calls.push_back("StartDownload");
    }
    void CloseSession(FennixHandle s) override {
        Check(s);
        --open;
        calls.push_back("Close");
    }
    void Check(FennixHandle s) { EXPECT_EQ(&session, s); }

    int session = 0;
    int open = 0;
    ProgressCallback callback = nullptr;
    ImagePaths paths;
    std::vector<std::string> calls;
};

std::vector<std::pair<std::string, int>> g_lines;
void RecordLine(const char* text, int32_t status) { g_lines.emplace_back(text, status); }

class WorkerSequenceTest : public ::testing::Test {
protected:
    void SetUp() override { g_lines.clear(); }
    void Run() { RunWorkerSequence(controls, engine, &RecordLine); }
    FakeControls controls;
    FakeEngine engine;
};

TEST_F(WorkerSequenceTest, DefaultRowsRunTheWholeDownload) {
    Run();
    const std::vector<std::string> expected = {
        "SetComPort COM5", "SetCallBack",   "SetHexFile C:\\Tools\\NPRG6250SEC.HEX",
        "SetMbnFile",      "StartDownload", "Close"};
    EXPECT_EQ(expected, engine.calls);
    EXPECT_EQ(&RecordLine, engine.callback);
    EXPECT_EQ(0, engine.open);
    EXPECT_TRUE(controls.warnings.empty());
    EXPECT_TRUE(g_lines.empty());

    const char* paths[] = {".\\partition.mbn", "",
                           ".\\pbl.mbn",       ".\\qcsblhd_cfgdata.mbn",
                           ".\\qcsbl.mbn",     ".\\oemsblhd.mbn",
                           ".\\oemsbl.mbn",    ".\\amsshd.mbn",
                           ".\\amss.mbn",      ""};
    for (int i = 0; i < kImageRowCount; ++i) EXPECT_EQ(paths[i], engine.paths.paths[i]) << ImageRows()[i].label;
}

TEST_F(WorkerSequenceTest, NoSelectedPortLogsOneLineAndMakesNoSession) {
    controls.port = -1;
    Run();
    EXPECT_TRUE(engine.calls.empty());
    ASSERT_EQ(1u, g_lines.size());
    EXPECT_EQ("None ComPort Selected", g_lines[0].first);
    EXPECT_EQ(0, g_lines[0].second);
    EXPECT_EQ(std::vector<std::string>{"port"}, controls.reads);
}

TEST_F(WorkerSequenceTest, PlaceholderItemRunsOnComZero) {
    controls.port = 0;
    Run();
    ASSERT_FALSE(engine.calls.empty());
    EXPECT_EQ("SetComPort COM0", engine.calls.front());
    EXPECT_EQ("Close", engine.calls.back());
    EXPECT_EQ("COM-1", PortName(-1));
    EXPECT_EQ("COM12", PortName(12));
}

TEST_F(WorkerSequenceTest, MissingPartitionIsRefusedAndTheSessionClosed) {
    for (bool unticked : {true, false}) {
        FakeControls c;
        FakeEngine e;
        if (unticked)
            c.Untick(ImageRow::Partition);
        else
            c.Set(ImageRow::Partition, true, " \t ");
        RunWorkerSequence(c, e, &RecordLine);
        const std::vector<std::string> expected = {"SetComPort COM5", "SetCallBack", "Close"};
        EXPECT_EQ(expected, e.calls);
        EXPECT_EQ(0, e.open);
        EXPECT_EQ(std::vector<std::string>{kNoPartitionMessage}, c.warnings);
    }
}

TEST_F(WorkerSequenceTest, NoChosenImageIsRefusedAfterTheProgrammerPath) {
    for (ImageRow row : {ImageRow::Pbl, ImageRow::Qcsbl, ImageRow::Oemsblhd, ImageRow::Amss}) controls.Untick(row);
    controls.skip = true;
    Run();
    const std::vector<std::string> expected = {"SetComPort COM5", "SetCallBack", "SetSkipCheck",
                                               "SetHexFile C:\\Tools\\NPRG6250SEC.HEX", "Close"};
    EXPECT_EQ(expected, engine.calls);
    EXPECT_EQ(0, engine.open);
    EXPECT_EQ(std::vector<std::string>{kNoImageMessage}, controls.warnings);
}

TEST_F(WorkerSequenceTest, HalfTickedPairPassesBothPathsEmpty) {
    controls.Untick(ImageRow::Qcsbl);
    controls.Untick(ImageRow::Amsshd);
    Run();
    EXPECT_EQ("", engine.paths[ImageRow::Qcsblhd]);
    EXPECT_EQ("", engine.paths[ImageRow::Qcsbl]);
    EXPECT_EQ("", engine.paths[ImageRow::Amsshd]);
    EXPECT_EQ("", engine.paths[ImageRow::Amss]);
    EXPECT_EQ(".\\oemsblhd.mbn", engine.paths[ImageRow::Oemsblhd]);
    EXPECT_EQ(".\\oemsbl.mbn", engine.paths[ImageRow::Oemsbl]);
}

TEST_F(WorkerSequenceTest, TickedRowWithEmptyPathStillCountsAsAnImage) {
    for (const ImageRowInfo& info : ImageRows())
        if (info.row != ImageRow::Partition) controls.Untick(info.row);
    controls.Set(ImageRow::Pbl, true, "");
    Run();
    EXPECT_TRUE(controls.warnings.empty());
    ASSERT_GE(engine.calls.size(), 2u);
    EXPECT_EQ("StartDownload", engine.calls[engine.calls.size() - 2]);
    EXPECT_EQ("", engine.paths[ImageRow::Pbl]);
    EXPECT_TRUE(engine.paths.anyImageChosen);
}

TEST_F(WorkerSequenceTest, PartitionPathIsPassedUntrimmedAndHiddenRowsWhenTicked) {
    controls.Set(ImageRow::Partition, true, "  C:\\img\\partition.mbn ");
    controls.Set(ImageRow::Obl, true, "C:\\img\\obl.mbn");
    controls.Set(ImageRow::Cefs, true, "C:\\img\\fs.Qvcefs");
    controls.Set(ImageRow::Pbl, false, "C:\\img\\pbl.mbn");
    Run();
    EXPECT_EQ("  C:\\img\\partition.mbn ", engine.paths[ImageRow::Partition]);
    EXPECT_EQ("C:\\img\\obl.mbn", engine.paths[ImageRow::Obl]);
    EXPECT_EQ("C:\\img\\fs.Qvcefs", engine.paths[ImageRow::Cefs]);
    EXPECT_EQ("", engine.paths[ImageRow::Pbl]);
}

TEST_F(WorkerSequenceTest, SkipCheckIsCalledOnlyWhenTicked) {
    Run();
    EXPECT_EQ(0, std::count(engine.calls.begin(), engine.calls.end(), "SetSkipCheck"));
    FakeEngine e;
    controls.skip = true;
    RunWorkerSequence(controls, e, &RecordLine);
    ASSERT_GE(e.calls.size(), 4u);
    EXPECT_EQ("SetSkipCheck", e.calls[2]);
    EXPECT_EQ(0u, e.calls[3].find("SetHexFile"));
}

TEST_F(WorkerSequenceTest, ControlsAreReadInTheOrderOfTheSequence) {
    Run();
    const std::vector<std::string> expected = {"port",
                                               "Partition table",
                                               "OTP Boot loader",
                                               "Pri Boot loader",
                                               "Sec Boot loader header",
                                               "Sec Boot loader",
                                               "OEM Sec Boot loader header",
                                               "OEM Sec Boot loader ",
                                               "AMSS Modem Image header",
                                               "AMSS Modem Image",
                                               "CEFS Image",
                                               "skip",
                                               "programmer"};
    EXPECT_EQ(expected, controls.reads);
}

}  // namespace
}  // namespace tarnwell
