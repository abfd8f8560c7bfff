// The escape-code parsers: bytes in, one at a time, plain characters and recognised VT52 or
// VT100/ANSI sequences out; and a code turned back into the bytes to send for it.
#pragma once

#include "term/TermTypes.h"

#include <QByteArray>
#include <cstring>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

namespace zentrop {

// The parameters of a sequence, each as its text, parameter 1 first. Cleared items keep
// their storage, so a stream of sequences allocates nothing once warmed up.
class EscapeParams {
public:
    int Count() const { return FCount; }
    const std::string& operator[](int Index) const { return FItems[static_cast<size_t>(Index)]; }
    void Add(std::string_view Text);
    void Clear() { FCount = 0; }
    // Takes Other's items in place of its own.
    void Swap(EscapeParams& Other);

private:
    std::vector<std::string> FItems;
    int FCount = 0;
};

class TEscapeCodes {
public:
    // Longest sequence (the bytes after ESC) kept. A longer sequence is still read to its
    // end, but only this much of it is kept and it finishes as ecUnknown, so garbage that
    // never ends a sequence cannot grow memory.
    static constexpr int MaxSequenceLength = 256;

    virtual ~TEscapeCodes() = default;

    // Feeds one byte; see TEscapeResult.
    virtual TEscapeResult ProcessChar(char Ch) = 0;
    // The bytes to send for Code; empty when this emulation has none.
    virtual QByteArray EscCodeToStr(TEscapeCode Code, const EscapeParams* Params) const = 0;

    // Parameter Num (1-based) as a number: 1 when Params is null, shorter than Num, or the
    // entry is not an integer (decimal with an optional sign, or hexadecimal written with
    // "$" or "0x"); a given 0 stays 0 and negative values pass.
    static int GetParam(int Num, const EscapeParams* Params);

    // An ESC has been seen and its sequence has not finished.
    bool InSequence() const { return FInSequence; }
    // The unfinished sequence so far, without its ESC.
    std::string_view Sequence() const { return {Data.constData(), static_cast<size_t>(Data.size())}; }
    // Outside a sequence, every byte but ESC is a plain character, so a caller may take a
    // run of plain bytes without feeding them one by one. A parser of another kind keeps
    // this false.
    bool PassesPlainBytes() const { return FPassesPlainBytes; }

    char Character = 0;                             // the last plain character
    TEscapeCode Code = TEscapeCode::ecUnknown;      // the last finished sequence
    QByteArray Data;                                // the bytes of the current or last sequence, without its ESC
    EscapeParams Params;                           // the user clears it after acting on a code

protected:
    explicit TEscapeCodes(bool PassesPlainBytes = false) : FPassesPlainBytes(PassesPlainBytes) {}

    // Starts a sequence on ESC (erNothing) or reports a plain byte (erChar). False when the
    // byte belongs to the sequence instead.
    bool TakeOutsideSequence(char Ch, TEscapeResult& Result)
    {
        if (FInSequence)
            return false;
        if (Ch == 27) {
            Data.resize(0);
            FInSequence = true;
            FOverlong = false;
            Result = TEscapeResult::erNothing;
        } else {
            Character = Ch;
            Result = TEscapeResult::erChar;
        }
        return true;
    }
    // Appends Ch to the sequence up to the length bound; beyond it, notes the overflow.
    void Collect(char Ch)
    {
        if (Data.size() < MaxSequenceLength)
            Data.append(Ch);
        else
            FOverlong = true;
    }
    // Collect for each of Count bytes, in one append.
    void CollectRun(const char* Bytes, qsizetype Count)
    {
        const qsizetype room = MaxSequenceLength - Data.size();
        if (Count > room) {
            FOverlong = true;
            Count = room;
        }
        if (Count > 0) {
            const qsizetype size = Data.size();
            Data.resize(size + Count);
            std::memcpy(Data.data() + size, Bytes, static_cast<size_t>(Count));
        }
    }
    // A finished classification ends the sequence and gives erCode.
    TEscapeResult Finish(TEscapeCode Result);

    bool FInSequence = false;
    bool FOverlong = false;

private:
    bool FPassesPlainBytes;
};

class TEscapeCodesVT52 : public TEscapeCodes {
public:
    TEscapeCodesVT52() : TEscapeCodes(true) {}
    TEscapeResult ProcessChar(char Ch) override;
    QByteArray EscCodeToStr(TEscapeCode Code, const EscapeParams* Params) const override;

private:
    TEscapeCode Classify();
};

class TEscapeCodesVT100 : public TEscapeCodes {
public:
    TEscapeCodesVT100() : TEscapeCodes(true) {}
    TEscapeResult ProcessChar(char Ch) override;
    QByteArray EscCodeToStr(TEscapeCode Code, const EscapeParams* Params) const override;

    bool InCSI() const { return FInCSI; }

    // Feeds the bytes from Bytes on as ProcessChar would one at a time, up to and including
    // the first that gives erChar or erCode; returns how many it took, and in Result that
    // byte's result (erNothing when all Count went into an unfinished sequence). The
    // parameter bytes of a CSI sequence are taken in one step. A class derived from this one
    // gets each byte through its own ProcessChar.
    qsizetype ProcessChars(const char* Bytes, qsizetype Count, TEscapeResult& Result);

private:
    TEscapeCode ClassifySimple() const;
    TEscapeCode ClassifyCSI();
    // The end of a CSI sequence, its letter collected.
    TEscapeResult FinishCSI();
    // This object is of this very class, not of one derived from it: -1 not yet known.
    bool ExactType()
    {
        if (FExactType < 0)
            FExactType = typeid(*this) == typeid(TEscapeCodesVT100) ? 1 : 0;
        return FExactType > 0;
    }

    bool FInCSI = false;
    int8_t FExactType = -1;
    EscapeParams FNewParams;
};

} // namespace zentrop
