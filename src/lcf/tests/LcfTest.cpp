// The translators' commands as a translator runs them: a template of every text, language
// files built from PO files that the reader and other PE tools accept, and dumps that show
// what a file holds or say what is wrong with it.
#include "lc/LcUnit.h"
#include "lc/LcfFormat.h"
#include "lc/LcfWriter.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace zentrop;

namespace {

struct Result {
    int code;
    QString out;
    QString err;
};

Result RunProgram(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000))
        return {-1, {}, QStringLiteral("timed out")};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

Result Lcf(const QStringList& args)
{
    return RunProgram(QStringLiteral(ZENTROP_LCF), args);
}

class LcfTest : public testing::Test {
protected:
    void TearDown() override { delete CurrentLcf(); }
    QString Write(const QString& name, const QByteArray& text)
    {
        QFile f(FDir.filePath(name));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        return f.fileName();
    }
    QTemporaryDir FDir;
};

// Translated, fuzzy and untranslated entries of both kinds.
const QByteArray kGerman = R"(msgid ""
msgstr "Content-Type: text/plain; charset=UTF-8\n"

msgctxt "65041"
msgid "Error"
msgstr "Fehler"

#, fuzzy
msgctxt "65047"
msgid "Cancel"
msgstr "Abbruch"

msgctxt "TWMAIN:Label1-Caption"
msgid "Upgrade file:"
msgstr "Datei:"

msgctxt "TWMAIN:lbUser-Caption"
msgid "User:"
msgstr ""
)";

} // namespace

TEST_F(LcfTest, TemplateListsResourceStringsAndWindowTexts)
{
    const QString pot = FDir.filePath(QStringLiteral("zentrop.pot"));
    const Result r = Lcf({QStringLiteral("template"), QStringLiteral("-o"), pot});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    QFile f(pot);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    for (const char* entry : {"msgctxt \"65041\"\nmsgid \"Error\"", "msgctxt \"65054\"\nmsgid \"Open\"",
                              "msgctxt \"TWMAIN:wMain-Caption\"\nmsgid \"Zentrop\"",
                              "msgctxt \"TWMAIN:rgUpgradeMode-Items.Strings(1)\"\nmsgid \"EEProm\"",
                              "msgctxt \"TWMAIN:aPrepareUpgrade-Caption\"\nmsgid \"Prepare Flash\""})
        EXPECT_TRUE(text.contains(QString::fromUtf8(entry))) << entry;
    // Runtime values are not texts to translate.
    EXPECT_FALSE(text.contains(QStringLiteral("pPort-")));
}

