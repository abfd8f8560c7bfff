// Restarting a board into its bootloader through the port's modem lines before the opening
// sequence: the common wirings as names (one line or both, either polarity, pulse and start-up
// times) and any other as a list of steps.
#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace zentrop {

struct ResetStep {
    enum class Kind { Dtr, Rts, Wait };
    Kind What = Kind::Wait;
    int Value = 0; // a line: 1 raised, 0 lowered; a wait: milliseconds

    bool operator==(const ResetStep&) const = default;
};

using ResetSequence = std::vector<ResetStep>;

struct ResetTiming {
    int PulseMs = 50;  // how long the reset is held
    int StartMs = 100; // the bootloader's start-up time after it
    bool Inverted = false; // the board resets while the line is lowered
};

// "none" (no steps), "dtr", "rts", "both", or steps such as "dtr=0,rts=1,wait=50,rts=0"
// (lines 0 or 1, waits of 0 to 10000 ms). Named sequences raise the line(s), hold them the
// pulse time, lower them and wait the start-up time; inverted swaps raising and lowering.
// nullopt with the reason when the text is none of these.
std::optional<ResetSequence> ParseResetSequence(const QString& text, const ResetTiming& timing, QString* error);

// Runs the steps: a line step through setLine (DTR or RTS, raised or not), which returns 0 or
// the system's error code; a wait through pause. Stops at the first failure and returns its
// code, with the failed step in *failed.
int RunResetSequence(const ResetSequence& steps, const std::function<int(ResetStep::Kind, bool)>& setLine,
                     const std::function<void(int)>& pause, ResetStep* failed);

// "DTR", "RTS".
QString ResetLineName(ResetStep::Kind line);

} // namespace zentrop
