// A session link over the scripted exchange: open, close and the DIAG mode
// check answer as configured and are counted.
#pragma once

#include <string>
#include <vector>

#include "ScriptedExchange.h"
#include "serial/SessionLink.h"

namespace fennix::test {

class ScriptedLink : public ISessionLink {
public:
    explicit ScriptedLink(ScriptedExchange& exchange) : exchange_(exchange) {}

    int32_t openResult = 1;
    int32_t diagResult = 1;
    std::vector<std::string> calls;  // "open COM5", "close", "diag"

    PacketResult OpenComport(const char* label, const char* portName) override {
        EXPECT_STREQ("Target download", label);
        calls.push_back(std::string("open ") + portName);
        return testsupport::ResultOf(openResult);
    }
    ChannelResult CloseCOMPort() override {
        calls.push_back("close");
        return ChannelResult::Ok;
    }
    PacketResult IsDLConnected() override {
        ADD_FAILURE() << "the NV flows never ask for download mode";
        return PacketResult::ModeUnknown;
    }
    PacketResult IsDIAGConnected() override {
        calls.push_back("diag");
        return testsupport::ResultOf(diagResult);
    }
    PacketReply DIAGTxRx(const uint8_t* request, uint32_t length, uint8_t* reply, uint32_t capacity,
                         uint32_t waitMs) override {
        return exchange_.DIAGTxRx(request, length, reply, capacity, waitMs);
    }
    PacketReply DIAGReceive(uint8_t* reply, uint32_t capacity, uint32_t waitMs) override {
        return exchange_.DIAGReceive(reply, capacity, waitMs);
    }
    PacketReply DLTxRx(const uint8_t* request, uint32_t length, uint8_t* reply, uint32_t capacity,
                       uint32_t waitMs) override {
        return exchange_.DLTxRx(request, length, reply, capacity, waitMs);
    }
    PacketReply ReadReturnPacket(uint8_t* buffer, uint32_t capacity, uint32_t* count, uint32_t maxFrames) override {
        return exchange_.ReadReturnPacket(buffer, capacity, count, maxFrames);
    }

private:
    ScriptedExchange& exchange_;
};

}  // namespace fennix::test
