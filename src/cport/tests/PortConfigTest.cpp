// The port's settings against the recording device: the device records, the update
// bracket, the setter rules, applying a whole settings value, and apply failures.
#include "PortFixture.h"

#include <QRegularExpression>

#include <cerrno>
#include <functional>

using namespace zentrop;

TEST_F(PortFixture, LineStateRecordCarriesEverySetting)
{
    port.Open();
    EXPECT_EQ(dev->LastDCB().DCBlength, 28u);
    EXPECT_EQ(dev->LastDCB().Flags, DCB::fBinary);
    EXPECT_EQ(dev->LastDCB().XonLim, 256);
    EXPECT_EQ(dev->LastDCB().XoffLim, 256);
    EXPECT_EQ(dev->LastDCB().XonChar, 17);
    EXPECT_EQ(dev->LastDCB().XoffChar, 19);

    port.BeginUpdate();
    port.SetBaudRate(TBaudRate::br256000);
    port.SetDataBits(TDataBits::dbSeven);
    port.SetStopBits(TStopBits::sbOne5StopBits);
    port.SetDiscardNull(true);
    port.SetEventChar('\n');
    port.Parity()->SetBits(TParityBits::prSpace);
    port.Parity()->SetCheck(true);
    port.Parity()->SetReplaceChar('?');
    port.FlowControl()->SetFlowControl(TFlowControl::fcHardware);
    port.FlowControl()->SetControlDTR(TDTRFlowControl::dtrHandshake);
    port.FlowControl()->SetOutDSRFlow(true);
    port.FlowControl()->SetDSRSensitivity(true);
    port.FlowControl()->SetTxContinueOnXoff(true);
    port.FlowControl()->SetXonChar('a');
    port.FlowControl()->SetXoffChar('b');
    port.Buffer()->SetInputSize(4097);
    port.EndUpdate();

    DCB d = dev->LastDCB();
    EXPECT_EQ(d.BaudRate, 256000u);
    EXPECT_EQ(d.ByteSize, 7);
    EXPECT_EQ(d.Parity, 4);
    EXPECT_EQ(d.StopBits, 1);
    EXPECT_EQ(d.XonLim, 1024);
    EXPECT_EQ(d.XoffLim, 1024);
    EXPECT_EQ(d.XonChar, 'a');
    EXPECT_EQ(d.XoffChar, 'b');
    EXPECT_EQ(d.EvtChar, '\n');
    // Checked parity without replacement: no error character.
    EXPECT_EQ(d.ErrorChar, 0);
    EXPECT_EQ(d.Flags, 0x0001u | 0x0002 | 0x0004 | 0x0008 | 0x0020 | 0x0040 | 0x0080 | 0x0800 | 0x2000);

    port.Parity()->SetReplace(true);
    port.FlowControl()->SetFlowControl(TFlowControl::fcSoftware);
    port.FlowControl()->SetControlDTR(TDTRFlowControl::dtrEnable);
    port.FlowControl()->SetControlRTS(TRTSFlowControl::rtsToggle);
    port.SetBaudRate(TBaudRate::brCustom);
    port.SetCustomBaudRate(31250);
    d = dev->LastDCB();
    EXPECT_EQ(d.BaudRate, 31250u);
    EXPECT_EQ(d.ErrorChar, '?');
    EXPECT_EQ(d.Flags & 0x0400u, 0x0400u);
    EXPECT_EQ(d.Flags & (0x0100u | 0x0200), 0x0300u);
    EXPECT_EQ(d.Flags & 0x3030u, 0x3010u);
    EXPECT_EQ(d.Flags & 0x4000u, 0u);
}

