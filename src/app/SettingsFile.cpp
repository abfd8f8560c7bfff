// Where the program's settings and language files lie.
#include "SettingsFile.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace settings {

Environment Environment::System()
{
    return {[](const QString& directory) { return ::access(QFile::encodeName(directory).constData(), W_OK) == 0; },
            [](const char* name) { return qEnvironmentVariable(name); },
            [](const QString& path) { return QFileInfo::exists(path); }};
}

QString UserConfigDirectory(const Environment& env)
{
    QString base = env.Variable("XDG_CONFIG_HOME");
    // XDG base directories must be absolute; a relative one is ignored.
    if (!QDir::isAbsolutePath(base))
        base = env.Variable("HOME") + QStringLiteral("/.config");
    return QDir::cleanPath(base + QStringLiteral("/zentrop"));
}

QString ProgramFile(const QString& executable, const QString& extension, const Environment& env)
{
    const QFileInfo exe(executable);
    if (env.Writable(exe.absolutePath()))
        return BesideExecutable(executable, extension);
    return UserConfigDirectory(env) + u'/' + exe.completeBaseName() + extension;
}

QString SettingsFileName(const QString& executable, const Environment& env)
{
    const QString name = ProgramFile(executable, QStringLiteral(".ini"), env);
    QDir().mkpath(QFileInfo(name).absolutePath());
    return name;
}

QStringList LanguageFileCandidates(const QString& executable, const Environment& env)
{
    const QFileInfo exe(executable);
    QStringList candidates{ProgramFile(executable, QStringLiteral(".lcf"), env)};
    if (!env.Writable(exe.absolutePath()))
        candidates << QDir::cleanPath(exe.absolutePath() + QStringLiteral("/../share/zentrop/") + exe.completeBaseName() +
                                      QStringLiteral(".lcf"));
    return candidates;
}

QString LanguageFileName(const QString& executable, const Environment& env)
{
    const QStringList candidates = LanguageFileCandidates(executable, env);
    for (const QString& c : candidates)
        if (env.Exists(c))
            return c;
    return candidates.first();
}

} // namespace settings
