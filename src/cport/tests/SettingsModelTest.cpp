// The settings model: initial values, the text forms and their fallbacks, character texts,
// event masks, the flow control preset, queue size rounding and the assign rules.
#include "cport/ComPort.h"

#include "base/Exception.h"

#include <QVariant>

#include <utility>

#include <gtest/gtest.h>

using namespace zentrop;

TEST(SettingsModel, FreshPortHasTheInitialValues)
{
    TComPort p;
    EXPECT_EQ(p.BaudRate(), TBaudRate::br9600);
    EXPECT_EQ(p.CustomBaudRate(), 9600);
    EXPECT_EQ(p.Port(), "COM1");
    EXPECT_EQ(p.StopBits(), TStopBits::sbOneStopBit);
    EXPECT_EQ(p.DataBits(), TDataBits::dbEight);
    EXPECT_EQ(p.Parity()->Bits(), TParityBits::prNone);
    EXPECT_EQ(p.FlowControl()->FlowControl(), TFlowControl::fcNone);
    EXPECT_EQ(p.FlowControl()->XonChar(), 17);
    EXPECT_EQ(p.FlowControl()->XoffChar(), 19);
    EXPECT_EQ(p.Buffer()->InputSize(), 1024);
    EXPECT_EQ(p.Buffer()->OutputSize(), 1024);
    EXPECT_EQ(p.Timeouts()->ReadInterval(), -1);
    EXPECT_EQ(p.Timeouts()->ReadTotalMultiplier(), 0);
    EXPECT_EQ(p.Timeouts()->ReadTotalConstant(), 0);
    EXPECT_EQ(p.Timeouts()->WriteTotalMultiplier(), 100);
    EXPECT_EQ(p.Timeouts()->WriteTotalConstant(), 1000);
    EXPECT_EQ(p.Events().ToBits(), 0x03FF);
    EXPECT_EQ(p.SyncMethod(), TSyncMethod::smThreadSync);
    EXPECT_TRUE(p.AnnounceRxCount());
    EXPECT_EQ(p.StoredGroups(), TStoredGroups{TStoredGroup::sgBasic});
    EXPECT_FALSE(p.Connected());
    EXPECT_EQ(p.Parity()->OwnerPort(), &p);
    EXPECT_EQ(p.Buffer()->OwnerPort(), &p);
}

TEST(SettingsModel, PublishedPropertiesGoThroughTheMetaObject)
{
    TComPort p;
    EXPECT_TRUE(p.setProperty("Port", QStringLiteral("COM6")));
    EXPECT_EQ(p.Port(), "COM6");
    EXPECT_EQ(p.property("BaudRate").value<TBaudRate>(), TBaudRate::br9600);
    EXPECT_TRUE(p.setProperty("BaudRate", QVariant::fromValue(TBaudRate::br57600)));
    EXPECT_EQ(p.BaudRate(), TBaudRate::br57600);
    EXPECT_EQ(p.property("Timeouts").value<TComTimeouts*>(), p.Timeouts());
    EXPECT_EQ(p.property("Events").value<TComEvents>(), AllComEvents);
}

