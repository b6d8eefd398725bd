// Where and why `nv-import` finds a duck file damaged.
#include <gtest/gtest.h>

#include "Duck.h"

namespace fennix::cli {
namespace {

struct Duck {
    std::vector<uint8_t> bytes;
    Duck& I32(int32_t value) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i)));
        return *this;
    }
    Duck& Counted(const std::string& text) {
        I32(static_cast<int32_t>(text.size()));
        bytes.insert(bytes.end(), text.begin(), text.end());
        return *this;
    }
    Duck Cut(size_t size) const { return {{bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size)}}; }
};

// Item 550 (16 bytes), an ARRAY entry (no second value), a device file (two values).
Duck Whole() {
    return Duck{}
        .I32(550)
        .Counted(std::string(16, 'v'))
        .I32(-1)
        .Counted("ARRAY#550#1")
        .Counted("abc")
        .I32(-1)
        .Counted(std::string("/nv/item_files/x\0tail", 21))
        .Counted("contents")
        .Counted("");
}

TEST(DuckDamage, WholeFilesHaveNone) {
    EXPECT_EQ(DuckDamage({}), "");
    EXPECT_EQ(DuckDamage(Whole().bytes), "");
    // "#ARRAY#7" is an ARRAY name too: its record ends after one value.
    EXPECT_EQ(DuckDamage(Duck{}.I32(-1).Counted("##ARRAY#7").Counted("x").bytes), "");
}

TEST(DuckDamage, NamesTheRecordAndTheField) {
    const size_t whole = Whole().bytes.size();  // records at bytes 0, 24 and 50
    const std::vector<std::pair<Duck, std::string>> cases = {
        {Whole().Cut(2), "record 1 at byte 0: the file ends inside its first field at byte 0 (4 bytes needed, 2 left)"},
        {Whole().Cut(6), "record 1 (item 550) at byte 0: the file ends inside the value's length at byte 4"},
        {Whole().Cut(23),
         "record 1 (item 550) at byte 0: the value's length 16 at byte 4 runs past the end of the file (23 bytes)"},
        {Whole().Cut(40), "record 2 at byte 24: the name's length 11 at byte 28 runs past the end of the file"},
        {Whole().Cut(48), "record 2 (\"ARRAY#550#1\") at byte 24: the value's length 3 at byte 43 runs past"},
        {Whole().Cut(whole - 2),
         "record 3 (\"/nv/item_files/x\") at byte 50: the file ends inside the second value's length at byte"},
        {Duck{}.I32(7).I32(-3), "record 1 (item 7) at byte 0: the value's length -3 at byte 4 is negative"},
        {Duck{}.I32(-1).Counted("f").I32(-70000), "(\"f\") at byte 0: the first value's length -70000 at byte 9"},
        {Duck{}.I32(-1).I32(70000), "the name's length 70000 at byte 4 runs past the end of the file (8 bytes)"},
    };
    for (const auto& [duck, expected] : cases) {
        const std::string damage = DuckDamage(duck.bytes);
        EXPECT_NE(damage.find(expected), std::string::npos) << damage;
    }
}

}  // namespace
}  // namespace fennix::cli
