// The command-line front end's commands.
#pragma once

#include "cmdline/CommandLine.h"
#include "cmdline/Options.h"

#include "cport/ComDevice.h"
#include "upgrade/UpgradeFile.h"

#include <QStringList>

#include <cstdio>
#include <optional>
#include <vector>

namespace zentrop {

class InterruptWatch;

namespace cli {

// A command runs with its parsed options; a signal that the watch takes ends a run cleanly.
struct Command {
    const CommandSyntax& Syntax;
    int (*Run)(const ParsedOptions& options, InterruptWatch& interrupts);
    // For a command whose --json promises an object for every status: the object of a usage
    // error found while parsing its options.
    void (*UsageJson)(const QString& error) = nullptr;
};

const CommandSyntax& InfoSyntax();
const CommandSyntax& FlashSyntax();
const CommandSyntax& PortsSyntax();
const CommandSyntax& PackSyntax();
const CommandSyntax& MonitorSyntax();
const CommandSyntax& ProbeSyntax();
const CommandSyntax& ConfigSyntax();
const CommandSyntax& StationSyntax();
int Station(const ParsedOptions& options, InterruptWatch& interrupts);
void StationUsageJson(const QString& error);
int Config(const ParsedOptions& options, InterruptWatch& interrupts);

int Info(const ParsedOptions& options, InterruptWatch& interrupts);
int Flash(const ParsedOptions& options, InterruptWatch& interrupts);
int Ports(const ParsedOptions& options, InterruptWatch& interrupts);
int Pack(const ParsedOptions& options, InterruptWatch& interrupts);
int Monitor(const ParsedOptions& options, InterruptWatch& interrupts);
void FlashUsageJson(const QString& error);
int Probe(const ParsedOptions& options, InterruptWatch& interrupts);
void ProbeUsageJson(const QString& error);
// How an open port sends with --rs485, for the user.
QString RS485Description(RS485Mode mode);

// Parses the arguments after the command's name and runs it, or prints its help or the usage error.
int RunCommand(const Command& command, const QStringList& args, InterruptWatch& interrupts);

// The options that describe a build's images (--flash, --eeprom, the page sizes, --base,
// --keep-blank, --name, --version, --user), shared by "pack" and "flash".
std::vector<OptionSyntax> PackOptions();
// The upgrade file's bytes made from those options, as "pack" makes them; nullopt after
// saying why, with the command's exit status in *status.
std::optional<QByteArray> PackInMemory(const ParsedOptions& options, const CommandSyntax& command, int* status);

// Prepares the upgrade file as "Prepare Flash" does; nullopt when it is rejected, after
// saying why on standard error.
std::optional<UpgradeFile> Prepare(const QString& path);

} // namespace cli

} // namespace zentrop
