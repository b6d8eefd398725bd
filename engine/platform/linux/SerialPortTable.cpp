// The serial port table of a Linux system: the tty class of sysfs, each tty
// with the driver of its device. Ports are named by device path.
#include "platform/SerialPortTable.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fennix::platform {

namespace {

std::string LastComponent(const std::string& path) {
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ttyUSB2 before ttyUSB10: digit runs compare as numbers.
bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
            size_t iEnd = i, jEnd = j;
            while (iEnd < a.size() && std::isdigit(static_cast<unsigned char>(a[iEnd]))) ++iEnd;
            while (jEnd < b.size() && std::isdigit(static_cast<unsigned char>(b[jEnd]))) ++jEnd;
            std::string x = a.substr(i, iEnd - i), y = b.substr(j, jEnd - j);
            x.erase(0, std::min(x.find_first_not_of('0'), x.size()));
            y.erase(0, std::min(y.find_first_not_of('0'), y.size()));
            if (x.size() != y.size()) return x.size() < y.size();
            if (x != y) return x < y;
            i = iEnd;
            j = jEnd;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

std::string SysfsRoot() {
    const char* root = std::getenv("FENNIX_SYSFS_ROOT");
    return root != nullptr && *root != '\0' ? root : "/sys";
}

// Whether the character device (major, minor) belongs to a terminal driver
// that makes serial-like ports, from the kernel's table of tty drivers.
// Without that table every character device counts.
bool IsTerminalDevice(unsigned major, unsigned minor) {
    std::ifstream drivers("/proc/tty/drivers");
    if (!drivers) return true;
    std::string line;
    while (std::getline(drivers, line)) {
        std::istringstream fields(line);
        std::string name, node, minors, type;
        unsigned driverMajor = 0;
        if (!(fields >> name >> node >> driverMajor >> minors >> type)) continue;
        if (driverMajor != major) continue;
        unsigned first = 0, last = 0;
        size_t dash = minors.find('-');
        first = static_cast<unsigned>(std::strtoul(minors.c_str(), nullptr, 10));
        last = dash == std::string::npos ? first
                                         : static_cast<unsigned>(std::strtoul(minors.c_str() + dash + 1, nullptr, 10));
        if (minor < first || minor > last) continue;
        // /dev/tty, the console, the pty multiplexer and pty masters are not ports.
        return type.compare(0, 6, "system") != 0 && type != "pty:master";
    }
    return false;
}

}  // namespace

std::vector<SerialPortEntry> ReadSerialPortTable() {
    std::vector<SerialPortEntry> entries;
    std::string classDir = SysfsRoot() + "/class/tty";
    DIR* dir = opendir(classDir.c_str());
    if (dir == nullptr) return entries;
    std::vector<std::string> names;
    while (dirent* item = readdir(dir)) {
        std::string name = item->d_name;
        if (name == "." || name == "..") continue;
        names.push_back(name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end(), NaturalLess);
    for (const std::string& name : names) {
        char target[PATH_MAX];
        std::string link = classDir + "/" + name + "/device/driver";
        ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n <= 0) continue;  // no device behind it: virtual consoles and the like
        target[n] = '\0';
        entries.push_back({LastComponent(target), "/dev/" + name});
    }
    return entries;
}

const char* QualcommDeviceNameMarker() { return "qcserial"; }

SerialPortNames NameSerialPort(const std::string& givenName, uint32_t) {
    SerialPortNames names;
    // A bare name such as ttyUSB0 means the node in /dev.
    names.devicePath = givenName.empty() || givenName.find('/') != std::string::npos ? givenName : "/dev/" + givenName;
    names.shortName = LastComponent(names.devicePath);
    return names;
}

bool IsSerialPortPresent(const std::string& givenName, uint32_t portNumber, uint32_t (*)(const char*)) {
    std::string path = NameSerialPort(givenName, portNumber).devicePath;
    if (path.empty()) return false;
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return false;
    return IsTerminalDevice(major(info.st_rdev), minor(info.st_rdev));
}

}  // namespace fennix::platform
