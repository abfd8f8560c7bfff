// Transfers against the recording device: the 0xFF first-byte rule, the links told of
// sends and of a drained queue, purge flags, line errors and the failures of each call.
#include "PortFixture.h"

#include "base/Debug.h"

#include <cerrno>

using namespace zentrop;

namespace {

class TransferFixture : public PortFixture {
protected:
    void SetUp() override
    {
        port.SetEvents({});
        port.Open();
        dev->ClearCalls();
    }
};

} // namespace

TEST_F(TransferFixture, ReadWithNothingArrivedLeavesFFInTheFirstByte)
{
    unsigned char buf[3] = {0x11, 0x22, 0x33};
    EXPECT_EQ(port.Read(buf, 3), 0);
    EXPECT_EQ(buf[0], 0xFF);
    EXPECT_EQ(buf[1], 0x22);
    dev->Receive("ab");
    EXPECT_EQ(port.Read(buf, 3), 2);
    EXPECT_EQ(buf[0], 'a');
    EXPECT_EQ(buf[1], 'b');
}

TEST_F(TransferFixture, AReadOfNoBytesTouchesNothing)
{
    unsigned char b = 0x42;
    EXPECT_EQ(port.Read(&b, 0), 0);
    EXPECT_EQ(b, 0x42);
}

TEST_F(TransferFixture, ReadThatCannotStartReportsNothingRead)
{
    dev->Fail("ReadFile", EIO);
    unsigned char b = 0;
    EXPECT_EQ(port.Read(&b, 1), 0);
    EXPECT_EQ(b, 0xFF);
}

TEST_F(TransferFixture, FailedCompletionRaisesCode2Or3)
{
    dev->Fail("GetOverlappedResult", ECANCELED);
    char b = 0;
    try {
        port.Read(&b, 1);
        ADD_FAILURE() << "no exception";
    } catch (const EComPortExt& e) {
        EXPECT_EQ(e.Code(), 3);
        EXPECT_EQ(e.SystemCode(), ECANCELED);
        EXPECT_EQ(e.Message(), "COM Port Error: ReadFile function failed on COM6");
    }
    try {
        port.Write("x", 1);
        ADD_FAILURE() << "no exception";
    } catch (const EComPortExt& e) {
        EXPECT_EQ(e.Code(), 2);
    }
    dev->Fail("GetOverlappedResult", 0);
    dev->Fail("WriteFile", EIO);
    EXPECT_THROW(port.Write("x", 1), EComPortExt);
}

TEST_F(TransferFixture, CompletedWriteTellsLinksOnceWithThePortsCopy)
{
    NotingLink();
    NotingLink();
    char data[] = "hello";
    TComRequest* r = nullptr;
    NewRequest(r);
    port.StartWrite(data, 5, r);
    data[0] = 'j';   // the caller changes its buffer; the links still see what was sent
    EXPECT_EQ(seen, QStringList({"TxBusy on", "TxBusy on"}));
    EXPECT_EQ(port.WaitForRequest(r), 5);
    FreeRequest(r);
    EXPECT_EQ(r, nullptr);
    EXPECT_EQ(seen, QStringList({"TxBusy on", "TxBusy on", "TxData hello", "TxData hello"}));
}

TEST_F(TransferFixture, EmptyWritesAndStrings)
{
    NotingLink();
    EXPECT_EQ(port.Write("", 0), 0);
    EXPECT_EQ(seen, QStringList({"TxBusy on"}));   // busy, but no data to tell of

    seen.clear();
    QStringList debug;
    const DebugSink previous = SetDebugSink([&](const QString& t) { debug.append(t); });
    EXPECT_EQ(port.WriteStr(QByteArray()), 0);
    EXPECT_EQ(port.WriteStr("AT"), 2);
    SetDebugSink(previous);
    EXPECT_EQ(debug, QStringList({"TCustomComPort.WriteStr", "TCustomComPort.WriteStr"}));
    EXPECT_EQ(seen, QStringList({"TxBusy on", "TxData AT"}));
    EXPECT_EQ(dev->Written(), "AT");
}

TEST_F(TransferFixture, ReadThatDrainsTheQueueTellsLinks)
{
    NotingLink();
    dev->Receive("abc");
    char buf[2];
    port.Read(buf, 2);
    EXPECT_TRUE(seen.isEmpty());   // one byte still waiting
    port.Read(buf, 2);
    EXPECT_EQ(seen, QStringList({"RxBusy off"}));
}

TEST_F(TransferFixture, MissingRequestRaisesCode4)
{
    char b = 0;
    for (auto f : {std::function<void()>([&] { port.StartWrite(&b, 1, nullptr); }),
                   std::function<void()>([&] { port.StartRead(&b, 1, nullptr); }),
                   std::function<void()>([&] { port.WaitForRequest(nullptr); })}) {
        try {
            f();
            ADD_FAILURE() << "no exception";
        } catch (const EComPortExt&) {
            ADD_FAILURE() << "wrong class";
        } catch (const EComPort& e) {
            EXPECT_EQ(e.Message(), "COM6 Error: Invalid Async parameter");
        }
    }
    EXPECT_EQ(port.StartWriteStr(QByteArray(), nullptr), 0);
}

TEST_F(TransferFixture, PurgeFlags)
{
    struct Case {
        bool input, output;
        const char* call;
    };
    for (const Case& c : {Case{true, false, "PurgeComm 8"}, Case{false, true, "PurgeComm 4"},
                          Case{true, true, "PurgeComm 12"}, Case{false, false, "PurgeComm 0"}}) {
        dev->ClearCalls();
        port.PurgeBuffers(c.input, c.output);
        EXPECT_EQ(dev->Calls(), QStringList{c.call});
    }
    dev->Fail("PurgeComm", EIO);
    try {
        port.PurgeBuffers(true, true);
        ADD_FAILURE() << "no exception";
    } catch (const EComPortExt& e) {
        EXPECT_EQ(e.Code(), 5);
    }
}

