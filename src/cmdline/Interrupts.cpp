// The signals that end a command-line run, read from a signal descriptor on a thread that
// calls the run's interruption.
#include "cmdline/Interrupts.h"

#include "cmdline/CommandLine.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace zentrop {

namespace {

sigset_t WatchedSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

// Nothing is open that would need putting back, whatever the command was doing (reading a
// file that never ends, say): the process stops here.
[[noreturn]] void EndInterrupted()
{
    std::fprintf(stderr, "%s: interrupted\n", program_invocation_short_name);
    std::_Exit(cli::ExitInterrupted);
}

} // namespace

InterruptWatch::InterruptWatch()
{
    const sigset_t set = WatchedSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    FSignalFd.Reset(signalfd(-1, &set, SFD_CLOEXEC));
    // A signal that came before the program started (sent to the program that started this
    // one, say) ends it at once, instead of racing with the command's first steps.
    sigset_t pending;
    sigemptyset(&pending);
    if (sigpending(&pending) == 0)
        for (const int signal : {SIGINT, SIGTERM, SIGHUP})
            if (sigismember(&pending, signal) == 1)
                EndInterrupted();
    if (FSignalFd.Valid() && FStop.Valid())
        FThread = std::thread([this] { Watch(); });
    else
        // Without a watch (no descriptor left to make one) the signals keep their default:
        // they end the program, which is better than being ignored.
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

InterruptWatch::~InterruptWatch()
{
    if (FThread.joinable()) {
        FStop.Signal();
        FThread.join();
    }
    // The signals stay blocked: one that comes after the thread has ended stays pending, and
    // the process still ends with the status its caller returns.
}

void InterruptWatch::SetHandler(std::function<void()> handler)
{
    std::lock_guard lock(FMutex);
    FHandler = std::move(handler);
    if (FHandler && FInterrupted)
        FHandler();
}

void InterruptWatch::Watch()
{
    for (;;) {
        pollfd fds[2] = {{FSignalFd.Get(), POLLIN, 0}, {FStop.Fd(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[1].revents)
            return;
        signalfd_siginfo info{};
        if (::read(FSignalFd.Get(), &info, sizeof info) != static_cast<ssize_t>(sizeof info))
            continue;
        int none = 0;
        FSignal.compare_exchange_strong(none, static_cast<int>(info.ssi_signo));
        FInterrupted = true;
        std::lock_guard lock(FMutex);
        if (FHandler) {
            FHandler();
        } else {
            EndInterrupted();
        }
    }
}

} // namespace zentrop
