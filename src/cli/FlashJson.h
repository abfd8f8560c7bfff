// The machine-readable record of a flash or probe run: who ran what on which ports, each
// port's outcome and attempts, as one JSON object for every exit status, and its schema's
// description for the manual.
#pragma once

#include "FlashResults.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace zentrop {

class UpgradeFile;

namespace cli {

// Raised with the schema when a reader would have to change.
constexpr int kJsonSchema = 1;

// The upgrade file as the run took it.
struct FileIdentity {
    QString Path;
    bool Packed = false; // made in memory from --flash/--eeprom images; size and hash are of that file
    qint64 Size = 0;
    QByteArray Sha256; // hex
    QString Name;
    QString Version;
    std::optional<int> User;
};

FileIdentity IdentifyFile(const QString& path, const QByteArray& bytes, bool packed, const UpgradeFile& file);
// The file's bytes as they are on disk, for its size and hash; empty when it cannot be read.
QByteArray ReadWhole(const QString& path);

// What a run collects while it goes on; everything it did not get to stays empty or null.
struct RunRecord {
    QString Command = QStringLiteral("flash");
    QDateTime Started = QDateTime::currentDateTimeUtc();
    QStringList Ports;
    std::optional<FileIdentity> File;
    QString Mode;  // flash, eeprom, both; empty before it is known
    int Baud = 0;  // 0 before it is known
    QString Expect;
    QStringList Patches;
    QString SerialAt;
    QString LogPath;
    bool LogComplete = true;
    std::vector<PortResult> Results;
    double Seconds = 0;
};

// The time as the JSON shows it: "2026-12-07T18:00:00.123Z".
QString UtcText(const QDateTime& t);

// The run's identity (schema, program, command, file, mode, baud, ports, start) as the
// "run" event and the final object both begin.
QJsonObject IdentityJson(const RunRecord& record);
QJsonObject PortJson(const PortResult& r);

// The whole object, for any status; messages are the lines the command said on standard
// error when no port ran (a usage error, a rejected file, nothing to write).
QJsonObject RunObject(const RunRecord& record, int status, const QStringList& messages);

// The schema's description with an example, as "zentrop-cli help json" prints it.
QString JsonHelp();

} // namespace cli

} // namespace zentrop
