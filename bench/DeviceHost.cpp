#include "DeviceHost.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <sstream>

#include "simulator/StreamingFlash.h"
#include "simulator/StreamingImageSet.h"
#include "simulator/VirtualDevice.h"

namespace fennix::bench {

namespace {

bool ReadLine(int fd, std::string& line) {
    line.clear();
    char c;
    for (;;) {
        const ssize_t n = read(fd, &c, 1);
        if (n <= 0) return false;
        if (c == '\n') return true;
        line += c;
    }
}

void WriteLine(int fd, const std::string& line) {
    const std::string text = line + "\n";
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

// The child: serves requests until its input ends.
[[noreturn]] void Serve(int in, int out) {
    // The devices stand for hardware of their own, which the host's load
    // never holds up; at the engine's priority, 32 device threads among the
    // engine's 64 (and whatever else the machine runs) on two processors have
    // been kept off a processor for over a second, past a stream write's both
    // tries. Their threads inherit this; without the privilege it stays as it
    // is.
    setpriority(PRIO_PROCESS, 0, -10);
    std::vector<std::unique_ptr<sim::CVirtualDevice>> devices;
    // Every device of the process gets a name of its own, so that the
    // engine's log (which names a port by its last path component) tells
    // the sessions of all runs apart.
    int named = 0;
    std::string line;
    while (ReadLine(in, line)) {
        std::istringstream request(line);
        std::string verb;
        request >> verb;
        std::ostringstream reply;
        if (verb == "start") {
            int count = 0;
            request >> count;
            sim::KnobValues knobs;
            std::string name;
            int64_t value = 0;
            while (request >> name >> value)
                if (!knobs.Set(name, value).Ok()) count = 0;
            for (int i = 0; i < count; ++i) {
                sim::DeviceOptions options;
                options.mode = sim::DeviceMode::Download;
                options.vanishMs = 100;
                options.recordBytesLimit = 8;
                options.quietNoteMs = 300;
                options.identityPlace = static_cast<uint32_t>(named);
                options.name = "ttyMSM" + std::to_string(named++);
                options.knobs = knobs;
                auto device = std::make_unique<sim::CVirtualDevice>(options);
                if (device->Start() != 0) break;
                reply << device->Path() << ' ';
                devices.push_back(std::move(device));
            }
        } else if (verb == "verify") {
            std::string body, header, partition, programmer;
            request >> body >> header >> partition >> programmer;
            const auto bodyBytes = sim::ReadWholeFile(body);
            const auto headerBytes = sim::ReadWholeFile(header);
            const auto partitionBytes = partition.empty() ? std::vector<uint8_t>{} : sim::ReadWholeFile(partition);
            const auto programmerBytes = programmer.empty() ? std::vector<uint8_t>{} : sim::ReadWholeFile(programmer);
            for (auto& device : devices) {
                const sim::DownloadTarget t = sim::SnapshotDownloadTarget(*device);
                auto it = t.images.find(5);
                const bool same = it != t.images.end() && it->second.bytes == bodyBytes &&
                                  it->second.header == headerBytes && t.images.size() == 1 &&
                                  (partition.empty() || t.partitionTable == partitionBytes) &&
                                  (programmer.empty() || t.programmer == programmerBytes);
                reply << same << ' ' << t.blocksTotal << ' ' << t.bytesStreamed << ' ';
            }
        } else if (verb == "dump") {
            std::string path, file;
            request >> path >> file;
            for (auto& device : devices) {
                if (device->Path() != path) continue;
                if (std::FILE* f = std::fopen(file.c_str(), "w")) {
                    const std::string text =
                        "answer bytes not read by the host: " + std::to_string(device->UnreadByHost()) + "\n" +
                        device->Recording().Dump();
                    std::fwrite(text.data(), 1, text.size(), f);
                    std::fclose(f);
                    reply << file;
                }
            }
        } else if (verb == "stop") {
            for (auto& device : devices) device->Stop();
            devices.clear();
        }
        WriteLine(out, reply.str());
    }
    for (auto& device : devices) device->Stop();
    _exit(0);
}

}  // namespace

bool CDeviceHost::Start(std::string* error) {
    int down[2], up[2];
    if (pipe(down) != 0 || pipe(up) != 0) {
        *error = std::strerror(errno);
        return false;
    }
    child_ = fork();
    if (child_ < 0) {
        *error = std::strerror(errno);
        return false;
    }
    if (child_ == 0) {
        close(down[1]);
        close(up[0]);
        Serve(down[0], up[1]);
    }
    close(down[0]);
    close(up[1]);
    toChild_ = down[1];
    fromChild_ = up[0];
    return true;
}

CDeviceHost::~CDeviceHost() {
    if (child_ <= 0) return;
    close(toChild_);
    close(fromChild_);
    int status = 0;
    waitpid(child_, &status, 0);
}

std::string CDeviceHost::Ask(const std::string& line) {
    WriteLine(toChild_, line);
    std::string reply;
    ReadLine(fromChild_, reply);
    return reply;
}

std::vector<std::string> CDeviceHost::StartDevices(int count, const std::vector<Knob>& knobs) {
    std::string request = "start " + std::to_string(count);
    for (const Knob& knob : knobs) request += " " + knob.first + " " + std::to_string(knob.second);
    std::istringstream reply(Ask(request));
    std::vector<std::string> paths;
    std::string path;
    while (reply >> path) paths.push_back(path);
    return paths;
}

std::vector<DeviceReport> CDeviceHost::Verify(const std::string& bodyPath, const std::string& headerPath,
                                              const std::string& partitionPath, const std::string& programmerPath) {
    std::istringstream reply(Ask("verify " + bodyPath + " " + headerPath + " " + partitionPath + " " + programmerPath));
    std::vector<DeviceReport> reports;
    DeviceReport r;
    while (reply >> r.identical >> r.streamWrites >> r.bytesStreamed) reports.push_back(r);
    return reports;
}

std::string CDeviceHost::DumpRecording(const std::string& devicePath, const std::string& file) {
    return Ask("dump " + devicePath + " " + file);
}

void CDeviceHost::StopDevices() { Ask("stop"); }

}  // namespace fennix::bench
