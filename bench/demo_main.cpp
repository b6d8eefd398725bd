// fennix-demo: flashes up to 32 virtual MSM devices at once (eight by
// default) through libFennix's exported functions, one thread per device as
// the operator program does, and shows the progress of each; at the end it
// checks every device's flash against the image files.
//
//   fennix-demo [--work DIR] [--time-scale F | --real-time] [--amss-mb N]
//               [--devices N] [--skip-check] [--library PATH]
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "FennixApi.h"
#include "NvRoundTrip.h"
#include "simulator/StreamingFlash.h"
#include "simulator/StreamingImageSet.h"
#include "simulator/VirtualDevice.h"

namespace fennix::bench {
namespace {

using Clock = std::chrono::steady_clock;
using sim::DeviceMode;

// A quarter of the real timing: the demo ends in well under a minute, and with
// up to eight devices the reply waits (125 ms for a stream write) stay far
// above a loaded machine's answer times. More devices share the processors
// with more threads, devices and sessions alike (all in this process), and a
// thread that sleeps past two such waits fails its image: they run at the
// real timings.
constexpr double kDefaultAmssMb = 6;
constexpr double kDefaultTimeScale = 0.25;
constexpr int kMostDevicesAtDefaultScale = 8;

struct Options {
    std::string work = "build/demo";
    std::string library;
    double timeScale = kDefaultTimeScale;
    bool timeScaleGiven = false;
    double amssMb = kDefaultAmssMb;
    int devices = 8;
    static constexpr int kMostDevices = 32;
    bool skipCheck = false;
};

// How each device starts: the path into download mode differs by mode and,
// from DIAG, by platform group. Devices beyond the eighth repeat the list.
struct SlotSpec {
    const char* label;
    DeviceMode mode;
    const char* platform;
};
const SlotSpec kSlotSpecs[] = {
    {"AT", DeviceMode::At, "Q6250"},                   {"AT", DeviceMode::At, "T7413"},
    {"DIAG group 0", DeviceMode::Diag, "Q6250"},       {"DIAG group 0", DeviceMode::Diag, "Q6280"},
    {"DIAG group 1", DeviceMode::Diag, "T7413"},       {"DIAG group 1", DeviceMode::Diag, "K7M01"},
    {"download", DeviceMode::Download, "Q6250"},       {"download", DeviceMode::Download, "T7413"},
};
// The images of the set in the order they are streamed.
const char* const kImageNames[] = {"QCSBLHD", "QCSBL", "OEMSBL", "AMSS", "CEFS"};

struct Slot {
    int number = 0;
    SlotSpec spec{};
    std::unique_ptr<sim::CVirtualDevice> device;
    std::FILE* log = nullptr;