TEST_F(TransferFixture, LineErrorsMapToTheErrorSet)
{
    dev->SetLineErrors(CE_FRAME | CE_RXPARITY | CE_OVERRUN | CE_RXOVER | CE_TXFULL | CE_BREAK
                       | CE_IOE | CE_MODE | 0x0020);
    EXPECT_EQ(port.TakeLineErrors(), (TComErrors{TComError::ceFrame, TComError::ceOverrun,
                                                 TComError::ceRxOver, TComError::ceTxFull,
                                                 TComError::ceBreak, TComError::ceIO,
                                                 TComError::ceMode}));
    EXPECT_TRUE(port.TakeLineErrors().Empty());   // taken
    port.Parity()->SetCheck(true);
    dev->SetLineErrors(CE_RXPARITY);
    EXPECT_EQ(port.TakeLineErrors(), TComErrors{TComError::ceRxParity});
    dev->Receive("1234");
    EXPECT_EQ(port.InputQueueCount(), 4);
    dev->Fail("ClearCommError", EIO);
    for (auto f : {std::function<void()>([&] { port.TakeLineErrors(); }),
                   std::function<void()>([&] { port.InputQueueCount(); })}) {
        try {
            f();
            ADD_FAILURE() << "no exception";
        } catch (const EComPortExt& e) {
            EXPECT_EQ(e.Code(), 10);
        }
    }
}

TEST_F(TransferFixture, AQueueCountKeepsTheLineErrorsForTheErrorReport)
{
    dev->Receive("abc");
    dev->SetLineErrors(CE_FRAME | CE_OVERRUN);
    EXPECT_EQ(port.InputQueueCount(), 3);
    EXPECT_EQ(port.InputQueueCount(), 3);
    EXPECT_EQ(port.TakeLineErrors(), (TComErrors{TComError::ceFrame, TComError::ceOverrun}));
    EXPECT_TRUE(port.TakeLineErrors().Empty());
}

TEST_F(TransferFixture, ModemLinesAreDrivenAtOnceAndKeptAsTheLineSettings)
{
    port.SetDTR(true);
    port.SetRTS(true);
    port.SetDTR(false);
    EXPECT_EQ(dev->Calls(), Strings({"EscapeCommFunction 5", "EscapeCommFunction 3", "EscapeCommFunction 6"}));
    EXPECT_EQ(port.FlowControl()->ControlDTR(), TDTRFlowControl::dtrDisable);
    EXPECT_EQ(port.FlowControl()->ControlRTS(), TRTSFlowControl::rtsEnable);
    // A line a handshake drives keeps its setting; the line itself is still driven.
    port.FlowControl()->SetControlRTS(TRTSFlowControl::rtsHandshake);
    dev->ClearCalls();
    port.SetRTS(false);
    EXPECT_EQ(dev->Calls(), Strings({"EscapeCommFunction 4"}));
    EXPECT_EQ(port.FlowControl()->ControlRTS(), TRTSFlowControl::rtsHandshake);

    dev->Fail("EscapeCommFunction 5", ENOTTY);
    try {
        port.SetDTR(true);
        ADD_FAILURE() << "no exception";
    } catch (const EComPortExt& e) {
        EXPECT_EQ(e.Code(), 12);
        EXPECT_EQ(e.SystemCode(), ENOTTY);
    }
    // On a closed port only the setting changes.
    port.Close();
    dev->ClearCalls();
    port.SetDTR(true);
    EXPECT_TRUE(dev->Calls().isEmpty());
    EXPECT_EQ(port.FlowControl()->ControlDTR(), TDTRFlowControl::dtrEnable);
}

TEST_F(TransferFixture, RS485DelaysGoToTheDeviceBeforeEachToggleLineState)
{
    port.SetRS485Delays(2, 3);
    EXPECT_TRUE(dev->Calls().isEmpty());   // no RS-485 line state yet
    port.FlowControl()->SetControlRTS(TRTSFlowControl::rtsToggle);
    EXPECT_EQ(dev->Calls(), Strings({"SetRS485Delays 2 3", "SetCommState 9600"}));
    EXPECT_EQ(dev->LastDCB().Flags & DCB::fRtsControlMask, DCB::fRtsControlToggle);
    dev->ClearCalls();
    port.SetRS485Delays(0, 1);
    EXPECT_EQ(dev->Calls(), Strings({"SetRS485Delays 0 1", "SetCommState 9600"}));
}

TEST_F(TransferFixture, OnAClosedPortReadsReportNothingAndOthersRaise)
{
    NotingLink();
    port.Close();
    seen.clear();
    unsigned char b = 0;
    EXPECT_EQ(port.Read(&b, 1), 0);
    EXPECT_EQ(b, 0xFF);
    auto codeOf = [](const std::function<void()>& f) {
        try {
            f();
        } catch (const EComPort& e) {
            return e.Code();
        }
        return 0;
    };
    EXPECT_EQ(codeOf([&] { port.Write("x", 1); }), 2);
    EXPECT_EQ(codeOf([&] { port.InputQueueCount(); }), 10);
    EXPECT_EQ(codeOf([&] { port.PurgeBuffers(true, true); }), 5);
    EXPECT_EQ(codeOf([&] { port.LineSignals(); }), 11);
}
