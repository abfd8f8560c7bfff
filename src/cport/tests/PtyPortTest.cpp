// The port on real pseudo-terminals: exclusive open and close, reads under each time-out
// rule, writes, cancelling a blocked request from another thread, and a device that hangs
// up in the middle of a transfer.
#include "testsupport/PtyPair.h"
#include "base/Debug.h"
#include "cport/ComPort.h"
#include "posix/PosixBaudRate.h"
#include "posix/PosixComDevice.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <QDir>
#include <QFileInfo>

#include <atomic>
#include <functional>
#include <mutex>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <future>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>

#include <gtest/gtest.h>

using namespace zentrop;

using namespace std::chrono_literals;

namespace {

class PtyPort : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.Valid());
        port.SetPort(pty.SlaveName());
        port.SetEvents({});
        port.SetSyncMethod(TSyncMethod::smDisableEvents);
        port.SetBaudRate(TBaudRate::br115200);
    }

    void SetReadTimeouts(int interval, int multiplier, int constant)
    {
        port.Timeouts()->SetReadInterval(interval);
        port.Timeouts()->SetReadTotalMultiplier(multiplier);
        port.Timeouts()->SetReadTotalConstant(constant);
    }

    // Runs f on another thread; the test fails instead of hanging if it does not end.
    template <typename F>
    static auto RunAside(F f)
    {
        return std::async(std::launch::async, std::move(f));
    }

    // Waits until the port's input queue holds at least Count bytes; false after 2 s.
    bool QueueReaches(int Count)
    {
        const QDeadlineTimer deadline(2000);
        while (port.InputQueueCount() < Count) {
            if (deadline.hasExpired())
                return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

    template <typename T>
    static bool EndsWithin(std::future<T>& f, std::chrono::milliseconds limit)
    {
        return f.wait_for(limit) == std::future_status::ready;
    }

    PtyPair pty;
    TComPort port;
};

// The code of the port exception f raises; 0 when it raises none.
template <typename F>
int CodeOf(F f)
{
    try {
        f();
    } catch (const EComPort& e) {
        return e.Code();
    }
    return 0;
}

} // namespace

TEST_F(PtyPort, OpensClosesAndOpensAgain)
{
    port.Open();
    EXPECT_TRUE(port.Connected());
    EXPECT_TRUE(port.LineSignals().Empty());   // a pty has no modem lines
    EXPECT_TRUE(port.TakeLineErrors().Empty());
    port.Close();
    EXPECT_FALSE(port.Connected());
    port.Open();
    EXPECT_TRUE(port.Connected());
}

TEST_F(PtyPort, CloseNeitherWaitsForNorDropsOutputTheOtherEndHasNotRead)
{
    port.Open();
    QByteArray data(3000, 'q');
    data.append("end");
    EXPECT_EQ(port.Write(data.constData(), int(data.size())), data.size());
    QElapsedTimer clock;
    clock.start();
    port.Close();
    EXPECT_LT(clock.elapsed(), 1500);   // well below the limit a held-up line would get
    EXPECT_EQ(pty.Receive(int(data.size())), data);
}

TEST_F(PtyPort, SecondOpenOfABusyPortFailsAndLeavesTheFirstWorking)
{
    port.Open();
    TComPort second;
    second.SetPort(pty.SlaveName());
    try {
        second.Open();
        ADD_FAILURE() << "second open succeeded";
    } catch (const EComPortExt& e) {
        EXPECT_EQ(e.Code(), 1);
        EXPECT_EQ(e.Message(), "COM Port Error: Unable to open com port on " + pty.SlaveName());
    }
    EXPECT_FALSE(second.Connected());
    EXPECT_EQ(port.Write("ok", 2), 2);
    EXPECT_EQ(pty.Receive(2), "ok");
    port.Close();
    second.Open();   // the lock went with the first port's close
    EXPECT_TRUE(second.Connected());
}

