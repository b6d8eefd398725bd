#include "Pty.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace fennix::sim {

int CPty::Open() {
    Close();
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (master < 0) return errno;
    char name[128];
    if (grantpt(master) != 0 || unlockpt(master) != 0 || ptsname_r(master, name, sizeof name) != 0) {
        int error = errno;
        ::close(master);
        return error;
    }
    int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        int error = errno;
        ::close(master);
        return error;
    }
    // A USB serial port passes bytes through untouched: no echo, no line
    // editing, no CR/LF translation.
    termios settings{};
    if (tcgetattr(slave, &settings) == 0) {
        cfmakeraw(&settings);
        settings.c_cc[VMIN] = 1;
        settings.c_cc[VTIME] = 0;
        tcsetattr(slave, TCSANOW, &settings);
    }
    master_ = master;
    slave_ = slave;
    slavePath_ = name;
    // Watched only after the device's own open, so every event is the host's.
    watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (watch_ >= 0 && inotify_add_watch(watch_, name, IN_OPEN | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
        ::close(watch_);
        watch_ = -1;
    }
    return 0;
}

std::vector<int> CPty::TakeHostEvents() {
    std::vector<int> events;
    if (watch_ < 0) return events;
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        ssize_t n = ::read(watch_, buffer, sizeof buffer);
        if (n <= 0) return events;
        for (ssize_t at = 0; at + static_cast<ssize_t>(sizeof(inotify_event)) <= n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            if (event->mask & IN_OPEN) events.push_back(+1);
            if (event->mask & (IN_CLOSE_WRITE | IN_CLOSE_NOWRITE)) events.push_back(-1);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

size_t CPty::UnreadByHost() const {
    int count = 0;
    if (slave_ < 0 || ioctl(slave_, FIONREAD, &count) != 0 || count < 0) return 0;
    return static_cast<size_t>(count);
}

void CPty::Close() {
    if (watch_ >= 0) ::close(watch_);
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
    watch_ = slave_ = master_ = -1;
    slavePath_.clear();
}

}  // namespace fennix::sim
