// The DIAG requests of the NV flows: NV item reads (command 38) and writes
// (command 39), and the device file-system requests that store named files.
// Each operation sends one request at a time through DIAGTxRx, judges the
// answer and returns what it found; none of them reports to the operator.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "nv/NvItem.h"
#include "serial/Hdlc.h"
#include "serial/PacketExchange.h"
#include "serial/ResultCodes.h"
#include "serial/Timeouts.h"

namespace fennix {

// NV status values the flows tell apart; every other value is a refusal.
constexpr uint8_t kNvStatusDone = 0;
constexpr uint8_t kNvStatusInactive = 5;
constexpr uint8_t kNvStatusReadByIndex = 6;
// DIAG refusals of a whole request, each followed by (the start of) the
// request. No NV status takes these values, so an NV request refused this
// way reports the code as its status: a refusal like any other.
constexpr uint8_t kDiagBadCommand = 0x13;
constexpr uint8_t kDiagBadParameters = 0x14;

// Largest values and paths a request can carry. Larger ones are refused
// before anything is sent.
constexpr size_t kNvItemValueMax = 128;
constexpr size_t kNvArrayEntryValueMax = 130;
constexpr size_t kNvChunkSize = 128;
constexpr size_t kNvChunkValueMax = 256 * kNvChunkSize;  // the chunk index is one byte
constexpr size_t kNvIndexMax = 256;                      // likewise the read index
constexpr size_t kFsFileLengthMax = 65535;
constexpr size_t kFsPathMax = 259;
constexpr size_t kFsWriteBlock = 512;

// How the device dealt with one item: it did what was asked, it answered
// with a refusal (or, for an indexed read, had no readable index), or an
// exchange failed and the device is taken to have stopped talking.
enum class NvOutcome { Done, Refused, Lost };

// How one NV request went: the device answered it (the status tells how it
// dealt with it), it was not sent (its value does not fit the request), or
// its exchange failed and the device is taken to have stopped talking.
enum class NvRequestResult { Answered, NotSent, Lost };

// Result of a request whose caller looks at the status low byte only.
struct NvAnswer {
    NvRequestResult result = NvRequestResult::Answered;
    uint8_t status = 0;  // Answered: answer byte 131, or the refusal's code
};

struct NvReadResult {
    NvRequestResult result = NvRequestResult::Answered;
    uint8_t status = 0;
    std::array<uint8_t, kNvItemValueMax> data{};  // the answer's data field
};

struct NvWriteResult {
    NvRequestResult result = NvRequestResult::Answered;
    uint16_t status = 0;  // Answered: the whole NV status, or the refusal's code
};

// How storing a device file ended. A file that was opened and then not
// written or closed may have been left truncated on the device.
enum class FsFileResult { Stored, NotOpened, NotWritten, Lost };

class CNvCommands {
public:
    // `waitMs`: how long each request waits for its answer.
    explicit CNvCommands(IPacketExchange& exchange, uint32_t waitMs = Timeouts{}.replyWait)
        : exchange_(exchange), waitMs_(waitMs) {}

    // Every request below takes only an answer that belongs to it. An NV
    // answer: at least 133 bytes, the request's command code, the echo of the
    // item's low 16 bits and, for an indexed read answered with status 0, the
    // echo of the index. A file-system answer: the subsystem head and the
    // request's file-system command (a write answer also echoes its handle
    // and offset). A DIAG refusal (bad command or bad parameters) belongs to
    // the request when what it echoes, as far as it goes, is the request or
    // the request's frame, and covers at least the bytes that an answer
    // echoes: a device that answers is alive, so the refusal is the request's
    // answer (NV: status 0x13 or 0x14; file system: not opened or not
    // written) and is not sent again. Any other frame (a stray or late
    // answer) is discarded and the wait for the request's own answer goes on
    // until the request's wait has run out; then what is still posted is
    // drained and the request sent once more. No answer of its own to the
    // second send counts as a failed exchange (Lost).

    // Plain read of the item's low 16 bits.
    NvReadResult ReadNvItem(int32_t itemNumber);

