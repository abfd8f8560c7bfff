// The command-line front end's commands and the exit statuses that scripts rely on.
#pragma once

#include <QStringList>

class TInterruptWatch;

namespace cli {

enum ExitCode : int {
    ExitSuccess = 0,
    ExitNoAnswer = 1,     // the device did not answer a command correctly
    ExitUsage = 2,        // wrong arguments
    ExitFileRejected = 3, // the upgrade file failed its CRC, is damaged or cannot be read
    ExitPortError = 4,    // the port could not be opened or failed during the run
    ExitInterrupted = 130, // stopped by Ctrl-C, SIGTERM or SIGHUP; the port was closed
};

// Each takes the arguments after its command name.
int Info(const QStringList& args);
// A signal that the watch takes ends the run cleanly.
int Flash(const QStringList& args, TInterruptWatch& interrupts);
int Ports(const QStringList& args);
// Tools for translators: lcf dump, template and build.
int Lcf(const QStringList& args);

// Prints the error and the usage to standard error; returns ExitUsage.
int UsageError(const QString& error);

} // namespace cli
