// Storing and loading a port's settings: the keys of each group in an INI section and in
// the registry store, round trips of every group, and the fallbacks of missing, damaged
// and mistyped values.
#include "PortFixture.h"

#include "base/Exception.h"
#include "base/IniFile.h"
#include "base/Registry.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

using namespace zentrop;

namespace {

constexpr TStoredGroups kAllGroups = TStoredGroups::FromBits(0x3F);

class PortStorage : public PortFixture {
protected:
    PortStorage() { port.setObjectName("pPort"); }

    // Every setting away from its initial value.
    static void SetEverything(TCustomComPort& p)
    {
        p.SetPort("ttyUSB3");
        p.SetBaudRate(TBaudRate::brCustom);
        p.SetCustomBaudRate(7200);
        p.SetStopBits(TStopBits::sbTwoStopBits);
        p.SetDataBits(TDataBits::dbSeven);
        p.Parity()->SetBits(TParityBits::prMark);
        p.SetEventChar('\r');
        p.SetDiscardNull(true);
        p.Parity()->SetCheck(true);
        p.Parity()->SetReplace(true);
        p.Parity()->SetReplaceChar('?');
        p.Buffer()->SetOutputSize(2048);
        p.Buffer()->SetInputSize(4096);
        p.Timeouts()->SetReadInterval(-1);
        p.Timeouts()->SetReadTotalConstant(11);
        p.Timeouts()->SetReadTotalMultiplier(12);
        p.Timeouts()->SetWriteTotalConstant(13);
        p.Timeouts()->SetWriteTotalMultiplier(14);
        p.FlowControl()->SetControlRTS(TRTSFlowControl::rtsToggle);
        p.FlowControl()->SetControlDTR(TDTRFlowControl::dtrHandshake);
        p.FlowControl()->SetDSRSensitivity(true);
        p.FlowControl()->SetOutCTSFlow(true);
        p.FlowControl()->SetOutDSRFlow(true);
        p.FlowControl()->SetTxContinueOnXoff(true);
        p.FlowControl()->SetXonXoffIn(true);
        p.FlowControl()->SetXonXoffOut(true);
        p.FlowControl()->SetXoffChar('\x01');
        p.FlowControl()->SetXonChar('\x02');
    }

    // The settings in their stored text forms, to compare two ports.
    static QStringList Settings(const TCustomComPort& p)
    {
        const auto* f = p.FlowControl();
        return {p.Port(), BaudRateToText(p.BaudRate()), QString::number(p.CustomBaudRate()),
                StopBitsToText(p.StopBits()), DataBitsToText(p.DataBits()),
                ParityToText(p.Parity()->Bits()), CharToText(p.EventChar()),
                BoolToYesNo(p.DiscardNull()), BoolToYesNo(p.Parity()->Check()),
                BoolToYesNo(p.Parity()->Replace()), CharToText(p.Parity()->ReplaceChar()),
                QString::number(p.Buffer()->OutputSize()), QString::number(p.Buffer()->InputSize()),
                QString::number(p.Timeouts()->ReadInterval()),
                QString::number(p.Timeouts()->ReadTotalConstant()),
                QString::number(p.Timeouts()->ReadTotalMultiplier()),
                QString::number(p.Timeouts()->WriteTotalConstant()),
                QString::number(p.Timeouts()->WriteTotalMultiplier()),
                RTSControlToText(f->ControlRTS()), DTRControlToText(f->ControlDTR()),
                BoolToYesNo(f->DSRSensitivity()), BoolToYesNo(f->OutCTSFlow()),
                BoolToYesNo(f->OutDSRFlow()), BoolToYesNo(f->TxContinueOnXoff()),
                BoolToYesNo(f->XonXoffIn()), BoolToYesNo(f->XonXoffOut()),
                CharToText(f->XoffChar()), CharToText(f->XonChar())};
    }

