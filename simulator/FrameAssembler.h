// The device's side of the HDLC framing: cuts the host's byte stream into
// packets. DIAG frames end with a flag and have no opening flag; download
// frames must open with a flag, and bytes outside a frame are thrown away
// (which is how a download-mode device ignores the "at" part of the host's
// probe and still sees the no-operation frame behind it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fennix::sim {

class CFrameAssembler {
public:
    // Room for the largest stream write (32 KB of data) with every byte
    // escaped, its header, CRC and flags.
    static constexpr size_t kMaxFrame = 131072;

    enum class Result {
        None,       // byte absorbed
        Packet,     // a good frame: Packet() holds it without CRC
        BadFrame,   // a frame failed its check (or was too long): Raw() holds it
        Discarded,  // download mode: junk outside a frame ended at a flag, Raw() holds it
    };

    void SetDownloadFraming(bool download);
    void Reset();
    Result Feed(uint8_t byte);

    const std::vector<uint8_t>& Packet() const { return packet_; }
    // The frame's bytes as they arrived, closing flag included.
    const std::vector<uint8_t>& Raw() const { return raw_; }

private:
    Result Finish();

    bool download_ = false;
    bool inFrame_ = false;  // download framing: an opening flag was seen
    bool escape_ = false;
    bool overflow_ = false;
    bool finished_ = false;      // last call ended a frame: start afresh
    std::vector<uint8_t> body_;  // unstuffed packet and CRC
    std::vector<uint8_t> packet_;
    std::vector<uint8_t> raw_;
};

}  // namespace fennix::sim
