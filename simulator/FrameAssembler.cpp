#include "FrameAssembler.h"

#include "serial/Hdlc.h"

namespace fennix::sim {

void CFrameAssembler::SetDownloadFraming(bool download) {
    if (download != download_) {
        download_ = download;
        Reset();
    }
}

void CFrameAssembler::Reset() {
    inFrame_ = escape_ = overflow_ = finished_ = false;
    body_.clear();
    raw_.clear();
    packet_.clear();
}

CFrameAssembler::Result CFrameAssembler::Feed(uint8_t byte) {
    if (finished_) {
        finished_ = false;
        raw_.clear();
        packet_.clear();
    }
    if (raw_.size() < kMaxFrame) raw_.push_back(byte);

    if (download_ && !inFrame_) {
        if (byte != kHdlcFlag) return Result::None;
        inFrame_ = true;
        if (raw_.size() > 1) {  // junk before this flag
            raw_.pop_back();
            finished_ = true;
            return Result::Discarded;
        }
        raw_.clear();  // the opening flag is not part of the frame
        return Result::None;
    }

    if (byte == kHdlcFlag) {
        if (body_.empty() && !overflow_ && !escape_) {
            raw_.clear();  // flag between frames (or a second opening flag)
            return Result::None;
        }
        return Finish();
    }
    if (escape_) {
        escape_ = false;
        byte ^= kHdlcEscapeXor;
    } else if (byte == kHdlcEscape) {
        escape_ = true;
        return Result::None;
    }
    if (body_.size() < kMaxFrame)
        body_.push_back(byte);
    else
        overflow_ = true;
    return Result::None;
}

CFrameAssembler::Result CFrameAssembler::Finish() {
    bool good = !overflow_ && !escape_ && body_.size() >= 3 &&
                CalcCRC16(body_.data(), static_cast<uint32_t>(body_.size() * 8)) == kCrcGoodResidue;
    if (good) packet_.assign(body_.begin(), body_.end() - 2);
    body_.clear();
    escape_ = overflow_ = false;
    inFrame_ = false;
    finished_ = true;
    return good ? Result::Packet : Result::BadFrame;
}

}  // namespace fennix::sim
