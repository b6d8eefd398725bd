// fennix-bench: streaming throughput of StartDownload's image stage through
// libFennix's exports against virtual devices over pseudo-terminals, next to a
// raw baseline that exchanges the same frames over the same kind of pty with
// no engine in between. One device, eight and 32 at once.
//
//   fennix-bench [--mb N] [--runs R] [--time-scale F] [--work DIR] [--devices 1,8,32]
//   fennix-bench --link none,usb-fs,usb-hs [--window 1,8] [--block auto [--max-block N]] [...]
//
// With --link, a table of link x devices x window takes the baseline's place:
// every device models its own USB link (the link.profile knob) and announces
// the largest window asked (dl.window, and dl.max-block under --block auto),
// and the sessions ask SetStreaming for the cell's window, so that window 1
// is the stop-and-wait download against the very same device. A cell's rate
// per device is set against the rate its link carries (LinkBytesPerSecond);
// such runs default to --mb 2, --runs 3 and --devices 1,8.
//
// The image stage is the time, taken from each session's events, from the
// first image stage the flow enters after the partition table (AMSS's
// IMAGE_OPEN) to the end of AMSS's IMAGE_CLOSE (the next stage the flow
// enters, its RESET, or a successful END): the open with its header, every
// stream write and the close. The engine runs at its real timings by default
// (time scale 1): on a loaded two-core machine a thread now and then sleeps past the 500 ms
// stream-write wait, and the block then goes out a second time; the device
// answers both sends, and the engine passes over the second answer. Every
// device must end the stage with exactly the image; the stream writes a
// device saw twice are counted in the table. The baseline's reply wait is 5 s.
// All sessions of a run start that stage together (they wait for each other in
// the event callback), like the baseline's links do. MB = 10^6 bytes. CPU
// time is the benchmark process's own (user + system) over the stage; the
// virtual devices run in a child process. With FENNIX_LOG_LEVEL set, the engine
// writes its diagnostic log into the current directory.
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "DeviceHost.h"
#include "FennixApi.h"
#include "RawLink.h"
#include "simulator/LinkModel.h"
#include "simulator/StreamingImageSet.h"

namespace fennix::bench {
namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    double megabytes = 8;
    int runs = 15;
    double timeScale = 1.0;
    std::string work = "build/bench";
    std::vector<int> deviceCounts = {1, 8, 32};
    // With links, the table of link x window x devices takes the place of the
    // engine against the raw baseline.
    std::vector<int> links;  // link profile numbers (simulator/LinkModel.h)
    std::vector<int> windows = {1, 8};
    bool blockAuto = false;
    int maxBlock = 4096;  // what the devices announce under blockAuto
};

// Under links, unless given: an image that stop-and-wait over full speed
// (about 0.35 MB/s) still carries in seconds, few runs, no 32 devices.
constexpr double kLinkMegabytes = 2;
constexpr int kLinkRuns = 3;
const std::vector<int> kLinkDeviceCounts = {1, 8};

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The steady clock's reading, shared with the devices' process and their records.
double MonotonicSeconds() { return std::chrono::duration<double>(Clock::now().time_since_epoch()).count(); }

// The common window of one run: from the moment all links start the stage to
// the moment the last one finishes it.
class StageWindow {
public:
    explicit StageWindow(int links) : links_(links) {}

