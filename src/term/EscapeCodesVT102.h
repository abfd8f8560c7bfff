// The VT102 parser: the ECMA-48 byte grammar (parameters, intermediates, every final byte,
// control bytes carried out inside a sequence, CAN and SUB abort, ESC restarts, control
// strings skipped) and the VT102's sequences turned into escape codes. The bytes of a sequence
// are gathered in a buffer of the parser's own and reach Data when the sequence finishes.
#pragma once

#include "term/EscapeCodes.h"

namespace zentrop {

class EscapeCodesVT102 final : public TEscapeCodes {
public:
    EscapeCodesVT102() : TEscapeCodes(true) {}

    // Takes the parameter digits and separators at the start of Bytes while a CSI sequence
    // collects them, all at once; returns how many it took (0 in any other state). The bytes
    // would have given erNothing one by one.
    qsizetype TakeParameterBytes(const char* Bytes, qsizetype Count)
    {
        if (FState != State::Csi || !FInSequence)
            return 0;
        qsizetype n = 0;
        const qsizetype room = MaxSequenceLength - FLength;
        while (n < Count && n < room && ((Bytes[n] >= '0' && Bytes[n] <= '9') || Bytes[n] == ';'))
            FBytes[FLength + n] = Bytes[n], ++n;
        FLength += static_cast<int>(n);
        return n;
    }

    // Inside a sequence a control byte other than CAN, SUB and ESC gives erChar: the terminal
    // carries it out and the sequence goes on with the next byte.
    TEscapeResult ProcessChar(char Ch) override;
    QByteArray EscCodeToStr(TEscapeCode Code, const EscapeParams* Params) const override;

    // Parameter Num (1-based) of the last sequence as a number, Default when it is missing or
    // empty; a value too large for the screen is kept at 9999.
    static int Number(const EscapeParams& Params, int Num, int Default);
    // The code of a CSI sequence without intermediates: its private marker (0 for none), its
    // final byte, its first parameter as a number (0 when missing) and how many it has.
    static TEscapeCode CsiCode(char Marker, uint8_t Final, int P1, int Count);

private:
    enum class State : uint8_t { Escape, EscIntermediate, Csi, CsiIntermediate, CsiIgnore, String, StringEscape };

    TEscapeResult Begin();
    void Put(char c)
    {
        if (FLength < MaxSequenceLength)
            FBytes[FLength++] = c;
        else
            FOverlong = true;
    }
    // Ends the sequence with Result, its bytes now in Data.
    TEscapeResult Done(TEscapeCode Result);
    TEscapeResult Sequence(uint8_t c);
    TEscapeResult FinishEsc(uint8_t Final);
    TEscapeResult FinishCsi(uint8_t Final);
    // Splits the parameter text of a CSI sequence into Params, an empty field included.
    void SplitParams();

    State FState = State::Escape;
    char FMarker = 0;           // a private marker ("?") before the parameters
    char FIntermediate = 0;     // the first intermediate byte, 0 for none
    int FParamStart = 0;        // where the parameter text begins in FBytes
    char FBytes[MaxSequenceLength] = {};
    int FLength = 0;
};

} // namespace zentrop
