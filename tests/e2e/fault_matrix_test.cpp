// The fault matrix: every flow against a device that shows one fault at its
// first, middle or last request. Whatever the fault, the flow must end within
// its limits with a clear result: success only with the data whole (but for
// an item the device refused: a device that answers is alive), otherwise
// a failure line (status -1) and a failing result with nothing lost. Where the
// engine can recover (a retried block, a resent NV request) the matrix demands
// success; where it cannot, failure; "either" cells accept both, still sound.
//
// The fault matrix table in docs/fault-matrix.md is this file's table: the test
// FaultMatrixTable compares them (tools/fault-matrix-table rewrites it).
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>

#include "fault_matrix_rig.h"

namespace fennix::matrix {
namespace {

using sim::InjectedFault;

enum class Point { First, Middle, Last };
enum class Outcome { Ok, Fails, Either };

const Flow kFlows[] = {Flow::DownloadFromAt, Flow::DownloadFromDiag, Flow::DownloadFromDownload,
                       Flow::Backup,         Flow::Restore,          Flow::DuckImport};
const InjectedFault kFaults[] = {InjectedFault::NoAnswer,  InjectedFault::LateAnswer, InjectedFault::WrongCommand,
                                 InjectedFault::WrongEcho, InjectedFault::StrayFrame, InjectedFault::Truncated,
                                 InjectedFault::BadCrc,    InjectedFault::Vanish,     InjectedFault::VanishAndReturn,
                                 InjectedFault::Refused};
const Point kPoints[] = {Point::First, Point::Middle, Point::Last};

// What a fault at a point must give. The points of a download are its mode
// probe (first), an AMSS stream write (middle) and the loopback of the
// power-on check (last); those of the NV flows their first, middle and last
// NV or file-system request.
Outcome Expected(Flow flow, InjectedFault fault, Point point) {
    using F = InjectedFault;
    if (fault == F::None) return Outcome::Ok;
    if (fault == F::Vanish) return Outcome::Fails;
    if (IsDownload(flow)) {
        // The mode's own refusal, each time the request comes: the AT or DIAG
        // probe still tells the mode (a DIAG device refuses it anyway); a
        // refused NOP probe, block or loopback cannot be done without.
        if (fault == F::Refused)
            return point == Point::First && flow != Flow::DownloadFromDownload ? Outcome::Ok : Outcome::Fails;
        switch (point) {
            case Point::First:
                // The listener probes again; but an answer to the probe that
                // comes late may land in the switch's raw reads and fail it.
                return fault == F::LateAnswer ? Outcome::Either : Outcome::Ok;
            case Point::Middle:
                // A block is sent a second time when its answer is lost,
                // late or for another address; a refusal ends the image.
                if (fault == F::WrongCommand) return Outcome::Fails;
                return fault == F::VanishAndReturn ? Outcome::Either : Outcome::Ok;
            case Point::Last:
                // The loopback needs only its first byte back.
                if (fault == F::WrongEcho || fault == F::Truncated) return Outcome::Ok;
                return fault == F::StrayFrame ? Outcome::Either : Outcome::Fails;
        }
    }
    // A device that refuses a request answers: the item is left out (backup),
    // not counted (restore) or recorded as failed (duck import), and the flow
    // goes on. A duck import's last request is the close of its file, which
    // leaves the file unsure: the result says so.
    if (fault == F::Refused) return flow == Flow::DuckImport && point == Point::Last ? Outcome::Fails : Outcome::Ok;
    // NV and file-system answers that belong to another request are passed
    // over while the request's own answer may still come, and the request is
    // sent once more if it does not; a missing answer ends the flow.
    if (fault == F::NoAnswer || fault == F::LateAnswer || fault == F::BadCrc || fault == F::VanishAndReturn)
        return Outcome::Fails;
    // A duck import's last request is the close of its last file. The device
    // closed the handle at the first send; the close sent once more after a
    // foreign answer finds the handle gone, so the file counts as not stored.
    if (flow == Flow::DuckImport && point == Point::Last && fault != F::StrayFrame) return Outcome::Fails;
    return Outcome::Ok;
}

const char* PointName(Point p) { return p == Point::First ? "first" : p == Point::Middle ? "middle" : "last"; }
const char* OutcomeName(Outcome o) { return o == Outcome::Ok ? "ok" : o == Outcome::Fails ? "fails" : "either"; }

// The flow's requests in a clean run, once per flow.
const std::vector<SeenRequest>& CleanRequests(Flow flow) {
    static std::map<Flow, std::vector<SeenRequest>> cache;
    auto it = cache.find(flow);
    if (it != cache.end()) return it->second;
    FlowRig rig(flow);
    std::vector<SeenRequest> seen;
    if (rig.Ok() && rig.Run().result == 1 && rig.WholeDataProblem().empty()) seen = rig.FlowRequests();
    return cache[flow] = seen;
}

// A download's middle is that of its download-mode requests, which are the
// same whichever mode it started in.
size_t MiddleOf(const std::vector<SeenRequest>& seen) {
    std::vector<size_t> streaming;
    for (size_t i = 0; i < seen.size(); ++i)
        if (seen[i].mode == sim::DeviceMode::Download) streaming.push_back(i);
    return streaming.empty() ? seen.size() / 2 : streaming[streaming.size() / 2];
}

sim::FaultPoint PointIn(const std::vector<SeenRequest>& seen, Point point, InjectedFault fault) {
    const size_t at = point == Point::First ? 0 : point == Point::Middle ? MiddleOf(seen) : seen.size() - 1;
    sim::FaultPoint p;
    p.fault = fault;
    p.mode = static_cast<int>(seen[at].mode);
    p.command = seen[at].command;
    p.nth = 0;
    for (size_t i = 0; i <= at; ++i) p.nth += seen[i].mode == seen[at].mode && seen[i].command == seen[at].command;
    p.lateMs = kLateAnswerMs;
    return p;
}

const char* SuccessLine(Flow flow) {
    if (IsDownload(flow)) return "Download Process Success!!";
    return flow == Flow::Backup ? "BackupBrt Success!!" : "RestoreBrt Success!!";
}

struct Judged {
    bool success = false;
    bool failure = false;
    std::string summary;
};

// A clean success or a clean failure; anything else is neither.
Judged Judge(Flow flow, const FlowRun& run) {
    Judged j;
    std::ostringstream s;
    s << "result " << run.result;
    if (flow == Flow::DuckImport) {
        j.success = run.result == 1;
        j.failure = run.result == 0;
    } else if (!run.lines.empty()) {
        const auto& last = run.lines.back();
        s << ", last line \"" << last.text << "\" (" << last.status << ")";
        j.success = run.result == 1 && last.status == 0 && last.text == SuccessLine(flow);
        j.failure = run.result < 0 && last.status == -1;
    }
    s << ", " << run.took.count() << " ms";
    j.summary = s.str();
    return j;
}

size_t FaultsFired(const sim::CVirtualDevice& device) {
    size_t fired = 0;
    for (const auto& e : device.Recording().Events())
        fired += e.kind == sim::EventKind::Note && e.text.rfind("injected fault", 0) == 0;
    return fired;
}

// One run with the fault at `at` (none when not given): a clean success or a
// clean failure, the one `expected` names where it names one.
void RunWith(Flow flow, const std::optional<sim::FaultPoint>& at, Outcome expected,
             const std::function<void(FlowRig&)>& prepare = nullptr) {
    FlowRig rig(flow);
    ASSERT_TRUE(rig.Ok());
    if (prepare) prepare(rig);
    std::string where;
    if (at) {
        rig.Device().InjectFault(*at);
        where = "mode " + std::to_string(at->mode) + " command " + std::to_string(at->command) + " nth " +
                std::to_string(at->nth) + ": ";
    }
    const FlowRun run = rig.Run();
    const Judged judged = Judge(flow, run);
    SCOPED_TRACE(where + judged.summary);
    std::printf("  %s%s\n", where.c_str(), judged.summary.c_str());
    EXPECT_FALSE(run.hung) << "the flow did not end within " << kCaseLimit.count() << " s";
    if (at) {
        EXPECT_EQ(1u, FaultsFired(rig.Device())) << "the fault was not reached";
    }
    // Resent blocks count again at the device, so only a clean run shows the bound.
    if (flow == Flow::DownloadWindowed && !at) {
        EXPECT_GT(rig.MostWritesOutstanding(), 1) << "the image was not streamed with a window";
        EXPECT_LE(rig.MostWritesOutstanding(), kWindow);
    }
    ASSERT_TRUE(judged.success || judged.failure) << "neither a clean success nor a clean failure";
    if (judged.success) {
        EXPECT_EQ("", rig.WholeDataProblem()) << "success reported with data lost";
    } else {
        EXPECT_EQ("", rig.LostDataProblem());
    }
    if (expected != Outcome::Either) {
        EXPECT_EQ(expected == Outcome::Ok, judged.success)
            << (expected == Outcome::Ok ? "the engine should recover from this fault"
                                        : "this fault must fail the flow");
    }
}

void RunCase(Flow flow, InjectedFault fault, Point point) {
    std::optional<sim::FaultPoint> at;
    if (fault != InjectedFault::None) {
        const std::vector<SeenRequest>& clean = CleanRequests(flow);
        ASSERT_FALSE(clean.empty()) << "the flow fails without a fault";
        at = PointIn(clean, point, fault);
    }
    RunWith(flow, at, Expected(flow, fault, point));
}

struct MatrixCase {
    Flow flow;
    InjectedFault fault;
    Point point;
};

std::vector<MatrixCase> AllCases() {
    std::vector<MatrixCase> cases;
    for (Flow flow : kFlows) {
        cases.push_back({flow, InjectedFault::None, Point::First});
        for (InjectedFault fault : kFaults)
            for (Point point : kPoints) cases.push_back({flow, fault, point});
    }
    return cases;
}

std::string CaseName(const ::testing::TestParamInfo<MatrixCase>& info) {
    std::string name = std::string(FlowName(info.param.flow)) + "_" + sim::InjectedFaultName(info.param.fault);
    if (info.param.fault != InjectedFault::None) name += std::string("_") + PointName(info.param.point);
    for (char& c : name)
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

class FaultMatrix : public ::testing::TestWithParam<MatrixCase> {};

TEST_P(FaultMatrix, EndsWithAClearResultAndNothingLost) {
    RunCase(GetParam().flow, GetParam().fault, GetParam().point);
}

INSTANTIATE_TEST_SUITE_P(Cases, FaultMatrix, ::testing::ValuesIn(AllCases()), CaseName);

// ------------------------------------------------------- windowed download

// The stream writes of the AMSS image, with kWindow of them outstanding:
// its first block (the first of the first window), one in the middle, and
// its last (the last of the last window, after which the close must wait).
const InjectedFault kWindowFaults[] = {
    InjectedFault::NoAnswer, InjectedFault::LateAnswer, InjectedFault::WrongEcho,      InjectedFault::StrayFrame,
    InjectedFault::BadCrc,   InjectedFault::Vanish,     InjectedFault::VanishAndReturn};

// A lost, late, misaddressed or spoiled answer sends the block again; a port
// gone for good fails; a port that comes back may find the programmer gone.
Outcome WindowExpected(InjectedFault fault) {
    if (fault == InjectedFault::Vanish) return Outcome::Fails;
    return fault == InjectedFault::VanishAndReturn ? Outcome::Either : Outcome::Ok;
}

// The AMSS image's stream writes are the longest run of them in a clean run.
sim::FaultPoint WindowPointIn(const std::vector<SeenRequest>& seen, Point point, InjectedFault fault) {
    constexpr int kStreamWrite = 0x07;
    size_t bestStart = 0, bestLength = 0;
    for (size_t i = 0; i < seen.size();) {
        size_t j = i;
        while (j < seen.size() && seen[j].mode == sim::DeviceMode::Download && seen[j].command == kStreamWrite) ++j;
        if (j - i > bestLength) bestStart = i, bestLength = j - i;
        i = j == i ? i + 1 : j;
    }
    const size_t block = point == Point::First ? 0 : point == Point::Middle ? bestLength / 2 : bestLength - 1;
    sim::FaultPoint p;
    p.fault = fault;
    p.mode = static_cast<int>(sim::DeviceMode::Download);
    p.command = kStreamWrite;
    p.nth = 0;
    for (size_t i = 0; i <= bestStart + block; ++i)
        p.nth += seen[i].mode == sim::DeviceMode::Download && seen[i].command == kStreamWrite;
    p.lateMs = kLateAnswerMs;
    return p;
}

struct WindowCase {
    InjectedFault fault;
    Point point;
};

std::vector<WindowCase> AllWindowCases() {
    std::vector<WindowCase> cases = {{InjectedFault::None, Point::First}};
    for (InjectedFault fault : kWindowFaults)
        for (Point point : kPoints) cases.push_back({fault, point});
    return cases;
}

class WindowedFaultMatrix : public ::testing::TestWithParam<WindowCase> {};

TEST_P(WindowedFaultMatrix, EndsWithAClearResultAndNothingLost) {
    std::optional<sim::FaultPoint> at;
    if (GetParam().fault != InjectedFault::None) {
        const std::vector<SeenRequest>& clean = CleanRequests(Flow::DownloadWindowed);
        ASSERT_FALSE(clean.empty()) << "the flow fails without a fault";
        at = WindowPointIn(clean, GetParam().point, GetParam().fault);
    }
    RunWith(Flow::DownloadWindowed, at, WindowExpected(GetParam().fault));
}

INSTANTIATE_TEST_SUITE_P(Cases, WindowedFaultMatrix, ::testing::ValuesIn(AllWindowCases()),
                         [](const ::testing::TestParamInfo<WindowCase>& info) {
                             std::string name = sim::InjectedFaultName(info.param.fault);
                             if (info.param.fault != InjectedFault::None)
                                 name += std::string("_") + PointName(info.param.point);
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

// A device that answers a window's writes out of order, or one of them twice.
TEST(WindowedFaultMatrix, AnswersSwappedOrGivenTwiceStillWriteTheWholeImage) {
    const std::pair<const char*, int> quirks[] = {{"dl.swap-answers", 1}, {"dl.double-answer-block", 10}};
    for (const auto& [knob, value] : quirks) {
        SCOPED_TRACE(knob);
        RunWith(Flow::DownloadWindowed, std::nullopt, Outcome::Ok, [knob = knob, value = value](FlowRig& rig) {
            rig.Device().WithState([&](sim::DeviceState& s) { s.options.knobs[knob] = value; });
        });
    }
}

// ---------------------------------------------------------------- docs table

std::string MatrixTable() {
    std::ostringstream t;
    t << "| fault |";
    for (Flow flow : kFlows) t << ' ' << FlowName(flow) << " |";
    t << "\n|---|";
    for (size_t i = 0; i < std::size(kFlows); ++i) t << "---|";
    t << '\n';
    for (InjectedFault fault : kFaults) {
        t << "| " << sim::InjectedFaultName(fault) << " |";
        for (Flow flow : kFlows) {
            t << ' ';
            for (Point point : kPoints)
                t << (point == Point::First ? "" : " / ") << OutcomeName(Expected(flow, fault, point));
            t << " |";
        }
        t << '\n';
    }
    t << "\n| fault | " << FlowName(Flow::DownloadWindowed) << " (window " << kWindow
      << ", AMSS first / middle / last block) |\n|---|---|\n";
    for (InjectedFault fault : kWindowFaults) {
        const char* outcome = OutcomeName(WindowExpected(fault));
        t << "| " << sim::InjectedFaultName(fault) << " | " << outcome << " / " << outcome << " / " << outcome
          << " |\n";
    }
    return t.str();
}

// The checkout the test binary was built from: the first folder above it
// that holds the fault matrix page and the simulator.
std::filesystem::path SourceMatrixPage() {
    std::error_code error;
    std::filesystem::path dir = std::filesystem::read_symlink("/proc/self/exe", error).parent_path();
    for (; !dir.empty() && dir != dir.root_path(); dir = dir.parent_path())
        if (std::filesystem::exists(dir / "docs" / "fault-matrix.md") &&
            std::filesystem::exists(dir / "simulator" / "README.md"))
            return dir / "docs" / "fault-matrix.md";
    return {};
}

constexpr char kBegin[] = "<!-- fault matrix table: tools/fault-matrix-table writes it -->\n";
constexpr char kEnd[] = "<!-- end of the fault matrix table -->\n";

TEST(FaultMatrixTable, DocsPageShowsTheSuitesTable) {
    const std::filesystem::path page = SourceMatrixPage();
    ASSERT_FALSE(page.empty()) << "docs/fault-matrix.md not found above the test program";
    std::ifstream in(page, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t begin = text.find(kBegin);
    const size_t end = text.find(kEnd);
    ASSERT_NE(std::string::npos, begin) << "docs/fault-matrix.md has no fault matrix table";
    ASSERT_NE(std::string::npos, end);
    const size_t from = begin + std::strlen(kBegin);
    const std::string table = MatrixTable();
    if (const char* write = std::getenv("FENNIX_WRITE_FAULT_MATRIX"); write && *write == '1') {
        text.replace(from, end - from, table);
        std::ofstream(page, std::ios::binary | std::ios::trunc) << text;
        return;
    }
    EXPECT_EQ(table, text.substr(from, end - from)) << "run tools/fault-matrix-table";
}

}  // namespace
}  // namespace fennix::matrix
