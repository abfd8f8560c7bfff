// Debug output to a logging category that is off unless asked for, or to a sink a test has
// installed.
#include "base/Debug.h"

#include <mutex>

namespace zentrop {

// Debug messages only: a category's default of warnings and above keeps it quiet. Its name
// must not end in ".debug", which the logging rules would read as a message type.
Q_LOGGING_CATEGORY(DebugCategory, "zentrop.debugstring", QtWarningMsg)

namespace {

std::mutex gMutex;
DebugSink gSink;

} // namespace

void OutputDebugString(const QString& text)
{
    {
        std::lock_guard lock(gMutex);
        if (gSink) {
            gSink(text);
            return;
        }
    }
    // A category that is off costs one test here.
    qCDebug(DebugCategory).noquote() << text;
}

DebugSink SetDebugSink(DebugSink sink)
{
    std::lock_guard lock(gMutex);
    DebugSink previous = std::move(gSink);
    gSink = std::move(sink);
    return previous;
}

void EnableDebugOutput()
{
    // A rule rather than the category's flag, so that it holds when the rules are read again.
    QLoggingCategory::setFilterRules(QStringLiteral("zentrop.debugstring=true"));
}

} // namespace zentrop
