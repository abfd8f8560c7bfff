// What an emulation does with the bytes its parser reads: one object per emulation over the
// shared core (caret, buffer, attributes, replies), made together with its parser.
#pragma once

#include "term/TermCore.h"

namespace zentrop {

class TermEmulation {
public:
    explicit TermEmulation(ComTermCore& Term) : T(Term) {}
    virtual ~TermEmulation() = default;
    TermEmulation(const TermEmulation&) = delete;
    TermEmulation& operator=(const TermEmulation&) = delete;

    // Takes received bytes from Text on and returns how many it took: all of them, unless a
    // handler replaced this emulation meanwhile, which then takes the rest.
    virtual qsizetype Receive(const char* Text, qsizetype Count) = 0;
    // One byte outside any sequence, before DoChar reports it.
    virtual void PutChar(char Ch) = 0;
    // Carries out a code; false for codes it does not act on.
    virtual bool Perform(TEscapeCode Code, EscapeParams* Params) = 0;
    // The font's or background colour changed; the attributes were reset; the grid has a new
    // size; another emulation takes over.
    virtual void ColoursChanged() {}
    virtual void AttributesReset() {}
    virtual void SizeChanged() {}
    virtual void Leaving() {}

protected:
    // Still the terminal's emulation: after a handler ran, the loop goes on only then.
    bool Current() const { return T.FEmulationObject.get() == this; }

    ComTermCore& T;
};

// The VT52, the VT100/ANSI and no emulation, or a parser handed in by OnGetEscapeCodes: the
// received bytes and codes carried out exactly as the terminal control always has.
std::unique_ptr<TermEmulation> MakeClassicEmulation(ComTermCore& Term);
// The VT102 with the sequences of today's full-screen programs. Parser is its own parser,
// which the terminal owns.
std::unique_ptr<TermEmulation> MakeVT102Emulation(ComTermCore& Term, class EscapeCodesVT102& Parser);

} // namespace zentrop
