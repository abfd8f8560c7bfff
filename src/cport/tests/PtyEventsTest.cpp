// Event delivery on real pseudo-terminals: bursts reaching two links and the handler once
// each with the busy notifications around them, delivery on the owning thread, the empty
// output queue after a write, disabled delivery, the event character, discarded NULs, the
// queue 80 % full, closing while bytes keep coming, and a device that hangs up while its
// bytes are delivered.
#include "EventTestSupport.h"
#include "testsupport/PtyPair.h"
#include "cport/ComPort.h"

#include <QDeadlineTimer>
#include <QThread>

#include <atomic>
#include <thread>

#include <gtest/gtest.h>

using namespace zentrop;

namespace {

class PtyEvents : public ::testing::Test {
protected:
    PtyEvents()
    {
        EnsureApplication();
        port.SetPort(pty.SlaveName());
        port.SetBaudRate(TBaudRate::br115200);
        port.SetEvents(AllComEvents);
    }

    // A link that keeps what it was told and notes whether it ran off the owning thread.
    TComLink* RecordingLink(QByteArray& Data, QStringList& Busy)
    {
        auto* l = links.emplace_back(std::make_unique<TComLink>()).get();
        l->OnRxData = [this, &Data](QObject*, const char* b, int n) {
            Data.append(b, n);
            offOwner = offOwner || QThread::currentThread() != qApp->thread();
        };
        l->OnRxBusy = [&Busy](QObject*, bool on) { Busy.append(on ? "on" : "off"); };
        port.AttachLink(l);
        return l;
    }

