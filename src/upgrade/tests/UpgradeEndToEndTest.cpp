// The upgrade run over a real port and a pseudo-terminal, with the simulated bootloader on the
// far end: the bytes the device receives in each mode, the address forms, each failure and
// what follows it, the reply time-out, and a device that hangs up.
#include "upgrade/BootComPort.h"
#include "upgrade/Bootloader.h"
#include "testsupport/FakeBootPort.h"
#include "testsupport/BootSim.h"

#include <QElapsedTimer>

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

using namespace zentrop;

using boottest::Recorder;

namespace {

QByteArray Wake()
{
    return QByteArray("\x1bU\x1b", 3);
}

QByteArray Address(char command, int32_t address, int bytes)
{
    QByteArray b(1, command);
    for (int i = 0; i < bytes; ++i)
        b += static_cast<char>((address >> (8 * i)) & 0xFF);
    return b;
}

QByteArray Bytes(int size, int seed)
{
    QByteArray b(size, '\0');
    for (int i = 0; i < size; ++i)
        b[i] = static_cast<char>((i * 7 + seed) & 0xFF);
    return b;
}

// The simulator on its thread, and the main window's kind of port opened on its far end.
struct Bench {
    // With a baud rate, the device paces its line at that rate and the port is set to it.
    explicit Bench(bootsim::DeviceOptions device, int baud = 0)
        : sim(bootsim::SimOptions{std::move(device), baud, QString(), false, {}})
    {
        path = sim.Open();
        sim.Start();
        SetUpgradeLineSettings(port, baud > 0 ? baud : 115200);
        port.SetPort(path);
    }
    ~Bench()
    {
        try {
            port.Close();
        } catch (const Exception&) {
        }
    }

    // Waits until the device has received at least this many bytes, and a little longer for
    // any byte that should not be there, then returns all it got. Call it after the run has
    // returned: everything it wrote is then on its way.
    QByteArray Received(qsizetype atLeast)
    {
        sim.WaitFor([&](const bootsim::DeviceRecord& r) { return r.Received.size() >= atLeast; }, 5000);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return sim.Snapshot().Received;
    }

    bootsim::Simulator sim;
    QString path;
    TComPort port;
    ComPortLine line{port};
    Recorder rec;
    Bootloader boot{line, rec};
};

bootsim::DeviceOptions PageSizes(int flash, int eeprom, int idleGapMs = 0)
{
    bootsim::DeviceOptions o;
    o.FlashPageSize = flash;
    o.EEPromPageSize = eeprom;
    o.IdleGapMs = idleGapMs;
    return o;
}

bootsim::DeviceOptions WithFault(bootsim::DeviceOptions o, const char* faultText)
{
    QString error;
    o.Faults.push_back(*bootsim::Fault::Parse(QString::fromLatin1(faultText), &error));
    return o;
}

} // namespace

TEST(UpgradeEndToEnd, DeviceReceivesExactlyTheModesPages)
{
    const PageList flash{{0x0000, Bytes(64, 1)}, {0x0040, Bytes(64, 2)}};
    const PageList eeprom{{0x0000, Bytes(16, 3)}, {0x0010, Bytes(16, 4)}};
    QByteArray flashPhase("F");
    for (const TPage& p : flash)
        flashPhase += Address('A', p.Address, 2) + "D" + p.Data;
    QByteArray eepromPhase("E");
    for (const TPage& p : eeprom)
        eepromPhase += Address('A', p.Address, 2) + "D" + p.Data;

    struct Case {
        UpgradeMode mode;
        QByteArray stream;
        size_t pages;
    };
    for (const Case& c : {Case{UpgradeMode::Flash, Wake() + flashPhase + "J", 2},
                          Case{UpgradeMode::EEProm, Wake() + eepromPhase + "J", 2},
                          Case{UpgradeMode::Both, Wake() + flashPhase + eepromPhase + "J", 4}}) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        Bench b(PageSizes(64, 16));
        EXPECT_EQ(b.boot.WriteToDevice(c.mode, flash, eeprom), UpgradeResult::Done);
        EXPECT_EQ(b.Received(c.stream.size()), c.stream);
        ASSERT_TRUE(b.sim.WaitFor([](const bootsim::DeviceRecord& r) { return r.Jumps == 1; }, 5000));
        EXPECT_EQ(b.sim.Snapshot().Pages.size(), c.pages);
        EXPECT_EQ(b.rec.Log.last(), "end done jump flash");
        EXPECT_TRUE(b.rec.Messages.isEmpty());
    }
}

