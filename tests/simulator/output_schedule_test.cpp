#include "simulator/OutputSchedule.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "simulator/Pty.h"

namespace fennix::sim {
namespace {

using ScheduleClock = COutputSchedule::Clock;
using std::chrono::milliseconds;

OutputItem ScheduledWrite(ScheduleClock::time_point due, std::vector<uint8_t> bytes) {
    OutputItem item;
    item.due = due;
    item.bytes = std::move(bytes);
    return item;
}

OutputItem ScheduledVanish(ScheduleClock::time_point due) {
    OutputItem item;
    item.kind = OutputItem::Kind::Vanish;
    item.due = due;
    item.vanish = VanishKind::Reboot();
    return item;
}

TEST(OutputScheduleTest, ItemsFallDueInOrderAndWritesStopAtAVanish) {
    const auto t = ScheduleClock::now();
    COutputSchedule schedule;
    EXPECT_EQ(ScheduleClock::time_point::min(), schedule.LastDue());
    schedule.Push(ScheduledWrite(t + milliseconds(10), {1}));
    schedule.Push(ScheduledWrite(t + milliseconds(10), {2}));
    schedule.Push(ScheduledVanish(t + milliseconds(20)));
    schedule.Push(ScheduledWrite(t + milliseconds(30), {3}));
    EXPECT_EQ(t + milliseconds(30), schedule.LastDue());
    EXPECT_EQ(nullptr, schedule.DueFront(t));

    const std::vector<OutputItem> due = schedule.TakeDueWrites(t + milliseconds(40));
    ASSERT_EQ(2u, due.size());
    EXPECT_EQ(std::vector<uint8_t>{1}, due[0].bytes);
    EXPECT_EQ(std::vector<uint8_t>{2}, due[1].bytes);
    OutputItem* front = schedule.DueFront(t + milliseconds(20));
    ASSERT_NE(nullptr, front);
    EXPECT_EQ(OutputItem::Kind::Vanish, front->kind);
    EXPECT_TRUE(schedule.TakeFront().vanish.reboot);
    EXPECT_FALSE(schedule.Idle());
}

TEST(OutputScheduleTest, AWriteWaitsForTheBufferButAVanishDoesNot) {
    const auto t = ScheduleClock::now();
    COutputSchedule schedule;
    EXPECT_EQ(ScheduleClock::time_point::max(), schedule.NextDue());
    schedule.Push(ScheduledWrite(t, {1}));
    EXPECT_EQ(t, schedule.NextDue());
    schedule.AddToWrite({9});
    EXPECT_EQ(ScheduleClock::time_point::max(), schedule.NextDue());
    schedule.TakeFront();
    schedule.Push(ScheduledVanish(t));
    EXPECT_EQ(t, schedule.NextDue());
}

TEST(OutputScheduleTest, TheBufferGoesToAnOpenPortAndIsDroppedWithAClosedOne) {
    COutputSchedule schedule;
    CPty pty;
    schedule.AddToWrite({0x7E, 0x01});
    EXPECT_TRUE(schedule.WriteTo(pty));  // closed: nothing to fail, the bytes are gone
    EXPECT_TRUE(schedule.Idle());

    ASSERT_EQ(0, pty.Open());
    const int host = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(host, 0);
    schedule.AddToWrite({0x41, 0x42});
    EXPECT_TRUE(schedule.WriteTo(pty));
    EXPECT_FALSE(schedule.Writing());
    pollfd readable{host, POLLIN, 0};
    ASSERT_EQ(1, ::poll(&readable, 1, 2000));
    char got[4] = {};
    EXPECT_EQ(2, ::read(host, got, sizeof got));
    EXPECT_EQ("AB", std::string(got, 2));
    ::close(host);
}

}  // namespace
}  // namespace fennix::sim