    PtyPair pty;
    std::vector<std::unique_ptr<TComLink>> links;
    std::atomic<bool> offOwner{false};
    TComPort port;
};

TEST_F(PtyEvents, BurstsReachEveryLinkAndTheHandlerOnceOnTheOwningThread)
{
    ASSERT_TRUE(pty.Valid());
    QByteArray first, second, handler;
    QStringList firstBusy, secondBusy;
    RecordingLink(first, firstBusy);
    RecordingLink(second, secondBusy);
    port.OnRxBuf = [&](QObject*, const char* b, int n) { handler.append(b, n); };
    port.Open();

    QByteArray sent;
    for (int burst = 0; burst < 20; ++burst) {
        const QByteArray bytes(1 + burst * 97 % 700, char('a' + burst));
        pty.Send(bytes);
        sent += bytes;
        if (burst % 5 == 0)
            QThread::msleep(2);
    }
    ASSERT_TRUE(ServeUntil([&] { return handler.size() >= sent.size(); }));
    EXPECT_EQ(handler, sent);
    EXPECT_EQ(first, sent);
    EXPECT_EQ(second, sent);
    EXPECT_FALSE(offOwner);
    // Busy on every arrival, not busy only once a read has emptied the queue: more bytes
    // may arrive during a read, and then the next arrival is busy again.
    ASSERT_FALSE(firstBusy.isEmpty());
    EXPECT_EQ(firstBusy, secondBusy);
    EXPECT_EQ(firstBusy.front(), "on");
    EXPECT_EQ(firstBusy.back(), "off");
    EXPECT_FALSE(firstBusy.join(' ').contains("off off"));
    port.Close();
}

TEST_F(PtyEvents, AWriteIsBusyUntilTheOutputQueueRunsEmpty)
{
    ASSERT_TRUE(pty.Valid());
    QStringList seen;
    TComLink link;
    link.OnTxBusy = [&](QObject*, bool on) { seen.append(on ? "TxBusy on" : "TxBusy off"); };
    link.OnTxQueueEmpty = [&](QObject*) { seen.append("TxQueueEmpty"); };
    port.AttachLink(&link);
    port.OnTxEmpty = [&](QObject*) { seen.append("TxEmpty"); };
    port.Open();
    port.WriteStr("ping");
    ASSERT_TRUE(ServeUntil([&] { return seen.contains("TxEmpty"); }));
    EXPECT_EQ(seen, QStringList({"TxBusy on", "TxBusy off", "TxQueueEmpty", "TxEmpty"}));
    EXPECT_EQ(pty.Receive(4), "ping");
    port.Close();
    port.DetachLink(&link);
}

TEST_F(PtyEvents, DisabledDeliveryLeavesTheBytesForRead)
{
    ASSERT_TRUE(pty.Valid());
    port.SetEvents({TComEvent::evRxChar});
    port.SetSyncMethod(TSyncMethod::smDisableEvents);
    bool called = false;
    port.OnRxChar = [&](QObject*, int) { called = true; };
    port.Open();
    pty.Send("abc");
    ASSERT_TRUE(ServeUntil([&] { return port.InputQueueCount() == 3; }));
    QThread::msleep(20);
    QCoreApplication::processEvents();
    EXPECT_FALSE(called);
    char buf[3];
    EXPECT_EQ(port.Read(buf, 3), 3);
    port.Close();
}

// The event character is reported once, on its arrival, while the bytes around it come out in
// order and are counted and purged like any others.
TEST_F(PtyEvents, TheEventCharacterIsReportedOnceAndLeavesTheBytesInOrder)
{
    ASSERT_TRUE(pty.Valid());
    port.SetEventChar('\n');
    int flags = 0, linkFlags = 0;
    port.OnRxFlag = [&](QObject*) { ++flags; };
    TComLink link;
    link.OnRxEventChar = [&](QObject*) { ++linkFlags; };
    port.AttachLink(&link);
    port.Open();
    pty.Send("ab");
    ASSERT_TRUE(ServeUntil([&] { return port.InputQueueCount() == 2; }));
    pty.Send("c\nd");
    ASSERT_TRUE(ServeUntil([&] { return flags > 0 && port.InputQueueCount() == 5; }));
    QByteArray got(5, 0);
    EXPECT_EQ(port.Read(got.data(), 5), 5);
    EXPECT_EQ(got, "abc\nd");
    pty.Send("e\n");
    ASSERT_TRUE(ServeUntil([&] { return flags > 1 && port.InputQueueCount() == 2; }));
    port.PurgeBuffers(true, false);
    EXPECT_EQ(port.InputQueueCount(), 0);
    pty.Send("f");
    ASSERT_TRUE(ServeUntil([&] { return port.InputQueueCount() == 1; }));
    EXPECT_EQ(port.Read(got.data(), 5), 1);
    EXPECT_EQ(got.front(), 'f');
    EXPECT_EQ(flags, 2);
    EXPECT_EQ(linkFlags, 2);
    port.Close();
    port.DetachLink(&link);
}

// With NULs discarded an arrival is read as what is left of it, at once, even under read
// time-outs that wait for the full count; an arrival of only NULs is not delivered. Should
// a read wait for the NULs after all, the other end sends "!" after a while to free it.
TEST_F(PtyEvents, DiscardedNulsAreNeitherWaitedForNorDelivered)
{
    ASSERT_TRUE(pty.Valid());
    port.SetDiscardNull(true);
    port.Timeouts()->SetReadInterval(0);
    port.Timeouts()->SetReadTotalMultiplier(0);
    port.Timeouts()->SetReadTotalConstant(0);
    QByteArray data;
    int empty = 0;
    TComLink link;
    link.OnRxData = [&](QObject*, const char* b, int n) {
        data.append(b, n);
        empty += n == 0;
    };
    port.AttachLink(&link);
    port.OnRxBuf = [&](QObject*, const char*, int n) { empty += n == 0; };
    port.Open();
    std::jthread rescue([this](std::stop_token stop) {
        const QDeadlineTimer patience(5000);
        while (!stop.stop_requested() && !patience.hasExpired())
            QThread::msleep(10);
        for (; !stop.stop_requested(); QThread::msleep(100))
            pty.Send("!!!!");
    });
    pty.Send(QByteArray("a\0b\0c", 5));
    ASSERT_TRUE(ServeUntil([&] { return data.size() >= 3; }));
    pty.Send(QByteArray(3, '\0'));
    const QDeadlineTimer settle(100);
    ServeUntil([&] { return settle.hasExpired(); });
    pty.Send("d");
    ASSERT_TRUE(ServeUntil([&] { return data.endsWith('d') || data.contains('!'); }));
    EXPECT_EQ(data, "abcd");
    EXPECT_EQ(empty, 0);
    port.Close();
    port.DetachLink(&link);
    port.OnRxBuf = nullptr;
}

// The input queue counts as 80 % full by the size the port gave it.
TEST_F(PtyEvents, TheInputQueueIsFullAtEightyPercentOfItsSize)
{
    ASSERT_TRUE(pty.Valid());
    port.Buffer()->SetInputSize(1024);
    std::atomic<int> full{0};
    port.OnRx80Full = [&](QObject*) { ++full; };
    port.Open();
    pty.Send(QByteArray(900, 'x'));
    EXPECT_TRUE(ServeUntil([&] { return full > 0; }));
    port.Close();
    port.OnRx80Full = nullptr;
}

// The other end keeps sending while the port closes: once Close has begun, at most the
// delivery in progress (and one that started just before the stop) still runs, instead of
// every arrival that keeps coming.
TEST_F(PtyEvents, CloseEndsDeliveryWhileBytesKeepArriving)
{
    for (TSyncMethod method : {TSyncMethod::smThreadSync, TSyncMethod::smWindowSync, TSyncMethod::smNone}) {
        SCOPED_TRACE(static_cast<int>(method));
        port.SetSyncMethod(method);
        port.SetAnnounceRxCount(false);
        std::atomic<int> deliveries{0}, duringClose{0};
        std::atomic<bool> closing{false};
        port.OnRxBuf = [&](QObject*, const char*, int) {
            ++deliveries;
            if (closing)
                ++duringClose;
            QThread::msleep(1);
        };
        port.OnBeforeClose = [&](QObject*) { closing = true; };
        port.Open();
        std::jthread peer([&](std::stop_token stop) {
            while (!stop.stop_requested()) {
                pty.Send("x");
                QThread::usleep(200);
            }
        });
        ASSERT_TRUE(ServeUntil([&] { return deliveries > 20; }));
        port.Close();
        EXPECT_LE(duringClose, 2);
    }
    port.OnRxBuf = nullptr;
    port.OnBeforeClose = nullptr;
}

// The other end goes away while its bytes are being delivered: the handler's read fails with
// the read error, the thread ends, and the port closes itself with the close's notifications;
// closing again afterwards neither hangs nor fails.
TEST_F(PtyEvents, AHangupDuringDeliveryFailsTheReadAndClosesThePort)
{
    for (TSyncMethod method : {TSyncMethod::smNone, TSyncMethod::smThreadSync}) {
        SCOPED_TRACE(static_cast<int>(method));
        PtyPair unplugged;
        ASSERT_TRUE(unplugged.Valid());
        port.SetPort(unplugged.SlaveName());
        port.SetSyncMethod(method);
        // Watching the event character takes bytes from the driver as they arrive; they
        // would then be read before the hangup, not fail with it.
        port.SetEvents(AllComEvents - TComEvents{TComEvent::evRxFlag});
        // The master goes on the thread that wrote to it; a handler on the event thread
        // waits until it has gone.
        std::atomic<bool> inHandler{false};
        std::atomic<bool> gone{false};
        std::atomic<int> readError{0};
        int afterClose = 0;
        port.OnRxChar = [&](QObject*, int count) {
            if (QThread::currentThread() == qApp->thread()) {
                unplugged.CloseMaster();
            } else {
                inHandler = true;
                while (!gone)
                    QThread::msleep(1);
            }
            QByteArray buf(count, 0);
            try {
                port.Read(buf.data(), count);
            } catch (const EComPort& e) {
                readError = e.Code();
                throw;
            }
        };
        port.OnAfterClose = [&](QObject*) { ++afterClose; };
        port.Open();
        unplugged.Send("data");
        // The port closes itself, which also frees its event thread: only the port is
        // looked at from here on.
        ASSERT_TRUE(ServeUntil([&] {
            if (inHandler && !gone) {
                unplugged.CloseMaster();
                gone = true;
            }
            return !port.Connected();
        }));
        EXPECT_EQ(readError, ComErr::ReadFailed);
        EXPECT_EQ(afterClose, 1);
        EXPECT_EQ(port.EventWatcher(), nullptr);
        port.Close();
        EXPECT_FALSE(port.Connected());
        EXPECT_EQ(afterClose, 1);
        port.OnAfterClose = nullptr;
    }
}

} // namespace
