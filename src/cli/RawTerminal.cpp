// Raw mode on the user's terminal and the signal handlers that put it back.
#include "RawTerminal.h"

#include <csignal>
#include <termios.h>
#include <unistd.h>

namespace zentrop {

namespace {

// What the handlers need, set before they are installed and cleared after they are removed.
int gFd = -1;
termios gSaved{};
termios gRaw{};
volatile sig_atomic_t gInstalled = 0;

// Signals that end the process (or dump it) by default, and those that stop it. Ctrl-C and
// the other terminal keys send no signal in raw mode; these come from elsewhere. SIGINT,
// SIGTERM and SIGHUP are taken by the command line's interrupt watch, which ends the monitor
// normally.
constexpr int kFatal[] = {SIGQUIT, SIGABRT, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGALRM, SIGUSR1, SIGUSR2, SIGXCPU, SIGXFSZ};
constexpr int kStop[] = {SIGTSTP, SIGTTIN, SIGTTOU};

void OnFatal(int sig)
{
    if (gInstalled)
        ::tcsetattr(gFd, TCSANOW, &gSaved);
    // The handler was reset to the default when it was called: this ends the process as
    // the signal would have.
    ::raise(sig);
}

void OnStop(int sig)
{
    if (!gInstalled)
        return;
    ::tcsetattr(gFd, TCSANOW, &gSaved);
    ::signal(sig, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, sig);
    ::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    ::raise(sig);
    // Continued: raw mode again, and ready for the next stop.
    struct sigaction sa {};
    sa.sa_handler = OnStop;
    sigemptyset(&sa.sa_mask);
    ::sigaction(sig, &sa, nullptr);
    ::tcsetattr(gFd, TCSANOW, &gRaw);
}

void Install(bool on)
{
    struct sigaction sa {};
    sigemptyset(&sa.sa_mask);
    for (int sig : kFatal) {
        sa.sa_handler = on ? OnFatal : SIG_DFL;
        sa.sa_flags = on ? SA_RESETHAND : 0;
        ::sigaction(sig, &sa, nullptr);
    }
    for (int sig : kStop) {
        sa.sa_handler = on ? OnStop : SIG_DFL;
        sa.sa_flags = 0;
        ::sigaction(sig, &sa, nullptr);
    }
    // A screen that went away (a closed pipe) is a write error that ends the monitor
    // normally, not a signal that ends the process.
    sa.sa_handler = on ? SIG_IGN : SIG_DFL;
    ::sigaction(SIGPIPE, &sa, nullptr);
}

} // namespace

RawTerminal::RawTerminal(int fd)
{
    termios saved{};
    if (!::isatty(fd) || ::tcgetattr(fd, &saved) != 0)
        return;
    gFd = fd;
    gSaved = saved;
    gRaw = saved;
    // No echo, no line editing, no signals from keys, no translation either way: every key
    // goes to the device and every byte of the device to the screen.
    ::cfmakeraw(&gRaw);
    gRaw.c_cc[VMIN] = 1;
    gRaw.c_cc[VTIME] = 0;
    gInstalled = 1;
    Install(true);
    if (::tcsetattr(fd, TCSAFLUSH, &gRaw) != 0) {
        Install(false);
        gInstalled = 0;
        return;
    }
    FActive = true;
}

RawTerminal::~RawTerminal()
{
    if (!FActive)
        return;
    ::tcsetattr(gFd, TCSADRAIN, &gSaved);
    Install(false);
    gInstalled = 0;
}

} // namespace zentrop
