// SIGTERM, SIGINT and SIGHUP (a logout, kill, Ctrl-C in the starting terminal) for the window:
// taken in the event loop, so that the program ends as "Exit" ends it instead of dying with
// the port left set up for a run and the settings unwritten.
#pragma once

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
    QSocketNotifier* FNotifier = nullptr;
};

} // namespace zentrop
