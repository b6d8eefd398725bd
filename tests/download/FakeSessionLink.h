// A scripted device behind the session's link, for the download and session
// tests, and the flow context the download's commands run in over it. By
// default it behaves like a healthy device (DMSS, then the streaming
// programmer, then the DIAG loopback) and keeps what it was sent, so tests can
// compare flashed bytes with their files; a script can replace any answer.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <ostream>
#include <memory>
#include <string>
#include <vector>

#include "../link_replies.h"
#include "download/DmssCommands.h"
#include "download/DownloadSequence.h"
#include "download/FlowContext.h"
#include "download/StreamingCommands.h"
#include "serial/SessionLink.h"

namespace fennix {

inline void PrintTo(const StepResult& result, std::ostream* out) {
    static const char* const kNames[] = {"Done", "Failed", "LinkFailed"};
    *out << kNames[static_cast<int>(result.status)];
    if (result.status == StepStatus::LinkFailed) *out << " 0x" << std::hex << static_cast<uint32_t>(result.link);
}

}  // namespace fennix

namespace fennix::test {

// A step whose request went unanswered.
constexpr StepResult kTimedOut = StepResult::LinkFailed(PacketResult::Timeout);

// Commands told apart as the device sees them; 0x07 is the DMSS parameter
// request when alone and the streaming stream write otherwise.
enum Cmd : int {
    kNop = 0x06,
    kParams = 0x07,
    kWrite32 = 0x0F,
    kGo = 0x05,
    kHello = 0x01,
    kSecurity = 0x17,
    kPartition = 0x19,
    kOpenImage = 0x1B,
    kStreamWrite = 0x107,
    kCloseImage = 0x15,
    kReset = 0x0B,
    kLoopback = 0x107B,  // DIAG
};

struct LinkCall {
    enum Kind { Open, Close, IsDL, IsDIAG, DL, DIAG, Drain, Receive } kind;
    int cmd = 0;
    std::vector<uint8_t> request;
    uint32_t capacity = 0;
    uint32_t wait = 0;
};

struct Answer {
    // Late: the usual answer comes after the exchange's wait ran out; every
    // later answer then waits behind it (the device answers in order).
    enum Kind { Normal, Silent, Bytes, Late } kind = Normal;
    std::vector<uint8_t> bytes;
    static Answer Usual() { return {}; }
    static Answer Behind() { return {Late, {}}; }
    static Answer None() { return {Silent, {}}; }
    static Answer With(std::vector<uint8_t> b) { return {Bytes, std::move(b)}; }
};

struct FlashedImage {
    uint8_t type = 0;
    std::vector<uint8_t> header;
    std::vector<uint8_t> bytes;
    bool committed = false;
};

struct FakeDevice {
    // Results of the port operations.
    int32_t openResult = 1;
    int32_t dlResult = 1;
    int32_t diagResult = 1;
    int diagStillDownloading = 0;  // IsDIAGConnected calls answered "mode is download" first
    // Replaces answers: called with the request and how many requests of the
    // same command came before it.
    std::function<Answer(int cmd, const std::vector<uint8_t>& request, int index)> script;

    std::vector<LinkCall> calls;
    std::map<int, int> sent;  // requests per command that reached the device
    std::vector<uint32_t> pauses;
    std::deque<std::vector<uint8_t>> lateAnswers;  // answered, not yet taken
    // Requests sent ahead of their answers (DLSend): the link allows it, a
    // Late answer waits here until a receive's wait has run out, and with
    // swapPairs the answer to stream write 2k waits for the one to 2k+1.
    bool sendsAhead = false;
    bool swapPairs = false;
    std::deque<std::vector<uint8_t>> heldAnswers;
    std::vector<std::vector<uint8_t>> swapHeld;
    int ahead = 0;  // sent ahead and not answered
    int mostAhead = 0;
    int mode = 0;  // 0 closed, 3 open, 5 DIAG, 6 download

    // What the device kept.
    std::map<uint32_t, std::vector<uint8_t>> ram;  // write32 address -> data
    int goSegment = -1;
    int securityMode = -1;
    std::vector<uint8_t> partitionTable;
    std::vector<FlashedImage> images;
    int resets = 0;

