// The exit signals reach the event loop through a pipe that their handler writes to.
#include "ExitSignals.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace zentrop {

namespace {

constexpr std::array kSignals{SIGTERM, SIGINT, SIGHUP};
int gPipe[2] = {-1, -1};
std::array<struct sigaction, kSignals.size()> gPrevious{};

void OnExitSignal(int Signal)
{
    const int saved = errno;
    const char byte = static_cast<char>(Signal);
    // A full pipe already holds a request to exit.
    [[maybe_unused]] const ssize_t n = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

ExitSignals::ExitSignals(std::function<void()> OnSignal, QObject* Parent)
    : QObject(Parent), FOnSignal(std::move(OnSignal))
{
    if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    FNotifier = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(gPipe[0], bytes, sizeof bytes) > 0) {
        }
        if (FOnSignal)
            FOnSignal();
    });
    struct sigaction action {};
    action.sa_handler = OnExitSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &action, &gPrevious[i]);
}

ExitSignals::~ExitSignals()
{
    if (!FNotifier)
        return;
    for (size_t i = 0; i < kSignals.size(); ++i)
        ::sigaction(kSignals[i], &gPrevious[i], nullptr);
    delete FNotifier;
    ::close(gPipe[0]);
    ::close(gPipe[1]);
    gPipe[0] = gPipe[1] = -1;
}

} // namespace zentrop
