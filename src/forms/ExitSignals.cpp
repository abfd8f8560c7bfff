// The exit signals reach the event loop through a wake-up object that their handler sets.
#include "forms/ExitSignals.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>

namespace zentrop {

namespace {

constexpr std::array kSignals{SIGTERM, SIGINT, SIGHUP};
const WakeUp* gWake = nullptr;
std::array<struct sigaction, kSignals.size()> gPrevious{};

void OnExitSignal(int)
{
    const int saved = errno;
    gWake->Signal();
    errno = saved;
}

} // namespace

ExitSignals::ExitSignals(std::function<void()> OnSignal, QObject* Parent)
    : QObject(Parent), FOnSignal(std::move(OnSignal))
{
    if (!FWake.Valid())
        return;
    gWake = &FWake;
    FNotifier = new QSocketNotifier(FWake.Fd(), QSocketNotifier::Read, this);
    connect(FNotifier, &QSocketNotifier::activated, this, [this] {
        FWake.Drain();
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
    gWake = nullptr;
}

} // namespace zentrop
