// SIGTERM, SIGINT and SIGHUP (a logout, kill, Ctrl-C in the starting terminal) for a window
// program: taken in the event loop, so that the program ends as its "Exit" ends it instead of
// dying with its port left set up and its settings unwritten.
#pragma once

#include "base/WakeUp.h"

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace zentrop {

class ExitSignals : public QObject {
public:
    // From now until destruction the signals call OnSignal from the event loop of the
    // thread that made this object; the previous dispositions come back afterwards. One
    // object at a time.
    explicit ExitSignals(std::function<void()> OnSignal, QObject* Parent = nullptr);
    ~ExitSignals() override;

private:
    std::function<void()> FOnSignal;
    WakeUp FWake;
    QSocketNotifier* FNotifier = nullptr;
};

} // namespace zentrop
