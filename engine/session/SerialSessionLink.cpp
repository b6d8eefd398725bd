// The session's link over a real serial port: the packet layer of the serial
// transport, whose channel opens the port and whose mode checks move the
// device into DIAG or download mode.
#include "serial/SerCOMLibrary.h"
#include "session/SessionLink.h"

namespace fennix {

namespace {

class CSerialSessionLink final : public ISessionLink {
public:
    explicit CSerialSessionLink(const Timeouts& times) : port_(times) {}

    int32_t OpenComport(const char* label, const char* portName) override { return port_.OpenComport(label, portName); }
    int32_t ReopenComport(const char* label, const char* portName) override {
        return port_.ReopenComport(label, portName);
    }
    void Cancel() override { port_.Cancel(); }
    platform::PortOpenFailure OpenFailure() const override { return port_.LastOpenFailure(); }
    int32_t CloseCOMPort() override { return port_.CloseCOMPort(); }
    int32_t IsDLConnected() override { return port_.IsDLConnected(); }
    int32_t IsDIAGConnected() override { return port_.IsDIAGConnected(); }
    int32_t DIAGTxRx(const uint8_t* request, uint32_t length, uint8_t* reply, uint32_t capacity,
                     uint32_t waitMs) override {
        return port_.DIAGTxRx(request, length, reply, capacity, waitMs);
    }
    int32_t DLTxRx(const uint8_t* request, uint32_t length, uint8_t* reply, uint32_t capacity,
                   uint32_t waitMs) override {
        return port_.DLTxRx(request, length, reply, capacity, waitMs);
    }
    int32_t DIAGReceive(uint8_t* reply, uint32_t capacity, uint32_t waitMs) override {
        return port_.DIAGReceive(reply, capacity, waitMs);
    }
    int32_t DLReceive(uint8_t* reply, uint32_t capacity, uint32_t waitMs) override {
        return port_.DLReceive(reply, capacity, waitMs);
    }
    int32_t ReadReturnPacket(uint8_t* buffer, uint32_t capacity, uint32_t* count, uint32_t maxFrames) override {
        return port_.ReadReturnPacket(buffer, capacity, count, maxFrames);
    }

private:
    CSerCOMLibrary port_;
};

}  // namespace

std::unique_ptr<ISessionLink> MakeSerialSessionLink(const Timeouts& times) {
    return std::make_unique<CSerialSessionLink>(times);
}

}  // namespace fennix
