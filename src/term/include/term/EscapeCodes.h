// The escape-code parsers: bytes in, one at a time (or, for the VT100 parser, a sequence's
// worth in one call), plain characters and recognised VT52 or VT100/ANSI sequences out; and a
// code turned back into the bytes to send for it.
#pragma once

#include "term/TermTypes.h"

#include <QByteArray>
#include <cstring>
#include <string>
#include <string_view>
#include <typeinfo>
#include <vector>

namespace zentrop {

// The parameters of a sequence, each as its text, parameter 1 first. The texts lie in one
// block, each with its value when it is a plain number, so that a stream of sequences
// allocates nothing once warmed up and reading a number needs no conversion; a text is made
// a string only when asked for as one.
class EscapeParams {
public:
    int Count() const { return FCount; }
    // Stays valid until the list next changes.
    const std::string& operator[](int Index) const;
    std::string_view Text(int Index) const
    {
        const Item& item = FItems[static_cast<size_t>(Index)];
        return {FChars.data() + item.Begin, item.Size};
    }
    // The first byte of the text, 0 when it is empty.
    char Front(int Index) const
    {
        const Item& item = FItems[static_cast<size_t>(Index)];
        return item.Size > 0 ? FChars[item.Begin] : 0;
    }
    // The value of a text of one to nine decimal digits, else -1.
    int PlainNumber(int Index) const { return FItems[static_cast<size_t>(Index)].Number; }
    void Add(std::string_view Text)
    {
        if (static_cast<size_t>(FCount) == FItems.size() || FUsed + Text.size() > FChars.size())
            Grow(Text.size());
        if (!Text.empty())
            std::memcpy(FChars.data() + FUsed, Text.data(), Text.size());
        FItems[static_cast<size_t>(FCount++)] = Item{static_cast<uint32_t>(FUsed), static_cast<uint32_t>(Text.size()), Plain(Text)};
        FUsed += Text.size();
    }
    void Clear()
    {
        FCount = 0;
        FUsed = 0;
    }
    // Takes Other's items in place of its own.
    void Swap(EscapeParams& Other);

private:
    friend class TEscapeCodesVT100;
    // Empties the list and makes room for a block of Size bytes, which the caller writes,
    // for AddSpan's items to lie in.
    char* NewBlock(size_t Size)
    {
        FCount = 0;
        FUsed = 0;
        if (Size > FChars.size())
            Grow(Size);
        FUsed = Size;
        return FChars.data();
    }
    // An item of the block, with its value when it is a plain number (else -1).
    void AddSpan(size_t Begin, size_t Size, int Number)
    {
        if (static_cast<size_t>(FCount) == FItems.size())
            Grow(0);
        FItems[static_cast<size_t>(FCount++)] = Item{static_cast<uint32_t>(Begin), static_cast<uint32_t>(Size), Number};
    }

    struct Item {
        uint32_t Begin;
        uint32_t Size;
        int Number;
        mutable bool Made = false;   // its string in FStrings is up to date
    };
    static int Plain(std::string_view Text)
    {
        if (Text.empty() || Text.size() > 9)
            return -1;
        int v = 0;
        for (const char c : Text) {
            if (c < '0' || c > '9')
                return -1;
            v = v * 10 + (c - '0');
        }
        return v;
    }
    void Grow(size_t Bytes);

    std::vector<char> FChars;
    size_t FUsed = 0;
    std::vector<Item> FItems;
    int FCount = 0;
    mutable std::vector<std::string> FStrings;
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
    static int GetParam(int Num, const EscapeParams* Params)
    {
        if (!Params || Num < 1 || Num > Params->Count())
            return 1;
        const int plain = Params->PlainNumber(Num - 1);
        return plain >= 0 ? plain : ParamOf(Params->Text(Num - 1));
    }

    // An ESC has been seen and its sequence has not finished.
    bool InSequence() const { return FInSequence; }
    // The unfinished sequence so far, without its ESC.
    std::string_view Sequence() const { return {Data.constData(), static_cast<size_t>(Data.size())}; }
    // Outside a sequence, every byte but ESC is a plain character, so a caller may take a
    // run of plain bytes without feeding them one by one. A parser of another kind keeps
    // this false.
    bool PassesPlainBytes() const { return FPassesPlainBytes; }
    // The terminal takes whole sequences from its received bytes without filling Data, which
    // few ever read; this fills it when a sequence taken so is still waiting, and must come
    // before Data is read and before those bytes are gone.
    void TakePendingData()
    {
        if (!FPendingData)
            return;
        Data.resize(FPendingSize);
        std::memcpy(Data.data(), FPendingData, static_cast<size_t>(FPendingSize));
        FPendingData = nullptr;
    }

    char Character = 0;                             // the last plain character
    TEscapeCode Code = TEscapeCode::ecUnknown;      // the last finished sequence
    QByteArray Data;                                // the bytes of the current or last sequence, without its ESC
    EscapeParams Params;                           // the user clears it after acting on a code

protected:
    // A text that is not a plain number, read by GetParam's rule.
    static int ParamOf(std::string_view Text);

