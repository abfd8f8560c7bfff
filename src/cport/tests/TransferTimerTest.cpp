// The time-out rules of reads and writes, at chosen points in time.
#include "TransferTimer.h"

#include <gtest/gtest.h>

using namespace zentrop;

namespace {

constexpr Nanos ms = 1000000;

COMMTIMEOUTS Read(uint32_t interval, uint32_t multiplier, uint32_t constant)
{
    return COMMTIMEOUTS{interval, multiplier, constant, 0, 0};
}

} // namespace

TEST(TransferTimer, TotalTimeoutIsMultiplierTimesCountPlusConstant)
{
    ReadTimer t(Read(10, 10, 500), 1, 1000 * ms);
    EXPECT_EQ(t.Remaining(1000 * ms), 510 * ms);
    EXPECT_FALSE(t.Done(0, 1509 * ms));
    EXPECT_TRUE(t.Done(0, 1510 * ms));
    EXPECT_EQ(t.Remaining(2000 * ms), 0);
    EXPECT_TRUE(t.Done(1, 1001 * ms));   // the full count ends it at once

    ReadTimer four(Read(0, 10, 500), 4, 0);
    EXPECT_EQ(four.Remaining(0), 540 * ms);
}

TEST(TransferTimer, IntervalStartsWithTheFirstByteAndRestartsWithEachOne)
{
    ReadTimer t(Read(50, 0, 0), 8, 0);
    EXPECT_EQ(t.Remaining(10000 * ms), std::nullopt);   // nothing yet: no limit
    t.BytesArrived(1, 100 * ms);
    EXPECT_EQ(t.Remaining(120 * ms), 30 * ms);
    t.BytesArrived(2, 140 * ms);
    EXPECT_FALSE(t.Done(2, 189 * ms));
    EXPECT_TRUE(t.Done(2, 190 * ms));
}

TEST(TransferTimer, TheEarlierOfIntervalAndTotalWins)
{
    ReadTimer t(Read(100, 0, 150), 8, 0);
    t.BytesArrived(1, 100 * ms);
    EXPECT_EQ(t.Remaining(100 * ms), 50 * ms);
    ReadTimer u(Read(20, 0, 150), 8, 0);
    u.BytesArrived(1, 100 * ms);
    EXPECT_EQ(u.Remaining(100 * ms), 20 * ms);
}

TEST(TransferTimer, SpecialReadModes)
{
    // MAXDWORD interval with zero totals: at once with what is there.
    ReadTimer now(Read(MAXDWORD, 0, 0), 8, 0);
    EXPECT_TRUE(now.Done(0, 0));
    // All zero: wait for the full count, however long.
    ReadTimer full(Read(0, 0, 0), 8, 0);
    EXPECT_EQ(full.Remaining(1000000 * ms), std::nullopt);
    EXPECT_FALSE(full.Done(7, 1000000 * ms));
    EXPECT_TRUE(full.Done(8, 0));
    // MAXDWORD interval and multiplier, constant between: the first byte ends it.
    ReadTimer first(Read(MAXDWORD, MAXDWORD, 200), 8, 0);
    EXPECT_FALSE(first.Done(0, 100 * ms));
    EXPECT_TRUE(first.Done(1, 100 * ms));
    EXPECT_TRUE(first.Done(0, 200 * ms));
    // MAXDWORD interval with a total: the interval is off, the total holds.
    ReadTimer total(Read(MAXDWORD, 0, 300), 8, 0);
    total.BytesArrived(1, 10 * ms);
    EXPECT_EQ(total.Remaining(10 * ms), 290 * ms);
}

TEST(TransferTimer, LargeValuesDoNotOverflow)
{
    ReadTimer t(Read(0, MAXDWORD - 1, MAXDWORD - 1), 1000000, 0);
    ASSERT_TRUE(t.Remaining(0).has_value());
    EXPECT_GT(*t.Remaining(0), 0);
}

TEST(TransferTimer, WriteTimeout)
{
    WriteTimer none(COMMTIMEOUTS{0, 0, 0, 0, 0}, 100, 0);
    EXPECT_EQ(none.Remaining(1000000 * ms), std::nullopt);
    WriteTimer t(COMMTIMEOUTS{0, 0, 0, 100, 1000}, 5, 0);
    EXPECT_EQ(t.Remaining(0), 1500 * ms);
    EXPECT_EQ(t.Remaining(2000 * ms), 0);
}

TEST(TransferTimer, CloseWaitsForQueuedOutputNoLongerThanItsLimit)
{
    struct Case {
        uint32_t multiplier, constant;
        int queued;
        Nanos budget;
    };
    const Case cases[] = {
        {100, 1000, 1, 1100 * ms},       // the write time-out of what is queued
        {0, 5, 4000, 5 * ms},
        {100, 1000, 4000, kCloseDrainLimit},
        {0, 0, 1, kCloseDrainLimit},     // writes without a limit: the limit still holds
        {MAXDWORD, MAXDWORD, 4096, kCloseDrainLimit},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CloseDrainBudget(COMMTIMEOUTS{0, 0, 0, c.multiplier, c.constant}, c.queued), c.budget)
            << c.multiplier << " x " << c.queued << " + " << c.constant;
}

TEST(TransferTimer, CharacterTimeCountsEveryBitOfAFrame)
{
    struct Case {
        uint32_t baud;
        uint8_t size, parity, stop;
        Nanos time;
    };
    const Case cases[] = {
        {1200, 8, DCB::NOPARITY, DCB::ONESTOPBIT, 8333333},       // 10 bits
        {115200, 8, DCB::NOPARITY, DCB::ONESTOPBIT, 86805},
        {9600, 7, DCB::EVENPARITY, DCB::TWOSTOPBITS, 1145833},    // 11 bits
        {9600, 5, DCB::NOPARITY, DCB::ONE5STOPBITS, 781250},      // 7.5 bits
        {0, 8, DCB::NOPARITY, DCB::ONESTOPBIT, 0},
    };
    for (const Case& c : cases) {
        DCB dcb;
        dcb.BaudRate = c.baud;
        dcb.ByteSize = c.size;
        dcb.Parity = c.parity;
        dcb.StopBits = c.stop;
        EXPECT_EQ(CharacterTime(dcb), c.time) << c.baud << " " << int(c.size);
    }
}
