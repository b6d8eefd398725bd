// Feeds arbitrary bytes to the frame receiver in DIAG and download mode, the
// way the packet layer does (Clear after every frame and every failure), and
// checks that packing and receiving any packet gives it back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "serial/Hdlc.h"

namespace {

using fennix::CFrameReceiver;

constexpr uint32_t kDiagMode = 5;
constexpr uint32_t kDownloadMode = 6;
constexpr uint8_t kRepeatRequest = 0xA5;

void Check(bool condition) {
    if (!condition) std::abort();
}

// Feeds the input over and over until at least `total` bytes went in, so that
// short inputs without a flag also run past the end of the buffer.
void FeedStream(uint32_t mode, const uint8_t* data, size_t size, size_t total) {
    if (size == 0) return;
    CFrameReceiver receiver;
    receiver.SetMode(mode);
    for (size_t i = 0; i < total || i < size; ++i) {
        const int32_t result = receiver.ReceiveByte(data[i % size]);
        Check(result >= -3);
        Check(receiver.Length() <= CFrameReceiver::kBufferSize);
        if (result > 0) {
            Check(receiver.Length() == static_cast<uint32_t>(result) + 2);
            Check(fennix::CalcCRC16(receiver.Data(), receiver.Length() * 8) == fennix::kCrcGoodResidue);
        }
        if (result != 0) receiver.Clear();
    }
    // A frame that ran past the end of the buffer must fail at its flag.
    if (total > 0 && mode == kDiagMode && std::memchr(data, fennix::kHdlcFlag, size) == nullptr) {
        if (receiver.CurrentState() == CFrameReceiver::kEscapeSeen) receiver.ReceiveByte(0x00);
        Check(receiver.ReceiveByte(fennix::kHdlcFlag) == CFrameReceiver::kFrameFailed);
    }
}

void RoundTrip(uint32_t mode, const uint8_t* data, size_t size) {
    const size_t n = size < CFrameReceiver::kBufferSize - 2 ? size : CFrameReceiver::kBufferSize - 2;
    const bool download = mode == kDownloadMode;
    // A download frame takes the byte after its opening flag unchanged, so a
    // packet starting with a reserved byte does not come through there.
    if (download && n > 0 && (data[0] == fennix::kHdlcFlag || data[0] == fennix::kHdlcEscape)) return;
    const std::vector<uint8_t> frame = fennix::PackFrame(data, n, download ? fennix::kHdlcFlag : 0, fennix::kHdlcFlag);
    Check(frame.size() <= 2 * n + (download ? 6 : 5));
    CFrameReceiver receiver;
    receiver.SetMode(mode);
    for (size_t i = 0; i + 1 < frame.size(); ++i) Check(receiver.ReceiveByte(frame[i]) == 0);
    const int32_t result = receiver.ReceiveByte(frame.back());
    Check(result == static_cast<int32_t>(n));
    if (n > 0) Check(std::memcmp(receiver.Data(), data, n) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A leading 0xA5 asks for the input to be repeated past the end of the
    // buffer; that pass is costly, so it runs only on request.
    if (size > 1 && data[0] == kRepeatRequest) {
        const size_t total = 2 * CFrameReceiver::kBufferSize + 8;  // even if every byte is an escape
        FeedStream(kDiagMode, data + 1, size - 1, total);
        FeedStream(kDownloadMode, data + 1, size - 1, total);
        return 0;
    }
    FeedStream(kDiagMode, data, size, 0);
    FeedStream(kDownloadMode, data, size, 0);
    RoundTrip(kDiagMode, data, size);
    RoundTrip(kDownloadMode, data, size);
    return 0;
}