TEST(UpgradeEndToEnd, AddressFormsOnTheWire)
{
    // The 256-byte page is shorter than the device's Flash page and ends by the idle gap.
    Bench b(PageSizes(257, 300, 200));
    const PageList flash{{0x0102, Bytes(256, 5)}, {0x0200, Bytes(257, 6)}};
    const PageList eeprom{{0x0010, Bytes(300, 7)}};
    ASSERT_EQ(b.boot.WriteToDevice(UpgradeMode::Both, flash, eeprom), UpgradeResult::Done);
    const QByteArray expected = Wake() + "F" + QByteArray("\x41\x02\x01", 3) + "D" + flash[0].Data +
                                Address('Z', 0x0200, 3) + "D" + flash[1].Data + "E" + Address('A', 0x0010, 2) +
                                "D" + eeprom[0].Data + "J";
    EXPECT_EQ(b.Received(expected.size()), expected);
    const auto pages = b.sim.Snapshot().Pages;
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_FALSE(pages[0].LongAddress);
    EXPECT_TRUE(pages[1].LongAddress);
    EXPECT_EQ(pages[2].Data, eeprom[0].Data);
}

TEST(UpgradeEndToEnd, EmptyListsSendModesAndJump)
{
    Bench b(PageSizes(256, 256));
    EXPECT_EQ(b.boot.WriteToDevice(UpgradeMode::Both, {}, {}), UpgradeResult::Done);
    const QByteArray expected = Wake() + "FEJ";
    EXPECT_EQ(b.Received(expected.size()), expected);
}

// Every failure: its message, and nothing after the failed command, no "J" either.
TEST(UpgradeEndToEnd, FailuresStopTheLine)
{
    const PageList flash{{0x0100, Bytes(8, 1)}};
    const PageList eeprom{{0x0020, Bytes(4, 2)}};
    const QByteArray flashA = Address('A', 0x0100, 2);
    const QByteArray flashD = "D" + flash[0].Data;
    const QByteArray eepromA = Address('A', 0x0020, 2);
    const QByteArray eepromD = "D" + eeprom[0].Data;
    struct Case {
        const char* fault;
        QByteArray stream;
        const char* message;
    };
    const Case cases[] = {
        {"F:wrong", Wake() + "F", "Set Flash mode: Communication Error!"},
        {"A#1:wrong=0A", Wake() + "F" + flashA, "Send Flash Page address: Communication Error!"},
        {"D#1:wrong=00", Wake() + "F" + flashA + flashD, "Send Flash Page: Communication Error!"},
        {"E:wrong", Wake() + "F" + flashA + flashD + "E", "Set EEProm mode: Communication Error!"},
        {"A#2:wrong", Wake() + "F" + flashA + flashD + "E" + eepromA, "Send Page address: Communication Error!"},
        {"D#2:wrong=FF", Wake() + "F" + flashA + flashD + "E" + eepromA + eepromD,
         "Send EEProm Page: Communication Error!"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fault);
        Bench b(WithFault(PageSizes(8, 4), c.fault));
        EXPECT_EQ(b.boot.WriteToDevice(UpgradeMode::Both, flash, eeprom), UpgradeResult::CommunicationError);
        EXPECT_EQ(b.rec.Messages, QStringList{c.message});
        EXPECT_EQ(b.Received(c.stream.size()), c.stream);
        EXPECT_EQ(b.sim.Snapshot().Jumps, 0);
    }
}

