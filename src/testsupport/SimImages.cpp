// JSON form of the simulator's record, written atomically so a reader never sees half a file.
#include "testsupport/SimImages.h"

#include "testsupport/BootSim.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace zentrop {

namespace bootsim {

namespace {

QJsonArray PagesOf(const DeviceRecord& record, Memory where)
{
    QJsonArray pages;
    for (const ReceivedPage& p : record.Pages) {
        if (p.Where != where)
            continue;
        pages.append(QJsonObject{{"address", p.Address},
                                 {"long", p.LongAddress},
                                 {"size", static_cast<int>(p.Data.size())},
                                 {"data", QString::fromLatin1(p.Data.toHex())}});
    }
    return pages;
}

void ReadPages(const QJsonValue& value, Memory where, DeviceRecord& record)
{
    if (!value.isArray())
        throw SimError(std::string("record: \"") + MemoryName(where) + "\" is not a list");
    for (const QJsonValue& v : value.toArray()) {
        const QJsonObject o = v.toObject();
        const QString hex = o.value("data").toString();
        const QByteArray data = QByteArray::fromHex(hex.toLatin1());
        if (!o.value("address").isDouble() || data.size() * 2 != hex.size() ||
            o.value("size").toInt(-1) != data.size())
            throw SimError(std::string("record: a damaged ") + MemoryName(where) + " page");
        record.Pages.push_back(ReceivedPage{where, o.value("address").toInt(), o.value("long").toBool(), data});
    }
}

} // namespace

QByteArray RecordToJson(const DeviceRecord& record)
{
    const QJsonObject root{{"wakes", record.Wakes},
                           {"jumps", record.Jumps},
                           {"hungUp", record.HungUp},
                           {"flash", PagesOf(record, Memory::Flash)},
                           {"eeprom", PagesOf(record, Memory::EEProm)}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

DeviceRecord RecordFromJson(const QByteArray& json)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (!doc.isObject())
        throw SimError("record: not a JSON object: " + error.errorString().toStdString());
    const QJsonObject root = doc.object();
    DeviceRecord record;
    record.Wakes = root.value("wakes").toInt();
    record.Jumps = root.value("jumps").toInt();
    record.HungUp = root.value("hungUp").toBool();
    ReadPages(root.value("flash"), Memory::Flash, record);
    ReadPages(root.value("eeprom"), Memory::EEProm, record);
    return record;
}

void WriteRecordFile(const QString& path, const DeviceRecord& record)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(RecordToJson(record)) < 0 || !file.commit())
        throw SimError(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()).toStdString());
}

DeviceRecord ReadRecordFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw SimError(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()).toStdString());
    return RecordFromJson(file.readAll());
}

} // namespace bootsim

} // namespace zentrop
