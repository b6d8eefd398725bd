// The DIAG conversations that prepare the download switch: which platform the
// device is, which firmware family it runs, silencing its unsolicited traffic
// and taking it offline. They run on the flow thread with the packet layer
// kept out and read the device's answers raw with WaitandReadBuffer, which
// only counts bytes that arrived after the request just written.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "log/Log.h"
#include "serial/ModeSwitcher.h"

namespace fennix {

namespace {

// Text of `length` raw reply bytes from `offset`, cut at the first NUL.
std::string ReplyText(const uint8_t* reply, size_t offset, size_t length) {
    const uint8_t* start = reply + offset;
    const uint8_t* end = std::find(start, start + length, 0);
    return std::string(start, end);
}

}  // namespace

PlatformGroup CSerialIO::GetPlatformID() {
    static const char* const kFunction = "CSerialIO::GetPlatformID";
    KeepPacketLayerOut(true);
    InternalWrite(kBuildIdRequest, sizeof kBuildIdRequest, nullptr);

    PlatformGroup group = PlatformGroup::Unknown;
    uint8_t reply[kRawReplySize] = {};
    if (WaitandReadBuffer(reply, sizeof reply, nullptr) != ChannelResult::Ok) {
        LogPortLine(kLogError, PortName(), kFunction, "Read fails");
    } else {
        LogPortHexDump(kLogDebug, PortName(), kFunction, reply, sizeof reply);
        if (reply[0] != kBuildIdRequest[0]) {
            LogPortLine(kLogError, PortName(), kFunction, "Can't get platform ID.");
        } else {
            std::string id = ReplyText(reply, kPlatformIdOffset, kPlatformIdLength);
            std::transform(id.begin(), id.end(), id.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
            LogPortLine(kLogDebug, PortName(), kFunction, "Platform ID is %s.", id.c_str());
            group = PlatformGroupOf(id.c_str());
        }
    }
    KeepPacketLayerOut(false);
    return group;
}

MobileMode CSerialIO::GetMobileMode() {
    static const char* const kFunction = "CSerialIO::GetMobileMode";
    InternalWrite(kVersionRequest, sizeof kVersionRequest, nullptr);
    Pause(Times().versionRequestPause);
    uint8_t reply[kRawReplySize] = {};
    if (WaitandReadBuffer(reply, sizeof reply, nullptr) != ChannelResult::Ok) {
        LogPortLine(kLogError, PortName(), kFunction, "Read fails");
        return MobileMode::Unknown;
    }
    if (reply[0] != kVersionRequest[0]) {
        LogPortLine(kLogError, PortName(), kFunction, "Can't get phone mode.");
        return MobileMode::Unknown;
    }
    std::string directory = ReplyText(reply, kVersionDirectoryOffset, kVersionDirectoryLength);
    std::transform(directory.begin(), directory.end(), directory.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return MobileModeOf(directory.c_str());
}

void CSerialIO::QuietDevice() {
    const Timeouts& times = Times();
    while (WritesInFlight() != 0 && Pause(times.switchPoll)) {
    }
    Pause(times.switchPoll);

    struct Request {
        const uint8_t* bytes;
        uint32_t size;
    };
    const Request requests[] = {
        {kQuietMessagesRequest, sizeof kQuietMessagesRequest},
        {kQuietEventsRequest, sizeof kQuietEventsRequest},
        {kQuietLogsRequest, sizeof kQuietLogsRequest},
    };
    uint8_t scratch[kRawReplySize];
    for (const Request& request : requests) {
        // The answers only confirm; a device that ignores a request is quiet
        // enough for what follows, or the drain below catches its chatter.
        InternalWrite(request.bytes, request.size, nullptr);
        WaitandReadBuffer(scratch, sizeof scratch, nullptr);
    }

    // Drain until the buffer has stayed empty for five checks in a row. A
    // device that never falls silent (or a port that is gone, so that Read
    // cannot take what is left) would keep this loop going for ever: it gives
    // up after a bounded number of checks and lets the switch go on.
    int quiet = 0;
    for (int check = 0; check < kMaxQuietChecks && quiet < kQuietChecks && !Cancelled(); ++check) {
        if (UnreadBytes() == 0) {
            ++quiet;
        } else {
            Read(scratch, sizeof scratch, nullptr);
            quiet = 0;
        }
        Pause(times.quietDrainPoll);
    }
}

bool CSerialIO::ChangeToOffline() {
    static const char* const kFunction = "CSerialIO::ChangeToOffline";
    const Timeouts& times = Times();

    // Writes one request; false (after the failure lines) when it did not all go.
    auto send = [&](const uint8_t* request, uint32_t size) {
        uint32_t written = 0;
        if (InternalWrite(request, size, &written) == ChannelResult::Ok && written >= size) return true;
        LogPortLine(kLogError, PortName(), kFunction, "Write fails");
        LogPortHexDump(kLogError, PortName(), kFunction, request, size);
        return false;
    };
    // Reads the raw answer to the request just written into a cleared area.
    auto receive = [&](uint8_t* reply) {
        std::memset(reply, 0, kRawReplySize);
        if (WaitandReadBuffer(reply, kRawReplySize, nullptr) == ChannelResult::Ok) return true;
        LogPortLine(kLogError, PortName(), kFunction, "Read fails");
        return false;
    };

    LogPortLine(kLogDebug, PortName(), kFunction, "Change mobile to offline mode");
    int budget = kOfflineStatusChecks;
    LogPortLine(kLogDebug, PortName(), kFunction, "Get phone status");
    uint8_t reply[kRawReplySize];
    if (!send(kStatusRequest, sizeof kStatusRequest)) return false;
    if (!receive(reply)) return false;
    if (reply[0] != kStatusRequest[0]) {
        // Such devices have no status to wait for and switch from online.
        LogPortLine(kLogError, PortName(), kFunction, "Can't get phone status, Maybe it is a Pelomir handset.");
        return true;
    }

    LogPortLine(kLogDebug, PortName(), kFunction, "Set mobile offline.");
    if (!send(kOfflineRequest, sizeof kOfflineRequest)) return false;
    if (!receive(reply)) return false;
    if (std::memcmp(reply, kOfflineRequest, sizeof kOfflineRequest) != 0) {
        LogPortLine(kLogError, PortName(), kFunction, "Command fails. Return buffer is wrong.");
        LogPortHexDump(kLogError, PortName(), kFunction, reply, sizeof kOfflineRequest);
        return false;
    }

    uint8_t status[kRawReplySize];
    do {
        if (!Pause(times.switchPoll)) return false;
        --budget;
        LogPortLine(kLogDebug, PortName(), kFunction, "Get current phone status.");
        if (!send(kStatusRequest, sizeof kStatusRequest)) return false;
        if (!receive(status)) return false;
        if (status[0] != kStatusRequest[0]) {
            LogPortLine(kLogError, PortName(), kFunction, "Fails in get phone status");
            return false;
        }
        uint16_t rfMode = 0, state = 0;
        bool located = LocateStatusFields(status, sizeof status, &rfMode, &state);
        LogPortLine(kLogError, PortName(), kFunction, "Current RF mode is %d", static_cast<int>(rfMode));
        if (located && IsOfflineStatus(rfMode, state)) return true;
    } while (budget > 0);
    return false;
}

}  // namespace fennix
