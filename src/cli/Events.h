// JSON Lines as a run goes on (run, port, memory, page, retry, app, end), for station displays
// and manufacturing systems that follow a run while it happens.
#pragma once

#include "upgrade/Bootloader.h"

#include <QJsonObject>
#include <QString>

#include <cstdio>
#include <mutex>

namespace zentrop {

namespace cli {

class EventStream {
public:
    // Writes to out (standard output or an opened file); nothing when out is null.
    explicit EventStream(FILE* out) : FOut(out) {}

    // One line: the object after "event" and the time (UTC); lines of several ports' threads
    // never mix.
    void Emit(const QString& event, QJsonObject fields);
    bool Enabled() const { return FOut != nullptr; }

private:
    std::mutex FMutex;
    FILE* FOut;
};

// A port's upgrade events on the stream.
class PortEvents : public UpgradeObserver {
public:
    PortEvents(EventStream& stream, const QString& port) : FStream(stream), FPort(port) {}
    void MemoryStarted(Memory memory, int pages) override;
    void PageDone(const PageProgress& page) override;

private:
    EventStream& FStream;
    QString FPort;
};

QString MemoryKey(Memory memory);

} // namespace cli

} // namespace zentrop