    // Reads the record's item index by index (0, 1, ...) until an index is
    // refused. Done: the value is set from the indexes read. Refused: not
    // even index 0 could be read; the caller skips the item. Lost: an
    // exchange failed; the record is left as it was.
    NvOutcome ReadIndexedNvItem(CNV_ItemHolder& record);

    // The item write with the value zero-padded to 128 bytes.
    NvWriteResult WriteNvItem(int32_t itemNumber, const uint8_t* value, size_t length);
    // The same request judged by the status low byte.
    NvAnswer SendNvItemWrite(int32_t itemNumber, const uint8_t* value, size_t length);

    // The ARRAY entry write: the 32-bit item number at bytes 1-4, the value
    // from byte 3 on. A value over 130 bytes is NotSent.
    NvAnswer WriteNvArrayEntry(int32_t itemNumber, const uint8_t* value, size_t length);

    // Sends a value as 128-byte chunk writes. Done when every chunk was
    // answered and the last answer's status is 0; Refused when that status is
    // not 0, or the value is empty or longer than 256 chunks (nothing is sent
    // then); Lost, at once, when an exchange fails (the chunks after it are
    // not sent).
    NvOutcome WriteNvChunks(const CNV_ItemHolder& record);

    // Stores a file on the device: probe, open (5 tries), writes of 512 bytes,
    // close. A path or value beyond the limits is NotOpened without sending.
    FsFileResult WriteFsFile(const std::string& path, const uint8_t* value, size_t length);

    // Done for a make-directory answer (an existing directory counts as
    // made), Refused for a path beyond the limit (nothing is sent) or a
    // refusal, Lost when the exchange failed.
    NvOutcome MakeFsDir(const std::string& path);

private:
    // Judges the frame in `answer_` (its length given) for one request.
    using AnswerCheck = std::function<bool(uint32_t length)>;

    PacketReply Exchange(const std::vector<uint8_t>& request, uint8_t* answer, size_t capacity);
    // Sends the request and leaves the answer that belongs to it in
    // `answer_` (the reply's length), or gives the failed exchange.
    // `refused_` tells whether that answer is a DIAG refusal; `echoed` is how
    // many request bytes a refusal must echo at least.
    PacketReply MatchedExchange(const std::vector<uint8_t>& request, const AnswerCheck& belongs, size_t echoed);
    bool IsRefusalOf(const std::vector<uint8_t>& request, uint32_t length, size_t echoed) const;
    // An NV request's answer check; `index` >= 0 for an indexed read.
    AnswerCheck NvCheck(const std::vector<uint8_t>& request, int index) const;
    PacketReply NvExchange(const std::vector<uint8_t>& request, int index = -1);
    // A file-system request whose answer carries at least `fields` bytes.
    PacketReply FsExchange(const std::vector<uint8_t>& request, size_t fields);
    // The status low byte, or the refusal's code.
    uint8_t StatusByte() const;
    NvRequestResult ItemWriteExchange(int32_t itemNumber, const uint8_t* value, size_t length);
    // Reads and discards answers still pending after an unexpected one.
    void Drain();

    IPacketExchange& exchange_;
    uint32_t waitMs_;
    // Room for any frame the receiver can deliver, so that a long stray
    // frame is taken and judged instead of failing the exchange.
    std::vector<uint8_t> answer_ = std::vector<uint8_t>(CFrameReceiver::kBufferSize);
    std::vector<uint8_t> drain_ = std::vector<uint8_t>(4096);
    bool refused_ = false;
    // After a request was sent twice, the device's answer to the other send
    // may still come, a copy of the answer taken. For another item it fails
    // the next request's check; for the same item twice in a row (a plain
    // read answered 6 then index 0, chunks of one item) an answer without an
    // index echo could pass it, and would shift every later answer by one.
    // So the first frame of the next request that repeats the answer taken
    // byte for byte is discarded as that copy: a wrong guess (the copy never
    // came, and the device gave the same answer again) costs one more wait
    // and send, never a value put on the wrong request.
    std::vector<uint8_t> leftover_;
};

}  // namespace fennix
