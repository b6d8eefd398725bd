// fennix-demo: starts up to 32 virtual MSM devices (eight by default) and
// flashes them all at once with the command a bench operator types, `fennix
// flash` (live progress per device and its table of results); at the end it
// checks every device's flash against the image files.
//
//   fennix-demo [--work DIR] [--time-scale F | --real-time] [--amss-mb N]
//               [--devices N] [--skip-check] [--library PATH]
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
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
    {"AT", DeviceMode::At, "Q6250"},
    {"AT", DeviceMode::At, "T7413"},
    {"DIAG group 0", DeviceMode::Diag, "Q6250"},
    {"DIAG group 0", DeviceMode::Diag, "Q6280"},
    {"DIAG group 1", DeviceMode::Diag, "T7413"},
    {"DIAG group 1", DeviceMode::Diag, "K7M01"},
    {"download", DeviceMode::Download, "Q6250"},
    {"download", DeviceMode::Download, "T7413"},
};

struct Slot {
    int number = 0;
    SlotSpec spec{};
    std::unique_ptr<sim::CVirtualDevice> device;
};

// Runs the tool on this terminal and waits for it; its exit status.
int RunTool(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // Ctrl-C is the tool's to handle (it cancels every flow); the demo waits for it.
    signal(SIGINT, SIG_IGN);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, argv[0], nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (error != 0) {
        std::fprintf(stderr, "fennix-demo: cannot start %s: %s\n", argv[0], std::strerror(error));
        return 127;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    signal(SIGINT, SIG_DFL);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
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
    // The pauses only: a wait for an answer cut to a quarter turns a device
    // thread that a busy machine let wait into a failed download.
    setenv("FENNIX_WAIT_SCALE", "1", 0);

    const std::string library = o.library.empty() ? DefaultLibraryPath() : o.library;
    const std::filesystem::path work = std::filesystem::absolute(o.work);
    std::filesystem::create_directories(work / "ports");
    sim::SampleImageSizes sizes;
    sizes.amss = static_cast<size_t>(o.amssMb * 1024 * 1024);
    std::printf("Fennix demo: %d virtual devices flashed at once by the fennix tool\n", o.devices);
    std::printf(
        "Time scale %g (FENNIX_TIME_SCALE): every pause of the engine at %g x the real timing, its waits "
        "for an answer at %s x (FENNIX_WAIT_SCALE)%s\n",
        o.timeScale, o.timeScale, std::getenv("FENNIX_WAIT_SCALE"),
        o.timeScale == 1.0 ? "" : "; --real-time for the real timings");
    const sim::SampleImageSet set = sim::WriteSampleImageSet((work / "images").string(), sizes);
    std::printf(
        "Synthetic image set in %s: programmer %s (%zu bytes of code), partition table, QCSBLHD, QCSBL, "
        "OEMSBL and AMSS with headers, CEFS\n\n",
        set.directory.c_str(), std::filesystem::path(set.programmer).filename().c_str(), set.programmerData.size());

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
        // Each device is someone else; one IMEI fails its check digit, one device knows no MEID.
        options.identityPlace = static_cast<uint32_t>(i);
        if (i == 3) options.knobs["id.imei"] = 352099001761489;
        if (i == 4) options.knobs["nv.refuse-item"] = 1943;
        slot->device = std::make_unique<sim::CVirtualDevice>(options);
        if (int e = slot->device->Start(); e != 0) {
            std::fprintf(stderr, "fennix-demo: cannot start virtual device %d: %s\n", i + 1, std::strerror(e));
            return 1;
        }
        std::printf(" %2d  %-13s platform %s at %s\n", i + 1, slot->spec.label, slot->spec.platform,
                    slot->device->Path().c_str());
        slots.push_back(std::move(slot));
    }

    // The command a bench operator types, run from the demo's folder so that
    // its names stay short.
    std::filesystem::current_path(work);
    std::vector<std::string> args{FENNIX_TOOL_PATH, "flash", "--images", "images",
                                  "--model",        "6280",  "--report", "report.jsonl"};
    if (o.skipCheck) args.push_back("--skip-check");
    for (auto& slot : slots) args.push_back("ports/" + std::filesystem::path(slot->device->Path()).filename().string());
    std::printf("\n$ cd %s\n$ fennix", work.c_str());
    for (size_t i = 1; i < args.size(); ++i) std::printf(" %s", args[i].c_str());
    std::printf("\n\n");
    std::fflush(stdout);
    const auto start = Clock::now();
    const int status = RunTool(args);
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();

    std::printf("\nfennix exited with %d. Checking every device's flash against the files:\n\n", status);
    std::printf(" slot  start mode     platform  flashed    flash = files\n");
    std::printf(" ----  -------------  --------  ---------  -------------\n");
    bool allGood = status == 0;
    uint64_t total = 0;
    for (auto& s : slots) {
        const sim::FlashCheck check = sim::CompareWithSet(sim::SnapshotDownloadTarget(*s->device), set);
        allGood &= check.identical;
        total += check.flashedBytes;
        std::printf("  %2d   %-13s  %-8s  %9s  %s\n", s->number, s->spec.label, s->spec.platform,
                    Megabytes(check.flashedBytes).c_str(), check.identical ? "yes" : "NO");
        if (!check.identical) std::printf("       %s\n", check.detail.c_str());
    }
    std::printf("\n%d devices, %s flashed in %.1f s (%.2f MB/s together); the record of each device in %s\n", o.devices,
                Megabytes(total).c_str(), wall, static_cast<double>(total) / wall / 1e6,
                (work / "report.jsonl").c_str());
    for (auto& s : slots) s->device->Stop();
    std::printf("%s\n", allGood ? "All devices flashed and verified." : "Some devices FAILED.");
    if (status == 130) return 130;

    std::printf("\nNV backup and restore through the same library, on one more virtual device:\n");
    const bool nvGood = RunNvRoundTrip(library, (work / "nv").string(), stdout);
    return allGood && nvGood ? 0 : 1;
}

}  // namespace
}  // namespace fennix::bench

int main(int argc, char** argv) { return fennix::bench::Main(argc, argv); }
