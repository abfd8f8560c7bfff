// A fixture's defaults for flash and probe: a settings file ([flash] port, baud, reset, mode,
// retries, page sizes) and the environment (ZENTROP_PORT, ZENTROP_BAUD). The command line's
// options win over the environment, which wins over the file.
#pragma once

#include <QString>

#include <optional>
#include <vector>

namespace zentrop {

namespace cli {

struct ConfigSetting {
    QString Name;   // the option's long name
    QString Value;  // empty: not set anywhere
    QString Origin; // "default", "FILE", "ZENTROP_BAUD", ...
};

// $XDG_CONFIG_HOME/zentrop/cli.ini (~/.config/... without the variable).
QString UserConfigPath();

// Every setting with its value and where it came from; the file is the given one, or the
// user's when there is none (a missing user file is no error, a missing given one is).
// nullopt with the reason when the file cannot be read.
std::optional<std::vector<ConfigSetting>> FixtureSettings(const QString& configFile, QString* error);

} // namespace cli

} // namespace zentrop