TEST_F(PortFixture, TimeoutRecordPassesValuesUnchanged)
{
    port.Open();
    EXPECT_EQ(dev->LastTimeouts(), (COMMTIMEOUTS{0xFFFFFFFF, 0, 0, 100, 1000}));
    port.Timeouts()->SetReadInterval(10);
    port.Timeouts()->SetReadTotalMultiplier(10);
    port.Timeouts()->SetReadTotalConstant(500);
    port.Timeouts()->SetWriteTotalMultiplier(-2);
    port.Timeouts()->SetWriteTotalConstant(0);
    EXPECT_EQ(dev->LastTimeouts(), (COMMTIMEOUTS{10, 10, 500, 0xFFFFFFFE, 0}));
}

TEST_F(PortFixture, SettersApplyOnlyToAnOpenPortOutsideTheBracket)
{
    port.SetBaudRate(TBaudRate::br115200);
    EXPECT_TRUE(dev->Calls().filter(QStringLiteral("SetCommState")).isEmpty());
    port.Open();
    dev->ClearCalls();
    port.SetBaudRate(TBaudRate::br115200);   // equal value: nothing
    port.SetBaudRate(TBaudRate::br57600);
    EXPECT_EQ(dev->Calls(), Strings({"SetCommState 57600"}));

    dev->ClearCalls();
    port.BeginUpdate();
    port.BeginUpdate();
    port.SetBaudRate(TBaudRate::br1200);
    port.Timeouts()->SetReadInterval(5);
    port.Buffer()->SetOutputSize(2048);
    port.EndUpdate();
    EXPECT_TRUE(dev->Calls().isEmpty());
    port.EndUpdate();
    EXPECT_EQ(dev->Calls(), Strings({"SetupComm 1024 2048", "SetCommState 1200", "SetCommTimeouts"}));
    dev->ClearCalls();
    port.EndUpdate();   // an extra one at depth 0 does nothing
    EXPECT_EQ(port.UpdateDepth(), 0);
    EXPECT_TRUE(dev->Calls().isEmpty());
}