TEST(SettingsModel, TextFormsRoundTripAndFallBack)
{
    for (int i = 0; i <= int(TBaudRate::br256000); ++i)
        EXPECT_EQ(TextToBaudRate(BaudRateToText(TBaudRate(i))), TBaudRate(i));
    for (int i = 0; i <= int(TFlowControl::fcCustom); ++i)
        EXPECT_EQ(TextToFlowControl(FlowControlToText(TFlowControl(i))), TFlowControl(i));
    for (int i = 0; i <= int(TRTSFlowControl::rtsToggle); ++i)
        EXPECT_EQ(TextToRTSControl(RTSControlToText(TRTSFlowControl(i))), TRTSFlowControl(i));

    EXPECT_EQ(TextToBaudRate("custom"), TBaudRate::brCustom);
    EXPECT_EQ(TextToBaudRate("115200 "), TBaudRate::br9600);
    EXPECT_EQ(TextToStopBits("1.5"), TStopBits::sbOne5StopBits);
    EXPECT_EQ(TextToStopBits("3"), TStopBits::sbOneStopBit);
    EXPECT_EQ(TextToDataBits("9"), TDataBits::dbEight);
    EXPECT_EQ(TextToDataBits("5"), TDataBits::dbFive);
    EXPECT_EQ(TextToParity("sPaCe"), TParityBits::prSpace);
    EXPECT_EQ(TextToParity("parity"), TParityBits::prNone);
    EXPECT_EQ(TextToFlowControl(""), TFlowControl::fcCustom);
    EXPECT_EQ(TextToDTRControl("HANDSHAKE"), TDTRFlowControl::dtrHandshake);
    EXPECT_EQ(TextToDTRControl("toggle"), TDTRFlowControl::dtrDisable);
    EXPECT_EQ(TextToRTSControl("x"), TRTSFlowControl::rtsDisable);
    // Only a to z are raised: an accented letter does not match its plain form, nor does
    // a letter that Unicode would raise to a plain one.
    EXPECT_EQ(TextToParity(QString::fromUtf8("nöne")), TParityBits::prNone);
    EXPECT_EQ(TextToParity(QString::fromUtf8("Ödd")), TParityBits::prNone);
    EXPECT_EQ(TextToParity(QString::fromUtf8("\u017Fpace")), TParityBits::prNone);
    EXPECT_FALSE(YesNoToBool(QString::fromUtf8("ye\u017F")));

    EXPECT_EQ(BoolToYesNo(true), "Yes");
    EXPECT_EQ(BoolToYesNo(false), "No");
    EXPECT_TRUE(YesNoToBool("yes"));
    EXPECT_FALSE(YesNoToBool("Y"));
    EXPECT_FALSE(YesNoToBool("True"));
}

TEST(SettingsModel, CharacterTexts)
{
    EXPECT_EQ(CharToText(' '), "#32");
    EXPECT_EQ(CharToText('!'), "!");
    EXPECT_EQ(CharToText(char(127)), QString(QChar(127)));
    EXPECT_EQ(CharToText(char(128)), "#128");
    EXPECT_EQ(CharToText(char(13)), "#13");
    EXPECT_EQ(CharToText(char(0)), "#0");
    EXPECT_EQ(CharToText(char(255)), "#255");

    EXPECT_EQ(TextToChar(""), 0);
    EXPECT_EQ(TextToChar("#"), '#');
    EXPECT_EQ(TextToChar("#65"), 'A');
    EXPECT_EQ(TextToChar("#300"), char(44));
    EXPECT_EQ(TextToChar("#-1"), char(255));
    EXPECT_EQ(TextToChar("#$41"), 'A');
    EXPECT_EQ(TextToChar("#x"), 0);
    EXPECT_EQ(TextToChar("# 5"), 0);
    EXPECT_EQ(TextToChar("#99999999999"), 0);
    EXPECT_EQ(TextToChar("AB"), 'A');
    for (int c = 0; c < 256; ++c)
        EXPECT_EQ(TextToChar(CharToText(char(c))), char(c)) << c;
}

TEST(SettingsModel, EventMasks)
{
    EXPECT_EQ(EventsToMask(AllComEvents), 0x05FFu);
    EXPECT_EQ(EventsToMask({TComEvent::evRxFlag}), 0x0002u);
    EXPECT_EQ(EventsToMask({TComEvent::evRx80Full, TComEvent::evRing}), 0x0500u);
    EXPECT_EQ(MaskToEvents(0x0200), TComEvents{});
    EXPECT_EQ(MaskToEvents(0xFFFFFFFF), AllComEvents);
    for (uint16_t bits = 0; bits < 0x400; ++bits) {
        const TComEvents s = TComEvents::FromBits(bits);
        ASSERT_EQ(MaskToEvents(EventsToMask(s)), s) << bits;
    }
}

