// fennix-station-soak: one station (`fennix station`, a child process) serving
// many sockets at once, each socket a row of virtual devices plugged in one
// after another (in this process). Every device is flashed by the station's
// flash recipe and taken out again; afterwards the soak checks that every
// device's flash equals the files, that the record database holds one
// successful run per device with its IMEI, and how much processor time the
// station takes while its sockets wait empty. Then it stops the station with
// SIGTERM and expects exit 0.
//
//   fennix-station-soak [--sockets N] [--row K] [--amss-mb M] [--idle-seconds S]
//                       [--time-scale F] [--work DIR]
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "RecordDb.h"
#include "simulator/DeviceRow.h"
#include "simulator/StreamingFlash.h"
#include "simulator/StreamingImageSet.h"

extern char** environ;

namespace fennix::bench {
namespace {

using Clock = std::chrono::steady_clock;
using sim::DeviceMode;

struct Options {
    int sockets = 32;
    int row = 2;
    double amssMb = 1;
    int idleSeconds = 60;
    double timeScale = 1;
    std::string work = "build/station-soak";
};

// The ways into download mode, as the demo mixes them.
struct StartSpec {
    DeviceMode mode;
    const char* platform;
};
const StartSpec kStarts[] = {
    {DeviceMode::At, "Q6250"},   {DeviceMode::Diag, "Q6250"},     {DeviceMode::Diag, "T7413"},
    {DeviceMode::Diag, "Q6280"}, {DeviceMode::Download, "Q6250"},
};

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) return false;
        const char* v = argv[++i];
        if (a == "--sockets")
            o.sockets = std::atoi(v);
        else if (a == "--row")
            o.row = std::atoi(v);
        else if (a == "--amss-mb")
            o.amssMb = std::atof(v);
        else if (a == "--idle-seconds")
            o.idleSeconds = std::atoi(v);
        else if (a == "--time-scale")
            o.timeScale = std::atof(v);
        else if (a == "--work")
            o.work = v;
        else
            return false;
    }
    return o.sockets >= 1 && o.sockets <= 64 && o.row >= 1 && o.amssMb > 0 && o.idleSeconds >= 0 && o.timeScale > 0;
}

pid_t Spawn(const std::vector<std::string>& args, const std::string& output) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    const int error = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        std::fprintf(stderr, "fennix-station-soak: cannot start %s: %s\n", argv[0], std::strerror(error));
        return -1;
    }
    return pid;
}

