// Writing to the console: output that never stops a run, and how standard error can be drawn on.
#pragma once

#include <cstdio>

namespace zentrop {

// Prints unless the stream has already failed (a closed pipe, a full disk): output that
// cannot be delivered must never stop or slow a run, which goes on and ends with its own status.
void ConsolePrintf(FILE* out, const char* format, ...) __attribute__((format(printf, 2, 3)));

struct ConsoleStyle {
    bool Redraw = false; // a terminal that understands going back to the line's start
    bool Color = false;
    // From the stream and the environment: a terminal other than TERM=dumb redraws, and
    // colours unless NO_COLOR is set.
    static ConsoleStyle Of(FILE* out);
};

} // namespace zentrop