TEST_F(LcfTest, BuiltFilesLoadAndOtherToolsReadThem)
{
    const QString lcf = FDir.filePath(QStringLiteral("zentrop.lcf"));
    // The GNU forms: "--lang=LCID=FILE" splits at the first "=", "-l VALUE", "--output=FILE".
    const Result r = Lcf({QStringLiteral("build"), QStringLiteral("--lang=1031=") + Write(QStringLiteral("de.po"), kGerman),
                          QStringLiteral("-l"), QStringLiteral("1038=") + QStringLiteral(ZENTROP_SAMPLE_PO), QStringLiteral("--flags"),
                          QStringLiteral("1"), QStringLiteral("--output=") + lcf});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();

    ASSERT_EQ(LcLoadLanguage(lcf, 1038, nullptr, nullptr), 1);
    EXPECT_EQ(CurrentLcf()->StrColumn(), 2);
    EXPECT_EQ(LoadResString(res::SMsgDlgError), QStringLiteral("Hiba"));
    EXPECT_EQ(LoadResString(res::SMsgDlgCancel), QStringLiteral("Mégse"));
    ASSERT_EQ(LcLoadLanguage(lcf, 1031, nullptr, nullptr), 1);
    EXPECT_EQ(LoadResString(res::SMsgDlgError), QStringLiteral("Fehler"));
    // Fuzzy and missing translations have no text: the program's own is used.
    EXPECT_EQ(LoadResString(res::SMsgDlgCancel), QStringLiteral("Cancel"));
    EXPECT_EQ(LoadResString(res::SMsgDlgWarning), QStringLiteral("Warning"));
    const auto form = CurrentLcf()->FindResource(QStringLiteral("TWMAIN"));
    ASSERT_TRUE(form);
    QMap<QByteArray, QString> texts;
    for (const lcf::FormEntry& e : lcf::ReadFormRecord(*form, CurrentLcf()->LangIndex()))
        texts.insert(e.Key, e.HasText ? e.Text : QStringLiteral("(none)"));
    EXPECT_EQ(texts.value("Label1-Caption"), QStringLiteral("Datei:"));
    EXPECT_EQ(texts.value("lbUser-Caption"), QStringLiteral("(none)"));
    EXPECT_EQ(texts.value("chkAutoExit-Caption"), QStringLiteral("(none)"));

    const Result objdump = RunProgram(QStringLiteral("objdump"), {QStringLiteral("-x"), lcf});
    EXPECT_EQ(objdump.code, 0);
    EXPECT_TRUE(objdump.out.contains(QStringLiteral("file format pei-i386")));
    EXPECT_TRUE(objdump.err.isEmpty()) << objdump.err.toStdString();

    const Result dump = Lcf({QStringLiteral("dump"), QStringLiteral("--json"), lcf});
    ASSERT_EQ(dump.code, 0) << dump.err.toStdString();
    const QJsonObject doc = QJsonDocument::fromJson(dump.out.toUtf8()).object();
    EXPECT_EQ(doc["languages"].toArray(), (QJsonArray{1031, 1038}));
    EXPECT_EQ(doc["flags"].toInt(), 1);
    QJsonObject error;
    for (const QJsonValue& s : doc["strings"].toArray())
        if (s["id"].toInt() == res::SMsgDlgError)
            error = s.toObject();
    EXPECT_EQ(error["leading"].toString(), QStringLiteral("Error"));
    EXPECT_EQ(error["texts"].toObject(), (QJsonObject{{"1031", "Fehler"}, {"1038", "Hiba"}}));
    const Result text = Lcf({QStringLiteral("dump"), lcf});
    EXPECT_TRUE(text.out.contains(QStringLiteral("languages 1031 1038"))) << text.out.toStdString();
    EXPECT_TRUE(text.out.contains(QStringLiteral("  lbUser-Caption\n    1031     no text\n    1038     \"Felhasználó:\"")))
        << text.out.toStdString();
}

TEST_F(LcfTest, EveryCommandHasItsHelp)
{
    const struct {
        QStringList args;
        const char* text;
    } cases[] = {
        {{"--help"}, "  zentrop-lcf dump [--json] FILE.lcf\n"},
        {{"--help"}, "  zentrop-lcf template [-o FILE.pot]\n"},
        {{"--help"}, "  zentrop-lcf build --lang LCID=FILE.po"},
        {{"dump", "--help"}, "usage: zentrop-lcf dump [--json] FILE.lcf\n"},
        {{"template", "-h"}, "  -o, --output FILE.pot"},
        // Asked for help, a command checks none of the values it is given.
        {{"build", "--lang", "hu=x.po", "--help"}, "  -l, --lang LCID=FILE.po"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        const Result r = Lcf(c.args);
        EXPECT_EQ(r.code, 0);
        EXPECT_TRUE(r.out.contains(QString::fromUtf8(c.text))) << r.out.toStdString();
        EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
    }
    // The command line's old way in still reaches the tools.
    const Result forwarded = RunProgram(QStringLiteral(ZENTROP_CLI), {QStringLiteral("lcf"), QStringLiteral("dump"), QStringLiteral("--help")});
    EXPECT_EQ(forwarded.code, 0);
    EXPECT_TRUE(forwarded.out.contains(QStringLiteral("usage: zentrop-lcf dump [--json] FILE.lcf\n"))) << forwarded.out.toStdString();
}

// Records that the program reads as no text are shown as far as they go and named as damaged.
TEST_F(LcfTest, DumpNamesDamagedRecords)
{
    QByteArray strings = lcf::BuildStringRecord({QStringLiteral("Mégse")});
    qToLittleEndian<int32_t>(999, strings.data());
    QByteArray form = lcf::BuildFormRecord({{"Label1-Caption", {QStringLiteral("Fájl")}}});
    qToLittleEndian<int32_t>(1000, form.data() + 4);
    const QString path = Write(QStringLiteral("damaged.lcf"),
                               WritePeResources({{10, lcf::HeaderName, 0, 0, lcf::BuildHeader(0, {1038})},
                                                 {10, QStringLiteral("65047"), 0, 0, strings},
                                                 {10, QStringLiteral("TWMAIN"), 0, 0, form}}));
    const Result r = Lcf({QStringLiteral("dump"), path});
    EXPECT_EQ(r.code, 3);
    EXPECT_TRUE(r.out.contains(QStringLiteral("string 65047"))) << r.out.toStdString();
    EXPECT_TRUE(QRegularExpression(R"(damaged string record "65047" at file offset 0x[0-9a-f]+: the text for language 1038: )"
                                   R"(its text \(offset 999, 10 bytes\) lies outside)")
                    .match(r.err).hasMatch())
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("damaged form record \"TWMAIN\" at file offset 0x")))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("its table of 1000 property records runs past"))) << r.err.toStdString();
}

