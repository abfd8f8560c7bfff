// The settings file's sections and keys, and where the files named after the program lie:
// beside it when its directory can be written, else in the user's configuration directory.
#pragma once

#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <functional>

namespace zentrop {

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

// What the choice of place depends on, replaceable by tests.
struct Environment {
    std::function<bool(const QString& directory)> Writable;
    std::function<QString(const char* name)> Variable;
    std::function<bool(const QString& path)> Exists;
    // The home directory of the user's account, for when HOME is not set; may be empty.
    std::function<QString()> AccountHome;
    // The system's.
    static Environment System();
};

// The directory for the user's own files of an installed program: $XDG_CONFIG_HOME/zentrop,
// or ~/.config/zentrop when the variable is unset or not an absolute path, the home directory
// being $HOME or, when that is unset or not absolute, the account's. Empty when there is no
// home directory either.
QString UserConfigDirectory(const Environment& env = Environment::System());

// A file named like the executable with the extension: beside the executable when its
// directory can be written, otherwise in the user's configuration directory; empty when
// neither place exists.
QString ProgramFile(const QString& executable, const QString& extension, const Environment& env = Environment::System());

// The settings file; for an installed program its directory is created. Raises Exception,
// naming the problem, when there is no place for it.
QString SettingsFileName(const QString& executable, const Environment& env = Environment::System());

// Where the language file is looked for, in order: beside a program whose directory can be
// written; otherwise in the user's configuration directory and then in the installed data
// directory (share/zentrop beside the program's bin directory).
QStringList LanguageFileCandidates(const QString& executable, const Environment& env = Environment::System());
// The first candidate that exists, or the first one when none does.
QString LanguageFileName(const QString& executable, const Environment& env = Environment::System());

} // namespace settings

} // namespace zentrop
