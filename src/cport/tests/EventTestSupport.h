// What event tests share: the application object whose event loop serves synchronised
// delivery, and a wait that serves it until a condition holds.
#pragma once

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <functional>

inline void EnsureApplication()
{
    static int argc = 1;
    static char name[] = "cport_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
}

// Runs the owning thread's event loop until Done holds; false when it did not within a
// bound far above any real delivery time (it only keeps a broken build from hanging).
inline bool ServeUntil(const std::function<bool()>& Done)
{
    const QDeadlineTimer deadline(20000);
    while (!Done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}