TEST(UpgradeEndToEnd, SilentDeviceFailsAfterTheReadTimeOut)
{
    Bench b(WithFault(PageSizes(256, 256), "F:silent"));
    QElapsedTimer t;
    t.start();
    EXPECT_EQ(b.boot.WriteToDevice(UpgradeMode::Flash, {}, {}), UpgradeResult::CommunicationError);
    const qint64 ms = t.elapsed();
    // 15 ms of opening pauses and the 510 ms reply time-out; far below the seconds a
    // stuck read would take.
    EXPECT_GE(ms, 500);
    EXPECT_LT(ms, 3000);
    EXPECT_EQ(b.rec.Log.last(), "end error mode flash: Set Flash mode: Communication Error!");
    EXPECT_EQ(b.rec.Messages, QStringList{"Set Flash mode: Communication Error!"});
}

// A 512-byte page takes over four seconds at 1200 baud: the device's time to answer starts
// after its last byte, not when the page was handed to the system.
TEST(UpgradeEndToEnd, SlowLineGivesTheDeviceItsTimeAfterTheLastByte)
{
    Bench b(PageSizes(512, 16), 1200);
    const PageList flash{{0x0000, Bytes(512, 1)}};
    EXPECT_EQ(b.boot.WriteToDevice(UpgradeMode::Flash, flash, {}), UpgradeResult::Done);
    EXPECT_TRUE(b.rec.Messages.isEmpty());
    ASSERT_TRUE(b.sim.WaitFor([](const bootsim::DeviceRecord& r) { return r.Jumps == 1; }, 5000));
    EXPECT_EQ(b.sim.Snapshot().Pages.size(), 1u);
}

TEST(UpgradeEndToEnd, RunAgainAfterAFailureStartsOver)
{
    Bench b(WithFault(PageSizes(4, 4), "D#1:wrong"));
    const PageList flash{{0x0000, Bytes(4, 1)}};
    EXPECT_EQ(b.boot.WriteToDevice(UpgradeMode::Flash, flash, {}), UpgradeResult::CommunicationError);
    EXPECT_EQ(b.boot.WriteToDevice(UpgradeMode::Flash, flash, {}), UpgradeResult::Done);
    ASSERT_TRUE(b.sim.WaitFor([](const bootsim::DeviceRecord& r) { return r.Jumps == 1; }, 5000));
    const bootsim::DeviceRecord r = b.sim.Snapshot();
    EXPECT_EQ(r.Wakes, 2);
    ASSERT_EQ(r.Pages.size(), 1u);
    EXPECT_EQ(r.Pages[0].Data, flash[0].Data);
}

TEST(UpgradeEndToEnd, HangUpInThePageGivesThePortErrorAtOnce)
{
    Bench b(WithFault(PageSizes(200, 200), "D#1+50:hangup"));
    const PageList flash{{0x0000, Bytes(200, 1)}};
    QElapsedTimer t;
    t.start();
    try {
        b.boot.WriteToDevice(UpgradeMode::Flash, flash, {});
        ADD_FAILURE() << "the run returned";
    } catch (const EComPort& e) {
        // A write into the closed line (code 2) or the read of the answer (code 3).
        EXPECT_TRUE(e.Code() == 2 || e.Code() == 3) << e.Message().toStdString();
    }
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_TRUE(b.rec.Messages.isEmpty());
}

TEST(UpgradeEndToEnd, PortThatCannotOpenSendsNothing)
{
    TComPort port;
    SetUpgradeLineSettings(port);
    port.SetPort(QStringLiteral("/dev/zentrop-no-such-port"));
    ComPortLine line(port);
    Recorder rec;
    Bootloader boot(line, rec);
    try {
        boot.WriteToDevice(UpgradeMode::Both, {}, {});
        ADD_FAILURE() << "the run returned";
    } catch (const EComPortExt& e) {
        EXPECT_EQ(e.Code(), 1);
        EXPECT_EQ(e.Message(), "COM Port Error: Unable to open com port on /dev/zentrop-no-such-port");
    }
    EXPECT_TRUE(rec.Messages.isEmpty());
}