TEST_F(PtyPort, OpenFailuresNameTheDeviceAndLeaveNothingOpen)
{
    QStringList debug;
    const DebugSink previous = SetDebugSink([&](const QString& t) { debug.append(t); });
    QTemporaryFile plainFile;
    ASSERT_TRUE(plainFile.open());
    struct Case {
        QString port;
        QString device;
        int systemCode;
    };
    const Case cases[] = {
        {"/dev/zentrop-no-such-port", "/dev/zentrop-no-such-port", ENOENT},
        {"zentrop-no-such-port", "/dev/zentrop-no-such-port", ENOENT},
        {plainFile.fileName(), plainFile.fileName(), ENOTTY},
        {"/dev/null", "/dev/null", ENOTTY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.port.toStdString());
        debug.clear();
        TComPort p;
        p.SetPort(c.port);
        try {
            p.Open();
            ADD_FAILURE() << "opened";
        } catch (const EComPortExt& e) {
            EXPECT_EQ(e.Code(), 1);
            EXPECT_EQ(e.SystemCode(), c.systemCode);
            EXPECT_FALSE(e.SystemText().isEmpty());
        }
        EXPECT_EQ(debug, QStringList{"CreateFile " + c.device});
        EXPECT_FALSE(p.Connected());
    }
    SetDebugSink(previous);
}

TEST_F(PtyPort, LineSettingsReachTheTerminalAndAreRestoredOnClose)
{
    PtyPair kept(true);
    ASSERT_TRUE(kept.Valid());
    termios before{};
    ASSERT_EQ(tcgetattr(kept.Slave(), &before), 0);
    port.SetPort(kept.SlaveName());
    port.SetDataBits(TDataBits::dbSeven);
    port.SetStopBits(TStopBits::sbOne5StopBits);
    port.Parity()->SetBits(TParityBits::prMark);
    port.Parity()->SetCheck(true);
    port.FlowControl()->SetFlowControl(TFlowControl::fcSoftware);
    port.FlowControl()->SetXonChar('Q');
    port.Open();

    // A pseudo-terminal keeps eight bits without parity whatever it is told; the rest it
    // takes as a UART would.
    termios t{};
    ASSERT_EQ(tcgetattr(kept.Slave(), &t), 0);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
    EXPECT_TRUE(t.c_cflag & CLOCAL);
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK), tcflag_t(IXON | IXOFF));
    EXPECT_EQ(t.c_cc[VSTART], 'Q');
    EXPECT_FALSE(t.c_lflag & (ICANON | ECHO));
    EXPECT_EQ(cfgetospeed(&t), speed_t(B115200));

    port.Parity()->SetReplace(true);
    ASSERT_EQ(tcgetattr(kept.Slave(), &t), 0);
    EXPECT_TRUE(t.c_iflag & INPCK);

    port.SetDataBits(TDataBits::dbEight);
    port.Parity()->SetBits(TParityBits::prNone);
    port.FlowControl()->SetFlowControl(TFlowControl::fcHardware);
    port.SetBaudRate(TBaudRate::brCustom);
    port.SetCustomBaudRate(31250);
    ASSERT_EQ(tcgetattr(kept.Slave(), &t), 0);
    EXPECT_TRUE(t.c_cflag & CRTSCTS);
    EXPECT_FALSE(t.c_iflag & (IXON | IXOFF));
    uint32_t rate = 0;
    ASSERT_EQ(GetActualBaudRate(kept.Slave(), rate), 0);
    EXPECT_EQ(rate, 31250u);

    // A rate the device cannot take is refused and the line keeps its state.
    EXPECT_EQ(CodeOf([&] { port.SetCustomBaudRate(0); }), 7);
    ASSERT_EQ(GetActualBaudRate(kept.Slave(), rate), 0);
    EXPECT_EQ(rate, 31250u);
    EXPECT_TRUE(port.Connected());

    port.Close();
    termios after{};
    ASSERT_EQ(tcgetattr(kept.Slave(), &after), 0);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
}

