// One pseudo-terminal pair standing for the device's USB serial port. The
// device reads and writes the master side; the host opens the slave. The
// device keeps a slave descriptor of its own open so that the master never
// reports a hang-up while the host has the port closed, and so that the raw
// line settings stay in force between host opens. An inotify watch on the
// slave tells the device when the host opens and closes the port.
#pragma once

#include <string>
#include <vector>

namespace fennix::sim {

class CPty {
public:
    CPty() = default;
    ~CPty() { Close(); }
    CPty(const CPty&) = delete;
    CPty& operator=(const CPty&) = delete;

    // 0, or the errno of the step that failed. The master is non-blocking.
    int Open();
    // Closing the master is what the host sees as the port being unplugged:
    // its open slave descriptor fails every read and write from then on.
    void Close();

    bool IsOpen() const { return master_ >= 0; }
    int MasterFd() const { return master_; }
    // Readable when the host opened or closed the slave (-1 when the watch
    // could not be set up; the device then does without).
    int WatchFd() const { return watch_; }
    const std::string& SlavePath() const { return slavePath_; }

    // Bytes the device wrote that no host has read yet.
    size_t UnreadByHost() const;

    // Reads the pending watch events in order: +1 for each open of the port
    // by the host, -1 for each close.
    std::vector<int> TakeHostEvents();

private:
    int master_ = -1;
    int slave_ = -1;
    int watch_ = -1;
    std::string slavePath_;
};

}  // namespace fennix::sim
