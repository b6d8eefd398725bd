// One pseudo-terminal pair standing for the device's USB serial port. The
// device reads and writes the master side; the host opens the slave. The
// device keeps a slave descriptor of its own open so that the master never
// reports a hang-up while the host has the port closed, and so that the raw
// line settings stay in force between host opens.
#pragma once

#include <string>

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
    const std::string& SlavePath() const { return slavePath_; }

private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

}  // namespace fennix::sim