    std::vector<LinkCall> CallsOf(int cmd) const;
    int Count(LinkCall::Kind kind) const;
    const FlashedImage* Image(uint8_t type) const;
    std::vector<int> ImageTypesOpened() const;
    // The usual answer of a healthy device (applies its effect).
    std::vector<uint8_t> Usual(int cmd, const std::vector<uint8_t>& request);
};

class FakeSessionLink : public ISessionLink {
public:
    explicit FakeSessionLink(std::shared_ptr<FakeDevice> device) : device_(std::move(device)) {}
    PacketResult OpenComport(const char* label, const char* portName) override;
    ChannelResult CloseCOMPort() override;
    PacketResult IsDLConnected() override;
    PacketResult IsDIAGConnected() override;
    PacketReply DIAGTxRx(const uint8_t* request, uint32_t length, uint8_t* reply, uint32_t capacity,
                         uint32_t waitMs) override;
    PacketReply DLTxRx(const uint8_t* request, uint32_t length, uint8_t* reply, uint32_t capacity,
                       uint32_t waitMs) override;
    PacketReply ReadReturnPacket(uint8_t* buffer, uint32_t capacity, uint32_t* count, uint32_t maxFrames) override;
    PacketReply DLReceive(uint8_t* reply, uint32_t capacity, uint32_t waitMs) override;
    PacketResult DLSend(const uint8_t* request, uint32_t length) override;
    bool SendsAhead() const override { return device_->sendsAhead; }

private:
    int32_t Exchange(bool diag, const uint8_t* request, uint32_t length, uint8_t* reply, uint32_t capacity,
                     uint32_t waitMs);
    static int32_t Deliver(const std::vector<uint8_t>& out, uint8_t* reply, uint32_t capacity);
    std::shared_ptr<FakeDevice> device_;
};

// The progress lines of the current thread's sessions.
struct Line {
    std::string text;
    int32_t status;
    bool operator==(const Line& o) const { return text == o.text && status == o.status; }
};
std::vector<Line>& RecordedLines();
void RecordLine(const char* text, int32_t status);
std::vector<std::string> Texts(const std::vector<Line>& lines);

// What the session gives the download's commands, on "COM5" over the fake
// device: unscaled times, pauses recorded instead of slept, lines recorded.
class FakeFlowContext : public IFlowContext {
public:
    explicit FakeFlowContext(std::shared_ptr<FakeDevice> device) : device_(device), link_(std::move(device)) {}
    ISessionLink& Link() override { return link_; }
    const Timeouts& Times() const override { return times_; }
    void SetTimes(const Timeouts& times) { times_ = times; }
    const std::string& PortName() const override { return portName_; }
    void Report(const char* text, int32_t status) const override { RecordLine(text, status); }
    void Pause(uint32_t milliseconds) override { device_->pauses.push_back(milliseconds); }
    bool Cancelled() const override { return false; }
    void ClosePort() override { link_.CloseCOMPort(); }
    bool ReopenPort() override;
    void DrainReplies() override;

private:
    std::shared_ptr<FakeDevice> device_;
    FakeSessionLink link_;
    Timeouts times_ = Timeouts::WithScale(1.0);
    std::string portName_ = "COM5";
};

// The download's commands over a fresh fake device, composed as the session
// composes them; the recorded lines start empty.
struct DownloadBench {
    std::shared_ptr<FakeDevice> device = std::make_shared<FakeDevice>();
    FakeFlowContext flow{device};
    DownloadSettings settings;
    CDmssCommands dmss{flow};
    CStreamingCommands streaming{flow};
    DownloadBench();
    CDownloadSequence Sequence() { return CDownloadSequence(flow, dmss, streaming, settings); }
};
// The port open in download mode, as after the flow frame; the device's
// record of calls starts empty.
void EnterDownloadMode(DownloadBench& b);

// Files for the tests, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;
    std::string WriteText(const std::string& name, const std::string& text) const;
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }

private:
    std::string dir_;
};

std::vector<uint8_t> Pattern(size_t n, uint32_t seed);
// Intel HEX text: the segment record, data records of `recordBytes` bytes and
// the end record.
std::string HexText(uint16_t segment, const std::vector<uint8_t>& data, size_t recordBytes = 32);

}  // namespace fennix::test
