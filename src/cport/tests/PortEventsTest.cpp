// Event delivery against the recording device: the order of one batch, what an arrival
// gives by AnnounceRxCount and links, the thread each delivery method runs on, the
// exception rules, closing from a handler, from other threads and during delivery, and
// detaching links while they are called.
#include "ComThread.h"
#include "EventTestSupport.h"
#include "PortFixture.h"
#include "base/SyncQueue.h"

#include <QDeadlineTimer>
#include <QRegularExpression>
#include <QThread>

#include <atomic>
#include <cerrno>
#include <future>

using namespace zentrop;

using namespace EventMask;

namespace {

class PortEvents : public PortFixture {
protected:
    PortEvents()
    {
        EnsureApplication();
        port.SetEvents(AllComEvents);
        port.OnRxChar = [this](QObject*, int n) { Note("RxChar " + QString::number(n)); };
        port.OnRxBuf = [this](QObject*, const char* b, int n) { Note("RxBuf " + QString::fromLatin1(b, n)); };
        port.OnError = [this](QObject*, TComErrors e) { Note("Error " + QString::number(e.ToBits())); };
        port.OnCTSChange = [this](QObject*, bool on) { Note(on ? "CTS on" : "CTS off"); };
        port.OnTxEmpty = [this](QObject*) { Note("TxEmpty"); };
    }
    // The handlers use this fixture's members: the port closes while they are there.
    ~PortEvents() override { port.Close(); }

    // Notes a line once the port is open, with the thread it ran on.
    void Note(const QString& Line)
    {
        if (!port.Connected())
            return;
        if (QThread::currentThread() != qApp->thread())
            offOwner = true;
        dev->Note(Line);
    }

    QStringList Delivered() const
    {
        QStringList out;
        for (const QString& c : dev->Calls())
            if (!c.contains(QRegularExpression("^(ClearCommError|ReadFile|GetOverlappedResult|GetCommModemStatus)")))
                out.append(c);
        return out;
    }

    TComLink* DataLink(const char* Name)
    {
        auto* l = links.emplace_back(std::make_unique<TComLink>()).get();
        const QString name = QString::fromLatin1(Name);
        l->OnRxData = [this, name](QObject*, const char* b, int n) {
            Note(name + " RxData " + QString::fromLatin1(b, n));
        };
        l->OnRxBusy = [this, name](QObject*, bool on) { Note(name + (on ? " RxBusy on" : " RxBusy off")); };
        port.AttachLink(l);
        return l;
    }

    void OpenQuietly()
    {
        port.Open();
        dev->ClearCalls();
    }

