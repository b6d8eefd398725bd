// The file system of a virtual device, reached through the file-system
// subsystem of DIAG (subsystem dispatch 75, subsystem 19): probe, open, write,
// close and make directory over an in-memory tree. An open fails while the
// file's directory is missing, as on the device.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace fennix::sim {

class CEfsTree {
public:
    // Paths are kept without leading, trailing or doubled '/'; "" is the root.
    static std::string Normalize(const std::string& path);

    std::set<std::string> directories;
    std::map<std::string, std::vector<uint8_t>> files;

    // Faults: the probe answers this error number; the next `openFailures`
    // opens fail whatever the tree holds.
    uint32_t probeError = 0;
    uint32_t openFailures = 0;

    // Counts of the requests answered, by command code.
    std::map<uint16_t, uint32_t> requests;

    bool HasDirectory(const std::string& path) const;
    // The answer to a file-system request (packet starting 75, 19); nullopt
    // for a command this tree does not know.
    std::optional<std::vector<uint8_t>> Answer(const std::vector<uint8_t>& request);

private:
    std::vector<uint8_t> Open(const std::vector<uint8_t>& request);
    std::vector<uint8_t> WriteAt(const std::vector<uint8_t>& request);
    std::vector<uint8_t> CloseHandle(const std::vector<uint8_t>& request);
    std::vector<uint8_t> MakeDirectory(const std::vector<uint8_t>& request);
    bool ParentExists(const std::string& normalized) const;

    std::map<uint32_t, std::string> open_;
    uint32_t nextHandle_ = 1;
};

}  // namespace fennix::sim
