// A packet exchange with a scripted device behind it, for the NV tests. It
// behaves like DIAGTxRx: a failed exchange leaves the answer area untouched, a
// good one zero-fills the whole area before copying the answer in, and an
// answer longer than the area fails the exchange.
#pragma once

#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

#include "../link_replies.h"
#include "serial/PacketExchange.h"

namespace fennix::test {

using Bytes = std::vector<uint8_t>;

struct DeviceReply {
    int32_t failure = 0;  // a negative packet-layer result instead of an answer
    Bytes answer;
};

inline DeviceReply Silent() { return DeviceReply{kPacketTimeout, {}}; }

class ScriptedExchange : public IPacketExchange {
public:
    // Answers every request; when unset, the replies in `script` are used in
    // order and an exhausted script times out.
    std::function<DeviceReply(const Bytes& request)> device;
    std::deque<DeviceReply> script;
    // Frames that come after the answer to a request, without a request of
    // their own (DIAGReceive takes them in order); none: it times out.
    std::deque<Bytes> later;

    std::vector<Bytes> requests;
    std::vector<uint32_t> waits;
    int drains = 0;
    int receives = 0;

    PacketReply DIAGTxRx(const uint8_t* request, uint32_t length, uint8_t* reply, uint32_t capacity,
                         uint32_t waitMs) override {
        requests.emplace_back(request, request + length);
        waits.push_back(waitMs);
        DeviceReply r = Next(requests.back());
        if (r.failure < 0) return testsupport::ReplyOf(r.failure);
        if (r.answer.size() > capacity) return PacketReply::Failed(PacketResult::Timeout);
        std::memset(reply, 0, capacity);
        if (!r.answer.empty()) std::memcpy(reply, r.answer.data(), r.answer.size());
        return PacketReply::Of(static_cast<uint32_t>(r.answer.size()));
    }

    PacketReply DIAGReceive(uint8_t* reply, uint32_t capacity, uint32_t) override {
        ++receives;
        if (later.empty()) return PacketReply::Failed(PacketResult::Timeout);
        Bytes frame = later.front();
        later.pop_front();
        if (frame.size() > capacity) return PacketReply::Failed(PacketResult::Timeout);
        std::memset(reply, 0, capacity);
        std::memcpy(reply, frame.data(), frame.size());
        return PacketReply::Of(static_cast<uint32_t>(frame.size()));
    }

    PacketReply DLTxRx(const uint8_t*, uint32_t, uint8_t*, uint32_t, uint32_t) override {
        ADD_FAILURE() << "the NV requests go out in DIAG mode only";
        return PacketReply::Failed(PacketResult::WrongMode);
    }

    PacketReply ReadReturnPacket(uint8_t*, uint32_t capacity, uint32_t* count, uint32_t maxFrames) override {
        EXPECT_EQ(4096u, capacity);
        EXPECT_EQ(1024u, maxFrames);
        ++drains;
        *count = 0;
        return PacketReply::Of(0);
    }

private:
    DeviceReply Next(const Bytes& request) {
        if (device) return device(request);
        if (script.empty()) return Silent();
        DeviceReply r = script.front();
        script.pop_front();
        return r;
    }
};

// An NV answer: code, item number, 128-byte data field, 16-bit status.
inline Bytes NvAnswerBytes(uint8_t code, uint16_t item, const Bytes& data, uint16_t status) {
    Bytes answer(133, 0);
    answer[0] = code;
    answer[1] = static_cast<uint8_t>(item);
    answer[2] = static_cast<uint8_t>(item >> 8);
    for (size_t i = 0; i < data.size() && i < 128; ++i) answer[3 + i] = data[i];
    answer[131] = static_cast<uint8_t>(status);
    answer[132] = static_cast<uint8_t>(status >> 8);
    return answer;
}

inline DeviceReply NvReply(uint8_t code, uint16_t item, const Bytes& data, uint16_t status) {
    return DeviceReply{0, NvAnswerBytes(code, item, data, status)};
}

// A file-system answer: dispatch head with `code`, then 32-bit fields.
inline DeviceReply FsReply(uint16_t code, std::vector<uint32_t> fields) {
    Bytes answer{75, 19, static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8)};
    for (uint32_t f : fields)
        for (int i = 0; i < 4; ++i) answer.push_back(static_cast<uint8_t>(f >> (8 * i)));
    return DeviceReply{0, answer};
}

inline Bytes SeededBytes(size_t length, uint8_t seed) {
    Bytes bytes(length);
    for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

inline uint32_t Le32At(const Bytes& bytes, size_t at) {
    return bytes[at] | (bytes[at + 1] << 8) | (bytes[at + 2] << 16) | (static_cast<uint32_t>(bytes[at + 3]) << 24);
}

}  // namespace fennix::test
