// Debug output to the system log, or to a sink a test has installed.
#include "base/Debug.h"

#include <mutex>
#include <syslog.h>

namespace zentrop {

namespace {

std::mutex gMutex;
DebugSink gSink;

} // namespace

void OutputDebugString(const QString& text)
{
    std::lock_guard lock(gMutex);
    if (gSink) {
        gSink(text);
        return;
    }
    syslog(LOG_USER | LOG_DEBUG, "%s", text.toUtf8().constData());
}

DebugSink SetDebugSink(DebugSink sink)
{
    std::lock_guard lock(gMutex);
    DebugSink previous = std::move(gSink);
    gSink = std::move(sink);
    return previous;
}

} // namespace zentrop