// User and system time of a process so far, in seconds.
double CpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int n = 3; fields >> field; ++n) {
        if (n == 14) utime = std::stoull(field);
        if (n == 15) {
            stime = std::stoull(field);
            break;
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

int CountLines(const std::string& path, const std::string& needle) {
    std::ifstream in(path);
    int count = 0;
    for (std::string line; std::getline(in, line);) count += line.find(needle) != std::string::npos;
    return count;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double IsoSeconds(const std::string& iso) {
    // "2026-12-10T05:30:01.250Z": the time of day is enough for a run's length within a day.
    if (iso.size() < 19) return 0;
    return std::stoi(iso.substr(11, 2)) * 3600.0 + std::stoi(iso.substr(14, 2)) * 60.0 + std::stod(iso.substr(17));
}

int Main(int argc, char** argv) {
    Options o;
    if (!ParseOptions(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: fennix-station-soak [--sockets 1..64] [--row K] [--amss-mb M] [--idle-seconds S] "
                     "[--time-scale F] [--work DIR]\n");
        return 2;
    }
    char scale[32];
    std::snprintf(scale, sizeof scale, "%g", o.timeScale);
    setenv("FENNIX_TIME_SCALE", scale, 1);
    setenv("FENNIX_WAIT_SCALE", "1", 0);

    const std::filesystem::path work = std::filesystem::absolute(o.work);
    std::filesystem::remove_all(work);
    std::filesystem::create_directories(work / "sockets");
    sim::SampleImageSizes sizes;
    sizes.amss = static_cast<size_t>(o.amssMb * 1024 * 1024);
    const sim::SampleImageSet set = sim::WriteSampleImageSet((work / "images").string(), sizes);
    const int devices = o.sockets * o.row;
    std::printf("Station soak: %d sockets, %d devices in a row each (%d devices), AMSS %.2f MB, time scale %g\n",
                o.sockets, o.row, devices, o.amssMb, o.timeScale);

    std::vector<std::unique_ptr<sim::CDeviceRow>> rows;
    for (int s = 0; s < o.sockets; ++s) {
        sim::DeviceRowOptions row;
        row.directory = (work / "sockets").string();
        row.name = "socket" + std::to_string(s + 1);
        row.appearAfterMs = 500;
        row.gapMs = 1000;
        row.leaveAfterIdleMs = 1500;
        for (int k = 0; k < o.row; ++k) {
            const StartSpec& start = kStarts[static_cast<size_t>(s + k) % std::size(kStarts)];
            sim::DeviceOptions d;
            d.mode = start.mode;
            d.platformId = start.platform;
            d.identityPlace = static_cast<uint32_t>(s + k * o.sockets);
            d.recordBytesLimit = 16;
            row.devices.push_back(d);
        }
        rows.push_back(std::make_unique<sim::CDeviceRow>(row));
    }

    const std::string events = (work / "events.jsonl").string();
    const std::string db = (work / "station.db").string();
    std::vector<std::string> args{FENNIX_TOOL_PATH, "station",     "--json",  "--name", "soak", "--recipe", "flash",
                                  "--images",       set.directory, "--model", "6280",   "--db", db};
    for (int s = 0; s < o.sockets; ++s) {
        args.push_back("--socket");
        args.push_back((work / "sockets" / ("socket" + std::to_string(s + 1))).string());
    }
    const pid_t station = Spawn(args, events);
    if (station < 0) return 1;
    const auto start = Clock::now();
    for (auto& row : rows)
        if (int e = row->Start(); e != 0) {
            std::fprintf(stderr, "fennix-station-soak: a socket cannot start: %s\n", std::strerror(e));
            kill(station, SIGKILL);
            return 1;
        }

    // Every device served and taken out again, or the station gone.
    const auto deadline = start + std::chrono::minutes(10 + devices);
    bool allLeft = false;
    int status = 0;
    bool exited = false;
    while (!allLeft && !exited && Clock::now() < deadline) {
        allLeft = true;
        for (auto& row : rows) allLeft = allLeft && row->Served() == row->Size() && row->Left(row->Size() - 1);
        exited = waitpid(station, &status, WNOHANG) == station;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    const double busySeconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("All %d devices through their sockets: %s after %.1f s\n", devices, allLeft ? "yes" : "NO",
                busySeconds);

    double idlePercent = -1;
    if (!exited && o.idleSeconds > 0) {
        // Let the last device-left be seen before the idle time counts.
        std::this_thread::sleep_for(std::chrono::seconds(2));
        const double before = CpuSeconds(station);
        const auto idleStart = Clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(o.idleSeconds));
        const double wall = std::chrono::duration<double>(Clock::now() - idleStart).count();
        idlePercent = (CpuSeconds(station) - before) / wall * 100;
        std::printf("Station's processor time with %d empty sockets over %.0f s: %.3f%% of one core\n", o.sockets, wall,
                    idlePercent);
    }
    if (!exited) {
        kill(station, SIGTERM);
        waitpid(station, &status, 0);
    }
    const int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::printf("Station stopped by SIGTERM: exit %d\n", exitCode);

    int identical = 0;
    uint64_t flashed = 0;
    std::set<std::string> expected;
    for (auto& row : rows)
        for (size_t k = 0; k < row->Size(); ++k) {
            const sim::FlashCheck check = sim::CompareWithSet(sim::SnapshotDownloadTarget(row->Device(k)), set);
            identical += check.identical;
            flashed += check.flashedBytes;
            if (!check.identical)
                std::printf("  %s device %zu: %s\n", row->Path().c_str(), k + 1, check.detail.c_str());
        }
    for (auto& row : rows) row->Stop();

    std::string error;
    auto records = records::RecordDb::Open(db, true, &error);
    if (!records) {
        std::fprintf(stderr, "fennix-station-soak: %s\n", error.c_str());
        return 1;
    }
    const auto runs = records->Runs({});
    int success = 0;
    std::set<std::string> imeis;
    std::vector<double> seconds;
    std::map<std::string, int> results;
    for (const auto& run : runs) {
        ++results[records::RunResultName(run.result)];
        success += run.result == records::RunResult::Success;
        if (!run.imei.empty()) imeis.insert(run.imei);
        if (!run.endedAt.empty()) seconds.push_back(IsoSeconds(run.endedAt) - IsoSeconds(run.startedAt));
    }
    std::printf(
        "\n| sockets | devices | runs recorded | success | distinct IMEIs | flash = files | median run | "
        "all through | idle CPU | exit |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
    std::printf("| %d | %d | %zu | %d | %zu | %d | %.1f s | %.0f s | %.3f%% | %d |\n", o.sockets, devices, runs.size(),
                success, imeis.size(), identical, Median(seconds), busySeconds, idlePercent, exitCode);
    std::printf("\nresults:");
    for (const auto& [name, count] : results) std::printf(" %s %d", name.c_str(), count);
    std::printf("; events: %d run-started, %d run-ended, %d device-arrived, %d device-left; %.1f MB flashed\n",
                CountLines(events, "\"run-started\""), CountLines(events, "\"run-ended\""),
                CountLines(events, "\"device-arrived\""), CountLines(events, "\"device-left\""),
                static_cast<double>(flashed) / 1e6);
    std::printf("Records in %s, events in %s\n", db.c_str(), events.c_str());
    const bool good = allLeft && exitCode == 0 && static_cast<int>(runs.size()) == devices && success == devices &&
                      identical == devices;
    std::printf("%s\n", good ? "Every device flashed, verified and recorded." : "The soak FAILED.");
    return good ? 0 : 1;
}

}  // namespace
}  // namespace fennix::bench

int main(int argc, char** argv) { return fennix::bench::Main(argc, argv); }
