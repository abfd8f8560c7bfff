// Resource strings go through one loader that can be replaced and restored; debug texts
// reach an installed sink, or the log only when asked for; 8-bit texts convert both ways.
#include "base/Ansi.h"
#include "base/Debug.h"
#include "base/ResStrings.h"

#include <QStringList>

#include <gtest/gtest.h>

using namespace zentrop;

namespace {

QString Translated(int ident)
{
    return ident == res::SMsgDlgCancel ? QStringLiteral("Mégse") : LoadBuiltinResString(ident);
}

} // namespace

TEST(ResStrings, BuiltinTable)
{
    EXPECT_EQ(LoadResString(res::SMsgDlgWarning), "Warning");
    EXPECT_EQ(LoadResString(res::SMsgDlgError), "Error");
    EXPECT_EQ(LoadResString(res::SMsgDlgInformation), "Information");
    EXPECT_EQ(LoadResString(res::SMsgDlgConfirm), "Confirm");
    EXPECT_EQ(LoadResString(res::SMsgDlgYes), "&Yes");
    EXPECT_EQ(LoadResString(res::SMsgDlgNo), "&No");
    EXPECT_EQ(LoadResString(res::SFOpenErrorEx), "Cannot open file \"%s\". %s");
    EXPECT_EQ(LoadResString(res::SIniFileWriteError), "Unable to write to %s");
    EXPECT_EQ(LoadResString(res::SInvalidInteger), "'%s' is not a valid integer value");
    EXPECT_EQ(LoadResString(12345), "");
}

TEST(ResStrings, LoaderCanBeRedirectedAndRestored)
{
    const ResStringLoader previous = SetResStringLoader(&Translated);
    EXPECT_EQ(LoadResString(res::SMsgDlgCancel), "Mégse");
    EXPECT_EQ(LoadResString(res::SMsgDlgOK), "OK");
    SetResStringLoader(previous);
    EXPECT_EQ(LoadResString(res::SMsgDlgCancel), "Cancel");
}

TEST(Debug, SinkCapturesTexts)
{
    QStringList seen;
    const DebugSink previous = SetDebugSink([&](const QString& t) { seen.append(t); });
    OutputDebugString("CreateFile /dev/ttyUSB9");
    SetDebugSink(previous);
    OutputDebugString("not captured");
    EXPECT_EQ(seen, QStringList({"CreateFile /dev/ttyUSB9"}));
}

static QStringList gLogged;

static void KeepMessage(QtMsgType, const QMessageLogContext& context, const QString& text)
{
    gLogged.append(QString::fromUtf8(context.category) + ": " + text);
}

TEST(Debug, TextsReachTheLogOnlyWhenAskedFor)
{
    const QtMessageHandler previous = qInstallMessageHandler(&KeepMessage);
    OutputDebugString("TCustomComPort.WriteStr");
    const QStringList byDefault = gLogged;
    EnableDebugOutput();
    OutputDebugString("TCustomComPort.WriteStr");
    QLoggingCategory::setFilterRules(QString());
    qInstallMessageHandler(previous);
    EXPECT_TRUE(byDefault.isEmpty()) << byDefault.join('\n').toStdString();
    EXPECT_EQ(gLogged, QStringList({"zentrop.debugstring: TCustomComPort.WriteStr"}));
}

TEST(Ansi, CodePageRoundTrip)
{
    // The port-open message stores each "á" as the byte 0xE1.
    EXPECT_EQ(DecodeAnsi("megnyit\xE1s\xE1n\xE1l!"), QString::fromUtf8("megnyitásánál!"));
    EXPECT_EQ(DecodeAnsi("\x80\x9F"), QString::fromUtf8("€Ÿ"));
    QByteArray all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(EncodeAnsi(DecodeAnsi(all)), all);
    EXPECT_EQ(EncodeAnsi(QString::fromUtf8("ő")), "?");
}