    std::mutex mutex;  // guards what follows (the flow thread writes, the display reads)
    std::string lastLine;
    bool failed = false;
    int imagePercent = -1;  // of the image streaming now; -1 between images
    int imagesDone = 0;
    bool streaming = false;
    bool streamed = false;  // the image stage is over
    Clock::time_point start, streamStart, streamEnd, end;
    bool done = false;
    int32_t result = 0;
    sim::FlashCheck check;
    uint64_t streamedAtEnd = 0;
};

thread_local Slot* tSlot = nullptr;
Clock::time_point gStart;

// The progress callback: a plain function, so the slot comes from the thread.
void OnProgress(const char* text, int32_t status) {
    Slot* slot = tSlot;
    if (!slot) return;
    const double t = std::chrono::duration<double>(Clock::now() - gStart).count();
    std::fprintf(slot->log, "%8.3f %2d %s\n", t, status, text);
    std::lock_guard<std::mutex> lock(slot->mutex);
    int percent = 0;
    if (std::sscanf(text, " %d %% completed.", &percent) == 1 && std::strstr(text, "% completed.")) {
        if (!slot->streaming) {
            slot->streaming = true;
            slot->streamStart = Clock::now();
        }
        slot->imagePercent = percent;
        return;
    }
    if (status < 0) slot->failed = true;
    if (slot->streaming && !slot->streamed && (status < 0 || std::strcmp(text, "Reset !! Please Wait....") == 0)) {
        slot->streamed = true;
        slot->streamEnd = Clock::now();
    }
    if (std::strncmp(text, "Download ", 9) == 0 && std::strstr(text, "File Success!!") &&
        !std::strstr(text, "Partition")) {
        ++slot->imagesDone;
        slot->imagePercent = -1;
    }
    if (*text) slot->lastLine = text;
}

std::string Bar(double fraction, int width) {
    const int filled = static_cast<int>(std::lround(std::min(1.0, std::max(0.0, fraction)) * width));
    return std::string(static_cast<size_t>(filled), '#') + std::string(static_cast<size_t>(width - filled), '.');
}

std::string StatusLine(Slot& slot, uint64_t bodyBytes) {
    const uint64_t streamed = slot.done ? slot.streamedAtEnd : sim::StreamedBytes(*slot.device);
    std::lock_guard<std::mutex> lock(slot.mutex);
    const auto now = slot.streamed ? slot.streamEnd : slot.done ? slot.end : Clock::now();
    const double fraction = bodyBytes ? static_cast<double>(streamed) / static_cast<double>(bodyBytes) : 0;
    double rate = 0;
    if (slot.streaming) {
        const double seconds = std::chrono::duration<double>(now - slot.streamStart).count();
        if (seconds > 0.05) rate = static_cast<double>(streamed) / seconds / 1e6;
    }
    std::string stage;
    if (slot.done) {
        stage = slot.result == 1 ? "done" : "FAILED (" + std::to_string(slot.result) + ")";
        stage += ": " + slot.lastLine;
    } else if (slot.imagePercent >= 0 && slot.imagesDone < static_cast<int>(std::size(kImageNames))) {
        stage = std::string("writing ") + kImageNames[slot.imagesDone] + " " + std::to_string(slot.imagePercent) + "%";
    } else {
        stage = slot.lastLine.empty() ? "starting" : slot.lastLine;
    }
    if (stage.size() > 44) stage.resize(44);
    char line[200];
    std::snprintf(line, sizeof line, " %2d  %-13s [%s] %3d%%  %6.2f MB/s  %s", slot.number, slot.spec.label,
                  Bar(fraction, 20).c_str(), static_cast<int>(fraction * 100), rate, stage.c_str());
    return line;
}

void RunSlot(Slot& slot, const FennixApi& api, const sim::SampleImageSet& set, bool skipCheck) {
    tSlot = &slot;
    {
        std::lock_guard<std::mutex> lock(slot.mutex);
        slot.start = Clock::now();
    }
    const std::string port = slot.device->Path();
    FennixHandle session = api.setComPort(port.c_str());
    api.setCallBack(session, OnProgress);
    if (skipCheck) api.setSkipCheck(session);
    api.setHexFile(session, set.programmer.c_str());
    api.setMbnFile(session, set.partition.c_str(), "", set.pbl.c_str(), set.qcsblhd.c_str(), set.qcsbl.c_str(),
                   set.oemsblhd.c_str(), set.oemsbl.c_str(), set.amsshd.c_str(), set.amss.c_str(), set.cefs.c_str());
    const int32_t result = api.startDownload(session);
    api.close(session);

    const sim::FlashCheck check = sim::CompareWithSet(sim::SnapshotDownloadTarget(*slot.device), set);
    const uint64_t streamed = sim::StreamedBytes(*slot.device);
    std::lock_guard<std::mutex> lock(slot.mutex);
    slot.end = Clock::now();
    slot.result = result;
    slot.check = check;
    slot.streamedAtEnd = streamed;
    slot.done = true;
}

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", name);
                return nullptr;
            }
            return argv[++i];
        };
        if (a == "--work") {
            const char* v = value("--work");
            if (!v) return false;
            o.work = v;
        } else if (a == "--library") {
            const char* v = value("--library");
            if (!v) return false;
            o.library = v;
        } else if (a == "--time-scale") {
            const char* v = value("--time-scale");
            if (!v) return false;
            o.timeScale = std::atof(v);
            o.timeScaleGiven = true;
        } else if (a == "--real-time") {
            o.timeScale = 1.0;
            o.timeScaleGiven = true;
        } else if (a == "--amss-mb") {
            const char* v = value("--amss-mb");
            if (!v) return false;
            o.amssMb = std::atof(v);
        } else if (a == "--devices") {
            const char* v = value("--devices");
            if (!v) return false;
            o.devices = std::atoi(v);
        } else if (a == "--skip-check") {
            o.skipCheck = true;
        } else {
            std::fprintf(stderr,
                         "usage: fennix-demo [--work DIR] [--time-scale F | --real-time] [--amss-mb N]\n"
                         "                   [--devices 1..32] [--skip-check] [--library PATH]\n");
            return false;
        }
    }
    if (o.devices < 1 || o.devices > Options::kMostDevices || !(o.timeScale > 0) || !(o.amssMb > 0)) {
        std::fprintf(stderr, "fennix-demo: --devices takes 1..%d, --time-scale and --amss-mb positive numbers\n",
                     Options::kMostDevices);
        return false;
    }
    return true;
}