TEST_F(LcfTest, BadInputGetsAClearErrorAndExitStatus)
{
    const QString po = Write(QStringLiteral("bad.po"), "msgid \"\"\nmsgstr \"\"\n\nmsgctxt \"Label1\"\nmsgid \"x\"\nmsgstr \"y\"\n");
    const QString broken = Write(QStringLiteral("broken.po"), "msgid \"x\nmsgstr \"y\"\n");
    const QString out = FDir.filePath(QStringLiteral("out.lcf"));
    const QByteArray truncated = QByteArray("MZ") + QByteArray(100, 0);
    const QString notPe = Write(QStringLiteral("not.lcf"), truncated);
    // Opening a FIFO would wait for a writer for ever; writing would put a file in its place.
    const QString fifo = FDir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const struct {
        const char* name;
        QStringList args;
        int code;
        const char* message;
    } cases[] = {
        {"no command", {}, 2, "zentrop-lcf: no command given"},
        {"no such command", {"frob"}, 2, "unknown command \"frob\""},
        {"unknown option", {"dump", "--xml", notPe}, 2, "zentrop-lcf dump: unknown option \"--xml\""},
        {"unknown short option", {"template", "-x"}, 2, "zentrop-lcf template: unknown option \"-x\""},
        {"build without --lang", {"build", "-o", out}, 2, "at least one --lang"},
        {"build without -o", {"build", "--lang", "1038=" + po}, 2, "needs -o FILE.lcf"},
        {"build with a bad language", {"build", "--lang", "hu=" + po, "-o", out}, 2, "LCID=FILE.po"},
        {"context of neither kind", {"build", "--lang", "1038=" + po, "-o", out}, 3, "bad.po: the entry \"x\" has the context \"Label1\""},
        {"PO syntax error", {"build", "--lang", "1038=" + broken, "-o", out}, 3, "broken.po:2: end-of-line within string"},
        {"missing PO", {"build", "--lang", "1038=" + FDir.filePath("none.po"), "-o", out}, 3, "No such file"},
        {"FIFO as a PO file", {"build", "--lang", "1038=" + fifo, "-o", out}, 3, "fifo: not a regular file"},
        {"FIFO as the output", {"build", "--lang", "1038=" + po, "-o", fifo}, 3, "fifo: not a regular file, which is never replaced"},
        {"FIFO as the template", {"template", "-o", fifo}, 3, "fifo: not a regular file, which is never replaced"},
        {"missing file", {"dump", FDir.filePath("none.lcf")}, 3, "cannot be read"},
        {"not a module", {"dump", notPe}, 3, "not a usable language file: not a PE module: no \"PE\" signature (at file offset 0x0)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = Lcf(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.message))) << r.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(out));
    EXPECT_FALSE(QFileInfo(fifo).isFile());
}
