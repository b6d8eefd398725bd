#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <grp.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "System.h"
#include "fennix/fennix.h"

namespace fennix::cli {

namespace fs = std::filesystem;

namespace {

std::atomic<int>* gPresses = nullptr;
std::atomic<int> gHandled{1};

void OnInterrupt(int) {
    if (gPresses && gPresses->fetch_add(1) >= gHandled.load()) _exit(130);
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// The engine takes a bare "ttyUSB0" as /dev/ttyUSB0.
std::string DevicePath(const std::string& port) { return port.find('/') == std::string::npos ? "/dev/" + port : port; }

std::string Canonical(const std::string& path) {
    std::error_code error;
    fs::path resolved = fs::canonical(path, error);
    return error ? std::string() : resolved.string();
}

std::string ProcessName(const std::string& pid) {
    std::ifstream comm("/proc/" + pid + "/comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? "a process" : name;
}

// Every other process with the device open.
std::string Users(const std::string& device) {
    const std::string self = std::to_string(getpid());
    std::string found;
    DIR* proc = opendir("/proc");
    if (!proc) return {};
    while (dirent* entry = readdir(proc)) {
        const std::string pid = entry->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self) continue;
        std::error_code error;
        for (fs::directory_iterator fd("/proc/" + pid + "/fd", error), end; !error && fd != end; fd.increment(error)) {
            std::error_code linkError;
            if (fs::read_symlink(fd->path(), linkError).string() == device) {
                found += (found.empty() ? "" : ", ") + ProcessName(pid) + " (pid " + pid + ")";
                break;
            }
        }
    }
    closedir(proc);
    return found;
}

// The process holding the lock the engine takes on a port (flock), from
// /proc/locks: "1: FLOCK  ADVISORY  WRITE 812 00:1a:5 0 EOF".
std::string LockHolder(const std::string& device) {
    struct stat info {};
    if (stat(device.c_str(), &info) != 0) return {};
    char inode[64];
    std::snprintf(inode, sizeof inode, "%02x:%02x:%llu", major(info.st_dev), minor(info.st_dev),
                  static_cast<unsigned long long>(info.st_ino));
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string id, type, advisory, mode, pid, where;
        fields >> id >> type;
        if (type == "->") fields >> type;  // a waiter
        fields >> advisory >> mode >> pid >> where;
        if (type == "FLOCK" && where == inode && pid != std::to_string(getpid()))
            return ProcessName(pid) + " (pid " + pid + ")";
    }
    return {};
}

}  // namespace

bool StdoutIsTerminal() {
    const char* term = std::getenv("TERM");
    return isatty(STDOUT_FILENO) && !(term && std::string(term) == "dumb");
}

int TerminalWidth() {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 20) return size.ws_col;
    return 80;
}

void InstallInterruptHandler(std::atomic<int>* presses, int handled) {
    gHandled = handled;
    gPresses = presses;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

std::string AppendLocked(const std::string& path, const std::string& text, std::chrono::milliseconds pause) {
    // Read access for the last byte; a file this user may only write to is
    // appended to all the same.
    int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 && errno == EACCES) fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return std::strerror(errno);
    struct stat info {};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    int locked = 0;
    while (regular && (locked = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    std::string error;
    if (locked != 0) error = std::strerror(errno);
    std::string whole;
    char last = '\n';
    if (error.empty() && regular && ::fstat(fd, &info) == 0 && info.st_size > 0 &&
        ::pread(fd, &last, 1, info.st_size - 1) == 1 && last != '\n')
        whole = "\n";
    whole += text;
    if (error.empty() && pause.count() > 0) std::this_thread::sleep_for(pause);
    if (error.empty() && !WriteAll(fd, whole.data(), whole.size())) error = std::strerror(errno);
    ::close(fd);  // releases the lock
    return error;
}

unsigned long ProcessId() { return static_cast<unsigned long>(getpid()); }

std::string LibraryFile() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&StartDownload), &info) && info.dli_fname) return Canonical(info.dli_fname);
    return {};
}

std::string LibraryVersion() {
    const std::string name = fs::path(LibraryFile()).filename().string();
    const std::string::size_type at = name.find(".so.");
    return at == std::string::npos ? std::string() : name.substr(at + 4);
}

std::vector<SerialPortEntry> AllSerialPorts() {
    std::vector<SerialPortEntry> ports;
    std::error_code error;
    // The library's port list reads the same tree (FENNIX_SYSFS_ROOT replaces /sys).
    const char* root = std::getenv("FENNIX_SYSFS_ROOT");
    const fs::path classDir = fs::path(root && *root ? root : "/sys") / "class" / "tty";
    for (fs::directory_iterator tty(classDir, error), end; !error && tty != end; tty.increment(error)) {
        std::error_code linkError;
        const fs::path driver = fs::read_symlink(tty->path() / "device" / "driver", linkError);
        if (linkError) continue;  // virtual consoles and pseudo-terminals have no device
        const std::string name = tty->path().filename().string();
        // The legacy 8250 driver registers ports that have no hardware behind them.
        if (driver.filename() == "serial8250") {
            std::ifstream type(tty->path() / "type");
            int value = 0;
            if (!(type >> value) || value == 0) continue;
        }
        ports.push_back({"/dev/" + name, driver.filename().string()});
    }
    return ports;
}

std::string StableName(const std::string& port) {
    const std::string device = Canonical(DevicePath(port));
    if (device.empty()) return {};
    std::error_code error;
    for (fs::directory_iterator link("/dev/serial/by-path", error), end; !error && link != end; link.increment(error)) {
        if (Canonical(link->path().string()) == device) return link->path().string();
    }
    return {};
}

std::string PortObstacle(const std::string& port, std::string* cause) {
    const std::string device = Canonical(DevicePath(port));
    if (device.empty()) return {};  // missing: the engine says so (and waits for a port that comes back)
    if (const std::string holder = LockHolder(device); !holder.empty()) {
        if (cause) *cause = "port-busy";
        return DevicePath(port) + " is held by " + holder +
               "; stop it or pick another port (a modem manager leaves the port alone with the udev rule "
               "60-fennix.rules, see docs/install.md, Linux device access)";
    }
    if (access(device.c_str(), R_OK | W_OK) != 0) {
        if (cause) *cause = "port-forbidden";
        struct stat info {};
        std::string group;
        if (stat(device.c_str(), &info) == 0)
            if (const struct group* g = getgrgid(info.st_gid)) group = g->gr_name;
        return "no permission to open " + device +
               (group.empty()
                    ? std::string()
                    : "; members of group " + group + " may (sudo usermod -aG " + group + " $USER, then log in again)");
    }
    return {};
}

std::string PortUsers(const std::string& port) {
    const std::string device = Canonical(DevicePath(port));
    if (device.empty()) return {};
    if (std::string obstacle = PortObstacle(port); !obstacle.empty()) return obstacle;
    const std::string users = Users(device);
    return users.empty() ? std::string() : DevicePath(port) + " is open in " + users;
}

std::string ApplyLogSettings(int level, const std::string& directory) {
    if (level >= -1) setenv("FENNIX_LOG_LEVEL", std::to_string(level).c_str(), 1);
    if (!directory.empty()) {
        std::error_code error;
        fs::create_directories(directory, error);
        setenv("FENNIX_LOG_APP", (fs::path(directory) / "Fennix").string().c_str(), 1);
        if (!std::getenv("FENNIX_LOG_LEVEL")) setenv("FENNIX_LOG_LEVEL", "1", 1);
    }
    return {};
}

}  // namespace fennix::cli
