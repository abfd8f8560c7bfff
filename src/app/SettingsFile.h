// The settings file's sections and keys, and the files named after the program beside it.
#pragma once

#include <QFileInfo>
#include <QString>

namespace settings {

inline const QString Common = QStringLiteral("COMMON");
inline const QString Upgrade = QStringLiteral("UPGRADE");
inline const QString ComPort = QStringLiteral("comport");
inline const QString FileList = QStringLiteral("filelist");
inline const QString UpgradeFile = QStringLiteral("upgradefile");
inline const QString DefaultPort = QStringLiteral("COM1");

// The executable's path with its extension replaced: same directory, same base name.
inline QString BesideExecutable(const QString& executable, const QString& extension)
{
    const QFileInfo exe(executable);
    return exe.absolutePath() + u'/' + exe.completeBaseName() + extension;
}

} // namespace settings
