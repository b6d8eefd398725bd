// An image streamed with a window of stream writes outstanding. Answers are
// matched by the address they echo and may come in any order; the bytes
// count as written when every block before them was answered. A block whose
// answer does not come within its wait is sent again together with every
// later unanswered block (go-back-N), in order; as with one write at a time,
// a block goes out at most twice, and the second wait is the usual reply
// wait. A block's wait runs from its send or, when later, from the answer to
// the block before it. The image is complete only when every block has its
// answer.
#include <algorithm>
#include <chrono>
#include <deque>
#include <vector>

#include "download/ImageStream.h"
#include "download/StreamingCodes.h"
#include "download/StreamingCommands.h"
#include "log/Log.h"

namespace fennix {

namespace {

using namespace streaming;

constexpr uint32_t kAnswerBytes = kStreamWriteReplyBytes;

using Clock = std::chrono::steady_clock;

struct Outstanding {
    uint32_t offset = 0;
    std::vector<uint8_t> packet;  // the stream write as sent
    int sends = 0;
    bool answered = false;
    Clock::time_point deadline;

    size_t Length() const { return packet.size() - kStreamWriteHeaderBytes; }
};

}  // namespace

StepResult CStreamingCommands::StreamWindowed(BlockReader& reader, ImageProgress& progress, const std::string& path) {
    static const char* const kFunction = "CStreamingCommands::StreamWindowed";
    const std::string& port = flow_.PortName();
    const uint32_t firstWait = flow_.Times().streamWriteWait;
    // As for one write at a time: a block's second send waits as long as any
    // request does, for a device that stalled and answers late.
    const uint32_t secondWait = std::max(firstWait, flow_.Times().replyWait);
    ISessionLink& link = flow_.Link();

    std::deque<Outstanding> window;
    std::vector<uint8_t> block(plan_.blockBytes);
    uint32_t nextOffset = 0;
    bool lastRead = false;

    const auto send = [&](Outstanding& b, uint32_t waitMs) {
        ++b.sends;
        b.deadline = Clock::now() + std::chrono::milliseconds(waitMs);
        return link.DLSend(b.packet.data(), static_cast<uint32_t>(b.packet.size()));
    };
    // Every unanswered block again, in order.
    const auto goBack = [&](const char* why) {
        LogPortLine(kLogWarning, port.c_str(), kFunction, "%s at %08X: sending it again with the blocks after it.", why,
                    static_cast<unsigned>(window.front().offset));
        for (Outstanding& b : window) {
            if (b.answered) continue;
            const PacketResult sent = send(b, secondWait);
            if (sent != PacketResult::Ok) return sent;
        }
        return PacketResult::Ok;
    };
    // An answer for a block answered before: the second answer of a block
    // sent twice. Every block in front of the window was answered, and all
    // but the image's last are whole blocks.
    const auto answeredBefore = [&](uint32_t echoed, const Outstanding* match) {
        if (match) return match->answered;
        return echoed < window.front().offset && echoed % plan_.blockBytes == 0;
    };

    for (;;) {
        while (!lastRead && window.size() < plan_.window) {
            std::fill(block.begin(), block.end(), 0);
            const std::optional<size_t> read = reader.Next(block.data(), block.size());
            if (!read) return BlockUnreadable(path);
            Outstanding b;
            b.offset = nextOffset;
            BuildStreamWrite(b.packet, nextOffset, block.data(), *read);
            nextOffset += static_cast<uint32_t>(*read);
            lastRead = *read != block.size();
            window.push_back(std::move(b));
            const PacketResult sent = send(window.back(), firstWait);
            if (sent != PacketResult::Ok) return StepResult::LinkFailed(sent);
        }
        if (window.empty()) return StepResult::Done();

        const auto left = std::chrono::ceil<std::chrono::milliseconds>(window.front().deadline - Clock::now()).count();
        PacketReply reply = PacketReply::Failed(PacketResult::Timeout);
        if (left > 0) {
            reply_.assign(kAnswerBytes, 0);
            reply = link.DLReceive(reply_.data(), kAnswerBytes, static_cast<uint32_t>(left));
        }
        if (reply.result == PacketResult::Timeout) {
            // A frame too long for an answer was passed over; the wait goes on.
            if (Clock::now() < window.front().deadline) continue;
            if (window.front().sends >= 2) return StepResult::Of(reply);
            const PacketResult sent = goBack("No answer to the stream write");
            if (sent != PacketResult::Ok) return StepResult::LinkFailed(sent);
            continue;
        }
        if (!reply.IsOk()) return StepResult::Of(reply);
        if (reply_[0] != kReplyStreamWrite) {
            flow_.DrainReplies();
            return StepResult::Failed();
        }

        const uint32_t echoed = Little32(reply_.data() + 1);
        Outstanding* match = nullptr;
        if (reply.length == kAnswerBytes) {
            for (Outstanding& b : window)
                if (b.offset == echoed) match = &b;
        }
        if (reply.length == kAnswerBytes && answeredBefore(echoed, match)) {
            LogPortLine(kLogWarning, port.c_str(), kFunction,
                        "Discarded a second reply to the stream write at %02X %02X %02X %02X.", reply_[1], reply_[2],
                        reply_[3], reply_[4]);
            continue;
        }
        if (!match) {
            // An answer for no block sent: the block in front is not known to
            // be written, as when its answer does not come.
            if (window.front().sends >= 2) return StepResult::Failed();
            const PacketResult sent = goBack("A reply echoing another address came for the stream write");
            if (sent != PacketResult::Ok) return StepResult::LinkFailed(sent);
            continue;
        }
        match->answered = true;
        if (!window.front().answered) continue;
        while (!window.empty() && window.front().answered) {
            acknowledgedBlock_ = window.front().offset;
            progress.Add(window.front().Length());
            window.pop_front();
        }
        // A block's wait runs while it is the oldest unanswered: behind a full
        // window on a slow link its answer queues behind the others' transfers.
        if (!window.empty()) {
            Outstanding& front = window.front();
            const auto wait = std::chrono::milliseconds(front.sends >= 2 ? secondWait : firstWait);
            front.deadline = std::max(front.deadline, Clock::now() + wait);
        }
    }
}

}  // namespace fennix