    // Blocks until every link is ready, then starts the window once.
    void Ready() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (++ready_ == links_) {
            start_ = Clock::now();
            cpuStart_ = CpuSeconds();
            released_ = true;
            cv_.notify_all();
        } else {
            cv_.wait(lock, [&] { return released_; });
        }
    }
    void Done() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (++done_ == links_) {
            end_ = Clock::now();
            cpuEnd_ = CpuSeconds();
            cv_.notify_all();
        }
    }
    // Releases waiting links when one of them failed in or before the stage;
    // false when the stage had completed (a flow's later steps, such as the
    // reset after the devices were stopped, are not measured).
    bool Abandon(const std::string& path = "") {
        std::lock_guard<std::mutex> lock(mutex_);
        if (done_ == links_) return false;
        if (!path.empty()) failedPaths_.push_back(path);
        released_ = true;
        failed_ = true;
        cv_.notify_all();
        return true;
    }
    bool Failed(const std::string& path) {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::find(failedPaths_.begin(), failedPaths_.end(), path) != failedPaths_.end();
    }
    std::vector<std::string> FailedPaths() {
        std::lock_guard<std::mutex> lock(mutex_);
        return failedPaths_;
    }
    // Waits until every link finished the stage or one failed.
    void Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait(lock, [&] { return failed_ || done_ == links_; });
    }
    bool Complete() const { return !failed_ && done_ == links_; }
    double Seconds() const { return std::chrono::duration<double>(end_ - start_).count(); }
    double CpuUsed() const { return cpuEnd_ - cpuStart_; }

private:
    const int links_;
    std::mutex mutex_;
    std::condition_variable cv_;
    int ready_ = 0, done_ = 0;
    bool released_ = false, failed_ = false;
    Clock::time_point start_, end_;
    double cpuStart_ = 0, cpuEnd_ = 0;
    std::vector<std::string> failedPaths_;
};

struct Figures {
    bool ok = false;
    double mbPerSecond = 0;
    double cpuMsPerMb = 0;
    uint64_t sentTwice = 0;  // stream writes a device saw beyond one per block
    uint64_t blocks = 0;     // stream writes needed, all devices together
    std::string problem;
};

// AMSS's place in the flash order (FennixEvent::image).
constexpr int32_t kAmssImage = 5;

// One session's way through the image stage, told by its events.
struct StageClock {
    StageWindow* window;
    bool started = false;
    bool closingAmss = false;

    void Finish() {
        closingAmss = false;
        window->Done();
    }
};

bool IsImageStage(int32_t stage) {
    return stage == FENNIX_STAGE_IMAGE_OPEN || stage == FENNIX_STAGE_IMAGE_WRITE || stage == FENNIX_STAGE_IMAGE_CLOSE;
}

void OnEvent(const FennixEvent* event, void* context) {
    StageClock& clock = *static_cast<StageClock*>(context);
    if (event->kind == FENNIX_EVENT_STAGE) {
        if (clock.closingAmss) clock.Finish();
        if (!clock.started && IsImageStage(event->stage)) {
            clock.started = true;
            clock.window->Ready();
        }
        clock.closingAmss = event->stage == FENNIX_STAGE_IMAGE_CLOSE && event->image == kAmssImage;
    } else if (event->kind == FENNIX_EVENT_END && clock.closingAmss && event->cause == FENNIX_CAUSE_NONE) {
        // A close that failed ends the flow too; that session abandons the window.
        clock.Finish();
    }
}

// The last block may be empty.
uint64_t BlocksOf(uint64_t bytes, uint64_t blockBytes) { return bytes / blockBytes + 1; }

Figures Summarise(StageWindow& window, const std::vector<DeviceReport>& reports, int links, uint64_t imageBytes,
                  uint64_t blockBytes = 1024) {
    Figures f;
    const uint64_t blocks = BlocksOf(imageBytes, blockBytes);
    if (static_cast<int>(reports.size()) != links) f.problem = "device report missing";
    for (const auto& r : reports) {
        if (!r.identical) f.problem = "a device does not hold exactly the files";
        if (r.streamWrites > blocks) f.sentTwice += r.streamWrites - blocks;
    }
    if (!window.Complete()) f.problem = "the image stage did not complete";
    if (!f.problem.empty()) return f;
    const double mb = static_cast<double>(imageBytes) * links / 1e6;
    f.ok = true;
    f.blocks = blocks * static_cast<uint64_t>(links);
    f.mbPerSecond = mb / window.Seconds();
    f.cpuMsPerMb = window.CpuUsed() * 1000 / mb;
    return f;
}

// Sessions still in their flow: after the image stage comes the reset and the
// pause of the skipped power-on check, which the measurement does not wait
// for. They sleep meanwhile; the program joins them at the end.
std::vector<std::thread> gFinishing;

