// The command line's option parsing in the GNU forms ("--port=P", "--port P", "-p P", "-pP",
// "-vj", "--"), and each command's help text made from the same table that parsing uses.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace zentrop {

namespace cli {

struct OptionSyntax {
    QString Long;        // without the dashes
    char Short = 0;      // 0: none
    QString Value;       // the value's name in the help; empty for a switch
    QString Help;
};

struct CommandSyntax {
    QString Name;
    QString Synopsis;    // what follows "zentrop-cli NAME " in the usage line
    QString Summary;     // one line for the list of commands
    QString Description; // paragraphs below the usage line
    std::vector<OptionSyntax> Options;
};

class ParsedOptions {
public:
    bool Has(const QString& name) const { return FValues.contains(name); }
    // The last value given, or the fallback.
    QString Value(const QString& name, const QString& fallback = QString()) const;
    QStringList Values(const QString& name) const { return FValues.value(name); }
    const QStringList& Positional() const { return FPositional; }
    // A value for an option that was not given, as if it had been (a default from elsewhere).
    void SetDefault(const QString& name, const QString& value)
    {
        if (!FValues.contains(name))
            FValues.insert(name, {value});
    }

private:
    friend std::optional<ParsedOptions> ParseOptions(const CommandSyntax&, const QStringList&, QString*);
    QMap<QString, QStringList> FValues;
    QStringList FPositional;
};

// Every command accepts "-h, --help", which parsing reports as the switch "help". Returns
// nullopt with the reason ("unknown option "--xml"", "option "--port" needs a value").
std::optional<ParsedOptions> ParseOptions(const CommandSyntax& syntax, const QStringList& args, QString* error);

// The command's help: usage line, description and option table.
QString CommandHelp(const CommandSyntax& syntax);

// The command's entry in a list of commands: its usage line and its summary below it.
QString CommandListEntry(const CommandSyntax& syntax);

// Parses an integer in decimal or, with "0x", hexadecimal.
std::optional<qint64> ParseNumber(const QString& text);

} // namespace cli

} // namespace zentrop
