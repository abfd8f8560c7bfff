// The upgrade run against a scripted port: the exact order of bytes, pauses, answers and
// reports, the address forms, every failure message, and what a failure leaves unsent.
#include "upgrade/BootProtocol.h"
#include "upgrade/Bootloader.h"
#include "testsupport/FakeBootPort.h"

#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace zentrop;

using boottest::FakePort;
using boottest::Recorder;

namespace {

TPage Page(int32_t address, int size, char fill = 'x')
{
    return TPage{address, QByteArray(size, fill)};
}

struct Rig {
    Recorder rec;
    FakePort port{rec};
    Bootloader boot{port, rec, [this](int ms) { rec.Log << QStringLiteral("pause %1").arg(ms); }};
};

std::vector<uint8_t> Bytes(std::initializer_list<int> list)
{
    std::vector<uint8_t> v;
    for (int b : list)
        v.push_back(static_cast<uint8_t>(b));
    return v;
}

void Append(std::vector<uint8_t>& v, const QByteArray& data)
{
    for (char c : data)
        v.push_back(static_cast<uint8_t>(c));
}

} // namespace

TEST(Bootloader, FullRunInExactOrder)
{
    Rig r;
    const PageList flash{TPage{0x0102, QByteArray("\x11\x22", 2)}};
    const PageList eeprom{TPage{0x0010, QByteArray("\x33", 1)}};
    EXPECT_EQ(r.boot.WriteToDevice(UpgradeMode::Both, flash, eeprom), UpgradeResult::Done);
    const QStringList expected{
        "run 2 1+1", "w 1b", "pause 5", "w 55", "pause 5", "w 1b", "pause 5", "purge 1 1",
        "memory flash 1", "w 46", "r 0d", "pause 5",
        "page flash 1/1 0x102", "w 41", "w 02", "w 01", "r 0d", "pause 1",
        "w 44", "pause 1", "w 11", "w 22", "r 0d", "done flash 1/1 0x102",
        "memory eeprom 1", "w 45", "r 0d", "pause 5",
        "page eeprom 1/1 0x10", "w 41", "w 10", "w 00", "r 0d", "pause 1",
        "w 44", "pause 1", "w 33", "r 0d", "done eeprom 1/1 0x10",
        "jump", "w 4a", "end done jump flash"};
    EXPECT_EQ(r.rec.Log, expected);
    EXPECT_EQ(r.rec.BytesSent, static_cast<int>(r.port.Sent.size()));
    EXPECT_TRUE(r.rec.Messages.isEmpty());
}

TEST(Bootloader, ModesSelectPhases)
{
    const PageList flash{Page(0x0200, 2, 'f')};
    const PageList eeprom{Page(0x0003, 1, 'e')};
    const std::vector<uint8_t> wake = Bytes({0x1B, 0x55, 0x1B});
    std::vector<uint8_t> flashPhase = Bytes({'F', 'A', 0x00, 0x02, 'D'});
    Append(flashPhase, flash[0].Data);
    std::vector<uint8_t> eepromPhase = Bytes({'E', 'A', 0x03, 0x00, 'D'});
    Append(eepromPhase, eeprom[0].Data);

    struct Case {
        int mode;
        bool withFlash, withEEProm;
    };
    for (const Case c : {Case{0, true, false}, Case{1, false, true}, Case{2, true, true}, Case{-1, false, false},
                         Case{3, false, false}}) {
        SCOPED_TRACE(c.mode);
        Rig r;
        EXPECT_EQ(r.boot.WriteToDevice(static_cast<UpgradeMode>(c.mode), flash, eeprom), UpgradeResult::Done);
        std::vector<uint8_t> expected = wake;
        if (c.withFlash)
            expected.insert(expected.end(), flashPhase.begin(), flashPhase.end());
        if (c.withEEProm)
            expected.insert(expected.end(), eepromPhase.begin(), eepromPhase.end());
        expected.push_back('J');
        EXPECT_EQ(r.port.Sent, expected);
        // The plan counts the pages of the memories the mode selects.
        EXPECT_EQ(r.rec.Log.first(), QStringLiteral("run %1 %2+%3").arg(c.mode).arg(int(c.withFlash)).arg(int(c.withEEProm)));
    }
}

