#include "download/FakeSessionLink.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include <gtest/gtest.h>

#include "serial/PacketExchange.h"

namespace fennix::test {

namespace {

int CommandOf(bool diag, const std::vector<uint8_t>& request) {
    if (request.empty()) return -1;
    if (diag) return 0x1000 | request[0];
    if (request[0] == 0x07 && request.size() > 1) return kStreamWrite;
    return request[0];
}

uint32_t LittleEndian32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

std::vector<LinkCall> FakeDevice::CallsOf(int cmd) const {
    std::vector<LinkCall> out;
    for (const auto& c : calls)
        if ((c.kind == LinkCall::DL || c.kind == LinkCall::DIAG) && c.cmd == cmd) out.push_back(c);
    return out;
}

int FakeDevice::Count(LinkCall::Kind kind) const {
    return static_cast<int>(
        std::count_if(calls.begin(), calls.end(), [&](const LinkCall& c) { return c.kind == kind; }));
}

const FlashedImage* FakeDevice::Image(uint8_t type) const {
    for (const auto& image : images)
        if (image.type == type) return &image;
    return nullptr;
}

std::vector<int> FakeDevice::ImageTypesOpened() const {
    std::vector<int> types;
    for (const auto& image : images) types.push_back(image.type);
    return types;
}

std::vector<uint8_t> FakeDevice::Usual(int cmd, const std::vector<uint8_t>& r) {
    switch (cmd) {
        case kNop: return {0x02};
        case kParams: return {0x08, 0x05, 0x02, 0x04, 0x00, 0x0B, 0x00, 0x00};
        case kWrite32: {
            const uint32_t address = uint32_t(r[1]) << 24 | uint32_t(r[2]) << 16 | uint32_t(r[3]) << 8 | r[4];
            const size_t length = size_t(r[5]) << 8 | r[6];
            ram[address] = std::vector<uint8_t>(r.begin() + 7, r.begin() + 7 + std::min(length, r.size() - 7));
            return {0x02};
        }
        case kGo: goSegment = r[1] << 8 | r[2]; return {0x02};
        case kHello: {
            std::vector<uint8_t> reply = {0x02};
            const char magic[] = "QCOM fast download protocol server";
            reply.insert(reply.end(), magic, magic + 32);
            reply.insert(reply.end(), {3, 2, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00});
            return reply;
        }
        case kSecurity: securityMode = r[1]; return {0x18};
        case kPartition: partitionTable.assign(r.begin() + 2, r.end()); return {0x1A, 0x00};
        case kOpenImage: {
            FlashedImage image;
            image.type = r[1];
            image.header.assign(r.begin() + 2, r.end());
            images.push_back(image);
            return {0x1C, 0x00};
        }
        case kStreamWrite: {
            const uint32_t offset = LittleEndian32(&r[1]);
            if (!images.empty()) {
                auto& bytes = images.back().bytes;
                if (bytes.size() < offset + r.size() - 5) bytes.resize(offset + r.size() - 5);
                std::copy(r.begin() + 5, r.end(), bytes.begin() + offset);
            }
            return {0x08, r[1], r[2], r[3], r[4]};
        }
        case kCloseImage:
            if (!images.empty()) images.back().committed = true;
            return {0x16};
        case kReset: ++resets; return {0x0C};
        case kLoopback: return r;
        default: return {0x03};
    }
}

PacketResult FakeSessionLink::OpenComport(const char* label, const char* portName) {
    device_->calls.push_back({LinkCall::Open, 0, std::vector<uint8_t>(portName, portName + std::strlen(portName))});
    if (!label || !portName) return PacketResult::NullParameter;
    if (device_->openResult == 1) device_->mode = 3;
    return testsupport::ResultOf(device_->openResult);
}

ChannelResult FakeSessionLink::CloseCOMPort() {
    device_->calls.push_back({LinkCall::Close, 0, {}});
    device_->mode = 0;
    return ChannelResult::Ok;
}

PacketResult FakeSessionLink::IsDLConnected() {
    device_->calls.push_back({LinkCall::IsDL, 0, {}});
    if (device_->dlResult == 1) device_->mode = 6;
    return testsupport::ResultOf(device_->dlResult);
}

PacketResult FakeSessionLink::IsDIAGConnected() {
    device_->calls.push_back({LinkCall::IsDIAG, 0, {}});
    if (device_->diagStillDownloading > 0) {
        --device_->diagStillDownloading;
        return PacketResult::ModeIsDL;
    }
    if (device_->diagResult == 1) device_->mode = 5;
    return testsupport::ResultOf(device_->diagResult);
}

PacketReply FakeSessionLink::DIAGTxRx(const uint8_t* request, uint32_t length, uint8_t* reply, uint32_t capacity,
                                      uint32_t waitMs) {
    return testsupport::ReplyOf(Exchange(true, request, length, reply, capacity, waitMs));
}

PacketReply FakeSessionLink::DLTxRx(const uint8_t* request, uint32_t length, uint8_t* reply, uint32_t capacity,
                                    uint32_t waitMs) {
    return testsupport::ReplyOf(Exchange(false, request, length, reply, capacity, waitMs));
}

int32_t FakeSessionLink::Exchange(bool diag, const uint8_t* request, uint32_t length, uint8_t* reply, uint32_t capacity,
                                  uint32_t waitMs) {
    std::vector<uint8_t> bytes(request, request + length);
    const int cmd = CommandOf(diag, bytes);
    device_->calls.push_back({diag ? LinkCall::DIAG : LinkCall::DL, cmd, bytes, capacity, waitMs});
    if (device_->mode != (diag ? 5 : 6)) return kPacketWrongMode;
    const int index = device_->sent[cmd]++;
    Answer answer = device_->script ? device_->script(cmd, bytes, index) : Answer::Usual();
    if (answer.kind == Answer::Silent) return kPacketTimeout;
    std::vector<uint8_t> out = answer.kind == Answer::Bytes ? answer.bytes : device_->Usual(cmd, bytes);
    auto& late = device_->lateAnswers;
    if (answer.kind == Answer::Late || !late.empty()) {
        late.push_back(std::move(out));
        if (answer.kind == Answer::Late) return kPacketTimeout;
        out = std::move(late.front());
        late.pop_front();
    }
    return Deliver(out, reply, capacity);
}

PacketResult FakeSessionLink::DLSend(const uint8_t* request, uint32_t length) {
    std::vector<uint8_t> bytes(request, request + length);
    const int cmd = CommandOf(false, bytes);
    device_->calls.push_back({LinkCall::DL, cmd, bytes, 0, 0});
    if (!device_->sendsAhead) return PacketResult::WriteRefused;
    if (device_->mode != 6) return PacketResult::WrongMode;
    device_->mostAhead = std::max(device_->mostAhead, ++device_->ahead);
    const int index = device_->sent[cmd]++;
    const Answer answer = device_->script ? device_->script(cmd, bytes, index) : Answer::Usual();
    if (answer.kind == Answer::Silent) return PacketResult::Ok;
    std::vector<uint8_t> out = answer.kind == Answer::Bytes ? answer.bytes : device_->Usual(cmd, bytes);
    if (answer.kind == Answer::Late) {
        device_->heldAnswers.push_back(std::move(out));
    } else if (device_->swapPairs && cmd == kStreamWrite && index % 2 == 0) {
        device_->swapHeld.push_back(std::move(out));
    } else {
        device_->lateAnswers.push_back(std::move(out));
        for (auto& held : device_->swapHeld) device_->lateAnswers.push_back(std::move(held));
        device_->swapHeld.clear();
    }
    return PacketResult::Ok;
}

PacketReply FakeSessionLink::DLReceive(uint8_t* reply, uint32_t capacity, uint32_t waitMs) {
    device_->calls.push_back({LinkCall::Receive, 0, {}, capacity, waitMs});
    auto& late = device_->lateAnswers;
    if (late.empty() && !device_->swapHeld.empty()) {
        // A held answer whose partner never came goes out alone.
        for (auto& held : device_->swapHeld) late.push_back(std::move(held));
        device_->swapHeld.clear();
    }
    if (late.empty() && device_->sendsAhead) {
        // The wait runs out; an answer held back arrives behind it.
        std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
        for (auto& held : device_->heldAnswers) late.push_back(std::move(held));
        device_->heldAnswers.clear();
        return PacketReply::Failed(PacketResult::Timeout);
    }
    if (late.empty()) return PacketReply::Failed(PacketResult::Timeout);
    if (device_->sendsAhead) --device_->ahead;
    std::vector<uint8_t> out = std::move(late.front());
    late.pop_front();
    return testsupport::ReplyOf(Deliver(out, reply, capacity));
}

int32_t FakeSessionLink::Deliver(const std::vector<uint8_t>& out, uint8_t* reply, uint32_t capacity) {
    if (out.empty() || out.size() > capacity) return kPacketTimeout;  // overflow reads as a failed exchange
    std::memset(reply, 0, capacity);
    std::memcpy(reply, out.data(), out.size());
    return static_cast<int32_t>(out.size());
}

PacketReply FakeSessionLink::ReadReturnPacket(uint8_t* buffer, uint32_t capacity, uint32_t* count, uint32_t maxFrames) {
    device_->calls.push_back({LinkCall::Drain, 0, {}, capacity, maxFrames});
    // The answers still due are read out and dropped.
    auto& late = device_->lateAnswers;
    if (count) *count = static_cast<uint32_t>(late.size());
    size_t bytes = 0;
    for (const auto& answer : late) bytes += answer.size();
    late.clear();
    return PacketReply::Of(static_cast<uint32_t>(bytes));
}

std::vector<Line>& RecordedLines() {
    thread_local std::vector<Line> lines;
    return lines;
}

void RecordLine(const char* text, int32_t status) { RecordedLines().push_back({text, status}); }

std::vector<std::string> Texts(const std::vector<Line>& lines) {
    std::vector<std::string> out;
    for (const auto& l : lines) out.push_back(l.text);
    return out;
}

bool FakeFlowContext::ReopenPort() {
    if (link_.ReopenComport("Target download", portName_.c_str()) == PacketResult::Ok) return true;
    ClosePort();
    return false;
}

void FakeFlowContext::DrainReplies() {
    std::vector<uint8_t> scratch(4096);
    uint32_t frames = 0;
    link_.ReadReturnPacket(scratch.data(), static_cast<uint32_t>(scratch.size()), &frames, 1024);
}

DownloadBench::DownloadBench() { RecordedLines().clear(); }

void EnterDownloadMode(DownloadBench& b) {
    ASSERT_EQ(PacketResult::Ok, b.flow.Link().OpenComport("Target download", "COM5"));
    ASSERT_EQ(PacketResult::Ok, b.flow.Link().IsDLConnected());
    b.device->calls.clear();
}

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
        char name[64];
        std::snprintf(name, sizeof name, "fennix-dl-%d-%d", static_cast<int>(std::rand()), counter++);
        auto candidate = base / name;
        if (std::filesystem::create_directory(candidate)) {
            dir_ = candidate.string();
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::string TempDir::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string path = Path(name);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return path;
}

std::string TempDir::WriteText(const std::string& name, const std::string& text) const {
    return Write(name, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> Pattern(size_t n, uint32_t seed) {
    std::vector<uint8_t> out(n);
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : out) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return out;
}

std::string HexText(uint16_t segment, const std::vector<uint8_t>& data, size_t recordBytes) {
    auto record = [](uint8_t count, uint16_t address, uint8_t type, const uint8_t* bytes) {
        char buf[16];
        std::string line = ":";
        unsigned sum = count + (address >> 8) + (address & 0xFF) + type;
        std::snprintf(buf, sizeof buf, "%02X%04X%02X", count, address, type);
        line += buf;
        for (uint8_t i = 0; i < count; ++i) {
            std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
            line += buf;
            sum += bytes[i];
        }
        std::snprintf(buf, sizeof buf, "%02X", (0x100 - (sum & 0xFF)) & 0xFF);
        line += buf;
        return line + "\r\n";
    };
    const uint8_t seg[2] = {static_cast<uint8_t>(segment >> 8), static_cast<uint8_t>(segment)};
    std::string text = record(2, 0, 4, seg);
    for (size_t at = 0; at < data.size(); at += recordBytes) {
        const size_t n = std::min(recordBytes, data.size() - at);
        text += record(static_cast<uint8_t>(n), static_cast<uint16_t>(at), 0, data.data() + at);
    }
    return text + record(0, 0, 1, nullptr);
}

}  // namespace fennix::test
