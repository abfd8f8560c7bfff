// Language files for the tests: written by the project's writer into a temporary directory.
#pragma once

#include "lc/LcfWriter.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

namespace zentrop {

inline QString WriteTestFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

// A file with English (1033) and Hungarian (1038) columns.
inline lcf::LanguageFile TwoLanguages(uint32_t flags = 0)
{
    lcf::LanguageFile file;
    file.Flags = flags;
    file.Languages = {1033, 1038};
    file.Strings[65047] = {QStringLiteral("Cancel"), {QStringLiteral("Cancel"), QStringLiteral("Mégse")}};
    file.Strings[65040] = {QStringLiteral("Warning"), {QStringLiteral("Warning"), QStringLiteral("Figyelmeztetés")}};
    return file;
}

} // namespace zentrop