// The programmer's bytes as a device should hold them after the upload.
std::string ProgrammerBytesFile(const sim::SampleImageSet& set) {
    const std::string path = set.directory + "/programmer.bin";
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f) {
        std::fwrite(set.programmerData.data(), 1, set.programmerData.size(), f);
        std::fclose(f);
    }
    return path;
}

// What the devices of a run announce and how the sessions stream. Unset, the
// devices are today's and the sessions keep their default (stop-and-wait,
// 1024-byte blocks).
struct Streaming {
    bool set = false;  // the sessions call SetStreaming
    int32_t window = 1;
    bool blockAuto = false;
    uint64_t blockBytes = 1024;  // what each stream write carries (but the last)
    std::vector<CDeviceHost::Knob> knobs;
};

Figures EngineRun(CDeviceHost& host, const FennixApi& api, const sim::SampleImageSet& set, int links,
                  const std::string& workDir, const Streaming& streaming = {}) {
    const auto paths = host.StartDevices(links, streaming.knobs);
    if (paths.empty()) {
        Figures refused;
        refused.problem = "the devices did not start (a knob refused?)";
        return refused;
    }
    auto window = std::make_shared<StageWindow>(static_cast<int>(paths.size()));
    for (const std::string& path : paths) {
        gFinishing.emplace_back([&api, &set, window, path, streaming] {
            StageClock clock{window.get()};
            FennixHandle s = api.setComPort(path.c_str());
            api.setEventCallback(s, OnEvent, &clock);
            if (streaming.set) api.setStreaming(s, streaming.window, streaming.blockAuto ? 1 : 0);
            api.setSkipCheck(s);
            api.setHexFile(s, set.programmer.c_str());
            api.setMbnFile(s, set.partition.c_str(), "", "", "", "", "", "", set.amsshd.c_str(), set.amss.c_str(), "");
            const int32_t result = api.startDownload(s);
            api.close(s);
            // A failure after the stage is the bench's own doing: it stops the
            // devices once they were checked, which a reset still on its way
            // over a slow link does not survive.
            if (result != 1 && window->Abandon(path))
                std::fprintf(stderr, "fennix-bench: StartDownload on %s returned %d at %.6f\n", path.c_str(),
                             static_cast<int>(result), MonotonicSeconds());
        });
    }
    window->Wait();
    // The devices' records of what arrived when, beside the engine's failure:
    // the failed device's, and the others' for what happened meanwhile.
    for (const std::string& path : window->FailedPaths().empty() ? std::vector<std::string>{} : paths) {
        const std::string file = std::filesystem::absolute(workDir).string() + "/record-" +
                                 std::filesystem::path(path).filename().string() + ".txt";
        if (!host.DumpRecording(path, file).empty() && window->Failed(path))
            std::fprintf(stderr, "fennix-bench: the device's record is in %s\n", file.c_str());
    }
    static const std::string programmer = ProgrammerBytesFile(set);
    const auto reports = host.Verify(set.amss, set.amsshd, set.partition, programmer);
    host.StopDevices();
    return Summarise(*window, reports, links, std::filesystem::file_size(set.amss), streaming.blockBytes);
}

// The frames the engine sends for the image stage, built once.
struct StageFrames {
    std::vector<std::vector<uint8_t>> setup;  // go, hello, security mode
    std::vector<uint8_t> open;
    std::vector<std::vector<uint8_t>> writes;
    std::vector<uint8_t> close;
};