TEST_F(PtyPort, OneByteReadTimesOutAfterTheTotalTimeout)
{
    SetReadTimeouts(10, 10, 500);
    port.Open();
    unsigned char b = 0x00;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(port.Read(&b, 1), 0);
    const qint64 ms = clock.elapsed();
    EXPECT_EQ(b, 0xFF);
    EXPECT_GE(ms, 450);
    EXPECT_LE(ms, 2000);
}

TEST_F(PtyPort, ReadReturnsWhatArrivedBeforeTheTimeout)
{
    SetReadTimeouts(0, 0, 300);
    port.Open();
    pty.Send("ab");
    char buf[4] = {};
    EXPECT_EQ(port.Read(buf, 4), 2);
    EXPECT_EQ(QByteArray(buf, 2), "ab");
}

TEST_F(PtyPort, IntervalTimeoutEndsAReadAfterTheLastByte)
{
    SetReadTimeouts(100, 0, 0);   // no total limit: only the gap after a byte ends the read
    port.Open();
    auto sender = RunAside([&] {
        std::this_thread::sleep_for(200ms);
        pty.Send("xyz");
    });
    char buf[16] = {};
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(port.Read(buf, 16), 3);
    EXPECT_GE(clock.elapsed(), 200);   // the interval timer starts with the first byte only
    EXPECT_LE(clock.elapsed(), 3000);
    EXPECT_EQ(QByteArray(buf, 3), "xyz");
    sender.get();
}

TEST_F(PtyPort, ImmediateModeReturnsAtOnceWithWhatIsThere)
{
    port.Open();   // the initial time-outs: interval -1, totals 0
    char buf[8] = {};
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(port.Read(buf, 8), 0);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(static_cast<unsigned char>(buf[0]), 0xFF);
    pty.Send("123");
    ASSERT_TRUE(QueueReaches(3));
    clock.restart();
    EXPECT_EQ(port.Read(buf, 8), 3);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(QByteArray(buf, 3), "123");
}

TEST_F(PtyPort, AllZeroTimeoutsWaitForTheFullCount)
{
    SetReadTimeouts(0, 0, 0);
    port.Open();
    auto sender = RunAside([&] {
        pty.Send("ab");
        std::this_thread::sleep_for(300ms);
        pty.Send("cd");
    });
    char buf[4] = {};
    EXPECT_EQ(port.Read(buf, 4), 4);
    EXPECT_EQ(QByteArray(buf, 4), "abcd");
    sender.get();
}

// A pseudo-terminal whose driver, when told to, keeps another handshake than it was given,
// counts line errors as a UART's driver does, and has an RS-485 mode or not; it notes its
// RS-485 and RTS calls.
class PlayedDriver : public PosixComDevice {
public:
    std::atomic<bool> KeepsOtherHandshake{false};
    serial_icounter_struct Counters{};
    bool HasRS485 = true;
    serial_rs485 RS485{};   // what the driver holds

    QStringList Calls() const
    {
        std::lock_guard lock(FCallsMutex);
        return FCalls;
    }

protected:
    int ReadTermios(int Fd, termios& T) const override
    {
        const int err = PosixComDevice::ReadTermios(Fd, T);
        if (KeepsOtherHandshake)
            T.c_cflag ^= CRTSCTS;
        return err;
    }
    int ReadErrorCounters(int, serial_icounter_struct& C, bool& Supported) const override
    {
        C = Counters;
        Supported = true;
        return 0;
    }
    int SerialIoctl(int Fd, unsigned long Request, void* Arg) const override
    {
        std::lock_guard lock(FCallsMutex);
        switch (Request) {
        case TIOCGRS485:
            FCalls << "TIOCGRS485";
            if (!HasRS485)
                return ENOTTY;
            *static_cast<serial_rs485*>(Arg) = RS485;
            return 0;
        case TIOCSRS485: {
            const auto* rs = static_cast<const serial_rs485*>(Arg);
            FCalls << QStringLiteral("TIOCSRS485 flags %1 delays %2 %3")
                          .arg(rs->flags).arg(rs->delay_rts_before_send).arg(rs->delay_rts_after_send);
            if (!HasRS485)
                return ENOTTY;
            const_cast<PlayedDriver*>(this)->RS485 = *rs;
            return 0;
        }
        case TIOCMBIS:
        case TIOCMBIC:
            FCalls << QStringLiteral("RTS %1").arg(Request == TIOCMBIS ? "on" : "off");
            return 0;
        case TIOCOUTQ:   // a UART that has sent everything
            FCalls << "TIOCOUTQ";
            *static_cast<int*>(Arg) = 0;
            return 0;
        case TIOCSERGETLSR:
            FCalls << "TIOCSERGETLSR";
            *static_cast<unsigned int*>(Arg) = TIOCSER_TEMT;
            return 0;
        default:
            return PosixComDevice::SerialIoctl(Fd, Request, Arg);
        }
    }

private:
    mutable std::mutex FCallsMutex;
    mutable QStringList FCalls;
};