    explicit TEscapeCodes(bool PassesPlainBytes = false) : FPassesPlainBytes(PassesPlainBytes) {}

    // Starts a sequence on ESC (erNothing) or reports a plain byte (erChar). False when the
    // byte belongs to the sequence instead.
    bool TakeOutsideSequence(char Ch, TEscapeResult& Result)
    {
        if (FInSequence)
            return false;
        if (Ch == 27) {
            FPendingData = nullptr;
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
    TEscapeResult Finish(TEscapeCode Result)
    {
        Code = Result;
        FInSequence = false;
        FOverlong = false;
        return TEscapeResult::erCode;
    }

    bool FInSequence = false;
    bool FOverlong = false;
    // The bytes of the last sequence after its ESC, in the caller's buffer, while Data does
    // not hold them yet.
    const char* FPendingData = nullptr;
    qsizetype FPendingSize = 0;

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
    // the first that gives erChar or erCode or leaves no sequence open; returns how many it
    // took, and in Result the last one's result. The
    // parameter bytes of a CSI sequence are taken in one step, and a sequence taken whole
    // leaves Data to TakePendingData. A class derived from this one gets each byte through
    // its own ProcessChar.
    qsizetype ProcessChars(const char* Bytes, qsizetype Count, TEscapeResult& Result)
    {
        if (FExactType > 0 && !FInSequence && Count >= 3 && Bytes[0] == 27 && Bytes[1] == '[') {
            // A whole CSI sequence that fits the bound, as nearly every one is: its bytes
            // after the ESC, up to the letter, become Data when someone looks.
            const qsizetype limit = Count < MaxSequenceLength + 1 ? Count : MaxSequenceLength + 1;
            qsizetype end = 2;
            while (end < limit && !IsLetter(Bytes[end]))
                ++end;
            if (end < limit) {
                FPendingData = Bytes + 1;
                FPendingSize = end;
                Result = Finish(ClassifyCSI(Bytes + 2, end - 2));
                return end + 1;
            }
        }
        return ProcessCharsOneByOne(Bytes, Count, Result);
    }

    // The numbers of a sequence of the most common kind, for TakeNumericCSI.
    struct CsiNumbers {
        static constexpr int Max = 16;
        int Count = 0;
        int Values[Max];
    };
    // For a caller that carries out the codes full-screen programs send most without the
    // parameters' texts, which then nobody can read: a whole CSI sequence at Bytes whose
    // parameters are plain numbers (up to CsiNumbers::Max of one to nine digits each, one
    // ";" between two) and whose letter is "m" or "H" is taken as ProcessChars takes it
    // (Code set, Data left to TakePendingData), except that Params is left empty and its
    // numbers go to Numbers. Returns how many bytes it took; 0, having changed nothing,
    // when Bytes do not start such a sequence.
    [[gnu::always_inline]] qsizetype TakeNumericCSI(const char* Bytes, qsizetype Count, CsiNumbers& Numbers)
    {
        if (FInSequence || !ExactType() || Count < 3 || Bytes[0] != 27 || Bytes[1] != '[')
            return 0;
        int n = 0;
        qsizetype i = 2;
        if (Digit(Bytes[i]) < 10) {
            for (;;) {
                unsigned value = 0;
                const qsizetype start = i;
                for (unsigned d; i < Count && (d = Digit(Bytes[i])) < 10; ++i)
                    value = value * 10 + d;
                if (i == Count || i - start > 9 || n == CsiNumbers::Max)
                    return 0;
                Numbers.Values[n++] = static_cast<int>(value);
                if (Bytes[i] != ';')
                    break;
                if (++i == Count || Digit(Bytes[i]) >= 10)
                    return 0;
            }
        }
        const char letter = Bytes[i];
        if (letter != 'm' && letter != 'H')
            return 0;
        Numbers.Count = n;
        Params.Clear();
        FPendingData = Bytes + 1;
        FPendingSize = i;
        Finish(letter == 'm' ? TEscapeCode::ecAttributes : TEscapeCode::ecCursorHome);
        return i + 1;
    }

private:
    static unsigned Digit(char c) { return static_cast<unsigned>(static_cast<uint8_t>(c) - '0'); }
    // A to Z or a to z: setting bit 5 makes an upper-case letter lower case and nothing else
    // a letter.
    static bool IsLetter(char c) { return static_cast<uint8_t>((static_cast<uint8_t>(c) | 0x20) - 'a') < 26; }
    TEscapeCode ClassifySimple() const;
    // The parameters and code of a CSI sequence whose Size parameter bytes lie at Text,
    // followed by its letter.
    TEscapeCode ClassifyCSI(const char* Text, qsizetype Size);
    qsizetype ProcessCharsOneByOne(const char* Bytes, qsizetype Count, TEscapeResult& Result);
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
};

} // namespace zentrop
