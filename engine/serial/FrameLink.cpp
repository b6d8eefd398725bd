// The packet layer's framing: requests out, reply frames rebuilt on the
// listener thread and handed over to the waiting exchange.
#include "serial/FrameLink.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <thread>

#include "log/Log.h"
#include "serial/ResultCodes.h"

namespace fennix {

CFrameLink::CFrameLink(CSerialIO& channel) : channel_(channel), receiveScratch_(kReceiveScratchSize, 0) {}

void CFrameLink::PrepareToOpen() {
    // A running listener owns the receiver (the port counts as open then and
    // the open changes nothing), so only a stopped channel starts afresh.
    if (channel_.IsListenerRunning()) return;
    receiver_.Clear();
    frameLength_.store(0);
    pendingFrames_.store(0);
    frameReady_.Reset();
}

PacketReply CFrameLink::TxRx(const uint8_t* request, uint32_t length, uint8_t* reply, uint32_t capacity,
                             uint32_t waitMs) {
    // Counted from the write to the take (the listener's wait for the take
    // belongs to the exchange too), and only when a quick answer is expected:
    // an exchange that may wait seconds (an open, a close, a reset whose
    // device went away) keeps no processor busy meanwhile.
    std::optional<CHandOverWait::ExchangeUnderWay> underWay;
    if (waitMs <= channel_.Times().streamWriteWait) underWay.emplace();
    const PacketResult sent = Send(request, length);
    if (sent != PacketResult::Ok) return PacketReply::Failed(sent);
    return TakeReply(reply, capacity, waitMs);
}

PacketResult CFrameLink::Send(const uint8_t* request, uint32_t length) {
    static const char* const kFunction = "CSerCOMLibrary::TxRx";
    // The receiver follows the phone mode on its own: OnChannelEvent sets it before
    // every chunk, on the thread that owns it.
    const uint8_t leading = channel_.GetPhoneMode() == kPhoneModeDL ? kHdlcFlag : 0;

    LogPortLine(kLogDebug, channel_.PortName(), kFunction, "Unpacked buffer source before TXRX");
    LogPortHexDump(kLogDebug, channel_.PortName(), kFunction, request, length);
    PackFrameInto(request, length, leading, kHdlcFlag, txFrame_);
    LogPortLine(kLogDebug, channel_.PortName(), kFunction, "Packed buffer source before TXRX");
    LogPortHexDump(kLogDebug, channel_.PortName(), kFunction, txFrame_.data(), txFrame_.size());

    if (channel_.Cancelled()) return PacketResult::Cancelled;
    // A port failure is not reported here: no reply comes and the wait ends
    // in a timeout.
    if (channel_.Write(txFrame_.data(), static_cast<uint32_t>(txFrame_.size()), nullptr) ==
        ChannelResult::NothingDone) {
        return PacketResult::WriteRefused;
    }
    return PacketResult::Ok;
}

PacketReply CFrameLink::Receive(uint8_t* reply, uint32_t capacity, uint32_t waitMs) {
    if (channel_.Cancelled()) return PacketReply::Failed(PacketResult::Cancelled);
    std::optional<CHandOverWait::ExchangeUnderWay> underWay;
    if (waitMs <= channel_.Times().streamWriteWait) underWay.emplace();
    return TakeReply(reply, capacity, waitMs);
}

PacketReply CFrameLink::TakeReply(uint8_t* reply, uint32_t capacity, uint32_t waitMs) {
    static const char* const kFunction = "CSerCOMLibrary::TxRx";
    const bool signalled = replyWait_.Wait(frameReady_, waitMs);
    if (channel_.Cancelled()) {
        LogPortLine(kLogError, channel_.PortName(), kFunction, "Cancelled.");
        return PacketReply::Failed(PacketResult::Cancelled);
    }
    if (!signalled) {
        LogPortLine(kLogError, channel_.PortName(), kFunction, "Time out in OnRecv.");
        return PacketReply::Failed(PacketResult::Timeout);
    }
    const int32_t frameLength = frameLength_.load();
    if (frameLength <= 0) {
        // The frame was withdrawn while this exchange woke up.
        LogPortLine(kLogError, channel_.PortName(), kFunction, "Time out in OnRecv.");
        return PacketReply::Failed(PacketResult::Timeout);
    }
    if (capacity < static_cast<uint32_t>(frameLength)) {
        LogPortLine(kLogError, channel_.PortName(), kFunction, "Buffer overflow.");
        // Left posted, the frame would hold the listener for good.
        TakeFrame(nullptr, 0);
        return PacketReply::Failed(PacketResult::Timeout);
    }
    if (capacity > 0) std::memset(reply, 0, capacity);
    TakeFrame(reply, static_cast<uint32_t>(frameLength));
    return PacketReply::Of(static_cast<uint32_t>(frameLength));
}

PacketReply CFrameLink::ReadReturnPacket(uint8_t* buffer, uint32_t capacity, uint32_t* count, uint32_t maxFrames) {
    static const char* const kFunction = "CSerCOMLibrary::ReadReturnPacket";
    if (count != nullptr) *count = 0;
    std::this_thread::yield();
    if (frameLength_.load() <= 0 || channel_.Cancelled()) return PacketReply::Of(0);

    const int32_t pending = std::max<int32_t>(pendingFrames_.load(), 0);
    const uint32_t frames = std::min(maxFrames, static_cast<uint32_t>(pending));
    LogPortLine(kLogDebug, channel_.PortName(), kFunction, "Start to read %d return message completed.",
                static_cast<int>(frames));
    if (capacity > 0) std::memset(buffer, 0, capacity);
    uint32_t used = 0;
    for (uint32_t i = 0; i < frames; ++i) {
        const bool signalled = frameReady_.Wait(channel_.Times().drainFrameWait);
        if (channel_.Cancelled()) return PacketReply::Failed(PacketResult::Cancelled);
        if (!signalled) {
            LogPortLine(kLogError, channel_.PortName(), kFunction, "Time out in OnRecv.");
            pendingFrames_.store(0);
            return PacketReply::Failed(PacketResult::Timeout);
        }
        const uint32_t frameLength = static_cast<uint32_t>(std::max<int32_t>(frameLength_.load(), 0));
        if (capacity - used < frameLength) {
            LogPortLine(kLogError, channel_.PortName(), kFunction, "Buffer overflow.");
            TakeFrame(nullptr, 0);
            return PacketReply::Failed(PacketResult::Timeout);
        }
        TakeFrame(buffer + used, frameLength);
        used += frameLength;
        if (count != nullptr) ++*count;
        LogPortLine(kLogDebug, channel_.PortName(), kFunction, "Read One return message completed.");
    }
    return PacketReply::Of(used);
}

void CFrameLink::TakeFrame(uint8_t* destination, uint32_t length) {
    if (destination != nullptr && length > 0) std::memcpy(destination, receiver_.Data(), length);
    frameTaken_.store(true);
    channel_.ReadEvent().Set();
    pendingFrames_.fetch_sub(1);
}

void CFrameLink::WaitForTaker(bool lastOfChunk) {
    if (takeWait_.Poll(channel_.ReadEvent())) return;
    if (lastOfChunk) {
        // Nothing is left to parse, so the listener has nothing to do before
        // the port has bytes again: it sleeps on the port, and the taker does
        // not have to wake it (one thread switch less per exchange). Bytes that
        // come before the take send it to the signal's own wait, so that none
        // is read until the frame is taken; a stop wakes both waits.
        for (;;) {
            if (channel_.ReadEvent().TryWait() || channel_.StopRequested()) return;
            if (channel_.WaitForPortInput(channel_.Times().portReadTimeout)) break;
        }
    }
    // The stop's signal is the same event as the take's: when a stop follows
    // the take of the frame before this one, both signals merge into one,
    // which that frame's wait used up. The flag is set before the signal, so
    // a wait that finds it clear sleeps until the signal comes.
    if (!channel_.StopRequested()) channel_.ReadEvent().Wait(platform::kWaitForever);
}

bool CFrameLink::PostFrame(bool lastOfChunk) {
    frameTaken_.store(false);
    pendingFrames_.fetch_add(1);
    frameReady_.Set();
    WaitForTaker(lastOfChunk);
    if (frameTaken_.exchange(false)) return true;
    // Released by StopListener: nobody took the frame. Withdraw it, so that a
    // later exchange does not wake up to a frame that is gone.
    frameReady_.Reset();
    pendingFrames_.fetch_sub(1);
    return false;
}

void CFrameLink::WakeWaits() {
    // The exchange waiting for a frame wakes up and finds the channel cancelled.
    frameReady_.Set();
}

void CFrameLink::ReleaseHeldData() {
    // Notifications are suppressed, so the listener does not come back for
    // new bytes; the call under way is let through frame by frame.
    // The listener may wait for its taker on the port (WaitForTaker): it is
    // woken after every take, and once to begin with for a take that came
    // before this call.
    channel_.WakeListener();
    while (receiving_.load()) {
        if (frameReady_.Wait(1)) {
            TakeFrame(nullptr, 0);
            channel_.WakeListener();
        }
    }
    // The listener is out: the receiver can be reset from here.
    receiver_.Clear();
    frameLength_.store(0);
}

void CFrameLink::OnChannelEvent(uint32_t code) {
    static const char* const kFunction = "CSerCOMLibrary::OnEvent";
    // The scratch starts every call all zero; only what the last call read
    // into it needs clearing (clearing all 8 KB per reply costs microseconds).
    std::memset(receiveScratch_.data(), 0, scratchUsed_);
    scratchUsed_ = 0;
    const uint32_t mode = channel_.GetPhoneMode();
    if (code != kNotifyRead) return;

    // Set before the suppression is looked at, so that a switch that starts
    // now either finds this call running or is seen by it.
    receiving_.store(true);
    struct ReceivingDone {
        std::atomic<bool>& flag;
        ~ReceivingDone() { flag.store(false); }
    } done{receiving_};
    // A switch began while this notification was under way: the bytes stay
    // in the channel for its raw reads.
    if (channel_.NotificationsSuppressed()) return;

    LogPortLine(kLogDebug, channel_.PortName(), kFunction, "Get received data");
    uint32_t got = 0;
    const bool read = channel_.Read(receiveScratch_.data(), kReceiveScratchSize, &got) == ChannelResult::Ok;
    scratchUsed_ = got;
    if (!read || got == 0) {
        LogPortLine(kLogDebug, channel_.PortName(), kFunction, "Read data from read buffer failed.");
        return;
    }
    LogPortLine(kLogDebug, channel_.PortName(), kFunction, "The original received buffer is");
    LogPortHexDump(kLogDebug, channel_.PortName(), kFunction, receiveScratch_.data(), got);

    receiver_.SetMode(mode);
    // Outside DIAG and download mode the bytes are read out and dropped.
    if (mode == kPhoneModeDIAG || mode == kPhoneModeDL) {
        for (uint32_t i = 0; i < got;) {
            const int32_t result = receiver_.ReceiveByte(receiveScratch_[i]);
            frameLength_.store(result);
            if (result > 0) {
                LogPortLine(kLogDebug, channel_.PortName(), kFunction, "The mem buffer is");
                LogPortHexDump(kLogDebug, channel_.PortName(), kFunction, receiver_.Data(),
                               static_cast<size_t>(result));
                const bool taken = PostFrame(i + 1 == got);
                frameLength_.store(0);
                receiver_.Clear();
                LogPortLine(kLogDebug, channel_.PortName(), kFunction,
                            "Complete one return message and forward to upper layer.");
                // After a stop the rest of the chunk is not handed to anybody:
                // a second frame would wait for a taker that never comes.
                if (!taken) return;
            } else if (result < 0) {
                LogPortLine(kLogError, channel_.PortName(), kFunction, "Packet check fails with error code %d", result);
                frameLength_.store(0);
                receiver_.Clear();
                // Only the bad frame is lost: a good one behind it in the
                // same read is still handed over.
                i = static_cast<uint32_t>(ResyncPosition(receiveScratch_.data(), got, i, mode));
                continue;
            }
            ++i;
        }
    }
    LogPortLine(kLogDebug, channel_.PortName(), kFunction, "Complete OnRecv.");
}

}  // namespace fennix
