// Settings of one virtual MSM device: the mode it starts in, the texts it
// reports, how its status behaves after the offline request, when its USB port
// drops off the bus, and the faults it shows.
#pragma once

#include <cstdint>
#include <string>

#include "Knobs.h"

namespace fennix::sim {

// The personality the device shows at its port.
enum class DeviceMode { At, Diag, Download };

const char* ModeName(DeviceMode mode);
// Parses "at", "diag" or "download" (also "ds", "dl"); false for anything else.
bool ParseModeName(const std::string& text, DeviceMode* mode);

// How a DIAG device refuses a request it does not know.
enum class DiagRejectForm {
    BadCommand,    // 0x13 followed by the request packet
    BadParameter,  // 0x14 followed by the request frame as it arrived (packet, CRC, flag)
};

// When a mode switch makes the USB port vanish for a moment.
enum class VanishPolicy {
    Never,
    Always,
    // Download switch only: devices of platform group 1 (K7M, T7413, PEXD4,
    // LUNW2) keep their port, the others re-enumerate.
    ByPlatform,
};

// Misbehaviour of the device's answers. Applies to every answer, or only to
// the answers to one command code, and to all of them or only the next few.
struct Faults {
    bool silent = false;          // read and record requests, answer nothing
    bool wrongFirstByte = false;  // first packet byte (AT: first text byte) inverted
    bool corruptCrc = false;      // frame check sequence spoiled
    uint32_t replyDelayMs = 0;    // every answer goes out this much later
    int onlyCommand = -1;         // restrict the above to answers to this command (-1: all)
    int32_t answersToSpoil = -1;  // how many answers the above still hits (-1: no limit)

    bool stayVanished = false;         // a vanished port does not come back by itself
    bool offlineNeverSettles = false;  // status keeps reporting the online state

    bool AnyAnswerFault() const { return silent || wrongFirstByte || corruptCrc || replyDelayMs > 0; }
};

struct DeviceOptions {
    DeviceMode mode = DeviceMode::Diag;

    // The stable path is <directory>/<name>, a symbolic link to the current
    // pseudo-terminal. An empty directory gives the device a private temporary
    // one; an empty name takes the first free "ttyMSM<n>".
    std::string directory;
    std::string name;

    // Build-ID reply: the platform ID is what the host reads at reply bytes
    // 12..16; the build text continues with the tail.
    std::string platformId = "Q6250";
    std::string buildIdTail = "SIMULATED";
    uint32_t msmHardwareVersion = 0x000010E1;
    uint32_t mobileModelId = 0x00000F20;
    // The model text that follows the build text.
    std::string model = "MSM SIMULATOR";
    // Version reply bytes 1..11, 12..19, 20..30 and 31..38.
    std::string compileDate = "Jan 07 2008";
    std::string compileTime = "10:24:00";
    std::string releaseDate = "Jan 07 2008";
    std::string releaseTime = "10:24:00";
    // Version reply bytes 39..46 ("pelz5..." and "gvd..." change how the host
    // switches to download mode).
    std::string versionDirectory = "dvr4162";

    DiagRejectForm rejectForm = DiagRejectForm::BadCommand;

    // Status reply: RF mode at packet bytes 8..9, state value at 32..33.
    uint32_t esn = 0x1234ABCD;
    // The device's place among those msm-sim serves (from 0): the default
    // identity items differ by it (DeviceIdentity.h).
    uint32_t identityPlace = 0;
    uint16_t rfMode = 0;
    uint16_t onlineState = 5;
    uint16_t offlineState = 6;
    // Status polls after the offline request that still report the online state.
    uint32_t offlineAfterPolls = 0;

    // How long the port stays away when it vanishes.
    uint32_t vanishMs = 300;
    VanishPolicy vanishOnDiagSwitch = VanishPolicy::Always;          // "at$qcdmg"
    VanishPolicy vanishOnDownloadSwitch = VanishPolicy::ByPlatform;  // DIAG 0x3A
    // The download switch takes effect only once the host has closed the port
    // (the host does so for devices whose version directory gives mobile mode 1).
    bool switchAfterHostCloses = false;

    // Taken out after its work: once the host has opened the port at least
    // once, the device leaves the bus for good when the host has held the
    // port closed this long since its last close or the port's last return,
    // unless a vanish is queued (0: never).
    uint32_t leaveAfterIdleMs = 0;

    // While the host has the port open in DIAG mode, send an unsolicited log
    // record, event report or debug message this often (0: never), until the
    // quieting requests switch each kind off.
    uint32_t unsolicitedEveryMs = 0;

    // Keep at most this many bytes of each recorded packet (0: all).
    uint32_t recordBytesLimit = 0;

    // When the host holds the port open and nothing has come from it for this
    // long since the device's last answer, record a note of what the port
    // holds in each direction (0: never). Tells a host that stopped writing
    // from bytes held up in the pseudo-terminal.
    uint32_t quietNoteMs = 0;

    Faults faults;

    // Named integer settings read by the protocol handlers (Knobs.h; settable
    // from the command line as --knob name=value).
    KnobValues knobs;
};

// True for the platform IDs whose devices switch to download mode without
// leaving the bus (matched as substrings of the upper-cased text).
bool IsPlatformGroup1(const std::string& platformId);
// The build text of the build-ID reply and the five characters of it that the
// host takes as the platform ID.
std::string BuildIdText(const DeviceOptions& options);
std::string PlatformText(const DeviceOptions& options);
// Whether a switch governed by the policy takes the port off the bus.
bool Vanishes(VanishPolicy policy, const DeviceOptions& options);

}  // namespace fennix::sim
