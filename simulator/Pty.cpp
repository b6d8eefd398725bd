#include "Pty.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
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
    return 0;
}

void CPty::Close() {
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
    slave_ = master_ = -1;
    slavePath_.clear();
}

}  // namespace fennix::sim