    QByteArray FileText() const
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QTemporaryDir dir;
    QString path = dir.filePath("port.ini");
};

TEST_F(PortStorage, BasicGroupWritesSixKeysOrSevenWithACustomRate)
{
    TIniFile ini(path);
    port.SetPort("COM1");
    port.SetBaudRate(TBaudRate::br115200);
    port.StoreToIniFile(ini);
    EXPECT_EQ(FileText(), "[pPort]\nPort=COM1\nBaudRate=115200\nStopBits=1\nDataBits=8\n"
                          "Parity=None\nFlowControl=None\n");
    port.SetBaudRate(TBaudRate::brCustom);
    port.SetCustomBaudRate(7200);
    port.StoreToIniFile(ini);
    EXPECT_EQ(FileText(), "[pPort]\nPort=COM1\nBaudRate=Custom\nStopBits=1\nDataBits=8\n"
                          "Parity=None\nFlowControl=None\nCustomBaudRate=7200\n");
}

TEST_F(PortStorage, EveryGroupRoundTripsThroughBothStores)
{
    SetEverything(port);
    port.SetStoredGroups(kAllGroups);
    TIniFile ini(path);
    port.StoreToIniFile(ini);
    TRegistry reg(dir.filePath("registry.conf"));
    ASSERT_TRUE(reg.OpenKey("Ports/pPort", true));
    port.StoreToRegistry(reg);

    TComPort fromIni, fromRegistry;
    fromIni.setObjectName("pPort");
    for (TComPort* p : {&fromIni, &fromRegistry}) {
        p->SetStoredGroups(kAllGroups);
        p == &fromIni ? p->LoadFromIniFile(ini) : p->LoadFromRegistry(reg);
        EXPECT_EQ(Settings(*p), Settings(port));
    }
    EXPECT_EQ(reg.GetDataType("Buffer.InputSize"), TRegistry::TRegDataType::rdInteger);
    EXPECT_EQ(reg.GetDataType("FlowControl.XonChar"), TRegistry::TRegDataType::rdString);
}

TEST_F(PortStorage, MissingKeysKeepTheSettingsButACustomRateFallsTo9600)
{
    SetEverything(port);
    port.SetStoredGroups(kAllGroups);
    const QStringList before = Settings(port);
    TIniFile ini(path);
    ini.WriteString("other", "Port", "COM9");
    port.LoadFromIniFile(ini);
    QStringList expected = before;
    expected[2] = "9600";
    EXPECT_EQ(Settings(port), expected);
}

TEST_F(PortStorage, DamagedValuesTakeTheConversionsFallbacks)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[pPort]\nBaudRate=fast\nStopBits=3\nParity=odd\nEventChar=#13\nDiscardNull=yes\n"
            "Parity.Check=yes\nBuffer.InputSize=big\nBuffer.OutputSize=0x100\n");
    f.close();
    port.SetStoredGroups({TStoredGroup::sgBasic, TStoredGroup::sgOthers, TStoredGroup::sgParity,
                          TStoredGroup::sgBuffer});
    TIniFile ini(path);
    port.LoadFromIniFile(ini);
    EXPECT_EQ(port.BaudRate(), TBaudRate::br9600);
    EXPECT_EQ(port.StopBits(), TStopBits::sbOneStopBit);
    EXPECT_EQ(port.Parity()->Bits(), TParityBits::prOdd);
    EXPECT_EQ(port.EventChar(), '\r');
    EXPECT_TRUE(port.DiscardNull());
    EXPECT_TRUE(port.Parity()->Check());
    EXPECT_EQ(port.Buffer()->InputSize(), 1024);
    EXPECT_EQ(port.Buffer()->OutputSize(), 256);
}

TEST_F(PortStorage, TheFlowControlPresetYieldsToStoredDetails)
{
    TIniFile ini(path);
    ini.WriteString("pPort", "FlowControl", "Hardware");
    port.LoadFromIniFile(ini);
    EXPECT_EQ(port.FlowControl()->ControlRTS(), TRTSFlowControl::rtsHandshake);
    EXPECT_TRUE(port.FlowControl()->OutCTSFlow());

    ini.WriteString("pPort", "FlowControl.ControlRTS", "Enable");
    ini.WriteString("pPort", "FlowControl.OutCTSFlow", "No");
    port.SetStoredGroups({TStoredGroup::sgBasic, TStoredGroup::sgFlowControl});
    port.LoadFromIniFile(ini);
    EXPECT_EQ(port.FlowControl()->ControlRTS(), TRTSFlowControl::rtsEnable);
    EXPECT_FALSE(port.FlowControl()->OutCTSFlow());
}

TEST_F(PortStorage, ANewPortNameReopensTheDeviceBeforeTheNextKey)
{
    TIniFile ini(path);
    ini.WriteString("pPort", "Port", "COM7");
    ini.WriteString("pPort", "BaudRate", "57600");
    port.Open();
    dev->ClearCalls();
    port.LoadFromIniFile(ini);
    EXPECT_EQ(dev->Calls().filter(QRegularExpression("^(Open|Close|SetCommState)")).mid(0, 4),
              QStringList({"Close", "Open COM7", "SetCommState 9600", "SetCommState 57600"}));
}

TEST_F(PortStorage, TheRegistryHasNoFallbacksOfItsOwn)
{
    TRegistry reg(dir.filePath("registry.conf"));
    ASSERT_TRUE(reg.OpenKey("Ports/empty", true));
    port.SetStoredGroups({TStoredGroup::sgBasic, TStoredGroup::sgBuffer});
    try {
        port.LoadFromRegistry(reg);
        FAIL() << "a missing integer must raise";
    } catch (const ERegistryException& e) {
        EXPECT_EQ(e.Message(), "Failed to get data for 'Buffer.OutputSize'");
    }
    // Loaded before the failure: the missing texts, as empty texts, which give the
    // conversions' fallbacks (a custom flow control changes nothing).
    EXPECT_EQ(port.Port(), "");
    EXPECT_EQ(port.StopBits(), TStopBits::sbOneStopBit);
    EXPECT_EQ(port.FlowControl()->FlowControl(), TFlowControl::fcNone);
}

} // namespace