TEST(Bootloader, EmptyPhasesStillSendTheirModes)
{
    Rig r;
    EXPECT_EQ(r.boot.WriteToDevice(UpgradeMode::Both, {}, {}), UpgradeResult::Done);
    EXPECT_EQ(r.port.Sent, Bytes({0x1B, 0x55, 0x1B, 'F', 'E', 'J'}));
    EXPECT_EQ(r.port.Reads, 2);
    EXPECT_EQ(r.rec.Log.filter(QRegularExpression("^(memory|page|done)")), QStringList({"memory flash 0", "memory eeprom 0"}));
}

TEST(Bootloader, AddressForms)
{
    struct Case {
        bool flash;
        int32_t address;
        int size;
        std::vector<uint8_t> head;
    };
    const Case cases[] = {
        {true, 0x1234, 256, Bytes({'A', 0x34, 0x12})},
        {true, 0x1234, 257, Bytes({'Z', 0x34, 0x12, 0x00})},
        {true, 0xFFFF, 512, Bytes({'Z', 0xFF, 0xFF, 0x00})},
        {true, 0x0000, 0, Bytes({'A', 0x00, 0x00})},
        {false, 0x0102, 300, Bytes({'A', 0x02, 0x01})},
        {false, 0xABCD, 257, Bytes({'A', 0xCD, 0xAB})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.flash << " " << c.address << " " << c.size);
        Rig r;
        const PageList pages{Page(c.address, c.size)};
        r.boot.WriteToDevice(c.flash ? UpgradeMode::Flash : UpgradeMode::EEProm, c.flash ? pages : PageList{},
                             c.flash ? PageList{} : pages);
        std::vector<uint8_t> expected = Bytes({0x1B, 0x55, 0x1B, c.flash ? 'F' : 'E'});
        expected.insert(expected.end(), c.head.begin(), c.head.end());
        expected.push_back('D');
        Append(expected, pages[0].Data);
        expected.push_back('J');
        EXPECT_EQ(r.port.Sent, expected);
    }
}

TEST(Bootloader, PagesCountWithinTheirMemory)
{
    Rig r;
    const PageList flash{Page(0x10, 1), Page(0x20, 1), Page(0x30, 1)};
    const PageList eeprom{Page(0, 1), Page(1, 1)};
    r.boot.WriteToDevice(UpgradeMode::Both, flash, eeprom);
    EXPECT_EQ(r.rec.Log.filter(QRegularExpression("^(memory|done)")),
              QStringList({"memory flash 3", "done flash 1/3 0x10", "done flash 2/3 0x20", "done flash 3/3 0x30",
                           "memory eeprom 2", "done eeprom 1/2 0x0", "done eeprom 2/2 0x1"}));
}

// The events of a run whose second page is refused: the first page done, the second started,
// and the end names its step, page and message; nothing follows.
TEST(Bootloader, AFailingPageEndsTheEventsAtThatPage)
{
    Rig r;
    r.port.Reply = [](int read) { return read == 5 ? std::optional<uint8_t>(0x00) : std::optional<uint8_t>(0x0D); };
    EXPECT_EQ(r.boot.WriteToDevice(UpgradeMode::Both, {Page(0x100, 2), Page(0x200, 2)}, {Page(0, 1)}),
              UpgradeResult::CommunicationError);
    EXPECT_EQ(r.rec.Log.filter(QRegularExpression("^(run|memory|page|done|jump|end)")),
              QStringList({"run 2 2+1", "memory flash 2", "page flash 1/2 0x100", "done flash 1/2 0x100",
                           "page flash 2/2 0x200",
                           "end error data flash flash 2/2 0x200: Send Flash Page: Communication Error!"}));
}