StageFrames BuildFrames(const sim::SampleImageSet& set) {
    StageFrames f;
    f.setup.push_back(DownloadFrame({0x05, 0x00, 0x10, 0x00, 0x00}));
    std::vector<uint8_t> hello = {0x01};
    const char magic[] = "QCOM fast download protocol host";
    hello.insert(hello.end(), magic, magic + 32);
    hello.insert(hello.end(), {3, 3, 9});
    f.setup.push_back(DownloadFrame(hello));
    f.setup.push_back(DownloadFrame({0x17, 0x01}));
    std::vector<uint8_t> open = {0x1B, 5};
    const auto header = sim::ReadWholeFile(set.amsshd);
    open.insert(open.end(), header.begin(), header.end());
    f.open = DownloadFrame(open);
    const auto body = sim::ReadWholeFile(set.amss);
    for (size_t offset = 0;; offset += 1024) {
        const size_t n = std::min<size_t>(1024, body.size() - offset);
        std::vector<uint8_t> packet = {0x07, uint8_t(offset), uint8_t(offset >> 8), uint8_t(offset >> 16),
                                       uint8_t(offset >> 24)};
        packet.insert(packet.end(), body.begin() + static_cast<std::ptrdiff_t>(offset),
                      body.begin() + static_cast<std::ptrdiff_t>(offset + n));
        f.writes.push_back(DownloadFrame(packet));
        if (n != 1024) break;
    }
    f.close = DownloadFrame({0x15});
    return f;
}

Figures BaselineRun(CDeviceHost& host, const sim::SampleImageSet& set, const StageFrames& frames, int links) {
    const auto paths = host.StartDevices(links);
    StageWindow window(static_cast<int>(paths.size()));
    std::vector<std::thread> threads;
    for (size_t i = 0; i < paths.size(); ++i) {
        threads.emplace_back([&, i] {
            CRawLink link;
            bool ok = link.Open(paths[i]) == 0;
            const uint8_t setupReplies[] = {0x02, 0x02, 0x18};
            for (size_t k = 0; ok && k < frames.setup.size(); ++k)
                ok = link.Exchange(frames.setup[k]) == setupReplies[k];
            if (!ok) {
                window.Abandon();
                return;
            }
            window.Ready();
            ok = link.Exchange(frames.open) == 0x1C;
            for (size_t k = 0; ok && k < frames.writes.size(); ++k) ok = link.Exchange(frames.writes[k]) == 0x08;
            ok = ok && link.Exchange(frames.close) == 0x16;
            if (ok)
                window.Done();
            else
                window.Abandon();
        });
    }
    for (auto& t : threads) t.join();
    const auto reports = host.Verify(set.amss, set.amsshd);
    host.StopDevices();
    return Summarise(window, reports, links, std::filesystem::file_size(set.amss));
}

// The median of a list (the mean of the middle two for an even count).
double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The runs of one device count: each run is a baseline pass and an engine pass
// back to back, so a pair shares the machine's state of the moment. Reported
// are medians over the runs, and the median of the pairs' ratios: on a shared
// or virtual machine single runs swing by a third either way, and the best of
// each side would compare two different lucky moments.
struct Summary {
    bool ok = true;
    std::string problem;
    double engineMbPerSecond = 0, baselineMbPerSecond = 0, ratio = 0;
    double engineCpuMsPerMb = 0, baselineCpuMsPerMb = 0;
    uint64_t sentTwice = 0;  // over all runs
    uint64_t blocks = 0;     // stream writes the engine had to get through, over all runs
};

Summary SummariseRuns(const std::vector<Figures>& engineRuns, const std::vector<Figures>& baselineRuns) {
    Summary s;
    std::vector<double> engine, baseline, ratio, engineCpu, baselineCpu;
    for (size_t i = 0; i < engineRuns.size(); ++i) {
        const Figures& e = engineRuns[i];
        const Figures& b = baselineRuns[i];
        if (!e.ok || !b.ok) {
            s.ok = false;
            s.problem =
                std::string("engine: ") + (e.ok ? "ok" : e.problem) + "; baseline: " + (b.ok ? "ok" : b.problem);
            return s;
        }
        engine.push_back(e.mbPerSecond);
        baseline.push_back(b.mbPerSecond);
        ratio.push_back(e.mbPerSecond / b.mbPerSecond);
        engineCpu.push_back(e.cpuMsPerMb);
        baselineCpu.push_back(b.cpuMsPerMb);
        s.sentTwice += e.sentTwice;
        s.blocks += e.blocks;
    }
    s.engineMbPerSecond = Median(engine);
    s.baselineMbPerSecond = Median(baseline);
    s.ratio = Median(ratio);
    s.engineCpuMsPerMb = Median(engineCpu);
    s.baselineCpuMsPerMb = Median(baselineCpu);
    return s;
}

