// CFrameLink: the framing half of the packet layer. It frames request
// packets, writes them through the channel and hands the reply frame back to
// the caller after a bounded wait. Frames are rebuilt on the channel's
// listener thread (OnChannelEvent) and handed to the waiting flow thread one
// at a time:
//
//   listener: frame complete -> pending + 1, frame-ready set, wait frame-taken
//   flow:     wait frame-ready -> copy the frame -> frame-taken set, pending - 1
//
// The frame-taken signal is the channel's read event, which StopListener also
// sets so that a listener waiting for a taker can end. A frame that arrives
// after its exchange gave up stays posted and is returned by the next exchange
// unless a drain (ReadReturnPacket) takes it first.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "platform/Event.h"
#include "serial/HandOverWait.h"
#include "serial/Hdlc.h"
#include "serial/ResultCodes.h"
#include "serial/SerialIO.h"

namespace fennix {

class CFrameLink final : public IChannelListener {
public:
    static constexpr uint32_t kReceiveScratchSize = 8192;  // bytes taken out of the channel per notification
    // How long each side of the hand-over polls before it sleeps (see
    // CHandOverWait): a fast link answers a stream write in well under a
    // millisecond; on a 115200-baud line the polling is soon turned off.
    static constexpr uint32_t kReplyPollMicroseconds = 200;  // an exchange waiting for its reply
    static constexpr uint32_t kTakePollMicroseconds = 50;    // the listener waiting for the taker

    // The channel has to be given this link as its listener.
    explicit CFrameLink(CSerialIO& channel);
    CFrameLink(const CFrameLink&) = delete;
    CFrameLink& operator=(const CFrameLink&) = delete;

    // Resets the frame hand-over before the channel opens (unless a listener runs).
    void PrepareToOpen();

    // Frames the request for the current mode (DIAG: packet, CRC, flag;
    // download: opening flag too), writes it and waits at most `waitMs` for a
    // reply frame. The reply's length (> 0); WriteRefused while a mode switch
    // blocks writes; Timeout when no frame came or it did not fit (the frame
    // that did not fit is dropped so that the listener goes on); Cancelled
    // once the channel is cancelled.
    PacketReply TxRx(const uint8_t* request, uint32_t length, uint8_t* reply, uint32_t capacity, uint32_t waitMs);
    // The sending half of TxRx alone: Ok, WriteRefused or Cancelled. The
    // reply is left to a later Receive.
    PacketResult Send(const uint8_t* request, uint32_t length);
    // The waiting half of TxRx alone.
    PacketReply Receive(uint8_t* reply, uint32_t capacity, uint32_t waitMs);
    // Takes the frames posted now (at most `maxFrames`) one behind the other
    // into `buffer`. Total bytes taken; 0 at once when none is posted;
    // Timeout when a frame does not come or does not fit (that frame is
    // dropped); Cancelled.
    PacketReply ReadReturnPacket(uint8_t* buffer, uint32_t capacity, uint32_t* count, uint32_t maxFrames);

    // For a mode switch, with the channel's notifications suppressed: frames
    // posted for a taker are dropped until the listener has left
    // OnChannelEvent, and a frame cut off by that is forgotten.
    void ReleaseHeldData();
    // The exchange waiting for a frame wakes up (and finds the channel cancelled).
    void WakeWaits();

    // Frames posted and not yet taken.
    uint32_t PendingFrames() const { return static_cast<uint32_t>(pendingFrames_.load()); }

private:
    // Listener thread: rebuilds frames from the received bytes.
    void OnChannelEvent(uint32_t code) override;
    // Hands one complete frame to a taker; false when the listener was released
    // by a stop instead and the frame was withdrawn. `lastOfChunk`: no
    // received byte is left to parse behind the frame.
    bool PostFrame(bool lastOfChunk);
    // The listener's wait for the frame-taken signal (see PostFrame).
    void WaitForTaker(bool lastOfChunk);
    // Waits at most `waitMs` for a posted frame and takes it into `reply`: its
    // length, or Timeout (also for a frame that does not fit), or Cancelled.
    PacketReply TakeReply(uint8_t* reply, uint32_t capacity, uint32_t waitMs);
    // Takes the posted frame into `destination` (null: drops it) and lets the
    // listener go on.
    void TakeFrame(uint8_t* destination, uint32_t length);

    CSerialIO& channel_;
    CFrameReceiver receiver_;
    platform::AutoResetEvent frameReady_;
    CHandOverWait replyWait_{kReplyPollMicroseconds};  // flow thread, TxRx only
    CHandOverWait takeWait_{kTakePollMicroseconds};    // listener thread
    std::atomic<int32_t> frameLength_{0};
    std::atomic<int32_t> pendingFrames_{0};
    std::atomic<bool> frameTaken_{false};
    std::atomic<bool> receiving_{false};  // the listener is inside OnChannelEvent with bytes
    std::vector<uint8_t> receiveScratch_;
    uint32_t scratchUsed_ = 0;      // bytes the last notification put into the scratch
    std::vector<uint8_t> txFrame_;  // flow thread, TxRx and Send: the framed request
};

}  // namespace fennix