// Each step answered wrongly or not at all: its message, the status of the step, and no byte
// after the failed answer.
TEST(Bootloader, EveryFailureEndsTheRunWithItsMessage)
{
    const PageList flash{Page(0x0100, 4), Page(0x0200, 300)};
    const PageList eeprom{Page(0x0020, 2)};
    struct Case {
        int failingRead; // 1-based, in mode Both with the pages above
        const char* message;
        const char* end; // the step, its memory and page
    };
    const Case cases[] = {
        {1, "Set Flash mode: Communication Error!", "mode flash"},
        {2, "Send Flash Page address: Communication Error!", "address flash flash 1/2 0x100"},
        {3, "Send Flash Page: Communication Error!", "data flash flash 1/2 0x100"},
        {4, "Send Flash Page address: Communication Error!", "address flash flash 2/2 0x200"}, // long form
        {5, "Send Flash Page: Communication Error!", "data flash flash 2/2 0x200"},
        {6, "Set EEProm mode: Communication Error!", "mode eeprom"},
        {7, "Send Page address: Communication Error!", "address eeprom eeprom 1/1 0x20"},
        {8, "Send EEProm Page: Communication Error!", "data eeprom eeprom 1/1 0x20"},
    };
    for (const Case& c : cases) {
        for (const std::optional<uint8_t> bad : {std::optional<uint8_t>(), std::optional<uint8_t>(0x0A),
                                                 std::optional<uint8_t>(0xFF)}) {
            SCOPED_TRACE(testing::Message() << c.failingRead << " " << (bad ? *bad : -1));
            Rig r;
            r.port.Reply = [&](int read) { return read == c.failingRead ? bad : std::optional<uint8_t>(0x0D); };
            EXPECT_EQ(r.boot.WriteToDevice(UpgradeMode::Both, flash, eeprom), UpgradeResult::CommunicationError);
            EXPECT_EQ(r.rec.Messages, QStringList{c.message});
            EXPECT_EQ(r.rec.End->Answer, bad ? AnswerFault::Wrong : AnswerFault::Silent);
            EXPECT_EQ(r.port.Reads, c.failingRead);
            // The failed answer is the last thing on the line: the end follows, nothing else.
            ASSERT_GE(r.rec.Log.size(), 2);
            EXPECT_TRUE(r.rec.Log[r.rec.Log.size() - 2].startsWith("r "));
            EXPECT_EQ(r.rec.Log.last(), QStringLiteral("end error %1: %2").arg(c.end, c.message));
            EXPECT_NE(r.port.Sent.back(), 'J');
        }
    }
}

