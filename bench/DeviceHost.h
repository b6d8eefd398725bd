// Virtual devices in a child process, so that the benchmark process holds
// nothing but the engine (or the raw baseline) and its CPU time is theirs.
// The parent talks to the child over a pair of pipes, one text line each way
// per request.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace fennix::bench {

struct DeviceReport {
    bool identical = false;     // the device holds exactly the files
    uint64_t streamWrites = 0;  // stream-write requests the device answered
    uint64_t bytesStreamed = 0;
};

class CDeviceHost {
public:
    // Forks the child. Call before the parent starts any thread.
    bool Start(std::string* error);
    ~CDeviceHost();

    // A device knob (simulator/Knobs.h) and its value.
    using Knob = std::pair<std::string, int64_t>;

    // Starts `count` devices in download mode, each with the knobs (names
    // without spaces); their port paths, none when a knob is refused.
    std::vector<std::string> StartDevices(int count, const std::vector<Knob>& knobs = {});
    // Compares what each device holds with the files: the AMSS image (type 5,
    // the only image) with its header and, when their paths are given, the
    // partition table and the programmer's bytes as uploaded (a raw file).
    // Paths hold no spaces.
    std::vector<DeviceReport> Verify(const std::string& bodyPath, const std::string& headerPath,
                                     const std::string& partitionPath = "", const std::string& programmerPath = "");
    // Writes what the device at the path saw and did, with times, into the
    // file (no spaces in either); the file's path, or empty when no such device.
    std::string DumpRecording(const std::string& devicePath, const std::string& file);
    void StopDevices();

private:
    std::string Ask(const std::string& line);
    pid_t child_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
};

}  // namespace fennix::bench
