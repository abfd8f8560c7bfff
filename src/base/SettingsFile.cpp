// Where the program's settings and language files lie.
#include "base/SettingsFile.h"

#include <QDir>
#include <QFile>

#include "base/Exception.h"
#include "base/Format.h"

#include <pwd.h>
#include <unistd.h>

namespace zentrop {

namespace settings {

Environment Environment::System()
{
    return {[](const QString& directory) { return ::access(QFile::encodeName(directory).constData(), W_OK) == 0; },
            [](const char* name) { return qEnvironmentVariable(name); },
            [](const QString& path) { return QFileInfo::exists(path); },
            [] {
                const passwd* account = ::getpwuid(::getuid());
                return account && account->pw_dir ? QFile::decodeName(account->pw_dir) : QString();
            }};
}

QString UserConfigDirectory(const Environment& env)
{
    QString base = env.Variable("XDG_CONFIG_HOME");
    // XDG base directories must be absolute; a relative one is ignored.
    if (!QDir::isAbsolutePath(base)) {
        QString home = env.Variable("HOME");
        if (!QDir::isAbsolutePath(home))
            home = env.AccountHome ? env.AccountHome() : QString();
        if (!QDir::isAbsolutePath(home))
            return QString();
        base = home + QStringLiteral("/.config");
    }
    return QDir::cleanPath(base + QStringLiteral("/zentrop"));
}

QString ProgramFile(const QString& executable, const QString& extension, const Environment& env)
{
    const QFileInfo exe(executable);
    if (env.Writable(exe.absolutePath()))
        return BesideExecutable(executable, extension);
    const QString directory = UserConfigDirectory(env);
    return directory.isEmpty() ? QString() : directory + u'/' + exe.completeBaseName() + extension;
}

QString SettingsFileName(const QString& executable, const Environment& env)
{
    const QString name = ProgramFile(executable, QStringLiteral(".ini"), env);
    if (name.isEmpty())
        throw Exception(Format(QStringLiteral("No place for the settings file: the program's directory %s cannot be "
                                              "written, and neither XDG_CONFIG_HOME nor HOME names a home directory"),
                               {QFileInfo(executable).absolutePath()}));
    QDir().mkpath(QFileInfo(name).absolutePath());
    return name;
}

QStringList LanguageFileCandidates(const QString& executable, const Environment& env)
{
    const QFileInfo exe(executable);
    QStringList candidates;
    if (const QString own = ProgramFile(executable, QStringLiteral(".lcf"), env); !own.isEmpty())
        candidates << own;
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
    return candidates.isEmpty() ? QString() : candidates.first();
}

} // namespace settings

} // namespace zentrop