std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items;
    std::stringstream list(text);
    std::string item;
    while (std::getline(list, item, ',')) items.push_back(item);
    return items;
}

// A whole number from lo to hi, or nullopt.
std::optional<int> Whole(const std::string& text, int lo, int hi) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < lo || value > hi) return std::nullopt;
    return static_cast<int>(value);
}

bool ParseWholeList(const std::string& text, int lo, int hi, std::vector<int>& out) {
    out.clear();
    for (const std::string& item : SplitList(text)) {
        const std::optional<int> n = Whole(item, lo, hi);
        if (!n) return false;
        out.push_back(*n);
    }
    return !out.empty();
}

bool ParseLinks(const std::string& text, std::vector<int>& out) {
    out.clear();
    for (const std::string& name : SplitList(text)) {
        const int profile = sim::LinkProfileNumber(name);
        if (profile < 0) return false;
        out.push_back(profile);
    }
    return !out.empty();
}

bool Usage() {
    std::fprintf(stderr,
                 "usage: fennix-bench [--mb N] [--runs R] [--time-scale F] [--work DIR] [--devices 1,8,32]\n"
                 "                    [--link none,usb-fs,usb-hs [--window 1,8] [--block auto [--max-block N]]]\n");
    return false;
}

bool Parse(int argc, char** argv, Options& o) {
    bool mbGiven = false, runsGiven = false, devicesGiven = false, streamingGiven = false, maxBlockGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const bool hasValue = i + 1 < argc;
        bool ok = hasValue;
        if (a == "--mb" && hasValue) {
            o.megabytes = std::atof(argv[++i]);
            mbGiven = true;
        } else if (a == "--runs" && hasValue) {
            o.runs = std::atoi(argv[++i]);
            runsGiven = true;
        } else if (a == "--time-scale" && hasValue) {
            o.timeScale = std::atof(argv[++i]);
        } else if (a == "--work" && hasValue) {
            o.work = argv[++i];
        } else if (a == "--devices" && hasValue) {
            ok = ParseWholeList(argv[++i], 1, 32, o.deviceCounts);
            devicesGiven = true;
        } else if (a == "--link" && hasValue) {
            ok = ParseLinks(argv[++i], o.links);
        } else if (a == "--window" && hasValue) {
            ok = ParseWholeList(argv[++i], 1, 65535, o.windows);
            streamingGiven = true;
        } else if (a == "--block" && hasValue) {
            ok = std::string(argv[++i]) == "auto";
            o.blockAuto = streamingGiven = true;
        } else if (a == "--max-block" && hasValue) {
            const std::optional<int> n = Whole(argv[++i], 1, 32768);
            ok = n.has_value();
            o.maxBlock = n.value_or(0);
            streamingGiven = maxBlockGiven = true;
        } else {
            ok = false;
        }
        if (!ok) return Usage();
    }
    // The window and block settings are the link table's.
    if ((streamingGiven && o.links.empty()) || (maxBlockGiven && !o.blockAuto)) return Usage();
    if (!o.links.empty()) {
        if (!mbGiven) o.megabytes = kLinkMegabytes;
        if (!runsGiven) o.runs = kLinkRuns;
        if (!devicesGiven) o.deviceCounts = kLinkDeviceCounts;
    }
    return o.megabytes > 0 && o.runs > 0 && o.timeScale > 0;
}

// The median of one cell's runs.
struct CellSummary {
    bool ok = true;
    std::string problem;
    double mbPerSecond = 0;  // all devices together
    double cpuMsPerMb = 0;
    uint64_t sentTwice = 0, blocks = 0;  // over all runs
};

