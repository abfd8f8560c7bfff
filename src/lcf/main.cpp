// zentrop-lcf: tools for translators. dump shows what a language file holds, template writes a
// PO template of every translatable text, build makes a language file from PO files.
#include "PoFiles.h"

#include "base/Ansi.h"
#include "base/FileName.h"
#include "base/ResStrings.h"
#include "lc/LcfFormat.h"
#include "lc/LcfWriter.h"
#include "lc/MappedFile.h"
#include "lc/PeResources.h"
#include "cmdline/CommandLine.h"
#include "cmdline/Interrupts.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cstdio>

namespace zentrop {

namespace {

using namespace cli;

struct FormTextEntry {
    const char* Form;
    const char* Key;
    const char* Text;
};

// The main window's texts, listed at build time.
constexpr FormTextEntry kFormTexts[] = {
#include "MainFormTexts.inc"
};

const CommandSyntax kDump{
    QStringLiteral("dump"), QStringLiteral("[--json] FILE.lcf"),
    QStringLiteral("shows the header, every string record and every form record with its texts"),
    QStringLiteral("Shows what a language file holds: its format, flags and languages, every string record\n"
                   "with its text in each language, and every form record with its keys and texts.\n"
                   "A damaged file gets an error saying what is wrong and where (exit status 3); records whose\n"
                   "texts lie outside them are shown as far as they can be read, and each damage is named."),
    {{QStringLiteral("json"), 'j', QString(), QStringLiteral("print one JSON object instead of lines")}}};

const CommandSyntax kTemplate{
    QStringLiteral("template"), QStringLiteral("[-o FILE.pot]"),
    QStringLiteral("writes a PO template of every resource string and main window text"),
    QStringLiteral("Writes a gettext PO template of everything translatable: every resource string of the\n"
                   "program (context: its number) and every text of the main window that form translation\n"
                   "reaches (context: FORM:Component-Property.Path), each with its English text."),
    {{QStringLiteral("output"), 'o', QStringLiteral("FILE.pot"), QStringLiteral("the template to write (default: standard output)")}}};

const CommandSyntax kBuild{
    QStringLiteral("build"), QStringLiteral("--lang LCID=FILE.po [--lang LCID=FILE.po ...] [--flags N] -o FILE.lcf"),
    QStringLiteral("builds a language file; untranslated and fuzzy entries get no text"),
    QStringLiteral("Builds a language file from translators' PO files, one language each, in the order given.\n"
                   "Entries left untranslated or marked fuzzy get no text, so the program shows its own.\n"
                   "Every entry's context names a resource string (its number) or a form property\n"
                   "(FORM:Component-Property); a file with any other entry is refused and nothing is written."),
    {
        {QStringLiteral("lang"), 'l', QStringLiteral("LCID=FILE.po"),
         QStringLiteral("a language identifier (1038 Hungarian) and its PO file; repeat for several")},
        {QStringLiteral("flags"), 0, QStringLiteral("N"),
         QStringLiteral("the header's flags; 1: string records carry a leading pair (default 0)")},
        {QStringLiteral("output"), 'o', QStringLiteral("FILE.lcf"), QStringLiteral("the language file to write")},
    }};

int Rejected(const QString& error)
{
    std::fprintf(stderr, "zentrop-lcf: %s\n", error.toLocal8Bit().constData());
    return ExitFileRejected;
}

void Print(const QString& line)
{
    std::printf("%s\n", line.toUtf8().constData());
}

bool IsIdentifier(const QString& name)
{
    bool ok = false;
    const int id = name.toInt(&ok, 10);
    return ok && id >= 0 && id < 0x10000 && name == QString::number(id);
}

// A text as dump shows it: quoted with escapes, or why there is none.
QJsonValue TextValue(QByteArrayView record, int64_t base, int64_t pairAt)
{
    QByteArrayView text;
    if (lcf::ReadPair(record, base, pairAt, &text) < 0 || !text.data())
        return QJsonValue::Null;
    return lcf::DecodeUtf16(text);
}

QString Shown(const QJsonValue& v)
{
    if (v.isNull())
        return QStringLiteral("no text");
    QString s = QString::fromUtf8(QJsonDocument(QJsonArray{v}).toJson(QJsonDocument::Compact));
    return s.mid(1, s.size() - 2);
}

// Damaged records, after what could be read of them: status 3 when there are any.
int DamageReport(const QStringList& damage)
{
    for (const QString& d : damage)
        PrintLine(stderr, d);
    return damage.isEmpty() ? ExitSuccess : ExitFileRejected;
}

int Dump(const ParsedOptions& options)
{
    if (options.Positional().size() != 1)
        return UsageError(options.Positional().isEmpty() ? QStringLiteral("no language file given")
                                                         : QStringLiteral("dump takes one language file"),
                          kDump);
    const QString path = options.Positional().first();
    const bool json = options.Has(QStringLiteral("json"));

    MappedFile file;
    if (!file.Open(path))
        return Rejected(QStringLiteral("%1: cannot be read: %2").arg(path, file.Error()));
    PeResources pe;
    if (!pe.Load(file.Bytes()))
        return Rejected(QStringLiteral("%1: not a usable language file: %2").arg(path, pe.Error()));
    const auto headerData = pe.Find(PeResources::RT_RCDATA, lcf::HeaderName);
    if (!headerData)
        return Rejected(QStringLiteral("%1: not a usable language file: no RT_RCDATA resource \"LCHEADER\"").arg(path));
    QString why;
    const auto header = lcf::ReadHeader(*headerData, &why);
    if (!header)
        return Rejected(QStringLiteral("%1: not a usable language file: %2").arg(path, why));

    const int lead = header->Flags & lcf::FlagLeadingPair ? 1 : 0;
    QJsonArray languages;
    for (int32_t l : header->Languages)
        languages.append(l);
    QJsonArray strings;
    QJsonArray forms;
    // What the program would read as no text, named with the record and where it lies.
    QStringList damage;
    const auto damaged = [&](const QString& kind, const QString& name, QByteArrayView data, const QString& problem) {
        damage << QStringLiteral("%1: damaged %2 record \"%3\" at file offset 0x%4: %5")
                      .arg(path, kind, name)
                      .arg(data.data() - file.Bytes().data(), 0, 16)
                      .arg(problem);
    };
    pe.ForEachNamed(PeResources::RT_RCDATA, [&](const QString& name, QByteArrayView data) {
        if (name.compare(lcf::HeaderName, Qt::CaseInsensitive) == 0)
            return;
        if (IsIdentifier(name)) {
            for (int pair = 0; pair < lead + header->Languages.size(); ++pair)
                if (const QString p = lcf::PairProblem(data, 0, 8 * int64_t(pair)); !p.isEmpty())
                    damaged(QStringLiteral("string"), name, data,
                            (pair < lead ? QStringLiteral("the leading pair: ")
                                         : QStringLiteral("the text for language %1: ").arg(header->Languages[pair - lead]))
                                + p);
            QJsonObject texts;
            for (int i = 0; i < header->Languages.size(); ++i)
                texts.insert(QString::number(header->Languages[i]), TextValue(data, 0, 8 * int64_t(i + lead)));
            QJsonObject s{{"id", name.toInt()}, {"texts", texts}};
            if (lead)
                s.insert(QStringLiteral("leading"), TextValue(data, 0, 0));
            strings.append(s);
            return;
        }
        for (const QString& p : lcf::FormRecordProblems(data, header->Languages))
            damaged(QStringLiteral("form"), name, data, p);
        QList<QList<lcf::FormEntry>> columns;
        for (int i = 0; i < header->Languages.size(); ++i)
            columns.append(lcf::ReadFormRecord(data, i));
        const QList<lcf::FormEntry> keys = lcf::ReadFormRecord(data, 0);
        QJsonArray records;
        for (qsizetype r = 0; r < keys.size(); ++r) {
            QJsonObject texts;
            for (int i = 0; i < header->Languages.size(); ++i) {
                const lcf::FormEntry& e = columns[i][r];
                texts.insert(QString::number(header->Languages[i]), e.HasText ? QJsonValue(e.Text) : QJsonValue::Null);
            }
            records.append(QJsonObject{{"key", DecodeAnsi(keys[r].Key)}, {"texts", texts}});
        }
        forms.append(QJsonObject{{"name", name}, {"records", records}});
    });

    if (json) {
        const QJsonObject doc{{"file", path},           {"format", pe.Pe32Plus() ? "PE32+" : "PE32"},
                              {"flags", int(header->Flags)}, {"languages", languages},
                              {"strings", strings},     {"forms", forms}};
        std::fputs(QJsonDocument(doc).toJson().constData(), stdout);
        return DamageReport(damage);
    }
    QStringList langs;
    for (int32_t l : header->Languages)
        langs.append(QString::number(l));
    Print(QStringLiteral("%1: %2 language file, flags 0x%3%4, languages %5")
              .arg(path, pe.Pe32Plus() ? QStringLiteral("PE32+") : QStringLiteral("PE32"))
              .arg(header->Flags, 0, 16)
              .arg(lead ? QStringLiteral(" (string records carry a leading pair)") : QString())
              .arg(langs.isEmpty() ? QStringLiteral("none") : langs.join(u' ')));
    for (const QJsonValue& v : strings) {
        const QJsonObject s = v.toObject();
        Print(QStringLiteral("string %1").arg(s["id"].toInt()));
        if (lead)
            Print(QStringLiteral("  leading  %1").arg(Shown(s["leading"])));
        for (const QString& l : langs)
            Print(QStringLiteral("  %1  %2").arg(l, -7).arg(Shown(s["texts"][l])));
    }
    for (const QJsonValue& v : forms) {
        const QJsonObject f = v.toObject();
        const QJsonArray records = f["records"].toArray();
        Print(QStringLiteral("form %1, %2 records").arg(f["name"].toString()).arg(records.size()));
        for (const QJsonValue& r : records) {
            Print(QStringLiteral("  ") + r["key"].toString());
            for (const QString& l : langs)
                Print(QStringLiteral("    %1  %2").arg(l, -7).arg(Shown(r["texts"][l])));
        }
    }
    return DamageReport(damage);
}

int Template(const ParsedOptions& options)
{
    if (!options.Positional().isEmpty())
        return UsageError(QStringLiteral("template takes no file name outside its options: \"%1\"").arg(options.Positional().first()),
                          kTemplate);
    const QString output = options.Value(QStringLiteral("output"), QStringLiteral("-"));
    if (const QString problem = output == QLatin1String("-") ? QString() : OutputFileProblem(output); !problem.isEmpty())
        return Rejected(QStringLiteral("%1: %2").arg(output, problem));
    QList<PoEntry> entries;
    for (int id : BuiltinResStringIds())
        entries.append({QString::number(id), LoadBuiltinResString(id), QString(),
                        QStringLiteral("Resource string %1").arg(id)});
    for (const FormTextEntry& t : kFormTexts)
        entries.append({QString::fromUtf8(t.Form) + u':' + QString::fromUtf8(t.Key), QString::fromUtf8(t.Text), QString(),
                        QStringLiteral("Form %1, property path %2").arg(QString::fromUtf8(t.Form), QString::fromUtf8(t.Key))});
    QString error;
    if (!WritePot(output, entries, error))
        return Rejected(error);
    return ExitSuccess;
}

int Build(const ParsedOptions& options)
{
    if (!options.Positional().isEmpty())
        return UsageError(QStringLiteral("build takes no file name outside its options: \"%1\"").arg(options.Positional().first()),
                          kBuild);
    QList<QPair<int32_t, QString>> inputs;
    for (const QString& value : options.Values(QStringLiteral("lang"))) {
        const qsizetype eq = value.indexOf(u'=');
        const std::optional<qint64> lcid = ParseNumber(value.left(eq));
        if (eq < 1 || !lcid || *lcid <= 0 || *lcid > INT32_MAX || eq + 1 == value.size())
            return UsageError(QStringLiteral("\"%1\" is not LCID=FILE.po").arg(value), kBuild);
        inputs.append({static_cast<int32_t>(*lcid), value.mid(eq + 1)});
    }
    if (inputs.isEmpty())
        return UsageError(QStringLiteral("build needs at least one --lang LCID=FILE.po"), kBuild);
    const QString output = options.Value(QStringLiteral("output"));
    if (output.isEmpty())
        return UsageError(QStringLiteral("build needs -o FILE.lcf"), kBuild);
    const std::optional<qint64> flags = ParseNumber(options.Value(QStringLiteral("flags"), QStringLiteral("0")));
    if (!flags || *flags < 0 || *flags > UINT32_MAX)
        return UsageError(QStringLiteral("--flags needs a number, not \"%1\"").arg(options.Value(QStringLiteral("flags"))), kBuild);
    if (const QString problem = OutputFileProblem(output); !problem.isEmpty())
        return Rejected(QStringLiteral("%1: %2").arg(output, problem));
    for (const auto& [lcid, path] : inputs)
        if (const QString problem = InputFileProblem(path); !problem.isEmpty())
            return Rejected(QStringLiteral("%1: %2").arg(path, problem));

    lcf::LanguageFile file;
    file.Flags = static_cast<uint32_t>(*flags);
    const int count = int(inputs.size());
    QMap<QString, QMap<QByteArray, int>> formIndex;
    for (int i = 0; i < count; ++i) {
        file.Languages.append(inputs[i].first);
        QList<PoEntry> entries;
        QString error;
        if (!ReadPo(inputs[i].second, entries, error))
            return Rejected(error);
        for (const PoEntry& e : entries) {
            const lcf::TText text = e.Str.isEmpty() ? lcf::TText() : lcf::TText(e.Str);
            const qsizetype colon = e.Context.indexOf(u':');
            if (IsIdentifier(e.Context)) {
                auto& s = file.Strings[e.Context.toInt()];
                if (s.Texts.isEmpty()) {
                    s.Source = e.Id;
                    s.Texts.resize(count);
                }
                s.Texts[i] = text;
            } else if (colon > 0 && e.Context.indexOf(u'-', colon) > colon + 1) {
                const QString form = e.Context.left(colon).toUpper();
                const QByteArray key = EncodeAnsi(e.Context.mid(colon + 1));
                QList<lcf::FormProperty>& props = file.Forms[form];
                auto& index = formIndex[form];
                if (!index.contains(key)) {
                    index.insert(key, int(props.size()));
                    props.append({key, QList<lcf::TText>(count)});
                }
                props[index.value(key)].Texts[i] = text;
            } else {
                return Rejected(QStringLiteral("%1: the entry \"%2\" has the context \"%3\", which names neither a "
                                               "resource string (its number) nor a form property (FORM:Component-Property)")
                                    .arg(inputs[i].second, e.Id, e.Context));
            }
        }
    }
    QSaveFile out(output);
    const QByteArray bytes = lcf::BuildLanguageFile(file);
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size() || !out.commit())
        return Rejected(QStringLiteral("%1: cannot be written: %2").arg(output, out.errorString()));
    int properties = 0;
    for (const auto& props : file.Forms)
        properties += int(props.size());
    Print(QStringLiteral("%1: %2 languages, %3 resource strings, %4 forms with %5 properties")
              .arg(output)
              .arg(count)
              .arg(file.Strings.size())
              .arg(file.Forms.size())
              .arg(properties));
    return ExitSuccess;
}

struct LcfCommand {
    const CommandSyntax& Syntax;
    int (*Run)(const ParsedOptions& options);
};

const LcfCommand kLcfCommands[] = {{kDump, Dump}, {kTemplate, Template}, {kBuild, Build}};

QString LcfHelp()
{
    QString text = QStringLiteral("usage: zentrop-lcf COMMAND [OPTIONS] [ARGUMENTS]\n\n"
                                  "Tools for translators: a PO template of every translatable text, language files built\n"
                                  "from translated PO files, and what a language file holds.\n\ncommands:\n");
    for (const LcfCommand& c : kLcfCommands)
        text += CommandListEntry(c.Syntax);
    text += QStringLiteral("\n\"zentrop-lcf COMMAND --help\" (or \"zentrop-lcf help COMMAND\") shows a command's options;\n"
                           "\"zentrop-lcf --version\" the version.\n"
                           "\nexit status:\n"
                           "  0    done\n"
                           "  2    wrong usage\n"
                           "  3    a file was rejected, is damaged, or could not be read or written\n"
                           "\nexamples:\n"
                           "  zentrop-lcf template -o zentrop.pot\n"
                           "  zentrop-lcf build --lang 1038=hu.po -o zentrop.lcf\n"
                           "  zentrop-lcf dump zentrop.lcf\n");
    return text;
}

int RunLcf(const QString& sub, const QStringList& args)
{
    for (const LcfCommand& c : kLcfCommands) {
        if (c.Syntax.Name != sub)
            continue;
        QString error;
        const std::optional<ParsedOptions> options = ParseOptions(c.Syntax, args, &error);
        if (!options)
            return UsageError(error, c.Syntax);
        if (options->Has(QStringLiteral("help"))) {
            std::fputs(CommandHelp(c.Syntax).toLocal8Bit().constData(), stdout);
            return ExitSuccess;
        }
        return c.Run(*options);
    }
    if (sub == QLatin1String("--help") || sub == QLatin1String("-h") || sub == QLatin1String("help")) {
        std::fputs(LcfHelp().toLocal8Bit().constData(), stdout);
        return ExitSuccess;
    }
    if (sub == QLatin1String("--version") || sub == QLatin1String("-V")) {
        std::printf("zentrop-lcf %s\n", ZENTROP_VERSION);
        return ExitSuccess;
    }
    const QString error = sub.isEmpty()           ? QStringLiteral("no command given")
                          : sub.startsWith(u'-') ? QStringLiteral("unknown option \"%1\"").arg(sub)
                                                 : QStringLiteral("unknown command \"%1\"").arg(sub);
    std::fprintf(stderr, "zentrop-lcf: %s\n%s", error.toLocal8Bit().constData(), LcfHelp().toLocal8Bit().constData());
    return ExitUsage;
}

} // namespace

} // namespace zentrop

using namespace zentrop;

int main(int argc, char** argv)
{
    // A signal ends the program at once; the output files are written whole or not at all.
    InterruptWatch interrupts;
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zentrop-lcf"));
    // File names are kept as their bytes.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << DecodeFileName(QByteArray(argv[i]));
    const QString first = args.value(0);
    // "help COMMAND" as "COMMAND --help".
    if (first == QLatin1String("help") && args.size() > 1)
        return RunLcf(args[1], {QStringLiteral("--help")});
    return RunLcf(first, args.mid(1));
}
