// What `fennix backup` tells about its item list before it runs.
#include <gtest/gtest.h>

#include "ItemList.h"

namespace fennix::cli {
namespace {

TEST(ItemList, NamesTheItemsAndEveryLineReadAsItemZero) {
    // The header is skipped (even when it looks like an item), an empty
    // field does not count, a line without a digit becomes item 0.
    const auto items = ReadItemList("wide;65546\r\nband;;550\nmode;x\n;;\nnote\ntriple; 21\n");
    EXPECT_EQ(DescribeItemList(items),
              (std::vector<std::string>{"4 items to read: 550 0 0 21",
                                        "line 3 (\"mode;x\") has no item number: read as item 0",
                                        "line 5 (\"note\") has no item number: read as item 0"}));
}

}  // namespace
}  // namespace fennix::cli
