// The event lines of a run.
#include "Events.h"

#include "cmdline/Console.h"

#include <QDateTime>
#include <QJsonDocument>

namespace zentrop {

namespace cli {

QString MemoryKey(Memory memory)
{
    return memory == Memory::Flash ? QStringLiteral("flash") : QStringLiteral("eeprom");
}

void EventStream::Emit(const QString& event, QJsonObject fields)
{
    if (!FOut)
        return;
    fields.insert("event", event);
    fields.insert("time", QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    const QByteArray line = QJsonDocument(fields).toJson(QJsonDocument::Compact);
    std::lock_guard lock(FMutex);
    ConsolePrintf(FOut, "%s\n", line.constData());
    // A reader follows the run as it happens, not when a buffer is full.
    std::fflush(FOut);
}

void PortEvents::MemoryStarted(Memory memory, int pages)
{
    FStream.Emit("memory", {{"port", FPort}, {"memory", MemoryKey(memory)}, {"pages", pages}});
}

void PortEvents::PageDone(const PageProgress& page)
{
    FStream.Emit("page", {{"port", FPort},
                          {"memory", MemoryKey(page.Where)},
                          {"page", page.Index + 1},
                          {"count", page.Count},
                          {"address", page.Address}});
}

} // namespace cli

} // namespace zentrop
