// The user's terminal in raw mode for the console monitor: every key reaches the program and
// every byte the screen unchanged. The saved mode is put back when the object ends, and by
// signal handlers on every signal that would end or stop the process while it exists, so the
// shell is never left with a terminal that echoes nothing.
#pragma once

namespace zentrop {

class RawTerminal {
public:
    // Switches Fd to raw mode when it is a terminal; otherwise does nothing.
    explicit RawTerminal(int fd);
    ~RawTerminal();
    RawTerminal(const RawTerminal&) = delete;
    RawTerminal& operator=(const RawTerminal&) = delete;

    bool Active() const { return FActive; }

private:
    bool FActive = false;
};

} // namespace zentrop
