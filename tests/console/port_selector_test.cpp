#include "console/PortSelector.h"

#include <gtest/gtest.h>

namespace tarnwell {
namespace {

using Numbers = std::vector<int>;

TEST(PortListParsing, TakesTheDigitsAfterTheLastCapitalM) {
    EXPECT_EQ((Numbers{5, 12, 7}), ParsePortList("COM5;COM12;COM7"));
    EXPECT_EQ((Numbers{3}), ParsePortList("COM3"));
    // Only a capital M counts, and only the last one.
    EXPECT_EQ((Numbers{0}), ParsePortList("com4"));
    EXPECT_EQ((Numbers{9}), ParsePortList("MXCOM9"));
    // No M: the whole piece; no leading digits: 0.
    EXPECT_EQ((Numbers{42, 0}), ParsePortList("42;abc"));
    EXPECT_EQ((Numbers{17}), ParsePortList("COM17x3"));
}

TEST(PortListParsing, EmptyPiecesNameNoPort) {
    EXPECT_TRUE(ParsePortList("").empty());
    EXPECT_EQ((Numbers{3, 7}), ParsePortList("COM3;;COM7;"));
    EXPECT_TRUE(ParsePortList(";").empty());
}

TEST(PortListParsing, HugeNumbersSaturateInsteadOfOverflowing) {
    EXPECT_EQ((Numbers{2147483647}), ParsePortList("COM99999999999999999999"));
}

TEST(PortSelectorFill, ItemsAreOrderedByTextNotByNumber) {
    const PortSelectorContent content = FillPortSelector(ParsePortList("COM5;COM12;COM7"));
    const std::vector<PortItem> expected = {{"COM 12", 12}, {"COM 5", 5}, {"COM 7", 7}};
    EXPECT_EQ(expected, content.items);
    EXPECT_EQ(0, content.selectedIndex);
    EXPECT_EQ(12, content.items[content.selectedIndex].number);
    EXPECT_TRUE(content.portsFound);
}

TEST(PortSelectorFill, EqualTextsKeepTheirListOrder) {
    const PortSelectorContent content = FillPortSelector({100, 2, 100, 10});
    ASSERT_EQ(4u, content.items.size());
    EXPECT_EQ("COM 10", content.items[0].text);
    EXPECT_EQ("COM 100", content.items[1].text);
    EXPECT_EQ("COM 100", content.items[2].text);
    EXPECT_EQ("COM 2", content.items[3].text);
}

TEST(PortSelectorFill, NoPortGivesThePlaceholderAndDisablesTheControls) {
    const PortSelectorContent content = FillPortSelector({});
    ASSERT_EQ(1u, content.items.size());
    EXPECT_EQ("Select comport ", content.items[0].text);
    EXPECT_EQ(0, content.items[0].number);
    EXPECT_EQ(0, content.selectedIndex);
    EXPECT_FALSE(content.portsFound);
}

TEST(PortSelectorFill, TextOrderIgnoresCase) {
    EXPECT_TRUE(PortTextLess("com 1", "COM 2"));
    EXPECT_TRUE(PortTextLess("COM 1", "com 2"));
    EXPECT_FALSE(PortTextLess("COM 5", "com 5"));
    EXPECT_FALSE(PortTextLess("com 5", "COM 5"));
    EXPECT_TRUE(PortTextLess("COM 12", "COM 5"));
    EXPECT_TRUE(PortTextLess("COM 1", "COM 10"));
}

TEST(PortProbe, BusyPortsCountAndMissingOnesDoNot) {
    EXPECT_TRUE(PortProbeCounts(true, 0));
    EXPECT_TRUE(PortProbeCounts(false, 5));     // access denied: opened by someone else
    EXPECT_TRUE(PortProbeCounts(false, 31));    // general failure: device there but not answering
    EXPECT_FALSE(PortProbeCounts(false, 2));    // file not found
    EXPECT_FALSE(PortProbeCounts(false, 123));  // bad name
}

}  // namespace
}  // namespace tarnwell