TEST_F(PtyPort, RS485TakesTheDriversModeWithItsDelaysAndGivesItBackOnClose)
{
    struct Case {
        bool hasRS485;
        RS485Mode mode;
        QStringList calls;
    };
    const Case cases[] = {
        // The driver's own settings (RTS raised after sending) come back on close.
        {true, RS485Mode::Driver,
         {"TIOCGRS485", "TIOCSRS485 flags 3 delays 2 5", "TIOCSRS485 flags 4 delays 0 0"}},
        // Without it, RTS goes up for each write and down once the line has sent it all.
        {false, RS485Mode::Port,
         {"TIOCGRS485", "RTS on", "TIOCOUTQ", "TIOCSERGETLSR", "RTS off"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hasRS485);
        auto owned = std::make_unique<PlayedDriver>();
        PlayedDriver* driver = owned.get();
        driver->HasRS485 = c.hasRS485;
        driver->RS485.flags = SER_RS485_RTS_AFTER_SEND;
        ASSERT_TRUE(port.SetDevice(std::move(owned)));
        port.FlowControl()->SetControlRTS(TRTSFlowControl::rtsToggle);
        port.SetRS485Delays(2, 5);
        port.Open();
        EXPECT_EQ(port.GetRS485Mode(), c.mode);
        EXPECT_EQ(port.WriteStr("ab"), 2);
        EXPECT_EQ(pty.Receive(2), "ab");
        port.Close();
        EXPECT_EQ(port.GetRS485Mode(), RS485Mode::Off);
        EXPECT_EQ(driver->Calls(), c.calls);
    }
}

TEST_F(PtyPort, SettingTheDriverDoesNotTakeFailsAndKeepsThePreviousOnes)
{
    PtyPair kept(true);
    ASSERT_TRUE(kept.Valid());
    auto owned = std::make_unique<PlayedDriver>();
    PlayedDriver* driver = owned.get();
    ASSERT_TRUE(port.SetDevice(std::move(owned)));
    port.SetPort(kept.SlaveName());
    port.Open();
    termios before{};
    ASSERT_EQ(tcgetattr(kept.Slave(), &before), 0);
    driver->KeepsOtherHandshake = true;
    try {
        port.SetBaudRate(TBaudRate::br9600);
        ADD_FAILURE() << "the refused setting was taken";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 7);
    }
    termios after{};
    ASSERT_EQ(tcgetattr(kept.Slave(), &after), 0);
    EXPECT_EQ(cfgetospeed(&after), cfgetospeed(&before));
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    driver->KeepsOtherHandshake = false;
    EXPECT_EQ(port.WriteStr("ok"), 2);
    EXPECT_EQ(kept.Receive(2), "ok");
}

