// The virtual device's NV memory, file system and their text form, without a
// port: each request answered as the device would.
#include <gtest/gtest.h>

#include "simulator/EfsTree.h"
#include "simulator/NvMemory.h"
#include "simulator/NvStore.h"

namespace fennix::sim {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Read(uint16_t item) { return {38, static_cast<uint8_t>(item), static_cast<uint8_t>(item >> 8)}; }
Bytes ReadIndex(uint16_t item, uint8_t index) {
    return {38, static_cast<uint8_t>(item), static_cast<uint8_t>(item >> 8), index};
}
uint16_t StatusOf(const Bytes& answer) { return static_cast<uint16_t>(answer[131] | (answer[132] << 8)); }
Bytes FieldOf(const Bytes& answer) { return Bytes(answer.begin() + 3, answer.begin() + 131); }

Bytes Seq(size_t n, uint8_t seed) {
    Bytes b(n);
    for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i);
    return b;
}

TEST(SimNvMemory, ReadsOfEachKindOfItem) {
    CNvMemory nv;
    nv.items[550] = SimNvItem::Plain({1, 2, 3});
    nv.items[20] = SimNvItem::Indexed({Seq(127, 10), Seq(127, 20)});
    nv.items[30] = SimNvItem::WithStatus(5);
    nv.items[20].endStatus = 5;

    Bytes answer = *nv.Answer(Read(550));
    ASSERT_EQ(133u, answer.size());
    EXPECT_EQ(38, answer[0]);
    EXPECT_EQ(0, StatusOf(answer));
    Bytes field(128, 0);
    field[0] = 1, field[1] = 2, field[2] = 3;
    EXPECT_EQ(field, FieldOf(answer));

    EXPECT_EQ(6, StatusOf(*nv.Answer(Read(20))));
    answer = *nv.Answer(ReadIndex(20, 1));
    EXPECT_EQ(0, StatusOf(answer));
    EXPECT_EQ(1, answer[3]);
    EXPECT_EQ(Seq(127, 20), Bytes(answer.begin() + 4, answer.begin() + 131));
    EXPECT_EQ(5, StatusOf(*nv.Answer(ReadIndex(20, 2))));

    EXPECT_EQ(5, StatusOf(*nv.Answer(Read(30))));
    EXPECT_EQ(5, StatusOf(*nv.Answer(Read(31)))) << "missing items are not active";
    nv.missingStatus = 3;
    EXPECT_EQ(3, StatusOf(*nv.Answer(Read(31))));
    EXPECT_EQ(7u, nv.reads);
    EXPECT_FALSE(nv.Answer(Bytes{38, 1}).has_value()) << "a malformed read is not answered as NV";
}

Bytes ItemWrite(uint16_t item, const Bytes& field) {
    Bytes r(131, 0);
    r[0] = 39, r[1] = static_cast<uint8_t>(item), r[2] = static_cast<uint8_t>(item >> 8);
    std::copy(field.begin(), field.end(), r.begin() + 3);
    return r;
}

TEST(SimNvMemory, WritesOfEachForm) {
    CNvMemory nv;
    nv.items[20] = SimNvItem::Indexed({Seq(127, 1)});
    nv.items[40] = SimNvItem::WithStatus(5);
    nv.items[40].writeStatus = 5;

    EXPECT_EQ(0, StatusOf(*nv.Answer(ItemWrite(550, Seq(128, 7)))));
    EXPECT_EQ(Seq(128, 7), nv.DataOf(550));

    Bytes indexField = Seq(128, 50);
    indexField[0] = 0;
    nv.Answer(ItemWrite(20, indexField));
    EXPECT_EQ(Bytes(indexField.begin() + 1, indexField.end()), nv.IndexOf(20, 0));

    Bytes chunk(134, 0);
    chunk[0] = 39, chunk[1] = 21, chunk[3] = 2;
    std::fill(chunk.begin() + 4, chunk.begin() + 132, 0xAB);
    EXPECT_EQ(0, StatusOf(*nv.Answer(chunk)));
    EXPECT_EQ(3u, nv.items[21].indexes.size());
    EXPECT_EQ(Bytes(127, 0xAB), nv.IndexOf(21, 2));
    EXPECT_EQ(Bytes(127, 0), nv.IndexOf(21, 0));

    Bytes array(133, 0);
    array[0] = 39, array[1] = 0x26, array[2] = 0x02, array[3] = 0xEE;
    nv.Answer(array);
    ASSERT_EQ(130u, nv.arrayEntries[550].size());
    EXPECT_EQ(0xEE, nv.arrayEntries[550][0]);

    EXPECT_EQ(5, StatusOf(*nv.Answer(ItemWrite(40, Seq(128, 1)))));
    EXPECT_EQ(SimNvItem::Kind::Status, nv.items[40].kind) << "a refused write changes nothing";
    EXPECT_EQ(5u, nv.writes);
}

