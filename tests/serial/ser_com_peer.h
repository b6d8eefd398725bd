// The tests' way into a packet layer's parts and the mode switcher's steps.
#pragma once

#include "serial/SerCOMLibrary.h"

namespace fennix {

class ModeSwitcherTestPeer {
public:
    explicit ModeSwitcherTestPeer(CModeSwitcher& switcher) : switcher_(switcher) {}
    PlatformGroup GetPlatformID() { return switcher_.GetPlatformID(); }
    MobileMode GetMobileMode() { return switcher_.GetMobileMode(); }
    void QuietDevice() { switcher_.QuietDevice(); }
    bool ChangeToOffline() { return switcher_.ChangeToOffline(); }
    bool ChangeDIAG2DL() { return switcher_.ChangeDIAG2DL(); }

private:
    CModeSwitcher& switcher_;
};

class SerComTestPeer {
public:
    static CSerialIO& Channel(CSerCOMLibrary& lib) { return lib.channel_; }
    static CFrameLink& Link(CSerCOMLibrary& lib) { return lib.link_; }
    static ModeSwitcherTestPeer Switcher(CSerCOMLibrary& lib) { return ModeSwitcherTestPeer(lib.switcher_); }
};

}  // namespace fennix
