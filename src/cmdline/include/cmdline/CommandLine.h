// What the project's command-line programs share besides option parsing: their exit statuses,
// usage errors in one form, and the look at files before a command opens them.
#pragma once

#include "cmdline/Options.h"

#include <QString>
#include <QStringList>

#include <cstdio>

namespace zentrop {

namespace cli {

// The statuses scripts rely on; each program documents the ones it uses.
enum ExitCode : int {
    ExitSuccess = 0,
    ExitNoAnswer = 1,     // the device did not answer a command correctly
    ExitUsage = 2,        // wrong arguments
    ExitFileRejected = 3, // an input file failed its check, is damaged or cannot be read or written
    ExitPortError = 4,    // the port could not be opened or failed during the run
    ExitNothingWritten = 5, // the mode selects no page of the file: the device was not touched
    ExitAppCheckFailed = 6, // the started application did not print what was expected in time
    ExitInterrupted = 130, // stopped by Ctrl-C, SIGTERM or SIGHUP; the port was closed
};

// A line, unless the stream has already failed (see ConsolePrintf).
void PrintLine(FILE* out, const QString& text);

// Prints the error, the command's usage line and where its help is to standard error, under
// the program's name (the application name); returns ExitUsage.
int UsageError(const QString& error, const CommandSyntax& command);

// While one lives, the error lines a command prints to standard error (PrintLine, UsageError)
// are also kept, so that a command whose result is read by machines can repeat them there.
class ErrorCapture {
public:
    ErrorCapture();
    ~ErrorCapture();
    ErrorCapture(const ErrorCapture&) = delete;
    ErrorCapture& operator=(const ErrorCapture&) = delete;
    QStringList Lines() const;
};

// Looks at a file before a command opens it, so that a FIFO or a device given by mistake is
// never opened (a FIFO would block, a device could be disturbed): an empty text when the
// input is a regular file, else why not.
QString InputFileProblem(const QString& path);
// The same for a file a command writes: a new file, or a regular one that it replaces. A
// device, FIFO or directory in its place is never replaced by a regular file.
QString OutputFileProblem(const QString& path);

} // namespace cli

} // namespace zentrop
