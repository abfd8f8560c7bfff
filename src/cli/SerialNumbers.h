// Per-device data for a flash run: the next number of a counter file written into each
// device's EEProm image (each device of a run its own), and fixed bytes patched into either
// memory. The counter moves on only for devices that succeeded: a failed device gives its
// number back, to the next device that asks.
#pragma once

#include "upgrade/UpgradeFile.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace zentrop {

namespace cli {

// A run's own pages: the file's, with this device's data written in.
struct DevicePages {
    PageList Flash;
    PageList EEProm;
};

class DeviceData {
public:
    enum class Encoding { U16Le, U32Le, U32Be, Ascii };

    struct Patch {
        bool Flash = false;
        int32_t Address = 0;
        QByteArray Bytes;
        QString Text; // as given
    };

    // Reads the options (--serial-file, --serial-at, --patch, --eeprom-page-size); nullopt with
    // the usage error in *error.
    static std::optional<DeviceData> FromOptions(const QString& serialFile, const QString& serialAt,
                                                 const QStringList& patches, int eepromPageSize, QString* error);

    bool HasSerial() const { return !FCounterPath.isEmpty(); }
    const std::vector<Patch>& Patches() const { return FPatches; }
    QString SerialAt() const { return FSerialAtText; }

    // The device's pages: the patches and, when there is a counter, the number; a page that
    // the file lacks is made (filled with 0xFF). Empty text, or why the data cannot be
    // written (a value across two pages, beyond a page the file has and no page size given).
    QString Apply(const UpgradeFile& file, std::optional<qint64> number, DevicePages* pages) const;

    // Takes the next number under the counter file's lock: one given back earlier first. Raises
    // Exception when the file cannot be read, locked or written.
    qint64 Reserve() const;
    // After the device's run: a success keeps the number, a failure gives it back.
    void Release(qint64 number, bool used) const;

private:
    QString FCounterPath;
    QString FSerialAtText;
    int32_t FSerialAddress = 0;
    Encoding FEncoding = Encoding::U32Le;
    int FAsciiWidth = 0;
    int FEEPromPageSize = 0;
    std::vector<Patch> FPatches;
};

} // namespace cli

} // namespace zentrop