TEST_F(PtyPort, DriverErrorCountersBecomeLineErrors)
{
    auto owned = std::make_unique<PlayedDriver>();
    PlayedDriver* driver = owned.get();
    ASSERT_TRUE(port.SetDevice(std::move(owned)));
    port.Parity()->SetCheck(true);
    port.Open();
    struct Case {
        int serial_icounter_struct::*counter;
        TComError error;
    };
    const Case cases[] = {
        {&serial_icounter_struct::frame, TComError::ceFrame},
        {&serial_icounter_struct::parity, TComError::ceRxParity},
        {&serial_icounter_struct::overrun, TComError::ceOverrun},
        {&serial_icounter_struct::buf_overrun, TComError::ceRxOver},
        {&serial_icounter_struct::brk, TComError::ceBreak},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.error));
        driver->Counters.*c.counter += 3;
        TComErrors expected;
        expected.Include(c.error);
        EXPECT_EQ(port.TakeLineErrors(), expected);
        // Taken once: unchanged counters report nothing.
        EXPECT_EQ(port.TakeLineErrors(), TComErrors());
    }
    // A parity error counts only while parity is checked.
    port.Parity()->SetCheck(false);
    ++driver->Counters.parity;
    EXPECT_EQ(port.TakeLineErrors(), TComErrors());
    // An error that came with data outlasts the looks at the queue.
    ++driver->Counters.frame;
    pty.Send("x");
    ASSERT_TRUE(QueueReaches(1));
    EXPECT_EQ(port.TakeLineErrors(), TComErrors{TComError::ceFrame});
}

// A write that returned counts as sent: clearing the output afterwards must not take back
// what the other end has not read yet (the bootloader's wake-up is purged this way).
TEST_F(PtyPort, ClearingTheOutputKeepsWhatWritesHandedOver)
{
    port.Open();
    EXPECT_EQ(port.WriteStr(QByteArray("\x1bU\x1b")), 3);
    port.PurgeBuffers(true, true);
    EXPECT_EQ(pty.Receive(3), QByteArray("\x1bU\x1b"));
}

TEST_F(PtyPort, QueueCountPurgeAndDiscardNull)
{
    port.Open();
    pty.Send(QByteArray("a\0b", 3));
    ASSERT_TRUE(QueueReaches(3));
    EXPECT_EQ(port.InputQueueCount(), 3);
    port.PurgeBuffers(true, false);
    EXPECT_EQ(port.InputQueueCount(), 0);

    // Discarded NULs go on arrival: the count is what a read gets.
    port.SetDiscardNull(true);
    pty.Send(QByteArray("a\0b\0", 4));
    ASSERT_TRUE(QueueReaches(2));
    EXPECT_EQ(port.InputQueueCount(), 2);
    char buf[4] = {};
    EXPECT_EQ(port.Read(buf, 4), 2);
    EXPECT_EQ(QByteArray(buf, 2), "ab");

    // Only NULs received: nothing was read, and the first byte keeps its "nothing" mark.
    pty.Send(QByteArray(3, '\0'));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(port.InputQueueCount(), 0);
    buf[0] = 'x';
    EXPECT_EQ(port.Read(buf, 1), 0);
    EXPECT_EQ(uint8_t(buf[0]), 0xFF);
}

TEST_F(PtyPort, WritesReachTheOtherEnd)
{
    port.Open();
    EXPECT_EQ(port.WriteStr("hello"), 5);
    EXPECT_EQ(pty.Receive(5), "hello");
    EXPECT_EQ(port.Write("", 0), 0);

    // More than the terminal buffers at once: the write waits for the reader.
    QByteArray big(200000, 'z');
    for (int i = 0; i < big.size(); ++i)
        big[i] = char('a' + i % 26);
    auto reader = RunAside([&] { return pty.Receive(int(big.size())); });
    EXPECT_EQ(port.Write(big.constData(), int(big.size())), big.size());
    ASSERT_TRUE(EndsWithin(reader, 10s));
    EXPECT_TRUE(reader.get() == big);
}

TEST_F(PtyPort, WriteTimeoutGivesAShortCount)
{
    port.Timeouts()->SetWriteTotalMultiplier(0);
    port.Timeouts()->SetWriteTotalConstant(200);
    port.Open();
    QByteArray big(1 << 20, 'x');   // nobody reads: the write cannot finish
    QElapsedTimer clock;
    clock.start();
    const int written = port.Write(big.constData(), int(big.size()));
    EXPECT_GT(written, 0);
    EXPECT_LT(written, big.size());
    EXPECT_GE(clock.elapsed(), 150);
    EXPECT_LE(clock.elapsed(), 3000);
}

