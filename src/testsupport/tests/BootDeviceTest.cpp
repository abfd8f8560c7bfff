// The simulated device on its own: fault specifications, waking, page framing by size and by
// idle gap, strictness about the host's commands, and each played fault.
#include "testsupport/BootDevice.h"

#include <gtest/gtest.h>

using namespace zentrop;

using namespace bootsim;

namespace {

// Feeds the bytes and returns everything the device answered; stops at a hang-up.
QByteArray Feed(Device& d, const QByteArray& bytes, bool* hungUp = nullptr)
{
    QByteArray answers;
    for (char c : bytes) {
        const Reaction r = d.Receive(static_cast<uint8_t>(c));
        answers += r.Reply;
        if (r.HangUp) {
            if (hungUp)
                *hungUp = true;
            break;
        }
    }
    return answers;
}

const QByteArray kWake("\x1bU\x1b", 3);

} // namespace

TEST(BootDevice, FaultSpecifications)
{
    struct Case {
        const char* faultText;
        char command;
        int occurrence, afterData;
        Fault::Action action;
        uint8_t wrong;
    };
    const Case cases[] = {
        {"F", 'F', 1, -1, Fault::Action::Silent, '?'},
        {"D#3", 'D', 3, -1, Fault::Action::Silent, '?'},
        {"A#2:wrong=0A", 'A', 2, -1, Fault::Action::Wrong, 0x0A},
        {"Z:wrong", 'Z', 1, -1, Fault::Action::Wrong, '?'},
        {"D#2+100:hangup", 'D', 2, 100, Fault::Action::HangUp, '?'},
        {"E:hangup", 'E', 1, -1, Fault::Action::HangUp, '?'},
        {"A#3:twice", 'A', 3, -1, Fault::Action::Twice, '?'},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.faultText);
        QString error;
        const std::optional<Fault> f = Fault::Parse(QString::fromLatin1(c.faultText), &error);
        ASSERT_TRUE(f.has_value()) << error.toStdString();
        EXPECT_EQ(f->Command, c.command);
        EXPECT_EQ(f->Occurrence, c.occurrence);
        EXPECT_EQ(f->AfterData, c.afterData);
        EXPECT_EQ(f->What, c.action);
        EXPECT_EQ(f->WrongByte, c.wrong);
    }
    for (const char* bad : {"J", "D#0", "D+5", "D+5:wrong", "F:wrong=0D", "F:silent=01", "f", "", "D#1:explode"}) {
        QString error;
        EXPECT_FALSE(Fault::Parse(QString::fromLatin1(bad), &error).has_value()) << bad;
        EXPECT_FALSE(error.isEmpty());
    }
}

TEST(BootDevice, SleepsUntilWokenAndAfterTheJump)
{
    DeviceOptions o;
    o.WakeReply = "hello";
    Device d(o);
    EXPECT_EQ(Feed(d, "FAD\x1b" "F"), QByteArray());  // asleep: commands and a broken wake are ignored
    EXPECT_EQ(Feed(d, "\x1b\x1bU\x1b"), QByteArray("hello"));
    EXPECT_EQ(Feed(d, "F"), QByteArray("\r"));
    EXPECT_EQ(Feed(d, "J"), QByteArray());
    EXPECT_EQ(Feed(d, "F"), QByteArray());
    EXPECT_EQ(d.Record().Wakes, 1);
    EXPECT_EQ(d.Record().Jumps, 1);
}

TEST(BootDevice, AwakeDeviceWakesAgainAndTakesABrokenWakeAsCommands)
{
    Device d(DeviceOptions{});
    Feed(d, kWake);
    EXPECT_EQ(Feed(d, "E" + kWake + "F"), QByteArray("\r\r"));
    EXPECT_EQ(d.Record().Wakes, 2);
    // Escape followed by a command: the command still counts.
    EXPECT_EQ(Feed(d, "\x1b" "F"), QByteArray("\r"));
}

TEST(BootDevice, PagesEndAtPageSizeOrIdleGap)
{
    DeviceOptions o;
    o.FlashPageSize = 4;
    o.EEPromPageSize = 2;
    o.IdleGapMs = 5;
    Device d(o);
    EXPECT_EQ(Feed(d, kWake + "FA\x02\x01" "Dabcd"), QByteArray("\r\r\r"));
    EXPECT_EQ(Feed(d, QByteArray("Z\x03\x02\x01" "Dxy", 7)), QByteArray("\r"));
    EXPECT_TRUE(d.WaitsForIdleGap());
    EXPECT_EQ(d.IdleGapPassed().Reply, QByteArray("\r"));
    EXPECT_EQ(Feed(d, QByteArray("EA\x00\x00" "Dqrs", 8)), QByteArray("\r\r\r?"));  // 's' is no command
    const auto& pages = d.Record().Pages;
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0].Address, 0x0102);
    EXPECT_EQ(pages[0].Data, "abcd");
    EXPECT_EQ(pages[1].Address, 0x010203);
    EXPECT_TRUE(pages[1].LongAddress);
    EXPECT_EQ(pages[1].Data, "xy");
    EXPECT_EQ(pages[2].Where, Memory::EEProm);
    EXPECT_EQ(pages[2].Data, "qr");
}

TEST(BootDevice, RefusesDataWithoutMemoryOrAddress)
{
    Device d(DeviceOptions{});
    EXPECT_EQ(Feed(d, kWake + "D"), QByteArray("?"));
    EXPECT_EQ(Feed(d, "FD"), QByteArray("\r?"));
    EXPECT_TRUE(d.Record().Pages.empty());
}

TEST(BootDevice, PlaysFaults)
{
    DeviceOptions o;
    o.FlashPageSize = 2;
    QString error;
    o.Faults = {*Fault::Parse("A#2:wrong=0A", &error), *Fault::Parse("D#1:silent", &error),
                *Fault::Parse("D#3+1:hangup", &error)};
    Device d(o);
    EXPECT_EQ(Feed(d, kWake + "F" + QByteArray("A\0\0Dab", 6)), QByteArray("\r\r"));  // first page: no answer
    EXPECT_EQ(Feed(d, QByteArray("A\0\0", 3)), QByteArray("\x0A"));
    EXPECT_EQ(Feed(d, QByteArray("A\0\0Dcd", 6)), QByteArray("\r\r"));
    bool hungUp = false;
    EXPECT_EQ(Feed(d, QByteArray("A\0\0Defgh", 8), &hungUp), QByteArray("\r"));
    EXPECT_TRUE(hungUp);
    EXPECT_TRUE(d.Record().HungUp);
    // The unanswered page was not kept; the hang-up came after one data byte.
    ASSERT_EQ(d.Record().Pages.size(), 1u);
    EXPECT_EQ(d.Record().Pages[0].Data, "cd");
    EXPECT_EQ(d.Record().Received.right(2), "De");
    EXPECT_EQ(Feed(d, "F"), QByteArray());
}