TEST(SimNvMemory, FallsSilentAfterItsAnswers) {
    CNvMemory nv;
    nv.answersBeforeSilence = 2;
    EXPECT_TRUE(nv.Answer(Read(1)).has_value());
    EXPECT_TRUE(nv.Answer(Read(1)).has_value());
    EXPECT_FALSE(nv.Answer(Read(1)).has_value());
    EXPECT_FALSE(nv.Answer(ItemWrite(1, {})).has_value());
}

Bytes FsHead(uint16_t code) { return {75, 19, static_cast<uint8_t>(code), static_cast<uint8_t>(code >> 8)}; }
void Put32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
uint32_t Le32(const Bytes& b, size_t at) {
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
Bytes OpenRequest(const std::string& path) {
    Bytes r = FsHead(2);
    Put32(r, 0x241);
    Put32(r, 0666);
    r.insert(r.end(), path.begin(), path.end());
    r.push_back(0);
    return r;
}
Bytes MkdirRequest(const std::string& path) {
    Bytes r = FsHead(9);
    r.push_back(0xFF), r.push_back(0x01);
    r.insert(r.end(), path.begin(), path.end());
    r.push_back(0);
    return r;
}

TEST(SimEfsTree, OpenNeedsTheParentDirectory) {
    CEfsTree efs;
    Bytes probe = FsHead(19);
    probe.push_back(0);
    EXPECT_EQ(0u, Le32(*efs.Answer(probe), 4));

    Bytes open = *efs.Answer(OpenRequest("/cfg/radio/table"));
    ASSERT_EQ(12u, open.size());
    EXPECT_EQ(0xFFFFFFFFu, Le32(open, 4));
    EXPECT_EQ(2u, Le32(open, 8));

    EXPECT_EQ(2u, Le32(*efs.Answer(MkdirRequest("cfg/radio")), 4)) << "cfg is missing";
    EXPECT_EQ(0u, Le32(*efs.Answer(MkdirRequest("cfg")), 4));
    EXPECT_EQ(0u, Le32(*efs.Answer(MkdirRequest("cfg/radio")), 4));
    EXPECT_EQ(17u, Le32(*efs.Answer(MkdirRequest("/cfg/")), 4));

    open = *efs.Answer(OpenRequest("/cfg/radio/table"));
    const uint32_t handle = Le32(open, 4);
    EXPECT_NE(0xFFFFFFFFu, handle);
    for (uint32_t offset : {0u, 4u}) {
        Bytes write = FsHead(5);
        Put32(write, handle);
        Put32(write, offset);
        for (uint8_t i = 0; i < 4; ++i) write.push_back(static_cast<uint8_t>(offset + i));
        const Bytes answer = *efs.Answer(write);
        ASSERT_EQ(20u, answer.size());
        EXPECT_EQ(4u, Le32(answer, 12));
        EXPECT_EQ(0u, Le32(answer, 16));
    }
    Bytes close = FsHead(3);
    Put32(close, handle);
    EXPECT_EQ(0u, Le32(*efs.Answer(close), 4));
    EXPECT_EQ(9u, Le32(*efs.Answer(close), 4)) << "a closed handle is gone";
    EXPECT_EQ((Bytes{0, 1, 2, 3, 4, 5, 6, 7}), efs.files["cfg/radio/table"]);
    EXPECT_TRUE(efs.HasDirectory("/cfg/radio"));
    EXPECT_FALSE(efs.Answer(FsHead(77)).has_value());
    EXPECT_FALSE(efs.Answer(Bytes{75, 18, 2, 0}).has_value());
}

TEST(SimEfsTree, WritesToUnknownHandlesOrFarOffsetsFail) {
    CEfsTree efs;
    Bytes write = FsHead(5);
    Put32(write, 99);
    Put32(write, 0);
    EXPECT_EQ(0xFFFFFFFFu, Le32(*efs.Answer(write), 12));
    const uint32_t handle = Le32(*efs.Answer(OpenRequest("f")), 4);
    Bytes far = FsHead(5);
    Put32(far, handle);
    Put32(far, 0xFFFFFFF0u);
    far.push_back(1);
    const Bytes answer = *efs.Answer(far);
    EXPECT_EQ(0xFFFFFFFFu, Le32(answer, 12));
    EXPECT_NE(0u, Le32(answer, 16));
    EXPECT_TRUE(efs.files["f"].empty());
}

TEST(SimNvStore, TextFormRoundTrips) {
    const std::string text =
        "# a device\n"
        "missing 5\n"
        "item 550 plain 0102   # two bytes, then zeros\n"
        "item 20 indexed aabb - write=3\n"
        "item 30 status 5 write=5\n"
        "item 31 indexed end=5 plain=6\n"
        "dir cfg\n"
        "file /cfg/x 0a0b\n";
    CNvMemory nv;
    CEfsTree efs;
    std::string error;
    ASSERT_TRUE(LoadNvStore(text, nv, efs, &error)) << error;
    ASSERT_EQ(4u, nv.items.size());
    EXPECT_EQ(0x02, nv.items[550].data[1]);
    EXPECT_EQ(2u, nv.items[20].indexes.size());
    EXPECT_EQ(0xBB, nv.items[20].indexes[0][1]);
    EXPECT_EQ(3, nv.items[20].writeStatus);
    EXPECT_EQ(5, nv.items[30].status);
    EXPECT_EQ(5, nv.items[31].endStatus);
    EXPECT_TRUE(nv.items[31].indexes.empty());
    EXPECT_EQ((Bytes{10, 11}), efs.files["cfg/x"]);

    CNvMemory again;
    CEfsTree efsAgain;
    ASSERT_TRUE(LoadNvStore(SaveNvStore(nv, efs), again, efsAgain, &error)) << error;
    EXPECT_EQ(SaveNvStore(nv, efs), SaveNvStore(again, efsAgain));
    EXPECT_EQ(nv.items[20].indexes, again.items[20].indexes);
    EXPECT_EQ(nv.items[30].writeStatus, again.items[30].writeStatus);
}

TEST(SimNvStore, BadLinesAreNamed) {
    for (const char* bad :
         {"item 70000 plain 00", "item 1 plain 0g", "item 1 wobbly", "item 1 status",
          "item 1 indexed " /* fine */ "zz", "dir", "file a", "nonsense", "item 1 plain 00 colour=3"}) {
        CNvMemory nv;
        CEfsTree efs;
        std::string error;
        EXPECT_FALSE(LoadNvStore(std::string("\n") + bad + "\n", nv, efs, &error)) << bad;
        EXPECT_EQ(0u, error.rfind("line 2:", 0)) << error;
    }
    CNvMemory nv;
    CEfsTree efs;
    EXPECT_TRUE(LoadNvStore("item 1 plain " + std::string(256, 'f') + "\n", nv, efs, nullptr));
    EXPECT_FALSE(LoadNvStore("item 1 plain " + std::string(258, 'f') + "\n", nv, efs, nullptr));
}

}  // namespace
}  // namespace fennix::sim