CellSummary SummariseCell(const std::vector<Figures>& runs) {
    CellSummary c;
    std::vector<double> rate, cpu;
    for (const Figures& f : runs) {
        if (!f.ok) {
            c.ok = false;
            c.problem = f.problem;
            return c;
        }
        rate.push_back(f.mbPerSecond);
        cpu.push_back(f.cpuMsPerMb);
        c.sentTwice += f.sentTwice;
        c.blocks += f.blocks;
    }
    c.mbPerSecond = Median(rate);
    c.cpuMsPerMb = Median(cpu);
    return c;
}

// The table of link x window x devices: each cell's devices model the link
// and announce the largest window asked, and the sessions ask for the
// cell's window, so that 1 is stop-and-wait against the same device.
bool LinkTable(CDeviceHost& host, const FennixApi& api, const sim::SampleImageSet& set, const Options& o) {
    const int announced = *std::max_element(o.windows.begin(), o.windows.end());
    const uint64_t blockBytes = o.blockAuto ? static_cast<uint64_t>(o.maxBlock) : 1024;
    std::printf(
        "Image stage: AMSS of %.1f MB with its header, %llu-byte stream writes; every device models its own\n"
        "USB link and announces a window of %d (and blocks of %llu bytes). Engine: StartDownload through\n"
        "libFennix's exports (time scale %g) with SetStreaming(window, %d). Medians of %d runs; MB = 10^6\n"
        "bytes; the link's rate is what its bus carries to the device, frames and all.\n\n",
        static_cast<double>(std::filesystem::file_size(set.amss)) / 1e6, static_cast<unsigned long long>(blockBytes),
        announced, static_cast<unsigned long long>(o.blockAuto ? blockBytes : 1024), o.timeScale, o.blockAuto ? 1 : 0,
        o.runs);
    std::printf(
        "link    window  devices  MB/s per device  MB/s total  link MB/s  of link  x window 1  CPU ms/MB  "
        "sent twice\n");
    bool allOk = true;
    for (int link : o.links) {
        const char* name = sim::LinkProfileAt(link)->name;
        const double linkMbPerSecond = sim::LinkBytesPerSecond(link) / 1e6;
        for (int devices : o.deviceCounts) {
            std::optional<double> stopAndWait;  // per device, when window 1 was measured first
            for (int window : o.windows) {
                Streaming streaming;
                streaming.set = true;
                streaming.window = window;
                streaming.blockAuto = o.blockAuto;
                streaming.blockBytes = blockBytes;
                streaming.knobs = {{"link.profile", link}, {"dl.window", announced}};
                if (o.blockAuto) streaming.knobs.emplace_back("dl.max-block", o.maxBlock);
                std::vector<Figures> runs;
                for (int r = 0; r < o.runs; ++r) runs.push_back(EngineRun(host, api, set, devices, o.work, streaming));
                const CellSummary c = SummariseCell(runs);
                if (!c.ok) {
                    std::printf("%-6s  %6d  %7d  failed: %s\n", name, window, devices, c.problem.c_str());
                    allOk = false;
                    continue;
                }
                const double perDevice = c.mbPerSecond / devices;
                if (window == 1) stopAndWait = perDevice;
                char linkRate[16] = "      -", ofLink[16] = "     -", speedup[16] = "         -";
                if (linkMbPerSecond > 0) {
                    std::snprintf(linkRate, sizeof linkRate, "%7.2f", linkMbPerSecond);
                    std::snprintf(ofLink, sizeof ofLink, "%5.0f%%", 100 * perDevice / linkMbPerSecond);
                }
                if (stopAndWait) std::snprintf(speedup, sizeof speedup, "%10.2f", perDevice / *stopAndWait);
                std::printf("%-6s  %6d  %7d  %15.2f  %10.2f  %9s  %7s  %10s  %9.1f  %llu of %llu\n", name, window,
                            devices, perDevice, c.mbPerSecond, linkRate, ofLink, speedup, c.cpuMsPerMb,
                            static_cast<unsigned long long>(c.sentTwice), static_cast<unsigned long long>(c.blocks));
                std::printf("        MB/s per device of the %d runs:", o.runs);
                for (const Figures& f : runs) std::printf(" %.2f", f.mbPerSecond / devices);
                std::printf("\n");
            }
        }
    }
    return allOk;
}

