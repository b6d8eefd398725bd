#include "BusPresence.h"

namespace fennix::sim {

int CBusPresence::Appear(const std::string& directory, const std::string& name) {
    int error = path_.Claim(directory, name);
    if (error != 0) return error;
    error = pty_.Open();
    if (error == 0) error = path_.Point(pty_.SlavePath());
    if (error != 0) {
        pty_.Close();
        path_.Release();
        return error;
    }
    pathText_ = path_.Path();
    slavePath_ = pty_.SlavePath();
    return 0;
}

void CBusPresence::Disappear() {
    pty_.Close();
    path_.Release();
    pathText_.clear();
    slavePath_.clear();
    vanishQueued_ = returnPending_ = false;
}

void CBusPresence::Vanish(const VanishKind& kind, bool stayAway, std::chrono::milliseconds returnAfter) {
    vanishQueued_ = false;
    pty_.Close();
    path_.Remove();
    slavePath_.clear();
    rebootOnReturn_ = rebootOnReturn_ || kind.reboot;
    glitchReturn_ = kind.glitch && !rebootOnReturn_;
    if (stayAway) {
        returnPending_ = false;
        return;
    }
    returnPending_ = true;
    returnAt_ = Clock::now() + returnAfter;
}

void CBusPresence::ReturnNow() {
    returnPending_ = true;
    returnAt_ = Clock::now();
}

bool CBusPresence::Return(std::chrono::milliseconds retryAfter, Comeback* how) {
    int error = pty_.Open();
    if (error == 0) error = path_.Point(pty_.SlavePath());
    if (error != 0) {
        pty_.Close();
        returnAt_ = Clock::now() + retryAfter;
        return false;
    }
    returnPending_ = false;
    slavePath_ = pty_.SlavePath();
    how->rebooted = rebootOnReturn_;
    how->glitch = glitchReturn_;
    rebootOnReturn_ = false;
    glitchReturn_ = false;
    return true;
}

}  // namespace fennix::sim
