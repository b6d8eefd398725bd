#include "nv/NvItem.h"

#include <gtest/gtest.h>

namespace fennix {
namespace {

TEST(NvItem, NewRecordHasNoValueAndNoNumber) {
    CNV_ItemHolder r;
    EXPECT_EQ(-1, r.ValueLength());
    EXPECT_EQ(-1, r.itemNumber);
    EXPECT_FALSE(r.HasValue());
    EXPECT_TRUE(r.name.empty());
}

TEST(NvItem, EmptyValueIsAValue) {
    CNV_ItemHolder r;
    r.SetValue(nullptr, 0);
    EXPECT_EQ(0, r.ValueLength());
    CNV_ItemHolder copy = r;
    EXPECT_TRUE(copy.HasValue());
    EXPECT_EQ(0, copy.ValueLength());
}

TEST(NvArray, AddReturnsIndexAndKeepsIndependentCopies) {
    CNVArray list;
    CNV_ItemHolder working;
    working.itemNumber = 550;
    const uint8_t bytes[] = {1, 2, 3};
    working.SetValue(bytes, sizeof bytes);
    EXPECT_EQ(0, list.Add(working));
    EXPECT_EQ(1, list.Add(working));
    EXPECT_EQ(2, list.Count());

    list.At(0).SetValue(std::vector<uint8_t>{9});
    working.ClearValue();
    EXPECT_EQ(1, list.At(0).ValueLength());
    ASSERT_EQ(3, list.At(1).ValueLength());
    EXPECT_EQ(3, list.At(1).Value()[2]);
    EXPECT_EQ(550, list.At(1).itemNumber);

    list.RemoveAll();
    EXPECT_EQ(0, list.Count());
    EXPECT_EQ(0, list.Add(working));
}

TEST(NvArray, KeepsDuplicatesInInsertionOrder) {
    CNVArray list;
    for (int n : {7, 3, 7}) {
        CNV_ItemHolder r;
        r.itemNumber = n;
        list.Add(r);
    }
    std::vector<int> order;
    for (const auto& r : list) order.push_back(r.itemNumber);
    EXPECT_EQ((std::vector<int>{7, 3, 7}), order);
}

}  // namespace
}  // namespace fennix