int Main(int argc, char** argv) {
    Options o;
    if (!Parse(argc, argv, o)) return 2;
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each row as it is measured, also into a file
    // Before any thread: the devices live in a child process.
    CDeviceHost host;
    std::string error;
    if (!host.Start(&error)) {
        std::fprintf(stderr, "fennix-bench: cannot start the device process: %s\n", error.c_str());
        return 1;
    }
    char scale[32];
    std::snprintf(scale, sizeof scale, "%g", o.timeScale);
    setenv("FENNIX_TIME_SCALE", scale, 1);
    FennixApi api;
    if (!api.Load(DefaultLibraryPath(), &error)) {
        std::fprintf(stderr, "fennix-bench: cannot load libFennix: %s\n", error.c_str());
        return 1;
    }

    // The engine's diagnostic log, in the current directory, when its
    // settings are in the environment (FENNIX_LOG_LEVEL and friends).
    if (std::getenv("FENNIX_LOG_LEVEL") != nullptr) api.startLog();

    sim::SampleImageSizes sizes;
    sizes.programmer = 4096;
    sizes.amss = static_cast<size_t>(o.megabytes * 1e6);
    const sim::SampleImageSet set =
        sim::WriteSampleImageSet(std::filesystem::absolute(o.work).string() + "/images", sizes);
    if (!o.links.empty()) {
        const bool ok = LinkTable(host, api, set, o);
        std::printf("\nWaiting for the last sessions to finish their flows...\n");
        for (auto& t : gFinishing) t.join();
        return ok ? 0 : 1;
    }
    const StageFrames frames = BuildFrames(set);

    std::printf(
        "Image stage: AMSS of %.1f MB with its header, 1024-byte stream writes, one in flight per device.\n"
        "Engine: StartDownload through libFennix's exports (time scale %g); baseline: the same frames\n"
        "written and answered over the same kind of pty with no engine. Medians of %d runs, each a\n"
        "baseline pass and an engine pass back to back; the ratio is the median of the runs' ratios.\n\n",
        static_cast<double>(sizes.amss) / 1e6, o.timeScale, o.runs);
    std::printf(
        "devices  engine MB/s  baseline MB/s  ratio  target  engine CPU ms/MB  baseline CPU ms/MB  "
        "sent twice\n");
    bool allOk = true;
    for (int links : o.deviceCounts) {
        std::vector<Figures> engineRuns, baselineRuns;
        for (int r = 0; r < o.runs; ++r) {
            baselineRuns.push_back(BaselineRun(host, set, frames, links));
            engineRuns.push_back(EngineRun(host, api, set, links, o.work));
        }
        const Summary m = SummariseRuns(engineRuns, baselineRuns);
        if (!m.ok) {
            std::printf("%7d  failed: %s\n", links, m.problem.c_str());
            allOk = false;
            continue;
        }
        const double target = links == 1 ? 0.9 : 0.8;
        std::printf("%7d  %11.2f  %13.2f  %5.2f  %6.1f  %16.1f  %18.1f  %4llu of %llu%s\n", links, m.engineMbPerSecond,
                    m.baselineMbPerSecond, m.ratio, target, m.engineCpuMsPerMb, m.baselineCpuMsPerMb,
                    static_cast<unsigned long long>(m.sentTwice), static_cast<unsigned long long>(m.blocks),
                    m.ratio >= target ? "" : "  (below target)");
        std::printf("         ratios of the %d runs:", o.runs);
        for (int r = 0; r < o.runs; ++r)
            std::printf(" %.2f", engineRuns[static_cast<size_t>(r)].mbPerSecond /
                                     baselineRuns[static_cast<size_t>(r)].mbPerSecond);
        std::printf("\n");
    }
    std::printf("\nWaiting for the last sessions to finish their flows...\n");
    for (auto& t : gFinishing) t.join();
    return allOk ? 0 : 1;
}

}  // namespace
}  // namespace fennix::bench

int main(int argc, char** argv) { return fennix::bench::Main(argc, argv); }