std::string Megabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

int Main(int argc, char** argv) {
    Options o;
    if (!ParseOptions(argc, argv, o)) return 2;
    if (!o.timeScaleGiven) {
        o.timeScale = o.devices > kMostDevicesAtDefaultScale ? 1.0 : kDefaultTimeScale;
        if (const char* env = std::getenv("FENNIX_TIME_SCALE"); env && *env && std::atof(env) > 0)
            o.timeScale = std::atof(env);
    }
    // Every session reads the factor when it is created.
    char scaleText[32];
    std::snprintf(scaleText, sizeof scaleText, "%g", o.timeScale);
    setenv("FENNIX_TIME_SCALE", scaleText, 1);

    FennixApi api;
    std::string error;
    const std::string library = o.library.empty() ? DefaultLibraryPath() : o.library;
    if (!api.Load(library, &error)) {
        std::fprintf(stderr, "fennix-demo: cannot load %s: %s\n", library.c_str(), error.c_str());
        return 1;
    }

    const std::filesystem::path work = std::filesystem::absolute(o.work);
    std::filesystem::create_directories(work / "ports");
    std::filesystem::create_directories(work / "logs");
    sim::SampleImageSizes sizes;
    sizes.amss = static_cast<size_t>(o.amssMb * 1024 * 1024);
    std::printf("Fennix demo: %d virtual devices flashed at once through %s\n", o.devices, library.c_str());
    std::printf("Time scale %g (FENNIX_TIME_SCALE): every pause and time limit of the engine at %g x the real "
                "timing%s\n",
                o.timeScale, o.timeScale, o.timeScale == 1.0 ? "" : "; --real-time for the real timings");
    const sim::SampleImageSet set = sim::WriteSampleImageSet((work / "images").string(), sizes);
    uint64_t bodyBytes = 0;
    for (const std::string* p : {&set.qcsblhd, &set.qcsbl, &set.oemsbl, &set.amss, &set.cefs})
        if (!p->empty()) bodyBytes += std::filesystem::file_size(*p);
    std::printf("Image set in %s: programmer %s (%zu bytes of code), partition table, QCSBLHD, QCSBL, OEMSBL and "
                "AMSS with headers, CEFS; %s per device\n\n",
                set.directory.c_str(), std::filesystem::path(set.programmer).filename().c_str(),
                set.programmerData.size(), Megabytes(bodyBytes).c_str());

    std::vector<std::unique_ptr<Slot>> slots;
    for (int i = 0; i < o.devices; ++i) {
        auto slot = std::make_unique<Slot>();
        slot->number = i + 1;
        slot->spec = kSlotSpecs[static_cast<size_t>(i) % std::size(kSlotSpecs)];
        sim::DeviceOptions options;
        options.mode = slot->spec.mode;
        options.platformId = slot->spec.platform;
        options.directory = (work / "ports").string();
        options.name = "ttyMSM" + std::to_string(i + 1);
        options.recordBytesLimit = 16;  // keep the recording small; the flash keeps every byte
        slot->device = std::make_unique<sim::CVirtualDevice>(options);
        if (int e = slot->device->Start(); e != 0) {
            std::fprintf(stderr, "fennix-demo: cannot start virtual device %d: %s\n", i + 1, std::strerror(e));
            return 1;
        }
        slot->log = std::fopen((work / "logs" / ("slot" + std::to_string(i + 1) + ".txt")).c_str(), "w");
        if (!slot->log) slot->log = std::fopen("/dev/null", "w");
        std::printf(" %2d  %-13s platform %s at %s\n", i + 1, slot->spec.label, slot->spec.platform,
                    slot->device->Path().c_str());
        slots.push_back(std::move(slot));
    }
    std::printf("\n");

    gStart = Clock::now();
    std::vector<std::thread> workers;
    for (auto& slot : slots) workers.emplace_back(RunSlot, std::ref(*slot), std::cref(api), std::cref(set), o.skipCheck);

    const bool tty = isatty(STDOUT_FILENO);
    auto allDone = [&] {
        for (auto& s : slots) {
            std::lock_guard<std::mutex> lock(s->mutex);
            if (!s->done) return false;
        }
        return true;
    };
    bool drawn = false;
    auto lastPlain = Clock::now();
    for (;;) {
        const bool finished = allDone();
        if (tty) {
            if (drawn) std::printf("\033[%dA", o.devices);
            for (auto& s : slots) std::printf("\033[2K%s\n", StatusLine(*s, bodyBytes).c_str());
            drawn = true;
            std::fflush(stdout);
        } else if (finished || Clock::now() - lastPlain >= std::chrono::seconds(5)) {
            const double t = std::chrono::duration<double>(Clock::now() - gStart).count();
            std::printf("-- %.1f s\n", t);
            for (auto& s : slots) std::printf("%s\n", StatusLine(*s, bodyBytes).c_str());
            std::fflush(stdout);
            lastPlain = Clock::now();
        }
        if (finished) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    for (auto& w : workers) w.join();
    const double wall = std::chrono::duration<double>(Clock::now() - gStart).count();

    std::printf("\n slot  start mode     platform  result  time      flashed    streaming  flash = files\n");
    std::printf(" ----  -------------  --------  ------  --------  ---------  ---------  -------------\n");
    bool allGood = true;
    uint64_t total = 0;
    for (auto& s : slots) {
        const double seconds = std::chrono::duration<double>(s->end - s->start).count();
        const bool good = s->result == 1 && s->check.identical;
        allGood &= good;
        total += s->check.flashedBytes;
        const double streamSeconds = std::chrono::duration<double>(s->streamEnd - s->streamStart).count();
        const double rate = s->streamed && streamSeconds > 0 ? static_cast<double>(s->streamedAtEnd) / streamSeconds / 1e6 : 0;
        std::printf("  %2d   %-13s  %-8s  %6d  %6.1f s  %9s  %4.1f MB/s  %s\n", s->number, s->spec.label,
                    s->spec.platform, s->result, seconds, Megabytes(s->check.flashedBytes).c_str(), rate,
                    s->check.identical ? "yes" : "NO");
        if (!s->check.identical) std::printf("       %s\n", s->check.detail.c_str());
        std::fclose(s->log);
    }
    std::printf("\n%d devices, %s flashed in %.1f s (%.2f MB/s together); progress lines in %s\n", o.devices,
                Megabytes(total).c_str(), wall, static_cast<double>(total) / wall / 1e6,
                (work / "logs").c_str());
    for (auto& s : slots) s->device->Stop();
    std::printf("%s\n", allGood ? "All devices flashed and verified." : "Some devices FAILED.");

    std::printf("\nNV backup and restore through the same library, on one more virtual device:\n");
    const bool nvGood = RunNvRoundTrip(library, (work / "nv").string(), stdout);
    return allGood && nvGood ? 0 : 1;
}

}  // namespace
}  // namespace fennix::bench

int main(int argc, char** argv) { return fennix::bench::Main(argc, argv); }