TEST(SettingsModel, FlowControlPresetFollowsTheFields)
{
    TComFlowControl f;
    f.SetFlowControl(TFlowControl::fcHardware);
    EXPECT_EQ(f.FlowControl(), TFlowControl::fcHardware);
    EXPECT_EQ(f.ControlRTS(), TRTSFlowControl::rtsHandshake);
    EXPECT_TRUE(f.OutCTSFlow());
    f.SetControlDTR(TDTRFlowControl::dtrHandshake);
    f.SetOutDSRFlow(true);
    EXPECT_EQ(f.FlowControl(), TFlowControl::fcHardware);
    f.SetXonXoffIn(true);
    EXPECT_EQ(f.FlowControl(), TFlowControl::fcCustom);
    f.SetFlowControl(TFlowControl::fcCustom);   // changes nothing
    EXPECT_TRUE(f.XonXoffIn());
    f.SetFlowControl(TFlowControl::fcSoftware);
    EXPECT_EQ(f.FlowControl(), TFlowControl::fcSoftware);
    EXPECT_EQ(f.ControlRTS(), TRTSFlowControl::rtsDisable);
    EXPECT_FALSE(f.OutCTSFlow());
    EXPECT_EQ(f.ControlDTR(), TDTRFlowControl::dtrHandshake);   // not part of the preset
    f.SetFlowControl(TFlowControl::fcNone);
    EXPECT_EQ(f.FlowControl(), TFlowControl::fcNone);
    EXPECT_FALSE(f.XonXoffIn());
    EXPECT_FALSE(f.XonXoffOut());
}

TEST(SettingsModel, QueueSizesRoundOddValuesDown)
{
    TComBuffer b;
    b.SetInputSize(4097);
    EXPECT_EQ(b.InputSize(), 4096);
    b.SetInputSize(-3);
    EXPECT_EQ(b.InputSize(), -3);
    b.SetOutputSize(1);
    EXPECT_EQ(b.OutputSize(), 0);
}

TEST(SettingsModel, AssignCopiesFieldsOnlyFromTheSameClass)
{
    TComPort p;
    TComTimeouts t;
    t.SetReadInterval(10);
    t.SetWriteTotalConstant(7);
    p.Timeouts()->Assign(&t);
    EXPECT_EQ(p.Timeouts()->ReadInterval(), 10);
    EXPECT_EQ(p.Timeouts()->WriteTotalConstant(), 7);
    EXPECT_EQ(p.Timeouts()->OwnerPort(), &p);   // the owner is never copied

    TComFlowControl f;
    f.SetFlowControl(TFlowControl::fcSoftware);
    f.SetXoffChar('x');
    TComFlowControl g;
    g.Assign(&f);
    EXPECT_EQ(g.FlowControl(), TFlowControl::fcSoftware);
    EXPECT_EQ(g.XoffChar(), 'x');

    TComParity par;
    try {
        par.Assign(&t);
        ADD_FAILURE() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a TComTimeouts to a TComParity");
    }
    try {
        par.Assign(nullptr);
        ADD_FAILURE() << "no exception";
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Cannot assign a nil to a TComParity");
    }
    EXPECT_THROW(TComBuffer().Assign(&p), EConvertError);
}

TEST(SettingsModel, ErrorTextsAndMessageForms)
{
    const std::pair<int, const char*> texts[] = {
        {0, "Unknown Error #0"},
        {1, "Unable to open com port"},
        {2, "WriteFile function failed"},
        {3, "ReadFile function failed"},
        {4, "Invalid Async parameter"},
        {5, "PurgeComm function failed"},
        {6, "Unable to get async status"},
        {7, "SetCommState function failed"},
        {8, "SetCommTimeouts failed"},
        {9, "SetupComm function failed"},
        {10, "ClearCommError function failed"},
        {11, "GetCommModemStatus function failed"},
        {12, "EscapeCommFunction function failed"},
        {13, "TransmitCommChar function failed"},
        {14, "Cannot set property while connected"},
        {15, "EnumPorts function failed"},
        {16, "Failed to store settings"},
        {17, "Failed to load settings"},
        {18, "Link (un)registration failed"},
        {19, "Cannot change led state if ComPort is selected"},
        {20, "Cannot wait for event if event thread is created"},
        {21, "WaitForEvent method failed"},
        {22, "A component is linked to OnRxBuf event"},
        {23, "Registry error"},
        {24, "Unknown Error #24"},
        {-1, "Unknown Error #-1"},
    };
    for (const auto& [code, text] : texts)
        EXPECT_EQ(ComErrorText(code), QString::fromLatin1(text)) << code;
    EXPECT_EQ(EComPort("COM6", 4).Message(), "COM6 Error: Invalid Async parameter");
    const EComPortExt ext("COM6", 1, 2);
    EXPECT_EQ(ext.Message(), "COM Port Error: Unable to open com port on COM6");
    EXPECT_EQ(ext.Code(), 1);
    EXPECT_EQ(ext.SystemCode(), 2);
    EXPECT_STREQ(ext.what(), "COM Port Error: Unable to open com port on COM6");
}
