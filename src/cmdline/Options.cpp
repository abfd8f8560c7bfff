// Option parsing and help texts.
#include "cmdline/Options.h"

#include <QCoreApplication>

namespace zentrop {

namespace cli {

namespace {

const OptionSyntax kHelpOption{QStringLiteral("help"), 'h', QString(), QStringLiteral("show this help and exit")};

const OptionSyntax* FindLong(const CommandSyntax& syntax, const QString& name)
{
    if (name == kHelpOption.Long)
        return &kHelpOption;
    for (const OptionSyntax& o : syntax.Options)
        if (o.Long == name)
            return &o;
    return nullptr;
}

const OptionSyntax* FindShort(const CommandSyntax& syntax, char c)
{
    if (c == kHelpOption.Short)
        return &kHelpOption;
    for (const OptionSyntax& o : syntax.Options)
        if (o.Short && o.Short == c)
            return &o;
    return nullptr;
}

} // namespace

QString ParsedOptions::Value(const QString& name, const QString& fallback) const
{
    const auto it = FValues.find(name);
    return it == FValues.end() || it->isEmpty() ? fallback : it->last();
}

std::optional<ParsedOptions> ParseOptions(const CommandSyntax& syntax, const QStringList& args, QString* error)
{
    ParsedOptions parsed;
    auto fail = [&](const QString& why) {
        *error = why;
        return std::nullopt;
    };
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--")) {
            parsed.FPositional += args.mid(i + 1);
            break;
        }
        if (a.startsWith(QLatin1String("--"))) {
            const qsizetype eq = a.indexOf(u'=');
            const QString name = a.mid(2, eq < 0 ? -1 : eq - 2);
            const OptionSyntax* o = FindLong(syntax, name);
            if (!o)
                return fail(QStringLiteral("unknown option \"--%1\"").arg(name));
            if (o->Value.isEmpty()) {
                if (eq >= 0)
                    return fail(QStringLiteral("option \"--%1\" takes no value").arg(name));
                parsed.FValues[o->Long].append(QString());
            } else if (eq >= 0) {
                parsed.FValues[o->Long].append(a.mid(eq + 1));
            } else if (i + 1 < args.size()) {
                parsed.FValues[o->Long].append(args[++i]);
            } else {
                return fail(QStringLiteral("option \"--%1\" needs a value (%2)").arg(name, o->Value));
            }
        } else if (a.size() > 1 && a.startsWith(u'-')) {
            // A cluster of switches, of which the last may take a value: "-vj", "-pP", "-p P".
            for (qsizetype k = 1; k < a.size(); ++k) {
                const char c = a[k].toLatin1();
                const OptionSyntax* o = FindShort(syntax, c);
                if (!o)
                    return fail(QStringLiteral("unknown option \"-%1\"").arg(a[k]));
                if (o->Value.isEmpty()) {
                    parsed.FValues[o->Long].append(QString());
                    continue;
                }
                if (k + 1 < a.size())
                    parsed.FValues[o->Long].append(a.mid(k + 1));
                else if (i + 1 < args.size())
                    parsed.FValues[o->Long].append(args[++i]);
                else
                    return fail(QStringLiteral("option \"-%1\" needs a value (%2)").arg(a[k]).arg(o->Value));
                break;
            }
        } else {
            parsed.FPositional.append(a);
        }
    }
    return parsed;
}

namespace {

// The help's lines fit a terminal (and a manual page) of 80 columns.
constexpr qsizetype kHelpColumns = 79;

// The help after its head, its words wrapped under the first one; a line end in the help
// starts a new line there.
QString Wrapped(const QString& head, const QString& help)
{
    const QString indent(head.size(), u' ');
    QString text;
    QString line = head;
    bool first = true;
    for (const QString& paragraph : help.split(u'\n')) {
        if (!first) {
            text += line + u'\n';
            line = indent;
        }
        first = false;
        bool lineEmpty = true;
        for (const QString& word : paragraph.split(u' ', Qt::SkipEmptyParts)) {
            if (!lineEmpty && line.size() + 1 + word.size() > kHelpColumns) {
                text += line + u'\n';
                line = indent;
                lineEmpty = true;
            }
            line += (lineEmpty ? QString() : QStringLiteral(" ")) + word;
            lineEmpty = false;
        }
    }
    return text + line + u'\n';
}

} // namespace

QString CommandHelp(const CommandSyntax& syntax)
{
    QString text = QStringLiteral("usage: %1 %2 %3\n\n%4\n").arg(QCoreApplication::applicationName(), syntax.Name, syntax.Synopsis, syntax.Description);
    std::vector<const OptionSyntax*> all;
    for (const OptionSyntax& o : syntax.Options)
        all.push_back(&o);
    all.push_back(&kHelpOption);
    QStringList heads;
    qsizetype width = 0;
    for (const OptionSyntax* o : all) {
        QString head = o->Short ? QStringLiteral("-%1, ").arg(QChar::fromLatin1(o->Short)) : QStringLiteral("    ");
        head += QStringLiteral("--") + o->Long;
        if (!o->Value.isEmpty())
            head += u' ' + o->Value;
        width = std::max(width, head.size());
        heads << head;
    }
    text += QStringLiteral("\noptions:\n");
    for (size_t i = 0; i < all.size(); ++i)
        text += Wrapped(QStringLiteral("  %1  ").arg(heads[static_cast<qsizetype>(i)], -static_cast<int>(width)),
                        all[i]->Help);
    return text;
}

QString CommandListEntry(const CommandSyntax& syntax)
{
    return QStringLiteral("  %1 %2 %3\n      %4\n").arg(QCoreApplication::applicationName(), syntax.Name, syntax.Synopsis, syntax.Summary);
}

std::optional<qint64> ParseNumber(const QString& text)
{
    bool ok = false;
    const QString t = text.trimmed();
    const qint64 v = t.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? t.mid(2).toLongLong(&ok, 16)
                                                                              : t.toLongLong(&ok, 10);
    if (!ok || t.isEmpty())
        return std::nullopt;
    return v;
}

} // namespace cli

} // namespace zentrop