    std::atomic<bool> offOwner{false};
};

TEST_F(PortEvents, OneBatchIsProcessedInFixedOrderOnTheThreadItsMethodNames)
{
    struct Case {
        TSyncMethod method;
        bool onOwner;
    };
    for (const Case c : {Case{TSyncMethod::smThreadSync, true}, Case{TSyncMethod::smWindowSync, true},
                         Case{TSyncMethod::smNone, false}}) {
        SCOPED_TRACE(static_cast<int>(c.method));
        port.Close();
        port.SetSyncMethod(c.method);
        offOwner = false;
        OpenQuietly();
        dev->SetLineErrors(CE_FRAME);
        dev->SetModemStatus(MS_CTS_ON);
        dev->Receive("abc");
        dev->RaiseEvents(EV_RXCHAR | EV_CTS | EV_TXEMPTY | EV_ERR);
        ASSERT_TRUE(ServeUntil([&] { return Delivered().contains("CTS on"); }));
        EXPECT_EQ(Delivered(), Strings({"Error 1", "RxChar 3", "TxEmpty", "CTS on"}));
        EXPECT_EQ(bool(offOwner), !c.onOwner);
    }
}

TEST_F(PortEvents, AnArrivalIsReadOnceForEveryLinkOrAnnouncedByCount)
{
    struct Case {
        bool announce;
        int dataLinks;
        QStringList expected;
    };
    const Case cases[] = {
        {true, 0, Strings({"RxChar 5"})},
        {false, 0, Strings({"RxBuf hello"})},
        // The read that empties the queue tells the links before they get the bytes.
        {true, 2, Strings({"a RxBusy on", "b RxBusy on", "a RxBusy off", "b RxBusy off",
                           "RxBuf hello", "a RxData hello", "b RxData hello"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected.join(", ").toStdString());
        port.Close();
        for (auto& l : links)
            port.DetachLink(l.get());
        links.clear();
        port.SetAnnounceRxCount(c.announce);
        if (c.dataLinks)
            DataLink("a"), DataLink("b");
        OpenQuietly();
        dev->Receive("hello");
        dev->RaiseEvents(EV_RXCHAR);
        ASSERT_TRUE(ServeUntil([&] { return Delivered().size() >= c.expected.size(); }));
        EXPECT_EQ(Delivered(), c.expected);
        // Reading is one request however many links want the bytes.
        EXPECT_EQ(dev->Calls().filter("ReadFile").size(), c.expected.contains("RxChar 5") ? 0 : 1);
    }
}

TEST_F(PortEvents, AnErrorThatCameWithDataStillReachesOnError)
{
    // The arrival's queue count comes before the error's own report.
    OpenQuietly();
    dev->SetLineErrors(CE_FRAME);
    dev->Receive("abc");
    dev->RaiseEvents(EV_RXCHAR);
    ASSERT_TRUE(ServeUntil([&] { return Delivered().contains("RxChar 3"); }));
    dev->RaiseEvents(EV_ERR);
    ASSERT_TRUE(ServeUntil([&] { return Delivered().size() >= 2; }));
    EXPECT_EQ(Delivered(), Strings({"RxChar 3", "Error 1"}));
}

TEST_F(PortEvents, DisabledDeliveryLeavesArrivedBytesInTheQueue)
{
    port.SetSyncMethod(TSyncMethod::smDisableEvents);
    OpenQuietly();
    dev->Receive("abc");
    dev->RaiseEvents(EV_RXCHAR);
    dev->RaiseEvents(EV_CTS);
    QThread::msleep(50);
    QCoreApplication::processEvents();
    EXPECT_TRUE(Delivered().isEmpty());
    EXPECT_EQ(port.InputQueueCount(), 3);
}

TEST_F(PortEvents, AnExceptionEndsTheThreadUnlessDeliveryIsByWindow)
{
    for (TSyncMethod method : {TSyncMethod::smThreadSync, TSyncMethod::smNone}) {
        port.Close();
        port.SetSyncMethod(method);
        port.OnTxEmpty = [](QObject*) { throw EComPort("COM6", ComErr::WriteFailed); };
        OpenQuietly();
        dev->RaiseEvents(EV_TXEMPTY);
        TComThread* thread = port.EventWatcher();
        ASSERT_TRUE(ServeUntil([&] { return thread->Ended(); }));
        ASSERT_TRUE(thread->FatalException());
        try {
            std::rethrow_exception(thread->FatalException());
        } catch (const EComPort& e) {
            EXPECT_EQ(e.Code(), ComErr::WriteFailed);
        }
    }

    // Under window delivery every exception is shown, one not derived from std::exception too.
    static QStringList shown;
    const auto previous = TCustomComPort::SetLoadErrorHandler([](const Exception& e) { shown.append(e.Message()); });
    port.Close();
    port.SetSyncMethod(TSyncMethod::smWindowSync);
    port.OnBreak = [](QObject*) { throw 42; };
    OpenQuietly();
    dev->RaiseEvents(EV_TXEMPTY);
    dev->RaiseEvents(EV_BREAK);
    dev->RaiseEvents(EV_TXEMPTY);
    ASSERT_TRUE(ServeUntil([&] { return shown.size() == 3; }));
    EXPECT_FALSE(port.EventWatcher()->Ended());
    EXPECT_EQ(shown.front(), "COM6 Error: WriteFile function failed");
    EXPECT_EQ(shown[1], "An event handler raised an exception of unknown type");
    TCustomComPort::SetLoadErrorHandler(previous);
}

TEST_F(PortEvents, AFailedWaitEndsTheThreadQuietly)
{
    OpenQuietly();
    dev->FailWait(EIO);
    ASSERT_TRUE(ServeUntil([&] { return port.EventWatcher()->Ended(); }));
    EXPECT_FALSE(port.EventWatcher()->FatalException());
    port.Close();
    EXPECT_FALSE(port.Connected());
}

TEST_F(PortEvents, CloseFromAHandlerEndsDeliveryAndTheNextOpenDeliversAgain)
{
    std::atomic<int> closes{0};
    for (TSyncMethod method : {TSyncMethod::smThreadSync, TSyncMethod::smWindowSync, TSyncMethod::smNone}) {
        SCOPED_TRACE(static_cast<int>(method));
        port.Close();
        port.SetSyncMethod(method);
        closes = 0;
        port.OnRxChar = [&](QObject*, int) { port.Close(); };
        port.OnAfterClose = [&](QObject*) { ++closes; };
        OpenQuietly();
        dev->Receive("x");
        dev->RaiseEvents(EV_RXCHAR | EV_TXEMPTY);
        ASSERT_TRUE(ServeUntil([&] { return closes == 1; }));
        // The rest of the batch is dropped once the port is closed, whatever the method.
        EXPECT_FALSE(Delivered().contains("TxEmpty"));
        EXPECT_FALSE(port.Connected());

        port.OnRxChar = [this](QObject*, int n) { Note("RxChar " + QString::number(n)); };
        OpenQuietly();
        dev->Receive("y");
        dev->RaiseEvents(EV_RXCHAR);
        ASSERT_TRUE(ServeUntil([&] { return Delivered().contains("RxChar 1"); }));
    }
    port.Close();
    port.OnAfterClose = nullptr;
}

TEST_F(PortEvents, CloseRunsADeliveryTheThreadHasStarted)
{
    OpenQuietly();
    dev->Receive("abc");
    dev->RaiseEvents(EV_RXCHAR);
    // The thread waits for the owning thread, which has not served its events yet.
    TSyncQueue* queue = nullptr;
    for (QObject* child : port.children())
        queue = queue ? queue : dynamic_cast<TSyncQueue*>(child);
    ASSERT_TRUE(queue);
    const QDeadlineTimer deadline(20000);
    while (queue->Waiting() == 0 && !deadline.hasExpired())
        QThread::msleep(1);
    port.OnBeforeClose = [this](QObject*) { Note("BeforeClose"); };
    port.Close();
    EXPECT_EQ(Delivered(), Strings({"CTS off", "BeforeClose", "PurgeComm 3", "RxChar 3", "SetCommMask 0",
                                    "PurgeComm 12", "Close"}));
}

TEST_F(PortEvents, CloseFromAnotherThreadWhileTheOwnerServes)
{
    OpenQuietly();
    dev->Receive("abc");
    dev->RaiseEvents(EV_RXCHAR);
    auto closing = std::async(std::launch::async, [this] { port.Close(); });
    ASSERT_TRUE(ServeUntil([&] {
        return closing.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready;
    }));
    EXPECT_FALSE(port.Connected());
    EXPECT_TRUE(Delivered().contains("RxChar 3") || !Delivered().contains("RxChar"));
}

// Several threads close at once, the owning one among them, while the event thread waits for
// a delivery: one closes, the others return once it has, and nothing crashes.
TEST_F(PortEvents, ConcurrentClosesCloseOnce)
{
    std::atomic<int> closes{0};
    port.OnAfterClose = [&](QObject*) { ++closes; };
    for (TSyncMethod method : {TSyncMethod::smThreadSync, TSyncMethod::smWindowSync, TSyncMethod::smNone}) {
        SCOPED_TRACE(static_cast<int>(method));
        port.SetSyncMethod(method);
        for (int trial = 0; trial < 40; ++trial) {
            closes = 0;
            OpenQuietly();
            dev->Receive("x");
            dev->RaiseEvents(EV_RXCHAR);
            auto first = std::async(std::launch::async, [this] { port.Close(); });
            auto second = std::async(std::launch::async, [this] { port.Close(); });
            port.Close();
            ASSERT_TRUE(ServeUntil([&] {
                return first.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready
                       && second.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready;
            }));
            EXPECT_FALSE(port.Connected());
            EXPECT_EQ(closes, 1);
        }
    }
    port.OnAfterClose = nullptr;
}

// Close on another thread under window delivery returns only after the handler the owning
// thread runs has ended: the device stays open and unpurged for the handler's read.
TEST_F(PortEvents, CloseOnAnotherThreadWaitsForTheWindowDeliveryInProgress)
{
    port.SetSyncMethod(TSyncMethod::smWindowSync);
    std::atomic<bool> inHandler{false}, closing{false};
    std::atomic<int> got{-1};
    port.OnBeforeClose = [&](QObject*) { closing = true; };
    port.OnRxChar = [&](QObject*, int count) {
        inHandler = true;
        while (!closing)
            QThread::msleep(1);
        // Long enough for a Close that does not wait to have ended.
        QThread::msleep(100);
        char buf[8];
        got = port.Read(buf, count);
        dev->Note("handler end");
    };
    port.OnAfterClose = [&](QObject*) { dev->Note("AfterClose"); };
    OpenQuietly();
    dev->Receive("abc");
    dev->RaiseEvents(EV_RXCHAR);
    auto closer = std::async(std::launch::async, [&] {
        while (!inHandler)
            QThread::msleep(1);
        port.Close();
    });
    ASSERT_TRUE(ServeUntil([&] {
        return closer.wait_for(std::chrono::milliseconds(0)) == std::future_status::ready;
    }));
    EXPECT_EQ(got, 3);
    const QStringList calls = dev->Calls();
    EXPECT_LT(calls.indexOf("handler end"), calls.indexOf("PurgeComm 12"));
    EXPECT_LT(calls.indexOf("handler end"), calls.indexOf("AfterClose"));
    port.OnAfterClose = nullptr;
}

// A slot on the event thread may wait for the owning thread (to reach a widget there):
// detaching its link on the owning thread must not wait for that slot, and freeing the link
// then is safe while the slot still runs.
TEST_F(PortEvents, DetachingDoesNotWaitForASlotThatWaitsForTheDetachingThread)
{
    port.SetSyncMethod(TSyncMethod::smNone);
    std::atomic<bool> inSlot{false}, detached{false}, gaveUp{false};
    auto waiting = std::make_unique<TComLink>();
    waiting->OnRxData = [&](QObject*, const char*, int) {
        inSlot = true;
        const QDeadlineTimer patience(5000);
        while (!detached && !patience.hasExpired())
            QThread::msleep(1);
        gaveUp = !detached;
    };
    port.AttachLink(waiting.get());
    OpenQuietly();
    dev->Receive("x");
    dev->RaiseEvents(EV_RXCHAR);
    ASSERT_TRUE(ServeUntil([&] { return bool(inSlot); }));
    port.DetachLink(waiting.get());
    waiting.reset();
    detached = true;
    port.Close();
    EXPECT_FALSE(gaveUp);
}

TEST_F(PortEvents, LinksDetachedDuringDeliveryAreNotCalledAndAttachedOnesWaitForTheNext)
{
    TComLink* first = DataLink("a");
    TComLink* second = DataLink("b");
    TComLink late;
    late.OnRxData = [this](QObject*, const char*, int) { Note("late RxData"); };
    first->OnRxData = [&](QObject*, const char*, int) {
        Note("a RxData");
        if (second) {
            port.DetachLink(std::exchange(second, nullptr));
            port.AttachLink(&late);
        }
    };
    OpenQuietly();
    dev->Receive("1");
    dev->RaiseEvents(EV_RXCHAR);
    ASSERT_TRUE(ServeUntil([&] { return Delivered().contains("a RxData"); }));
    dev->Receive("2");
    dev->RaiseEvents(EV_RXCHAR);
    ASSERT_TRUE(ServeUntil([&] { return Delivered().contains("late RxData"); }));
    EXPECT_FALSE(Delivered().contains("b RxData 1"));
    port.Close();
    port.DetachLink(&late);
}

} // namespace

namespace {

// A port destroyed while its thread waits for the owner to deliver, and whose close fails:
// the destructor still serves that delivery and stops the thread instead of waiting forever.
TEST(PortEventsDestruction, AFailedCloseStillStopsTheThread)
{
    EnsureApplication();
    auto device = std::make_unique<RecordingComDevice>();
    RecordingComDevice* dev = device.get();
    {
        TComPort port;
        port.SetDevice(std::move(device));
        port.SetPort(QStringLiteral("COM6"));
        port.Open();
        dev->Receive("x");
        dev->RaiseEvents(EV_RXCHAR);
        // The thread now waits for the owning thread to deliver.
        QThread::msleep(20);
        dev->Fail(QStringLiteral("PurgeComm"), EIO);
    }
    SUCCEED();
}

} // namespace