// A device whose pages are shorter than the file's answers while the page's data is still being
// sent (and may ignore the rest); one that answers twice leaves a byte after its answer. Either
// fails the page with the data step's own message, before the page's last byte or the jump.
TEST(Bootloader, AnAnswerBeforeThePagesEndFailsThePage)
{
    struct Case {
        const char* what;
        Memory memory;
        int pageBytes;
        int answerAfter; // data bytes after which the answer waits; -1: a second answer after the first;
                         // -2: a refusal of the page's rest that comes once the line is quiet
    };
    const Case cases[] = {
        {"one byte early", Memory::Flash, 16, 15},
        {"eight bytes early", Memory::Flash, 16, 8},
        {"right after D", Memory::Flash, 16, 0},
        {"right after D, a one-byte page", Memory::EEProm, 1, 0},
        {"one byte early", Memory::EEProm, 4, 3},
        {"answered twice", Memory::Flash, 16, -1},
        {"rest refused before the jump", Memory::EEProm, 4, -2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Rig r;
        const bool flash = c.memory == Memory::Flash;
        // Wake (3), mode, address (3), data command: the page's data starts after 8 bytes.
        const size_t dataStart = 8;
        r.port.Stray = [&] { return c.answerAfter == -2 ? 1 : 0; };
        r.port.Waiting = [&] {
            if (c.answerAfter == -2)
                return 0;
            if (c.answerAfter < 0)
                return r.port.Reads == 3 ? 1 : 0;
            return r.port.Reads == 2 && r.port.Sent.size() >= dataStart + static_cast<size_t>(c.answerAfter) ? 1 : 0;
        };
        const PageList pages{Page(0x100, c.pageBytes)};
        EXPECT_EQ(r.boot.WriteToDevice(flash ? UpgradeMode::Flash : UpgradeMode::EEProm, flash ? pages : PageList{},
                                       flash ? PageList{} : pages),
                  UpgradeResult::CommunicationError);
        EXPECT_EQ(r.rec.Messages, QStringList{flash ? "Send Flash Page: Communication Error!"
                                                    : "Send EEProm Page: Communication Error!"});
        ASSERT_TRUE(r.rec.End);
        EXPECT_EQ(r.rec.End->Step, UpgradeStep::Data);
        EXPECT_EQ(r.rec.End->Answer, AnswerFault::Early);
        EXPECT_EQ(r.port.Sent.size(), c.answerAfter < 0 ? dataStart + c.pageBytes : dataStart + c.pageBytes - 1);
        EXPECT_EQ(r.rec.End->Page ? r.rec.End->Page->Index : -1, 0);
        EXPECT_NE(r.port.Sent.back(), 'J');
    }
    // A device that answers once, after the last byte, is not slowed down or failed by the look.
    Rig r;
    r.port.Waiting = [] { return 0; };
    EXPECT_EQ(r.boot.WriteToDevice(UpgradeMode::Flash, {Page(0x100, 16)}, {}), UpgradeResult::Done);
    EXPECT_EQ(r.rec.End->Answer, AnswerFault::None);
}

TEST(Bootloader, MissingAnswerReadsAsFailureEvenFromAPortThatLeavesTheBuffer)
{
    Rig r;
    r.port.MarksBuffer = false;
    r.port.Reply = [](int) { return std::nullopt; };
    EXPECT_EQ(r.boot.ReceiveByte(), 0xFF);
    EXPECT_FALSE(r.boot.SendFlashMode());
}

TEST(Bootloader, OpensAClosedPortOnce)
{
    Rig r;
    r.port.IsConnected = false;
    r.boot.WriteToDevice(UpgradeMode::Flash, {}, {});
    r.boot.WriteToDevice(UpgradeMode::Flash, {}, {});
    EXPECT_EQ(r.rec.Log.count("open"), 1);
    EXPECT_EQ(r.rec.Log.mid(0, 2), QStringList({"run 0 0+0", "open"}));
}

TEST(Bootloader, PortErrorsPropagateWithoutMessage)
{
    {
        Rig r;
        r.port.IsConnected = false;
        r.port.OnOpen = [] { throw Exception("COM Port Error: Unable to open com port on COM9"); };
        EXPECT_THROW(r.boot.WriteToDevice(UpgradeMode::Both, {Page(0, 1)}, {}), Exception);
        EXPECT_TRUE(r.port.Sent.empty());
        EXPECT_TRUE(r.rec.Messages.isEmpty());
        EXPECT_EQ(r.rec.Log.last(), "end port open flash");
    }
    {
        // A write that fails in the middle of a page ends the run at that byte.
        Rig r;
        r.port.BeforeWrite = [](size_t index) {
            if (index == 10)
                throw Exception("COM Port Error: WriteFile function failed on COM9");
        };
        EXPECT_THROW(r.boot.WriteToDevice(UpgradeMode::Flash, {Page(0, 20)}, {}), Exception);
        EXPECT_EQ(r.port.Sent.size(), 10u);
        EXPECT_TRUE(r.rec.Messages.isEmpty());
        EXPECT_EQ(r.rec.Log.last(), "end port data flash flash 1/1 0x0");
    }
}

TEST(Bootloader, WakeRetriesOnlyForASilentModeCommand)
{
    const struct {
        int retries;
        std::optional<uint8_t> firstAnswer;
        UpgradeResult result;
        int wakes;
    } cases[] = {
        {0, std::nullopt, UpgradeResult::CommunicationError, 1}, // today's behaviour
        {2, std::nullopt, UpgradeResult::Done, 2},
        {2, uint8_t{0x41}, UpgradeResult::CommunicationError, 1}, // awake and refusing
    };
    for (const auto& c : cases) {
        Rig r;
        r.boot.SetWakeRetries(c.retries);
        r.port.Reply = [&c](int read) { return read == 1 ? c.firstAnswer : std::optional<uint8_t>(0x0D); };
        EXPECT_EQ(r.boot.WriteToDevice(UpgradeMode::Flash, {}, {}), c.result) << c.retries;
        EXPECT_EQ(r.rec.Log.count("w 55"), c.wakes) << c.retries;
    }
}
