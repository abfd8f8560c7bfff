// Opening and closing against the recording device: the order of calls and callbacks, the
// event thread's start, failures while opening and closing, and the component states.
#include "PortFixture.h"

#include "base/Debug.h"

#include <QRegularExpression>

#include <cerrno>

using namespace zentrop;

TEST_F(PortFixture, OpenAndCloseRunEveryStepInOrder)
{
    LogCallbacks();
    dev->SetModemStatus(MS_CTS_ON | MS_RLSD_ON);
    port.SetEvents({});
    port.Open();
    EXPECT_TRUE(port.Connected());
    EXPECT_FALSE(port.ThreadRunning());
    EXPECT_EQ(dev->Calls(), Strings({"BeforeOpen", "Open COM6", "SetupComm 1024 1024",
                                     "SetCommState 9600", "SetCommTimeouts", "link Connection on",
                                     "AfterOpen", "GetCommModemStatus", "link CTS on",
                                     "CTSChange on", "GetCommModemStatus", "link DSR off",
                                     "DSRChange off", "GetCommModemStatus", "link RLSD on",
                                     "RLSDChange on"}));
    dev->ClearCalls();
    port.Close();
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(dev->Calls(), Strings({"link CTS off", "link DSR off", "link RLSD off",
                                     "CTSChange off", "DSRChange off", "RLSDChange off",
                                     "BeforeClose", "PurgeComm 3", "Close",
                                     "link Connection off", "AfterClose"}));
}

TEST_F(PortFixture, CloseTellsEverySignalToAllLinksBeforeTheNext)
{
    LogCallbacks();
    TComLink& second = *links.emplace_back(std::make_unique<TComLink>());
    for (auto [slot, name] : {std::pair{&TComLink::OnConnectionChange, "second Connection"},
                              std::pair{&TComLink::OnCTSSignal, "second CTS"},
                              std::pair{&TComLink::OnDSRSignal, "second DSR"},
                              std::pair{&TComLink::OnRLSDSignal, "second RLSD"}})
        second.*slot = [this, text = QString::fromLatin1(name)](QObject*, bool on) {
            dev->Note(text + (on ? " on" : " off"));
        };
    port.AttachLink(&second);
    port.Open();
    dev->ClearCalls();
    port.Close();
    EXPECT_EQ(dev->Calls(), Strings({"link CTS off", "second CTS off", "link DSR off",
                                     "second DSR off", "link RLSD off", "second RLSD off",
                                     "CTSChange off", "DSRChange off", "RLSDChange off",
                                     "BeforeClose", "PurgeComm 3", "Close",
                                     "link Connection off", "second Connection off",
                                     "AfterClose"}));
}

TEST_F(PortFixture, OpenTwiceAndCloseTwiceActOnce)
{
    port.Open();
    port.Open();
    port.Close();
    port.Close();
    EXPECT_EQ(dev->Calls().filter(QStringLiteral("Open")).size(), 1);
    EXPECT_EQ(dev->Calls().filter(QStringLiteral("Close")).size(), 1);
}

TEST_F(PortFixture, OpenStartsTheEventThreadOnlyWithEvents)
{
    port.Open();
    EXPECT_FALSE(port.ThreadRunning());
    EXPECT_TRUE(dev->Calls().filter(QStringLiteral("SetCommMask")).isEmpty());
    port.Close();

    port.SetEvents({TComEvent::evRxChar, TComEvent::evCTS});
    dev->ClearCalls();
    port.Open();
    EXPECT_TRUE(port.ThreadRunning());
    EXPECT_TRUE(dev->Calls().contains(QStringLiteral("SetCommMask 9")));
    dev->ClearCalls();
    port.Close();
    EXPECT_FALSE(port.ThreadRunning());
    // The thread's last steps come before the device closes.
    EXPECT_EQ(dev->Calls().filter(QRegularExpression("^(SetCommMask|PurgeComm|Close)")),
              Strings({"PurgeComm 3", "SetCommMask 0", "PurgeComm 12", "Close"}));
}

TEST_F(PortFixture, FailedOpenWritesDebugTextAndRaisesCode1)
{
    QStringList debug;
    const DebugSink previous = SetDebugSink([&](const QString& t) { debug.append(t); });
    LogCallbacks();
    dev->Fail(QStringLiteral("Open"), ENOENT);
    try {
        port.Open();
        ADD_FAILURE() << "no exception";
    } catch (const EComPortExt& e) {
        EXPECT_EQ(e.Code(), 1);
        EXPECT_EQ(e.SystemCode(), ENOENT);
        EXPECT_EQ(e.Message(), "COM Port Error: Unable to open com port on COM6");
    }
    SetDebugSink(previous);
    EXPECT_EQ(debug, QStringList{QStringLiteral("CreateFile dev:COM6")});
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(dev->Calls(), Strings({"BeforeOpen", "Open COM6"}));
}

