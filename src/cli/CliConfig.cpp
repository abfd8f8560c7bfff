// The fixture's defaults from its settings file and the environment, and "zentrop-cli config".
#include "CliConfig.h"

#include "Cli.h"

#include "base/IniFile.h"

#include <QDir>
#include <QFileInfo>

#include <cstdlib>

namespace zentrop {

namespace cli {

namespace {

struct Known {
    const char* Name;
    const char* Builtin; // what flash takes when nothing sets it; empty: nothing
    const char* Environment;
};

const Known kSettings[] = {
    {"port", "", "ZENTROP_PORT"},
    {"baud", "115200", "ZENTROP_BAUD"},
    {"reset", "none", nullptr},
    {"mode", "flash", nullptr},
    {"retries", "0", nullptr},
    {"flash-page-size", "", nullptr},
    {"eeprom-page-size", "", nullptr},
};

} // namespace

QString UserConfigPath()
{
    QString base = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    if (base.isEmpty() || !QDir::isAbsolutePath(base))
        base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/zentrop/cli.ini");
}

std::optional<std::vector<ConfigSetting>> FixtureSettings(const QString& configFile, QString* error)
{
    const QString path = configFile.isEmpty() ? UserConfigPath() : configFile;
    const bool exists = QFileInfo::exists(path);
    if (!configFile.isEmpty() || exists) {
        if (const QString problem = InputFileProblem(path); !problem.isEmpty()) {
            *error = QStringLiteral("%1: %2").arg(path, problem);
            return std::nullopt;
        }
        if (!QFileInfo(path).isReadable()) {
            *error = QStringLiteral("%1: cannot be read").arg(path);
            return std::nullopt;
        }
    }
    std::optional<TIniFile> ini;
    if (exists)
        ini.emplace(path);
    std::vector<ConfigSetting> settings;
    for (const Known& k : kSettings) {
        ConfigSetting s{QString::fromLatin1(k.Name), QString::fromLatin1(k.Builtin),
                        *k.Builtin ? QStringLiteral("default") : QString()};
        if (ini && ini->ValueExists(QStringLiteral("flash"), s.Name)) {
            s.Value = ini->ReadString(QStringLiteral("flash"), s.Name, QString()).trimmed();
            s.Origin = path;
        }
        if (k.Environment) {
            const QString env = QString::fromLocal8Bit(qgetenv(k.Environment));
            if (!env.isEmpty()) {
                s.Value = env;
                s.Origin = QString::fromLatin1(k.Environment);
            }
        }
        settings.push_back(s);
    }
    return settings;
}

const CommandSyntax& ConfigSyntax()
{
    static const CommandSyntax syntax{
        QStringLiteral("config"), QStringLiteral("[--config FILE]"),
        QStringLiteral("shows the fixture's defaults for flash and probe and where each comes from"),
        QStringLiteral("Shows the values flash and probe take when their options do not give them, and where each\n"
                       "comes from: the environment (ZENTROP_PORT, ZENTROP_BAUD), then the settings file (--config\n"
                       "FILE, or $XDG_CONFIG_HOME/zentrop/cli.ini, by default ~/.config/zentrop/cli.ini) with the\n"
                       "keys port, baud, reset, mode, retries, flash-page-size and eeprom-page-size in its [flash]\n"
                       "section, then the built-in defaults. An option on the command line always wins."),
        {{QStringLiteral("config"), 0, QStringLiteral("FILE"), QStringLiteral("the settings file instead of the user's")}}};
    return syntax;
}

int Config(const ParsedOptions& options, InterruptWatch&)
{
    if (!options.Positional().isEmpty())
        return UsageError(QStringLiteral("config takes no arguments"), ConfigSyntax());
    QString error;
    const std::optional<std::vector<ConfigSetting>> settings =
        FixtureSettings(options.Value(QStringLiteral("config")), &error);
    if (!settings) {
        PrintLine(stderr, error);
        return ExitFileRejected;
    }
    for (const ConfigSetting& s : *settings)
        PrintLine(stdout, s.Value.isEmpty() ? QStringLiteral("%1 (not set)").arg(s.Name)
                                            : QStringLiteral("%1 = %2 (%3)").arg(s.Name, s.Value, s.Origin));
    return ExitSuccess;
}

} // namespace cli

} // namespace zentrop
