// The settings' text forms, character texts and the event mask conversion.
#include "cport/ComConvert.h"

#include "base/Ansi.h"

#include <array>
#include <iterator>

namespace zentrop {

namespace {

constexpr const char* kBaudTexts[] = {"Custom", "110", "300", "600", "1200", "2400", "4800",
                                      "9600", "14400", "19200", "38400", "56000", "57600",
                                      "115200", "128000", "256000"};
constexpr int kBaudValues[] = {0, 110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200,
                               38400, 56000, 57600, 115200, 128000, 256000};
constexpr const char* kStopTexts[] = {"1", "1.5", "2"};
constexpr const char* kDataTexts[] = {"5", "6", "7", "8"};
constexpr const char* kParityTexts[] = {"None", "Odd", "Even", "Mark", "Space"};
constexpr const char* kFlowTexts[] = {"Hardware", "Software", "None", "Custom"};
constexpr const char* kDTRTexts[] = {"Disable", "Enable", "Handshake"};
constexpr const char* kRTSTexts[] = {"Disable", "Enable", "Handshake", "Toggle"};

// Only the letters a to z are raised, so that a letter beyond them never matches a plain
// one, not even where Unicode would raise it to one (the long s to S, the dotless i to I).
QString AsciiUpper(const QString& s)
{
    QString out = s;
    for (QChar& c : out)
        if (c >= u'a' && c <= u'z')
            c = QChar(c.unicode() - 32);
    return out;
}

template <typename E, size_t N>
QString ToText(const char* const (&texts)[N], E member)
{
    const auto i = static_cast<size_t>(member);
    return i < N ? QString::fromLatin1(texts[i]) : QString();
}

template <typename E, size_t N>
E FromText(const char* const (&texts)[N], const QString& text, E fallback)
{
    const QString upper = AsciiUpper(text);
    for (size_t i = 0; i < N; ++i)
        if (AsciiUpper(QString::fromLatin1(texts[i])) == upper)
            return static_cast<E>(i);
    return fallback;
}

// Event to mask bit, in the order of the event enumeration.
constexpr std::array<uint32_t, 10> kEventMask = {
    EventMask::EV_RXCHAR, EventMask::EV_TXEMPTY, EventMask::EV_RXFLAG, EventMask::EV_RING,
    EventMask::EV_BREAK, EventMask::EV_CTS, EventMask::EV_DSR, EventMask::EV_ERR,
    EventMask::EV_RLSD, EventMask::EV_RX80FULL};

} // namespace

QString BaudRateToText(TBaudRate BaudRate) { return ToText(kBaudTexts, BaudRate); }
TBaudRate TextToBaudRate(const QString& Str) { return FromText(kBaudTexts, Str, TBaudRate::br9600); }
QString StopBitsToText(TStopBits StopBits) { return ToText(kStopTexts, StopBits); }
TStopBits TextToStopBits(const QString& Str) { return FromText(kStopTexts, Str, TStopBits::sbOneStopBit); }
QString DataBitsToText(TDataBits DataBits) { return ToText(kDataTexts, DataBits); }
TDataBits TextToDataBits(const QString& Str) { return FromText(kDataTexts, Str, TDataBits::dbEight); }
QString ParityToText(TParityBits Parity) { return ToText(kParityTexts, Parity); }
TParityBits TextToParity(const QString& Str) { return FromText(kParityTexts, Str, TParityBits::prNone); }
QString FlowControlToText(TFlowControl FlowControl) { return ToText(kFlowTexts, FlowControl); }
TFlowControl TextToFlowControl(const QString& Str)
{
    return FromText(kFlowTexts, Str, TFlowControl::fcCustom);
}
QString DTRControlToText(TDTRFlowControl DTRControl) { return ToText(kDTRTexts, DTRControl); }
TDTRFlowControl TextToDTRControl(const QString& Str)
{
    return FromText(kDTRTexts, Str, TDTRFlowControl::dtrDisable);
}
QString RTSControlToText(TRTSFlowControl RTSControl) { return ToText(kRTSTexts, RTSControl); }
TRTSFlowControl TextToRTSControl(const QString& Str)
{
    return FromText(kRTSTexts, Str, TRTSFlowControl::rtsDisable);
}

QString BoolToYesNo(bool B) { return B ? QStringLiteral("Yes") : QStringLiteral("No"); }
bool YesNoToBool(const QString& Str) { return AsciiUpper(Str) == QLatin1String("YES"); }

int BaudRateValue(TBaudRate BaudRate)
{
    const auto i = static_cast<size_t>(BaudRate);
    return i < std::size(kBaudValues) ? kBaudValues[i] : 0;
}

TBaudRate BaudRateOf(int Baud)
{
    for (int i = static_cast<int>(TBaudRate::br110); i <= static_cast<int>(TBaudRate::br256000); ++i) {
        if (BaudRateValue(static_cast<TBaudRate>(i)) == Baud)
            return static_cast<TBaudRate>(i);
    }
    return TBaudRate::brCustom;
}

QString CharToText(char C)
{
    const int code = static_cast<unsigned char>(C);
    if (code >= 33 && code <= 127)
        return QString(QChar(code));
    return u'#' + QString::number(code);
}

char TextToChar(const QString& Str)
{
    if (Str.isEmpty())
        return 0;
    if (Str.size() == 1 || Str[0] != u'#')
        return EncodeAnsi(Str.left(1)).at(0);
    // The number may be written in hexadecimal with "$" or "0x", as the platform's
    // integer parser allows.
    const QString number = Str.mid(1);
    const bool negative = number.startsWith(u'-');
    const QString digits = (negative || number.startsWith(u'+')) ? number.mid(1) : number;
    bool ok = false;
    int value = 0;
    if (digits.startsWith(u'$'))
        value = digits.mid(1).toInt(&ok, 16);
    else if (digits.startsWith(QLatin1String("0x"), Qt::CaseInsensitive))
        value = digits.mid(2).toInt(&ok, 16);
    else
        value = digits.toInt(&ok, 10);
    if (!ok || digits.isEmpty() || digits[0].isSpace() || digits[0] == u'-' || digits[0] == u'+')
        return 0;
    return static_cast<char>((negative ? -value : value) & 0xFF);
}

uint32_t EventToMask(TComEvent Event) { return kEventMask[static_cast<size_t>(Event)]; }

uint32_t EventsToMask(TComEvents Events)
{
    uint32_t mask = 0;
    for (size_t i = 0; i < kEventMask.size(); ++i)
        if (Events.Contains(static_cast<TComEvent>(i)))
            mask |= kEventMask[i];
    return mask;
}

TComEvents MaskToEvents(uint32_t Mask)
{
    TComEvents events;
    for (size_t i = 0; i < kEventMask.size(); ++i)
        if (Mask & kEventMask[i])
            events.Include(static_cast<TComEvent>(i));
    return events;
}

} // namespace zentrop
