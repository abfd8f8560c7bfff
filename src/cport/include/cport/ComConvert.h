// Text forms of the port settings (for selectors and settings storage), character texts,
// and the conversion between event sets and the device's event mask.
#pragma once

#include "cport/CPortTypes.h"

#include <QString>
#include <cstdint>

namespace zentrop {

// Each TextTo... compares the text with the member texts, letters a to z taken as upper
// case, and falls back to a fixed member when none matches; none of them fails.
QString BaudRateToText(TBaudRate BaudRate);
TBaudRate TextToBaudRate(const QString& Str);          // fallback br9600
QString StopBitsToText(TStopBits StopBits);
TStopBits TextToStopBits(const QString& Str);          // fallback sbOneStopBit
QString DataBitsToText(TDataBits DataBits);
TDataBits TextToDataBits(const QString& Str);          // fallback dbEight
QString ParityToText(TParityBits Parity);
TParityBits TextToParity(const QString& Str);          // fallback prNone
QString FlowControlToText(TFlowControl FlowControl);
TFlowControl TextToFlowControl(const QString& Str);    // fallback fcCustom
QString DTRControlToText(TDTRFlowControl DTRControl);
TDTRFlowControl TextToDTRControl(const QString& Str);  // fallback dtrDisable
QString RTSControlToText(TRTSFlowControl RTSControl);
TRTSFlowControl TextToRTSControl(const QString& Str);  // fallback rtsDisable
QString BoolToYesNo(bool B);
bool YesNoToBool(const QString& Str);                  // only "YES" in any letter case is true

// The bits per second a member names; 0 for brCustom.
int BaudRateValue(TBaudRate BaudRate);
// The member for a rate in bits per second; brCustom for a rate no member names.
TBaudRate BaudRateOf(int Baud);

// Codes 33 to 127 give the character itself, all others "#" and the decimal code.
QString CharToText(char C);
// "" gives #0; a one-character text, or one not starting with "#", gives its first
// character; otherwise the low 8 bits of the number after "#" (#0 when it is no number).
char TextToChar(const QString& Str);

// The system event mask bits (EV_...).
namespace EventMask {
enum : uint32_t {
    EV_RXCHAR = 0x0001,
    EV_RXFLAG = 0x0002,
    EV_TXEMPTY = 0x0004,
    EV_CTS = 0x0008,
    EV_DSR = 0x0010,
    EV_RLSD = 0x0020,
    EV_BREAK = 0x0040,
    EV_ERR = 0x0080,
    EV_RING = 0x0100,
    EV_PERR = 0x0200,
    EV_RX80FULL = 0x0400,
};
}

// The mask bit of one event.
uint32_t EventToMask(TComEvent Event);
uint32_t EventsToMask(TComEvents Events);
// Mask bits that stand for no event are ignored.
TComEvents MaskToEvents(uint32_t Mask);

} // namespace zentrop