TEST_F(PtyPort, ReadAndWriteRunOnTwoThreadsAtOnce)
{
    SetReadTimeouts(0, 0, 2000);
    port.Open();
    auto echo = RunAside([&] { pty.Send(pty.Receive(4)); });
    char buf[4] = {};
    auto reader = RunAside([&] { return port.Read(buf, 4); });
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(port.Write("ping", 4), 4);
    ASSERT_TRUE(EndsWithin(reader, 5s));
    EXPECT_EQ(reader.get(), 4);
    EXPECT_EQ(QByteArray(buf, 4), "ping");
    echo.get();
}

TEST_F(PtyPort, CancelRequestsWakesABlockedReadAtOnce)
{
    SetReadTimeouts(0, 0, 0);   // would wait for ever
    port.Open();
    char buf[4];
    auto reader = RunAside([&] { return CodeOf([&] { port.Read(buf, 4); }); });
    std::this_thread::sleep_for(100ms);
    ASSERT_FALSE(EndsWithin(reader, 0ms));
    port.CancelRequests();
    ASSERT_TRUE(EndsWithin(reader, 2s));
    EXPECT_EQ(reader.get(), 3);
    // Later requests are not affected.
    SetReadTimeouts(0, 0, 100);
    pty.Send("k");
    EXPECT_EQ(port.Read(buf, 1), 1);
}

TEST_F(PtyPort, CloseWakesABlockedReadOnAnotherThread)
{
    SetReadTimeouts(0, 0, 0);
    port.Open();
    char buf[4];
    auto reader = RunAside([&] { return CodeOf([&] { port.Read(buf, 4); }); });
    std::this_thread::sleep_for(100ms);
    port.Close();
    ASSERT_TRUE(EndsWithin(reader, 2s));
    EXPECT_EQ(reader.get(), 3);
    EXPECT_FALSE(port.Connected());
}

TEST_F(PtyPort, HangupInTheMiddleOfAReadFailsIt)
{
    SetReadTimeouts(0, 0, 0);
    port.Open();
    char buf[4];
    auto reader = RunAside([&] { return CodeOf([&] { port.Read(buf, 4); }); });
    std::this_thread::sleep_for(100ms);
    pty.CloseMaster();
    ASSERT_TRUE(EndsWithin(reader, 2s));
    EXPECT_EQ(reader.get(), 3);
    // The device stays gone: the next read fails at once instead of spinning or waiting,
    // and on the port's own thread the port closes the device; a closed port's reads report
    // nothing.
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(CodeOf([&] { port.Read(buf, 4); }), 3);
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Read(buf, 4), 0);
    EXPECT_LT(clock.elapsed(), 1000);
}

// An unplugged adapter: the name (a link, as the system's by-id names are) stays, the device
// behind it goes and perhaps comes back as a new one.
TEST_F(PtyPort, AGoneDeviceIsClosedWithItsNotificationsAndOpenedAgainByName)
{
    QTemporaryDir dir;
    const QString link = dir.filePath(QStringLiteral("by-id-adapter"));
    ASSERT_TRUE(QFile::link(pty.SlaveName(), link));
    port.SetPort(link);
    port.Open();
    TComLink comLink;
    std::vector<bool> states;
    comLink.OnConnectionChange = [&](QObject*, bool on) { states.push_back(on); };
    port.AttachLink(&comLink);
    int afterClose = 0;
    port.OnAfterClose = [&](QObject*) { ++afterClose; };
    int lost = 0;
    port.OnDeviceLost = [&](QObject*) {
        EXPECT_EQ(afterClose, 1);   // told once the port is closed
        ++lost;
    };

    pty.CloseMaster();
    EXPECT_EQ(CodeOf([&] { port.WriteStr("ab"); }), 2);
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(states, std::vector<bool>{false});
    EXPECT_EQ(afterClose, 1);
    EXPECT_EQ(lost, 1);

    // Not back: the open fails as for any missing port.
    QFile::remove(link);
    EXPECT_EQ(CodeOf([&] { port.Open(); }), 1);

    PtyPair again;
    ASSERT_TRUE(QFile::link(again.SlaveName(), link));
    port.Open();
    EXPECT_EQ(port.WriteStr("cd"), 2);
    EXPECT_EQ(again.Receive(2), "cd");
    port.DetachLink(&comLink);
    // The fixture closes the port after this body's locals are gone.
    port.OnAfterClose = nullptr;
    port.OnDeviceLost = nullptr;
}