TEST_F(PortFixture, EachSettingTriggersItsOwnApplyCall)
{
    port.Open();
    struct Case {
        const char* name;
        std::function<void()> change;
        const char* call;
    };
    const Case cases[] = {
        {"StopBits", [&] { port.SetStopBits(TStopBits::sbTwoStopBits); }, "SetCommState"},
        {"DataBits", [&] { port.SetDataBits(TDataBits::dbFive); }, "SetCommState"},
        {"DiscardNull", [&] { port.SetDiscardNull(true); }, "SetCommState"},
        {"EventChar", [&] { port.SetEventChar('x'); }, "SetCommState"},
        {"CustomBaudRate", [&] { port.SetCustomBaudRate(1000); }, "SetCommState"},
        {"Parity.Bits", [&] { port.Parity()->SetBits(TParityBits::prOdd); }, "SetCommState"},
        {"ControlDTR", [&] { port.FlowControl()->SetControlDTR(TDTRFlowControl::dtrEnable); }, "SetCommState"},
        {"FlowControl same value", [&] { port.FlowControl()->SetFlowControl(port.FlowControl()->FlowControl()); }, "SetCommState"},
        {"FlowControl custom", [&] { port.FlowControl()->SetFlowControl(TFlowControl::fcCustom); }, "SetCommState"},
        {"ReadTotalConstant", [&] { port.Timeouts()->SetReadTotalConstant(7); }, "SetCommTimeouts"},
        {"InputSize", [&] { port.Buffer()->SetInputSize(512); }, "SetupComm"},
        {"InputSize odd above", [&] { port.Buffer()->SetInputSize(513); }, "SetupComm"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dev->ClearCalls();
        c.change();
        ASSERT_EQ(dev->Calls().size(), 1);
        EXPECT_TRUE(dev->Calls().front().startsWith(QString::fromLatin1(c.call)));
    }
    dev->ClearCalls();
    port.SetEvents({TComEvent::evRxChar});   // stored only
    port.Parity()->SetBits(TParityBits::prOdd);
    EXPECT_TRUE(dev->Calls().isEmpty());
}

TEST_F(PortFixture, SettersIgnoreAValueEqualToTheCurrentOne)
{
    port.Open();
    TComTimeouts* t = port.Timeouts();
    TComFlowControl* f = port.FlowControl();
    TComBuffer* b = port.Buffer();
    TComParity* p = port.Parity();
    struct Case {
        const char* name;
        std::function<void()> same;     // sets the value it has
        std::function<void()> other;    // sets another one
        const char* call;
    };
    const Case cases[] = {
        {"ReadInterval", [&] { t->SetReadInterval(t->ReadInterval()); }, [&] { t->SetReadInterval(3); }, "SetCommTimeouts"},
        {"ReadTotalMultiplier", [&] { t->SetReadTotalMultiplier(t->ReadTotalMultiplier()); }, [&] { t->SetReadTotalMultiplier(3); }, "SetCommTimeouts"},
        {"ReadTotalConstant", [&] { t->SetReadTotalConstant(t->ReadTotalConstant()); }, [&] { t->SetReadTotalConstant(3); }, "SetCommTimeouts"},
        {"WriteTotalMultiplier", [&] { t->SetWriteTotalMultiplier(t->WriteTotalMultiplier()); }, [&] { t->SetWriteTotalMultiplier(3); }, "SetCommTimeouts"},
        {"WriteTotalConstant", [&] { t->SetWriteTotalConstant(t->WriteTotalConstant()); }, [&] { t->SetWriteTotalConstant(3); }, "SetCommTimeouts"},
        {"OutCTSFlow", [&] { f->SetOutCTSFlow(f->OutCTSFlow()); }, [&] { f->SetOutCTSFlow(true); }, "SetCommState"},
        {"OutDSRFlow", [&] { f->SetOutDSRFlow(f->OutDSRFlow()); }, [&] { f->SetOutDSRFlow(true); }, "SetCommState"},
        {"ControlDTR", [&] { f->SetControlDTR(f->ControlDTR()); }, [&] { f->SetControlDTR(TDTRFlowControl::dtrEnable); }, "SetCommState"},
        {"ControlRTS", [&] { f->SetControlRTS(f->ControlRTS()); }, [&] { f->SetControlRTS(TRTSFlowControl::rtsEnable); }, "SetCommState"},
        {"XonXoffOut", [&] { f->SetXonXoffOut(f->XonXoffOut()); }, [&] { f->SetXonXoffOut(true); }, "SetCommState"},
        {"XonXoffIn", [&] { f->SetXonXoffIn(f->XonXoffIn()); }, [&] { f->SetXonXoffIn(true); }, "SetCommState"},
        {"DSRSensitivity", [&] { f->SetDSRSensitivity(f->DSRSensitivity()); }, [&] { f->SetDSRSensitivity(true); }, "SetCommState"},
        {"TxContinueOnXoff", [&] { f->SetTxContinueOnXoff(f->TxContinueOnXoff()); }, [&] { f->SetTxContinueOnXoff(true); }, "SetCommState"},
        {"XonChar", [&] { f->SetXonChar(f->XonChar()); }, [&] { f->SetXonChar('x'); }, "SetCommState"},
        {"XoffChar", [&] { f->SetXoffChar(f->XoffChar()); }, [&] { f->SetXoffChar('y'); }, "SetCommState"},
        {"InputSize", [&] { b->SetInputSize(b->InputSize()); }, [&] { b->SetInputSize(2048); }, "SetupComm"},
        {"OutputSize", [&] { b->SetOutputSize(b->OutputSize()); }, [&] { b->SetOutputSize(2048); }, "SetupComm"},
        {"Parity.Bits", [&] { p->SetBits(p->Bits()); }, [&] { p->SetBits(TParityBits::prEven); }, "SetCommState"},
        {"Parity.Check", [&] { p->SetCheck(p->Check()); }, [&] { p->SetCheck(true); }, "SetCommState"},
        {"Parity.Replace", [&] { p->SetReplace(p->Replace()); }, [&] { p->SetReplace(true); }, "SetCommState"},
        {"Parity.ReplaceChar", [&] { p->SetReplaceChar(p->ReplaceChar()); }, [&] { p->SetReplaceChar('?'); }, "SetCommState"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        dev->ClearCalls();
        c.same();
        EXPECT_TRUE(dev->Calls().isEmpty());
        c.other();
        c.same();
        ASSERT_EQ(dev->Calls().size(), 1);
        EXPECT_TRUE(dev->Calls().front().startsWith(QString::fromLatin1(c.call)));
    }
}

TEST_F(PortFixture, AWholeSettingsValueSendsEachChangedPartOnce)
{
    PortSettings s = port.Settings();
    s.BaudRate = TBaudRate::br57600;
    s.Timeouts.ReadTotalConstant = 500;
    port.SetSettings(s);   // closed: stored only
    EXPECT_TRUE(dev->Calls().isEmpty());
    port.Open();
    EXPECT_EQ(dev->LastDCB().BaudRate, 57600u);
    EXPECT_EQ(dev->LastTimeouts().ReadTotalTimeoutConstant, 500u);

    dev->ClearCalls();
    s.DataBits = TDataBits::dbSeven;
    s.FlowControl.SetPreset(TFlowControl::fcHardware);
    s.Buffer.OutputSize = 4096;
    port.SetSettings(s);
    EXPECT_EQ(dev->Calls(), Strings({"SetupComm 1024 4096", "SetCommState 57600"}));
    EXPECT_EQ(port.Settings(), s);
    EXPECT_EQ(port.FlowControl()->FlowControl(), TFlowControl::fcHardware);

    dev->ClearCalls();
    port.SetSettings(s);
    EXPECT_TRUE(dev->Calls().isEmpty());
}

TEST_F(PortFixture, SettingObjectsThroughThePortCopiesThenApplies)
{
    port.Open();
    TComTimeouts t;
    t.SetReadInterval(10);
    dev->ClearCalls();
    port.SetTimeouts(&t);
    EXPECT_EQ(port.Timeouts()->ReadInterval(), 10);
    EXPECT_EQ(port.Timeouts()->OwnerPort(), &port);
    EXPECT_EQ(dev->Calls(), Strings({"SetCommTimeouts"}));
}

TEST_F(PortFixture, ApplyFailureOnAnOpenPortKeepsValueAndPort)
{
    port.Open();
    dev->Fail(QStringLiteral("SetCommState"), EINVAL);
    try {
        port.SetBaudRate(TBaudRate::br300);
        ADD_FAILURE() << "no exception";
    } catch (const EComPortExt& e) {
        EXPECT_EQ(e.Message(), "COM Port Error: SetCommState function failed on COM6");
    }
    EXPECT_EQ(port.BaudRate(), TBaudRate::br300);
    EXPECT_TRUE(port.Connected());
}

TEST_F(PortFixture, PortSetterReopensUnderTheNewName)
{
    port.SetPort(QStringLiteral("COM7"));
    EXPECT_TRUE(dev->Calls().isEmpty());
    port.Open();
    dev->ClearCalls();
    port.SetPort(QStringLiteral("COM7"));
    EXPECT_TRUE(dev->Calls().isEmpty());
    port.SetPort(QStringLiteral("com7"));   // other letter case counts as a change
    EXPECT_EQ(dev->Calls().filter(QRegularExpression("^(Open|Close)")),
              Strings({"Close", "Open com7"}));
    EXPECT_TRUE(port.Connected());
}

TEST_F(PortFixture, SyncMethodCannotChangeWhileConnected)
{
    port.SetSyncMethod(TSyncMethod::smNone);
    port.Open();
    port.SetSyncMethod(TSyncMethod::smNone);   // equal value: ignored
    try {
        port.SetSyncMethod(TSyncMethod::smDisableEvents);
        ADD_FAILURE() << "no exception";
    } catch (const EComPortExt&) {
        ADD_FAILURE() << "wrong class";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.Code(), 14);
        EXPECT_EQ(e.Message(), "COM6 Error: Cannot set property while connected");
    }
    EXPECT_EQ(port.SyncMethod(), TSyncMethod::smNone);
}
