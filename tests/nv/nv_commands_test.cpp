#include "nv/NvCommands.h"

#include <gtest/gtest.h>

#include "ScriptedExchange.h"

namespace fennix {
namespace {

using test::Bytes;
using test::DeviceReply;
using test::FsReply;
using test::NvAnswerBytes;
using test::NvReply;
using test::ScriptedExchange;
using test::SeededBytes;

Bytes Slice(const Bytes& bytes, size_t from, size_t count) {
    return Bytes(bytes.begin() + from, bytes.begin() + from + count);
}

TEST(NvRead, PlainReadSendsLow16BitsAndReturnsDataField) {
    ScriptedExchange device;
    const Bytes data = SeededBytes(128, 3);
    device.script.push_back(NvReply(38, 10, data, 0x0300));
    CNvCommands nv(device);
    const NvReadResult read = nv.ReadNvItem(65546);
    EXPECT_EQ((Bytes{38, 10, 0}), device.requests.at(0));
    EXPECT_EQ(5000u, device.waits.at(0));
    EXPECT_EQ(NvRequestResult::Answered, read.result);
    EXPECT_EQ(0, read.status) << "only the low byte of the status counts";
    EXPECT_EQ(data, Bytes(read.data.begin(), read.data.end()));
}

// Every NV request takes only its own answer; a stray, short or "bad
// command" frame is drained and the request sent once more, and a second
// such frame fails the exchange.
TEST(NvAnswers, ForeignFrameIsDrainedAndTheRequestSentOnceMore) {
    const Bytes data = SeededBytes(128, 3);
    const DeviceReply foreign[] = {
        NvReply(39, 10, data, 0),     // wrong command code
        NvReply(38, 11, data, 0),     // wrong item
        {0, Bytes{38, 10, 0, 0xAA}},  // too short to hold the status
        {0, Bytes{0x13, 38, 11, 0}},  // bad command for another item
        {0, Bytes{0x14, 38}},         // a refusal that does not name the item
        {0, Bytes(300, 0x7E)},        // longer than any NV answer
    };
    for (const DeviceReply& wrong : foreign) {
        ScriptedExchange device;
        device.script = {wrong, NvReply(38, 10, data, 0)};
        CNvCommands nv(device);
        const NvReadResult read = nv.ReadNvItem(65546);
        EXPECT_EQ(NvRequestResult::Answered, read.result) << wrong.answer.size();
        EXPECT_EQ(data, Bytes(read.data.begin(), read.data.end()));
        EXPECT_EQ(1, device.drains);
        ASSERT_EQ(2u, device.requests.size());
        EXPECT_EQ(device.requests[0], device.requests[1]);

        device.script = {wrong, wrong, NvReply(38, 10, data, 0)};
        EXPECT_EQ(NvRequestResult::Lost, nv.ReadNvItem(10).result) << "a second foreign frame fails the exchange";
        EXPECT_EQ(4u, device.requests.size());
    }
    ScriptedExchange silent;
    CNvCommands nv(silent);
    EXPECT_EQ(NvRequestResult::Lost, nv.ReadNvItem(1).result);
    EXPECT_EQ(1u, silent.requests.size()) << "no answer at all is not sent again";
}

// A stray frame that comes before the answer written with the same request:
// the answer is still on its way, so it is waited for, not asked again (a
// second send would leave one answer queued for every later request).
TEST(NvAnswers, OwnAnswerBehindAStrayFrameIsTakenWithoutResending) {
    const Bytes data = SeededBytes(128, 5);
    ScriptedExchange device;
    device.script = {NvReply(39, 3, {}, 0)};
    device.later = {NvAnswerBytes(38, 12, data, 0)};
    CNvCommands nv(device);
    const NvReadResult read = nv.ReadNvItem(12);
    EXPECT_EQ(NvRequestResult::Answered, read.result);
    EXPECT_EQ(data, Bytes(read.data.begin(), read.data.end()));
    EXPECT_EQ(1u, device.requests.size());
    EXPECT_EQ(0, device.drains);

    // Likewise a stale file-system write answer (another offset) before the
    // current one.
    ScriptedExchange fs;
    fs.script = {FsReply(19, {0}), FsReply(2, {4}), FsReply(5, {4, 0, 512, 0}), FsReply(5, {4, 0, 512, 0}),
                 FsReply(3, {0})};
    fs.later = {FsReply(5, {4, 512, 88, 0}).answer};
    CNvCommands nvFs(fs);
    const Bytes value(600, 2);
    EXPECT_EQ(FsFileResult::Stored, nvFs.WriteFsFile("f", value.data(), value.size()));
    EXPECT_EQ(5u, fs.requests.size());
}

// After a resend, the copy of the answer taken may still come. A plain read
// answered 6 and then index 0 of the same item: the copy of the status-6
// answer must not be taken as index 0's answer (the item would be skipped).
TEST(NvAnswers, CopyOfAResentRequestsAnswerIsNotTakenByTheNext) {
    Bytes index0 = SeededBytes(128, 9);
    index0[0] = 0;
    const DeviceReply readByIndex = NvReply(38, 20, {}, 6);
    ScriptedExchange device;
    device.script = {NvReply(38, 19, {}, 0), readByIndex,  // plain read: a stray frame, then (resent) 6
                     readByIndex,                          // index 0: the copy first,
                     NvReply(38, 20, {}, 5)};              // index 1 ends the item
    CNvCommands nv(device);
    EXPECT_EQ(6, nv.ReadNvItem(20).status);
    device.later = {NvAnswerBytes(38, 20, index0, 0)};  // index 0's own answer, behind the copy
    CNV_ItemHolder record;
    record.itemNumber = 20;
    ASSERT_EQ(NvOutcome::Done, nv.ReadIndexedNvItem(record));
    EXPECT_EQ(index0, record.Value());
    EXPECT_EQ(4u, device.requests.size());

    // The same answer again when no copy came: one more send, same result.
    ScriptedExchange again;
    again.script = {NvReply(38, 19, {}, 0), readByIndex, readByIndex, readByIndex};
    CNvCommands nv2(again);
    EXPECT_EQ(6, nv2.ReadNvItem(20).status);
    CNV_ItemHolder skipped;
    skipped.itemNumber = 20;
    EXPECT_EQ(NvOutcome::Refused, nv2.ReadIndexedNvItem(skipped));
    EXPECT_EQ(4u, again.requests.size());
}

// A device that answers is alive: "bad command" or "bad parameters" with the
// request (or its frame) echoed is that request's refusal, taken at once.
TEST(NvAnswers, DiagRefusalIsTheRequestsAnswer) {
    const Bytes read551{38, 0x27, 0x02};
    const Bytes read126{38, 0x7E, 0};  // stuffed in its frame
    const Bytes frame = PackFrame(read126.data(), read126.size(), 0, kHdlcFlag);
    struct Refusal {
        int item;
        uint8_t code;
        Bytes echo;
    };
    const Refusal refusals[] = {
        {551, 0x14, read551}, {551, 0x13, read551}, {126, 0x14, frame}, {126, 0x14, Slice(frame, 0, 4)}};
    for (const Refusal& refusal : refusals) {
        const uint8_t code = refusal.code;
        const Bytes& echo = refusal.echo;
        ScriptedExchange device;
        Bytes answer{code};
        answer.insert(answer.end(), echo.begin(), echo.end());
        device.script = {{0, answer}};
        CNvCommands nv(device);
        const NvReadResult read = nv.ReadNvItem(refusal.item);
        EXPECT_EQ(NvRequestResult::Answered, read.result) << echo.size();
        EXPECT_EQ(code, read.status);
        EXPECT_EQ(Bytes(128, 0), Bytes(read.data.begin(), read.data.end()));
        EXPECT_EQ(1u, device.requests.size());
        EXPECT_EQ(0, device.drains);
    }
    ScriptedExchange writes;
    writes.device = [](const Bytes& request) {
        Bytes answer{0x14};
        answer.insert(answer.end(), request.begin(), request.end());
        return DeviceReply{0, answer};
    };
    CNvCommands nv(writes);
    const NvWriteResult written = nv.WriteNvItem(7, nullptr, 0);
    EXPECT_EQ(NvRequestResult::Answered, written.result);
    EXPECT_EQ(0x14, written.status);
    EXPECT_EQ(0x14, nv.WriteNvArrayEntry(70000, nullptr, 0).status);
    CNV_ItemHolder record;
    record.itemNumber = 9;
    record.SetValue(Bytes(200, 1));
    EXPECT_EQ(NvOutcome::Refused, nv.WriteNvChunks(record));
    CNV_ItemHolder indexed;
    indexed.itemNumber = 9;
    EXPECT_EQ(NvOutcome::Refused, nv.ReadIndexedNvItem(indexed));
    EXPECT_EQ(5u, writes.requests.size()) << "nothing is sent twice";
}

// The file system refused at any step: the file is not stored, and nothing
// is sent again (a refused open is not tried five times).
TEST(NvAnswers, FileSystemRefusalsEndTheFileWithoutResending) {
    const std::pair<size_t, FsFileResult> steps[] = {{0, FsFileResult::NotOpened},
                                                     {1, FsFileResult::NotOpened},
                                                     {2, FsFileResult::NotWritten},
                                                     {3, FsFileResult::NotWritten}};
    for (const auto& step : steps) {
        const size_t refusedAt = step.first;
        const FsFileResult expected = step.second;
        ScriptedExchange fs;
        const DeviceReply answers[] = {FsReply(19, {0}), FsReply(2, {4}), FsReply(5, {4, 0, 10, 0}), FsReply(3, {0})};
        fs.device = [&](const Bytes& request) {
            if (fs.requests.size() - 1 < refusedAt) return answers[fs.requests.size() - 1];
            Bytes answer{0x13};
            answer.insert(answer.end(), request.begin(), request.end());
            return DeviceReply{0, answer};
        };
        CNvCommands nv(fs);
        const Bytes value(10, 3);
        EXPECT_EQ(expected, nv.WriteFsFile("f", value.data(), value.size())) << refusedAt;
        EXPECT_EQ(refusedAt + 1, fs.requests.size());
        EXPECT_EQ(NvOutcome::Refused, nv.MakeFsDir("d"));
        EXPECT_EQ(0, fs.drains);
    }
}

// A device that keeps sending other frames: the request's wait still ends at
// its limit (0 ms here), and the frames behind are not taken one by one.
TEST(NvAnswers, StrayFramesDoNotHoldTheRequestPastItsWait) {
    ScriptedExchange device;
    device.script = {NvReply(39, 3, {}, 0)};
    for (int i = 0; i < 1000; ++i) device.later.push_back(NvAnswerBytes(39, 3, {}, 0));
    CNvCommands nv(device, 0);
    EXPECT_EQ(NvRequestResult::Lost, nv.ReadNvItem(12).result);
    EXPECT_EQ(2u, device.requests.size());
    EXPECT_EQ(1000u, device.later.size());
}

TEST(NvAnswers, WritesCheckTheirEchoToo) {
    ScriptedExchange device;
    device.script = {NvReply(38, 5, {}, 0), NvReply(39, 5, {}, 0x0102),  // item write 5
                     NvReply(39, 7, {}, 0), NvReply(39, 0x1170, {}, 0),  // ARRAY entry 70000
                     NvReply(39, 5, {}, 0), NvReply(39, 5, {}, 0),       // item write 6
                     NvReply(39, 9, {}, 0), NvReply(39, 9, {}, 0)};      // two chunks of item 9
    CNvCommands nv(device);
    const NvWriteResult written = nv.WriteNvItem(5, nullptr, 0);
    EXPECT_EQ(NvRequestResult::Answered, written.result);
    EXPECT_EQ(0x0102, written.status);
    EXPECT_EQ(NvRequestResult::Answered, nv.WriteNvArrayEntry(70000, nullptr, 0).result);
    EXPECT_EQ(NvRequestResult::Lost, nv.SendNvItemWrite(6, nullptr, 0).result);
    EXPECT_EQ(4, device.drains);
    CNV_ItemHolder record;
    record.itemNumber = 9;
    record.SetValue(Bytes(200, 1));
    EXPECT_EQ(NvOutcome::Done, nv.WriteNvChunks(record));
    EXPECT_EQ(8u, device.requests.size());
}

// A device holding an indexed item with the given number of readable indexes;
// past them it answers `stopStatus`.
ScriptedExchange IndexedDevice(int indexes, uint8_t stopStatus) {
    ScriptedExchange device;
    device.device = [indexes, stopStatus](const Bytes& request) {
        EXPECT_EQ(4u, request.size());
        const uint8_t index = request[3];
        if (index >= indexes) return NvReply(38, 550, {}, stopStatus);
        Bytes data = SeededBytes(128, static_cast<uint8_t>(0x40 + index));
        data[0] = index;
        return NvReply(38, 550, data, 0);
    };
    return device;
}

TEST(NvReadIndexed, OneIndexKeepsTheWholeDataFieldWithItsIndexByte) {
    ScriptedExchange device = IndexedDevice(1, 6);
    CNvCommands nv(device);
    CNV_ItemHolder record;
    record.itemNumber = 550;
    ASSERT_EQ(NvOutcome::Done, nv.ReadIndexedNvItem(record));
    ASSERT_EQ(2u, device.requests.size());
    EXPECT_EQ((Bytes{38, 0x26, 0x02, 0}), device.requests[0]);
    EXPECT_EQ((Bytes{38, 0x26, 0x02, 1}), device.requests[1]);
    Bytes expected = SeededBytes(128, 0x40);
    expected[0] = 0;
    EXPECT_EQ(expected, record.Value());
}

TEST(NvReadIndexed, ThreeIndexesGive384BytesEachChunkEndingInZero) {
    ScriptedExchange device = IndexedDevice(3, 5);
    CNvCommands nv(device);
    CNV_ItemHolder record;
    record.itemNumber = 550;
    ASSERT_EQ(NvOutcome::Done, nv.ReadIndexedNvItem(record));
    EXPECT_EQ(4u, device.requests.size());
    ASSERT_EQ(384, record.ValueLength());
    for (int k = 0; k < 3; ++k) {
        const Bytes chunk = Slice(record.Value(), 128 * k, 128);
        EXPECT_EQ(Slice(SeededBytes(128, static_cast<uint8_t>(0x40 + k)), 1, 127), Slice(chunk, 0, 127)) << k;
        EXPECT_EQ(0, chunk[127]) << k;
    }
}

TEST(NvReadIndexed, NothingReadableMeansSkip) {
    for (uint8_t status : {5, 6, 2}) {
        ScriptedExchange device = IndexedDevice(0, status);
        CNvCommands nv(device);
        CNV_ItemHolder record;
        record.itemNumber = 550;
        EXPECT_EQ(NvOutcome::Refused, nv.ReadIndexedNvItem(record)) << int(status);
        EXPECT_FALSE(record.HasValue()) << "no empty value that a restore would write as zeros";
        EXPECT_EQ(1u, device.requests.size());
    }
}

TEST(NvReadIndexed, FailedExchangeLosesTheItemWhereverItHappens) {
    for (size_t lostAt : {0, 2}) {
        ScriptedExchange device;
        for (size_t k = 0; k < lostAt; ++k) {
            Bytes data = SeededBytes(128, 1);
            data[0] = static_cast<uint8_t>(k);
            device.script.push_back(NvReply(38, 7, data, 0));
        }
        CNvCommands nv(device);
        CNV_ItemHolder record;
        record.itemNumber = 7;
        EXPECT_EQ(NvOutcome::Lost, nv.ReadIndexedNvItem(record)) << lostAt;
        EXPECT_FALSE(record.HasValue()) << "an item cut short is not kept";
        EXPECT_EQ(lostAt + 1, device.requests.size());
    }
}

TEST(NvReadIndexed, AnIndexReadMustEchoItsIndex) {
    ScriptedExchange device;
    Bytes index0 = SeededBytes(128, 1);
    index0[0] = 0;
    Bytes index1 = SeededBytes(128, 2);
    index1[0] = 1;
    // Index 1 is first answered with index 0's late answer; the refusal that
    // ends the item carries no index.
    device.script = {NvReply(38, 7, index0, 0), NvReply(38, 7, index0, 0), NvReply(38, 7, index1, 0),
                     NvReply(38, 7, {0x55}, 6)};
    CNvCommands nv(device);
    CNV_ItemHolder record;
    record.itemNumber = 7;
    ASSERT_EQ(NvOutcome::Done, nv.ReadIndexedNvItem(record));
    EXPECT_EQ(256, record.ValueLength());
    EXPECT_EQ(1, device.drains);
    EXPECT_EQ(Bytes(index1.begin() + 1, index1.end()), Slice(record.Value(), 128, 127));
}

TEST(NvReadIndexed, StopsAfterTheLastOneByteIndex) {
    ScriptedExchange device;
    device.device = [](const Bytes& request) { return NvReply(38, 1, {request[3]}, 0); };
    CNvCommands nv(device);
    CNV_ItemHolder record;
    record.itemNumber = 1;
    ASSERT_EQ(NvOutcome::Done, nv.ReadIndexedNvItem(record));
    ASSERT_EQ(256u, device.requests.size());
    EXPECT_EQ(255, device.requests.back()[3]);
    EXPECT_EQ(256 * 128, record.ValueLength());
}

TEST(NvWrite, ItemWriteLayoutAndFullStatus) {
    ScriptedExchange device;
    device.script.push_back(NvReply(39, 550, {}, 0x0105));
    CNvCommands nv(device);
    const Bytes value{1, 2, 3};
    const NvWriteResult written = nv.WriteNvItem(65536 + 550, value.data(), value.size());
    ASSERT_EQ(1u, device.requests.size());
    const Bytes& request = device.requests[0];
    ASSERT_EQ(131u, request.size());
    EXPECT_EQ((Bytes{39, 0x26, 0x02, 1, 2, 3}), Slice(request, 0, 6));
    EXPECT_EQ(Bytes(125, 0), Slice(request, 6, 125));
    EXPECT_EQ(NvRequestResult::Answered, written.result);
    EXPECT_EQ(0x0105, written.status);
    EXPECT_EQ(0, device.drains);
}

TEST(NvWrite, ItemWriteJudgesTheAnswer) {
    ScriptedExchange device;
    device.script = {test::Silent(), NvReply(39, 1, {}, 0x0200), NvReply(39, 1, {}, 0x0003)};
    CNvCommands nv(device);
    EXPECT_EQ(NvRequestResult::Lost, nv.WriteNvItem(1, nullptr, 0).result);
    EXPECT_EQ(0, device.drains);
    NvAnswer a = nv.SendNvItemWrite(1, nullptr, 0);
    EXPECT_EQ(NvRequestResult::Answered, a.result);
    EXPECT_EQ(0, a.status) << "only the low byte of the status counts";
    EXPECT_EQ(3, nv.SendNvItemWrite(1, nullptr, 0).status);
    EXPECT_EQ(Bytes(128, 0), Slice(device.requests[0], 3, 128));

    const Bytes tooLong(129, 1);
    EXPECT_EQ(NvRequestResult::NotSent, nv.WriteNvItem(1, tooLong.data(), tooLong.size()).result);
    EXPECT_EQ(3u, device.requests.size()) << "a value over 128 bytes is never sent";
}

TEST(NvWrite, ArrayEntryCarriesThe32BitNumberUnderTheValue) {
    ScriptedExchange device;
    device.device = [](const Bytes& r) { return NvReply(39, static_cast<uint16_t>(r[1] | r[2] << 8), {}, 0); };
    CNvCommands nv(device);
    nv.WriteNvArrayEntry(70000, nullptr, 0);
    ASSERT_EQ(133u, device.requests[0].size());
    EXPECT_EQ((Bytes{39, 0x70, 0x11, 0x01, 0x00}), Slice(device.requests[0], 0, 5));
    EXPECT_EQ(Bytes(128, 0), Slice(device.requests[0], 5, 128));

    const Bytes two{0xAB, 0xCD};
    nv.WriteNvArrayEntry(70000, two.data(), two.size());
    EXPECT_EQ((Bytes{39, 0x70, 0x11, 0xAB, 0xCD, 0}), Slice(device.requests[1], 0, 6));

    const Bytes full = SeededBytes(130, 9);
    const NvAnswer answer = nv.WriteNvArrayEntry(550, full.data(), full.size());
    EXPECT_EQ(NvRequestResult::Answered, answer.result);
    EXPECT_EQ(full, Slice(device.requests[2], 3, 130));

    const Bytes tooLong(131, 1);
    EXPECT_EQ(NvRequestResult::NotSent, nv.WriteNvArrayEntry(550, tooLong.data(), tooLong.size()).result);
    EXPECT_EQ(3u, device.requests.size());
}

TEST(NvWrite, ArrayEntryReportsTheStatusByte) {
    ScriptedExchange device;
    device.script.push_back(NvReply(39, 550, {}, 5));
    CNvCommands nv(device);
    const NvAnswer answer = nv.WriteNvArrayEntry(550, nullptr, 0);
    EXPECT_EQ(NvRequestResult::Answered, answer.result);
    EXPECT_EQ(5, answer.status);
}

CNV_ItemHolder Record(int32_t number, const Bytes& value) {
    CNV_ItemHolder record;
    record.itemNumber = number;
    record.SetValue(value);
    return record;
}

DeviceReply EchoingWrites(const Bytes& request) {
    return NvReply(39, static_cast<uint16_t>(request[1] | request[2] << 8), {}, 0);
}

TEST(NvChunks, ThreeChunksCarryTheirSlices) {
    ScriptedExchange device;
    device.device = EchoingWrites;
    CNvCommands nv(device);
    const Bytes value = SeededBytes(384, 5);
    EXPECT_EQ(NvOutcome::Done, nv.WriteNvChunks(Record(65546, value)));
    ASSERT_EQ(3u, device.requests.size());
    for (uint8_t k = 0; k < 3; ++k) {
        const Bytes& request = device.requests[k];
        ASSERT_EQ(134u, request.size());
        EXPECT_EQ((Bytes{39, 10, 0, k}), Slice(request, 0, 4));
        EXPECT_EQ(Slice(value, 128 * k, 128), Slice(request, 4, 128));
        EXPECT_EQ((Bytes{0, 0}), Slice(request, 132, 2));
    }
}

TEST(NvChunks, ShortLastChunkIsPaddedWithZeros) {
    ScriptedExchange device;
    device.device = EchoingWrites;
    CNvCommands nv(device);
    const Bytes value = SeededBytes(200, 1);
    EXPECT_EQ(NvOutcome::Done, nv.WriteNvChunks(Record(1, value)));
    ASSERT_EQ(2u, device.requests.size());
    EXPECT_EQ(Slice(value, 128, 72), Slice(device.requests[1], 4, 72));
    EXPECT_EQ(Bytes(56, 0), Slice(device.requests[1], 76, 56));
}

TEST(NvChunks, ResultFollowsTheLastAnswer) {
    const Bytes value = SeededBytes(384, 1);
    {
        ScriptedExchange device;
        device.script = {NvReply(39, 1, {}, 0), NvReply(39, 1, {}, 0), NvReply(39, 1, {}, 7)};
        CNvCommands nv(device);
        EXPECT_EQ(NvOutcome::Refused, nv.WriteNvChunks(Record(1, value))) << "a refused last chunk fails the record";
    }
    for (size_t lostAt : {1, 2}) {
        // A lost chunk ends the record at once; no earlier answer stands in for it.
        ScriptedExchange device;
        device.script = {NvReply(39, 1, {}, 0), NvReply(39, 1, {}, 0)};
        device.script.insert(device.script.begin() + static_cast<long>(lostAt), test::Silent());
        CNvCommands nv(device);
        EXPECT_EQ(NvOutcome::Lost, nv.WriteNvChunks(Record(1, value))) << lostAt;
        EXPECT_EQ(lostAt + 1, device.requests.size());
    }
}

TEST(NvChunks, EmptyAndOversizedValuesSendNothing) {
    ScriptedExchange device;
    device.device = EchoingWrites;
    CNvCommands nv(device);
    EXPECT_EQ(NvOutcome::Refused, nv.WriteNvChunks(Record(1, {})));
    EXPECT_EQ(NvOutcome::Refused, nv.WriteNvChunks(CNV_ItemHolder{}));
    EXPECT_EQ(NvOutcome::Refused, nv.WriteNvChunks(Record(1, Bytes(256 * 128 + 1, 1))))
        << "chunk index 256 does not fit a byte";
    EXPECT_TRUE(device.requests.empty());
    EXPECT_EQ(NvOutcome::Done, nv.WriteNvChunks(Record(1, Bytes(256 * 128, 1))));
    EXPECT_EQ(256u, device.requests.size());
}

// A file system that accepts everything, answering each request kind.
ScriptedExchange HappyFileSystem(uint32_t handle = 3) {
    ScriptedExchange device;
    device.device = [handle](const Bytes& request) {
        const uint16_t code = static_cast<uint16_t>(request[2] | (request[3] << 8));
        switch (code) {
            case 19: return FsReply(19, {0});
            case 2: return FsReply(2, {handle, 0});
            case 5:
                return FsReply(5, {handle, test::Le32At(request, 8), static_cast<uint32_t>(request.size() - 12), 0});
            case 3: return FsReply(3, {0});
            case 9: return FsReply(9, {0});
            default: ADD_FAILURE() << "unexpected code " << code; return test::Silent();
        }
    };
    return device;
}

TEST(FsFile, WritesIn512ByteBlocksThenCloses) {
    ScriptedExchange device = HappyFileSystem(0x11223344);
    CNvCommands nv(device);
    const Bytes value = SeededBytes(1100, 2);
    EXPECT_EQ(FsFileResult::Stored, nv.WriteFsFile("/cfg/radio", value.data(), value.size()));
    ASSERT_EQ(6u, device.requests.size());
    EXPECT_EQ((Bytes{75, 19, 19, 0, 0}), device.requests[0]);
    const Bytes& open = device.requests[1];
    EXPECT_EQ((Bytes{75, 19, 2, 0, 0x41, 0x02, 0, 0, 0xB6, 0x01, 0, 0}), Slice(open, 0, 12));
    EXPECT_EQ(std::string("/cfg/radio") + '\0', std::string(open.begin() + 12, open.end()));
    const uint32_t offsets[] = {0, 512, 1024};
    const size_t sizes[] = {512, 512, 76};
    for (int i = 0; i < 3; ++i) {
        const Bytes& write = device.requests[2 + i];
        ASSERT_EQ(12 + sizes[i], write.size());
        EXPECT_EQ((Bytes{75, 19, 5, 0}), Slice(write, 0, 4));
        EXPECT_EQ(0x11223344u, test::Le32At(write, 4));
        EXPECT_EQ(offsets[i], test::Le32At(write, 8));
        EXPECT_EQ(Slice(value, offsets[i], sizes[i]), Slice(write, 12, sizes[i]));
    }
    EXPECT_EQ((Bytes{75, 19, 3, 0, 0x44, 0x33, 0x22, 0x11}), device.requests[5]);
}

TEST(FsFile, EmptyFileStillSendsOneWrite) {
    ScriptedExchange device = HappyFileSystem();
    CNvCommands nv(device);
    EXPECT_EQ(FsFileResult::Stored, nv.WriteFsFile("f", nullptr, 0));
    ASSERT_EQ(4u, device.requests.size());
    EXPECT_EQ(12u, device.requests[2].size());
}

TEST(FsFile, ProbeDecidesFirst) {
    ScriptedExchange silent;
    CNvCommands nv1(silent);
    EXPECT_EQ(FsFileResult::Lost, nv1.WriteFsFile("f", nullptr, 0));
    EXPECT_EQ(1u, silent.requests.size());

    ScriptedExchange refusing;
    refusing.script = {FsReply(19, {2})};
    CNvCommands nv2(refusing);
    EXPECT_EQ(FsFileResult::NotOpened, nv2.WriteFsFile("f", nullptr, 0));
    EXPECT_EQ(1u, refusing.requests.size());

    ScriptedExchange wrongCode;
    wrongCode.script = {FsReply(18, {0}), FsReply(18, {0})};
    CNvCommands nv3(wrongCode);
    EXPECT_EQ(FsFileResult::Lost, nv3.WriteFsFile("f", nullptr, 0)) << "two foreign answers";
    EXPECT_EQ(2u, wrongCode.requests.size());
}

TEST(FsFile, OpenIsTriedFiveTimes) {
    ScriptedExchange device;
    device.script = {FsReply(19, {0})};
    for (int i = 0; i < 5; ++i) device.script.push_back(FsReply(2, {0xFFFFFFFF, 2}));
    CNvCommands nv(device);
    EXPECT_EQ(FsFileResult::NotOpened, nv.WriteFsFile("a/b", nullptr, 0));
    EXPECT_EQ(6u, device.requests.size());

    ScriptedExchange late;
    late.script = {FsReply(19, {0}), FsReply(2, {0xFFFFFFFF}), FsReply(4, {1}),
                   FsReply(2, {7}),  FsReply(5, {7, 0, 0, 0}), FsReply(3, {0})};
    CNvCommands nv2(late);
    EXPECT_EQ(FsFileResult::Stored, nv2.WriteFsFile("a/b", nullptr, 0));
    EXPECT_EQ(7u, test::Le32At(late.requests[4], 4));

    ScriptedExchange lost;
    lost.script = {FsReply(19, {0}), FsReply(2, {0xFFFFFFFF}), test::Silent()};
    CNvCommands nv3(lost);
    EXPECT_EQ(FsFileResult::Lost, nv3.WriteFsFile("a/b", nullptr, 0));
    EXPECT_EQ(3u, lost.requests.size()) << "a failed exchange ends the open at once";
}

TEST(FsFile, FailedWriteSendsNoClose) {
    // Refused by its error number or its byte count; lost when the answers
    // carry another command code or another offset (twice), or none comes.
    for (auto bad : {FsReply(5, {1, 0, 0, 28}), FsReply(5, {1, 0, 0xFFFFFFFF, 0}), FsReply(3, {1, 0, 8, 0}),
                     FsReply(5, {1, 512, 8, 0}), test::Silent()}) {
        ScriptedExchange device;
        device.script = {FsReply(19, {0}), FsReply(2, {1}), bad, bad};
        CNvCommands nv(device);
        const Bytes value(600, 1);
        const bool foreign = bad.failure == 0 && (bad.answer[2] != 5 || test::Le32At(bad.answer, 8) != 0);
        const FsFileResult expected = bad.failure < 0 || foreign ? FsFileResult::Lost : FsFileResult::NotWritten;
        EXPECT_EQ(expected, nv.WriteFsFile("f", value.data(), value.size()));
        EXPECT_EQ(foreign ? 4u : 3u, device.requests.size());
    }
    ScriptedExchange closeRefused;
    closeRefused.script = {FsReply(19, {0}), FsReply(2, {1}), FsReply(5, {1, 0, 0, 0}), FsReply(3, {9})};
    CNvCommands nv(closeRefused);
    EXPECT_EQ(FsFileResult::NotWritten, nv.WriteFsFile("f", nullptr, 0));
}

TEST(FsFile, LimitsAreRefusedBeforeSending) {
    ScriptedExchange device = HappyFileSystem();
    CNvCommands nv(device);
    EXPECT_EQ(FsFileResult::NotOpened, nv.WriteFsFile(std::string(260, 'p'), nullptr, 0));
    const Bytes huge(65536, 1);
    EXPECT_EQ(FsFileResult::NotOpened, nv.WriteFsFile("f", huge.data(), huge.size()));
    EXPECT_EQ(NvOutcome::Refused, nv.MakeFsDir(std::string(260, 'd')));
    EXPECT_TRUE(device.requests.empty());

    EXPECT_EQ(FsFileResult::Stored, nv.WriteFsFile(std::string(259, 'p'), huge.data(), 65535));
    EXPECT_EQ(13u + 259, device.requests[1].size());
    EXPECT_EQ(1 + 1 + 128 + 1, static_cast<int>(device.requests.size()));
}

TEST(FsDir, MakeDirectoryLayoutAndAnswers) {
    ScriptedExchange device;
    device.script = {FsReply(9, {17}), FsReply(5, {0}), FsReply(9, {0}), FsReply(5, {0}), FsReply(5, {0})};
    CNvCommands nv(device);
    EXPECT_EQ(NvOutcome::Done, nv.MakeFsDir("cfg/radio")) << "an existing directory counts as made";
    Bytes expected{0x4B, 0x13, 0x09, 0x00, 0xFF, 0x01};
    for (char c : std::string("cfg/radio")) expected.push_back(static_cast<uint8_t>(c));
    expected.push_back(0);
    EXPECT_EQ(expected, device.requests[0]);
    EXPECT_EQ(NvOutcome::Done, nv.MakeFsDir("x")) << "a foreign answer sends the request once more";
    EXPECT_EQ(1, device.drains);
    EXPECT_EQ(NvOutcome::Lost, nv.MakeFsDir("x")) << "two foreign answers";
    EXPECT_EQ(3, device.drains);
    EXPECT_EQ(5u, device.requests.size());
}

}  // namespace
}  // namespace fennix
