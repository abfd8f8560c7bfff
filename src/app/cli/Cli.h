// The command-line front end's commands and the exit statuses that scripts rely on.
#pragma once

#include "Options.h"

#include "app/UpgradeFile.h"

#include <QStringList>

#include <cstdio>
#include <optional>
#include <vector>

class TInterruptWatch;

namespace cli {

enum ExitCode : int {
    ExitSuccess = 0,
    ExitNoAnswer = 1,     // the device did not answer a command correctly
    ExitUsage = 2,        // wrong arguments
    ExitFileRejected = 3, // an input file failed its check, is damaged or cannot be read or written
    ExitPortError = 4,    // the port could not be opened or failed during the run
    ExitNothingWritten = 5, // the mode selects no page of the file: the device was not touched
    ExitInterrupted = 130, // stopped by Ctrl-C, SIGTERM or SIGHUP; the port was closed
};

// A command runs with its parsed options; a signal that the watch takes ends a run cleanly.
struct Command {
    const CommandSyntax& Syntax;
    int (*Run)(const ParsedOptions& options, TInterruptWatch& interrupts);
};

const CommandSyntax& InfoSpec();
const CommandSyntax& FlashSpec();
const CommandSyntax& PortsSpec();
const CommandSyntax& PackSpec();
const CommandSyntax& MonitorSpec();

int Info(const ParsedOptions& options, TInterruptWatch& interrupts);
int Flash(const ParsedOptions& options, TInterruptWatch& interrupts);
int Ports(const ParsedOptions& options, TInterruptWatch& interrupts);
int Pack(const ParsedOptions& options, TInterruptWatch& interrupts);
int Monitor(const ParsedOptions& options, TInterruptWatch& interrupts);

// Tools for translators: "lcf dump", "lcf template" and "lcf build", each with its own options.
int Lcf(const QStringList& args, TInterruptWatch& interrupts);

// Parses the arguments after the command's name and runs it, or prints its help or the usage error.
int RunCommand(const Command& command, const QStringList& args, TInterruptWatch& interrupts);

// Prints the error, the command's usage line and where its help is to standard error;
// returns ExitUsage.
int UsageError(const QString& error, const CommandSyntax& command);

void PrintLine(FILE* out, const QString& text);

// Looks at a file before a command opens it, so that a FIFO or a device given by mistake is
// never opened (a FIFO would block, a device could be disturbed): an empty text when the
// input is a regular file, else why not.
QString InputFileProblem(const QString& path);
// The same for a file a command writes: a new file, or a regular one that it replaces. A
// device, FIFO or directory in its place is never replaced by a regular file.
QString OutputFileProblem(const QString& path);

// The options that describe a build's images (--flash, --eeprom, the page sizes, --base,
// --keep-blank, --name, --version, --user), shared by "pack" and "flash".
std::vector<OptionSyntax> PackOptions();
// The upgrade file's bytes made from those options, as "pack" makes them; nullopt after
// saying why, with the command's exit status in *status.
std::optional<QByteArray> PackInMemory(const ParsedOptions& options, const CommandSyntax& command, int* status);

// Prepares the upgrade file as "Prepare Flash" does; nullopt when it is rejected, after
// saying why on standard error.
std::optional<TUpgradeFile> Prepare(const QString& path);

} // namespace cli
