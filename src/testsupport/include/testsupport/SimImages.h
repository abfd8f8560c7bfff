// The simulator's written-out record: the pages it kept, as JSON, and reading it back to
// compare with an upgrade file.
#pragma once

#include "testsupport/BootDevice.h"

#include <QByteArray>
#include <QString>

namespace zentrop {

namespace bootsim {

// {"wakes": n, "jumps": n, "hungUp": b, "flash": [{"address": n, "long": b, "size": n,
//  "data": "hex"}, ...], "eeprom": [...]}; pages in the order received.
QByteArray RecordToJson(const DeviceRecord& record);

// Reads what RecordToJson wrote; raises SimError on a file that is not such a record.
DeviceRecord RecordFromJson(const QByteArray& json);

void WriteRecordFile(const QString& path, const DeviceRecord& record);
DeviceRecord ReadRecordFile(const QString& path);

} // namespace bootsim

} // namespace zentrop
