// The DIAG conversations that prepare the download switch: which platform the
// device is, which firmware family it runs, silencing its unsolicited traffic
// and taking it offline. They run on the flow thread with the packet layer
// kept out and read the device's answers raw with ReadReply, which only
// counts bytes that arrived after the request just written.
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

PlatformGroup CModeSwitcher::GetPlatformID() {
    static const char* const kFunction = "CSerialIO::GetPlatformID";
    raw_.KeepPacketLayerOut(true);
    raw_.WriteRaw(kBuildIdRequest, sizeof kBuildIdRequest, nullptr);

    PlatformGroup group = PlatformGroup::Unknown;
    uint8_t reply[kRawReplySize] = {};
    if (raw_.ReadReply(reply, sizeof reply) != ChannelResult::Ok) {
        LogPortLine(kLogError, raw_.PortName(), kFunction, "Read fails");
    } else {
        LogPortHexDump(kLogDebug, raw_.PortName(), kFunction, reply, sizeof reply);
        if (reply[0] != kBuildIdRequest[0]) {
            LogPortLine(kLogError, raw_.PortName(), kFunction, "Can't get platform ID.");
        } else {
            std::string id = ReplyText(reply, kPlatformIdOffset, kPlatformIdLength);
            std::transform(id.begin(), id.end(), id.begin(),
                           [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
            LogPortLine(kLogDebug, raw_.PortName(), kFunction, "Platform ID is %s.", id.c_str());
            group = PlatformGroupOf(id.c_str());
        }
    }
    raw_.KeepPacketLayerOut(false);
    return group;
}

MobileMode CModeSwitcher::GetMobileMode() {
    static const char* const kFunction = "CSerialIO::GetMobileMode";
    raw_.WriteRaw(kVersionRequest, sizeof kVersionRequest, nullptr);
    raw_.Pause(raw_.Times().versionRequestPause);
    uint8_t reply[kRawReplySize] = {};
    if (raw_.ReadReply(reply, sizeof reply) != ChannelResult::Ok) {
        LogPortLine(kLogError, raw_.PortName(), kFunction, "Read fails");
        return MobileMode::Unknown;
    }
    if (reply[0] != kVersionRequest[0]) {
        LogPortLine(kLogError, raw_.PortName(), kFunction, "Can't get phone mode.");
        return MobileMode::Unknown;
    }
    std::string directory = ReplyText(reply, kVersionDirectoryOffset, kVersionDirectoryLength);
    std::transform(directory.begin(), directory.end(), directory.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return MobileModeOf(directory.c_str());
}

void CModeSwitcher::QuietDevice() {
    const Timeouts& times = raw_.Times();
    while (raw_.WritesInFlight() != 0 && raw_.Pause(times.switchPoll)) {
    }
    raw_.Pause(times.switchPoll);

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
        raw_.WriteRaw(request.bytes, request.size, nullptr);
        raw_.ReadReply(scratch, sizeof scratch);
    }

    // Drain until the buffer has stayed empty for five checks in a row. A
    // device that never falls silent (or a port that is gone, so that Read
    // cannot take what is left) would keep this loop going for ever: it gives
    // up after a bounded number of checks and lets the switch go on.
    int quiet = 0;
    for (int check = 0; check < kMaxQuietChecks && quiet < kQuietChecks && !raw_.Cancelled(); ++check) {
        if (raw_.UnreadBytes() == 0) {
            ++quiet;
        } else {
            raw_.ReadUnread(scratch, sizeof scratch);
            quiet = 0;
        }
        raw_.Pause(times.quietDrainPoll);
    }
}

bool CModeSwitcher::ChangeToOffline() {
    static const char* const kFunction = "CSerialIO::ChangeToOffline";
    const Timeouts& times = raw_.Times();

    // Writes one request; false (after the failure lines) when it did not all go.
    auto send = [&](const uint8_t* request, uint32_t size) {
        uint32_t written = 0;
        if (raw_.WriteRaw(request, size, &written) == ChannelResult::Ok && written >= size) return true;
        LogPortLine(kLogError, raw_.PortName(), kFunction, "Write fails");
        LogPortHexDump(kLogError, raw_.PortName(), kFunction, request, size);
        return false;
    };
    // Reads the raw answer to the request just written into a cleared area.
    auto receive = [&](uint8_t* reply) {
        std::memset(reply, 0, kRawReplySize);
        if (raw_.ReadReply(reply, kRawReplySize) == ChannelResult::Ok) return true;
        LogPortLine(kLogError, raw_.PortName(), kFunction, "Read fails");
        return false;
    };

    LogPortLine(kLogDebug, raw_.PortName(), kFunction, "Change mobile to offline mode");
    int budget = kOfflineStatusChecks;
    LogPortLine(kLogDebug, raw_.PortName(), kFunction, "Get phone status");
    uint8_t reply[kRawReplySize];
    if (!send(kStatusRequest, sizeof kStatusRequest)) return false;
    if (!receive(reply)) return false;
    if (reply[0] != kStatusRequest[0]) {
        // Such devices have no status to wait for and switch from online.
        LogPortLine(kLogError, raw_.PortName(), kFunction, "Can't get phone status, Maybe it is a Pelomir handset.");
        return true;
    }

    LogPortLine(kLogDebug, raw_.PortName(), kFunction, "Set mobile offline.");
    if (!send(kOfflineRequest, sizeof kOfflineRequest)) return false;
    if (!receive(reply)) return false;
    if (std::memcmp(reply, kOfflineRequest, sizeof kOfflineRequest) != 0) {
        LogPortLine(kLogError, raw_.PortName(), kFunction, "Command fails. Return buffer is wrong.");
        LogPortHexDump(kLogError, raw_.PortName(), kFunction, reply, sizeof kOfflineRequest);
        return false;
    }

    uint8_t status[kRawReplySize];
    do {
        if (!raw_.Pause(times.switchPoll)) return false;
        --budget;
        LogPortLine(kLogDebug, raw_.PortName(), kFunction, "Get current phone status.");
        if (!send(kStatusRequest, sizeof kStatusRequest)) return false;
        if (!receive(status)) return false;
        if (status[0] != kStatusRequest[0]) {
            LogPortLine(kLogError, raw_.PortName(), kFunction, "Fails in get phone status");
            return false;
        }
        uint16_t rfMode = 0, state = 0;
        bool located = LocateStatusFields(status, sizeof status, &rfMode, &state);
        LogPortLine(kLogError, raw_.PortName(), kFunction, "Current RF mode is %d", static_cast<int>(rfMode));
        if (located && IsOfflineStatus(rfMode, state)) return true;
    } while (budget > 0);
    return false;
}

}  // namespace fennix