TEST_F(PortFixture, RefusedSettingWhileOpeningClosesTheDevice)
{
    struct Case {
        const char* call;
        int code;
    };
    for (const Case& c : {Case{"SetupComm", 9}, Case{"SetCommState", 7}, Case{"SetCommTimeouts", 8}}) {
        SCOPED_TRACE(c.call);
        dev->Fail(QString::fromLatin1(c.call), EINVAL);
        bool afterOpen = false;
        port.OnAfterOpen = [&](QObject*) { afterOpen = true; };
        try {
            port.Open();
            ADD_FAILURE() << "no exception";
        } catch (const EComPortExt& e) {
            EXPECT_EQ(e.Code(), c.code);
        }
        EXPECT_FALSE(port.Connected());
        EXPECT_FALSE(dev->IsOpen());
        EXPECT_FALSE(afterOpen);
        dev->Fail(QString::fromLatin1(c.call), 0);
    }
}

TEST_F(PortFixture, SignalFailureAtOpenLeavesThePortOpen)
{
    dev->Fail(QStringLiteral("GetCommModemStatus"), EPERM);
    bool afterOpen = false;
    port.OnAfterOpen = [&](QObject*) { afterOpen = true; };
    try {
        port.Open();
        ADD_FAILURE() << "no exception";
    } catch (const EComPortExt& e) {
        EXPECT_EQ(e.Code(), 11);
    }
    EXPECT_TRUE(afterOpen);
    EXPECT_TRUE(port.Connected());
}

TEST_F(PortFixture, CloseStopsAtAFailedCancel)
{
    port.Open();
    dev->Fail(QStringLiteral("PurgeComm"), EPERM);
    EXPECT_THROW(port.Close(), EComPortExt);
    EXPECT_TRUE(port.Connected());
    dev->Fail(QStringLiteral("PurgeComm"), 0);
    port.Close();
    EXPECT_FALSE(port.Connected());
}

TEST_F(PortFixture, ConnectedSetterOpensAndCloses)
{
    port.SetConnected(true);
    EXPECT_TRUE(dev->IsOpen());
    port.SetConnected(false);
    EXPECT_FALSE(dev->IsOpen());
}

TEST_F(PortFixture, DesigningOnlyRecordsConnected)
{
    port.SetDesigning(true);
    port.SetConnected(true);
    port.Open();
    EXPECT_TRUE(port.Connected());
    port.Close();
    EXPECT_TRUE(dev->Calls().isEmpty());
}

TEST_F(PortFixture, LoadingRecordsConnectedAndLoadedOpens)
{
    port.BeginLoading();
    port.SetConnected(true);
    port.SetBaudRate(TBaudRate::br300);
    EXPECT_TRUE(dev->Calls().isEmpty());
    port.Loaded();
    EXPECT_TRUE(port.Connected());
    EXPECT_EQ(dev->LastDCB().BaudRate, 300u);
}

TEST_F(PortFixture, LoadedHandsAnOpenErrorToTheHandler)
{
    static QString shown;
    shown.clear();
    const auto previous = TCustomComPort::SetLoadErrorHandler([](const Exception& e) { shown = e.Message(); });
    dev->Fail(QStringLiteral("Open"), EBUSY);
    port.BeginLoading();
    port.SetConnected(true);
    EXPECT_NO_THROW(port.Loaded());
    TCustomComPort::SetLoadErrorHandler(previous);
    EXPECT_EQ(shown, "COM Port Error: Unable to open com port on COM6");
    EXPECT_FALSE(port.Connected());
}

TEST_F(PortFixture, LineSignalsMapTheModemStatus)
{
    port.Open();
    dev->SetModemStatus(MS_CTS_ON | MS_RLSD_ON);
    EXPECT_EQ(port.LineSignals(), (TLineSignals{TLineSignal::lsCTS, TLineSignal::lsRLSD}));
    dev->SetModemStatus(MS_DSR_ON | MS_RING_ON);
    EXPECT_EQ(port.LineSignals(), (TLineSignals{TLineSignal::lsDSR, TLineSignal::lsRing}));
}

TEST_F(PortFixture, LinksRegisterOnce)
{
    TComLink other;
    port.AttachLink(&other);
    try {
        port.AttachLink(&other);
        ADD_FAILURE() << "no exception";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Message(), "COM6 Error: Link (un)registration failed");
    }
    port.DetachLink(&other);
    EXPECT_THROW(port.DetachLink(&other), EComPort);
}

TEST_F(PortFixture, SetupDialogGoesThroughTheInstalledHook)
{
    port.ShowSetupDialog();   // no hook: nothing
    static TCustomComPort* shownFor = nullptr;
    const auto previous = TCustomComPort::SetSetupDialogProc([](TCustomComPort& p) { shownFor = &p; });
    port.ShowSetupDialog();
    TCustomComPort::SetSetupDialogProc(previous);
    EXPECT_EQ(shownFor, &port);
}

TEST(PortDestruction, ClosesAnOpenPort)
{
    auto* p = new TComPort;
    p->SetDevice(std::make_unique<RecordingComDevice>());
    p->Open();
    QStringList seen;
    p->OnBeforeClose = [&seen](QObject*) { seen.append(QStringLiteral("BeforeClose")); };
    p->OnAfterClose = [&seen](QObject*) { seen.append(QStringLiteral("AfterClose")); };
    delete p;
    EXPECT_EQ(seen, QStringList({QStringLiteral("BeforeClose"), QStringLiteral("AfterClose")}));
}