// The kernel's console and a line a login program holds are never taken, however they are
// named: on a server or a board the first start's "COM1" is often one of them. Which device
// is which comes from a sysfs and /proc tree of the test's own.
TEST_F(PtyPort, TheConsoleAndLoginLinesAreNotOpened)
{
    struct stat st {};
    ASSERT_EQ(::stat(pty.SlaveName().toLocal8Bit().constData(), &st), 0);
    const QByteArray number = QByteArray::number(major(st.st_rdev)) + ':' + QByteArray::number(minor(st.st_rdev));
    auto put = [](const QString& path, const QByteArray& text) {
        QDir().mkpath(QFileInfo(path).path());
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
    };
    const struct {
        const char* name;
        std::function<bool(const QString& root)> make;
        int code;
    } cases[] = {
        {"console", [&](const QString& r) { return put(r + "/class/tty/console/active", "tty0 ttyS0\n") && put(r + "/class/tty/ttyS0/dev", number + '\n'); }, 1},
        {"login line", [&](const QString& r) { return put(r + "/proc/812/comm", "agetty\n") && QDir().mkpath(r + "/proc/812/fd")
                                                      && QFile::link(pty.SlaveName(), r + "/proc/812/fd/0"); }, 1},
        {"other console, other program", [&](const QString& r) { return put(r + "/class/tty/console/active", "ttyS0\n") && put(r + "/class/tty/ttyS0/dev", "4:64\n")
                                                      && put(r + "/proc/812/comm", "minicom\n") && QDir().mkpath(r + "/proc/812/fd")
                                                      && QFile::link("/dev/null", r + "/proc/812/fd/0"); }, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir t;
        const QString r = t.path();
        ASSERT_TRUE(c.make(r));
        const ComDeviceFactory previous = SetComDeviceFactory([r] {
            return std::make_unique<PosixComDevice>(PortDetailsRoots{r + "/class/tty", r + "/by-id", r + "/proc"});
        });
        TComPort other;
        SetComDeviceFactory(previous);
        other.SetPort(pty.SlaveName());
        EXPECT_EQ(CodeOf([&] { other.Open(); }), c.code);
        EXPECT_EQ(other.Connected(), c.code == 0);
    }
}

TEST_F(PtyPort, BytesReceivedBeforeAHangupAreNotLost)
{
    SetReadTimeouts(0, 0, 0);
    port.Open();
    char buf[8] = {};
    auto reader = RunAside([&] { return port.Read(buf, 8); });
    std::this_thread::sleep_for(50ms);
    pty.Send("abc");
    std::this_thread::sleep_for(100ms);
    pty.CloseMaster();
    ASSERT_TRUE(EndsWithin(reader, 2s));
    EXPECT_EQ(reader.get(), 3);
    EXPECT_EQ(QByteArray(buf, 3), "abc");
}

TEST_F(PtyPort, HangupInTheMiddleOfAWriteFailsIt)
{
    port.Timeouts()->SetWriteTotalMultiplier(0);
    port.Timeouts()->SetWriteTotalConstant(0);   // no limit
    port.Open();
    QByteArray big(1 << 20, 'x');
    auto writer = RunAside([&] { return CodeOf([&] { port.Write(big.constData(), int(big.size())); }); });
    std::this_thread::sleep_for(200ms);
    ASSERT_FALSE(EndsWithin(writer, 0ms));
    pty.CloseMaster();
    ASSERT_TRUE(EndsWithin(writer, 2s));
    EXPECT_EQ(writer.get(), 2);
}
