// The settings file: private-profile reading, atomic writing, and failures that lose nothing.
#include "base/Exception.h"
#include "base/IniFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

using namespace zentrop;

namespace {

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteAll(const QString& path, const QByteArray& data)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

class IniFileTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString path = dir.filePath("zentrop.ini");
};

} // namespace

TEST_F(IniFileTest, MissingFileGivesDefaultsAndFirstWriteCreatesIt)
{
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("COMMON", "comport", "COM1"), "COM1");
    EXPECT_FALSE(ini.SectionExists("COMMON"));
    EXPECT_FALSE(QFile::exists(path));
    ini.WriteString("COMMON", "comport", "COM1");
    EXPECT_EQ(ReadAll(path), "[COMMON]\ncomport=COM1\n");
    EXPECT_TRUE(ini.SectionExists("common"));
}

TEST_F(IniFileTest, NamesIgnoreCaseAndValuesKeepQuotes)
{
    WriteAll(path, "; comment\n[Upgrade]\n  FileList = \"a b\",c \n\n[COMMON]\n");
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("UPGRADE", "filelist", ""), "\"a b\",c");
    // A section header without keys counts as no section.
    EXPECT_FALSE(ini.SectionExists("COMMON"));
    EXPECT_EQ(ini.ReadSections(), QStringList({"Upgrade", "COMMON"}));
    ini.WriteString("upgrade", "upgradefile", "x.upg");
    ini.WriteString("UPGRADE", "FILELIST", "d");
    EXPECT_EQ(ReadAll(path), "; comment\n[Upgrade]\nFILELIST=d\nupgradefile=x.upg\n\n[COMMON]\n");
    EXPECT_EQ(ini.ReadSection("Upgrade"), QStringList({"FILELIST", "upgradefile"}));
}

TEST_F(IniFileTest, LongValuesAreReadCutTo2047Characters)
{
    TIniFile ini(path);
    const QString longValue(5000, u'x');
    ini.WriteString("UPGRADE", "filelist", longValue);
    EXPECT_EQ(ini.ReadString("UPGRADE", "filelist", "").size(), 2047);
    // The file itself holds the whole value.
    EXPECT_TRUE(ReadAll(path).contains(longValue.toUtf8()));
}

TEST_F(IniFileTest, IntegersBooleansAndRemoval)
{
    TIniFile ini(path);
    ini.WriteInteger("S", "n", -42);
    ini.WriteBool("S", "b", true);
    ini.WriteString("S", "bad", "12x");
    ini.WriteString("S", "hex", "$800");
    ini.WriteString("S", "hex2", "0x1F");
    EXPECT_EQ(ini.ReadInteger("S", "n", 0), -42);
    EXPECT_EQ(ini.ReadInteger("S", "hex", 0), 0x800);
    EXPECT_EQ(ini.ReadInteger("S", "hex2", 0), 0x1F);
    EXPECT_EQ(ini.ReadInteger("S", "bad", 7), 7);
    EXPECT_TRUE(ini.ReadBool("S", "b", false));
    ini.DeleteKey("S", "n");
    EXPECT_FALSE(ini.ValueExists("S", "n"));
    ini.EraseSection("S");
    EXPECT_EQ(ini.ReadSections(), QStringList());
}

TEST_F(IniFileTest, ValuesAndNamesWithLineBreaksStayOnOneLine)
{
    TIniFile ini(path);
    ini.WriteString("S", "k", "a\nb");
    ini.WriteString("S", "other", "1");
    ini.WriteString("X\n[S]", "k\r\nk", "v");
    EXPECT_EQ(ini.ReadString("S", "k", ""), "a b");
    EXPECT_EQ(ini.ReadString("S", "other", ""), "1");
    EXPECT_EQ(ini.ReadString("X\n[S]", "k\r\nk", ""), "v");
    EXPECT_EQ(ini.ReadSections(), QStringList({"S", "X [S]"}));
}

TEST_F(IniFileTest, LinesInAnEightBitCodePageSurviveARewrite)
{
    WriteAll(path, "[A]\r\nname=caf\xE9\r\n[B]\nk=\xC3\xA9t\xC3\xA9\n");
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("A", "name", ""), QString::fromLatin1("caf\xE9"));
    EXPECT_EQ(ini.ReadString("B", "k", ""), QString::fromUtf8("été"));
    ini.WriteString("B", "new", QString::fromUtf8("ő"));
    EXPECT_EQ(ReadAll(path), "[A]\nname=caf\xE9\n[B]\nk=\xC3\xA9t\xC3\xA9\nnew=\xC5\x91\n");
}

// The same text in two encodings: each line that did not change keeps its own bytes.
TEST_F(IniFileTest, UnchangedLinesAreWrittenBackByteForByte)
{
    WriteAll(path, "[A]\nk=caf\xE9\n[B]\nk=caf\xC3\xA9\n");
    TIniFile ini(path);
    ini.WriteString("A", "new", "1");
    EXPECT_EQ(ReadAll(path), "[A]\nk=caf\xE9\nnew=1\n[B]\nk=caf\xC3\xA9\n");
    ini.WriteString("A", "k", QString::fromLatin1("caf\xE9"));
    EXPECT_EQ(ReadAll(path), "[A]\nk=caf\xC3\xA9\nnew=1\n[B]\nk=caf\xC3\xA9\n");
}

// A write keeps what the user set up around the file: a symbolic link stays a link and its
// target gets the settings, a second name sees them, the mode and owner stay; a protected
// file is refused and left as it was.
TEST_F(IniFileTest, WritesKeepLinksModeAndOwnerAndRefuseProtectedFiles)
{
    const QString target = dir.filePath("real.ini");
    const QString link = dir.filePath("link.ini");
    ASSERT_TRUE(QFile::link(target, link));   // dangling until the first write
    TIniFile(link).WriteString("COMMON", "comport", "COM2");
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(ReadAll(target), "[COMMON]\ncomport=COM2\n");

    const QString second = dir.filePath("second.ini");
    ASSERT_EQ(::link(QFile::encodeName(target).constData(), QFile::encodeName(second).constData()), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0640), 0);
    const bool root = ::geteuid() == 0;
    if (root) {
        ASSERT_EQ(::chown(QFile::encodeName(target).constData(), 4321, 4321), 0);
    }
    TIniFile(link).WriteString("COMMON", "comport", "COM3");
    EXPECT_EQ(ReadAll(second), "[COMMON]\ncomport=COM3\n");
    ASSERT_EQ(::unlink(QFile::encodeName(second).constData()), 0);
    TIniFile(target).WriteString("COMMON", "comport", "COM4");
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(st.st_uid, 4321u);
    }
    EXPECT_EQ(ReadAll(target), "[COMMON]\ncomport=COM4\n");

    ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), 0444), 0);
    try {
        TIniFile(link).WriteString("COMMON", "comport", "COM5");
        FAIL() << "no exception";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.Message(), "Unable to write to " + link);
    }
    EXPECT_EQ(ReadAll(target), "[COMMON]\ncomport=COM4\n");
}

TEST_F(IniFileTest, AByteOrderMarkIsReadPastAndKept)
{
    WriteAll(path, "\xEF\xBB\xBF[COMMON]\r\ncomport=/dev/ttyUSB0\r\n");
    TIniFile ini(path);
    EXPECT_EQ(ini.ReadString("COMMON", "comport", "COM1"), "/dev/ttyUSB0");
    ini.WriteString("COMMON", "comport", "/dev/ttyACM0");
    EXPECT_EQ(ReadAll(path), "\xEF\xBB\xBF[COMMON]\ncomport=/dev/ttyACM0\n");
}

TEST_F(IniFileTest, FailedWriteRaisesWithThePathAndKeepsTheOldFile)
{
    const QString sub = dir.filePath("ro");
    ASSERT_TRUE(QDir().mkdir(sub));
    const QString inRo = sub + "/zentrop.ini";
    WriteAll(inRo, "[COMMON]\ncomport=COM3\n");
    QFile::setPermissions(sub, QFile::ReadOwner | QFile::ExeOwner);
    if (QFile(sub + "/probe").open(QIODevice::WriteOnly))
        GTEST_SKIP() << "running with rights that ignore directory permissions";
    TIniFile ini(inRo);
    try {
        ini.WriteString("COMMON", "comport", "COM4");
        FAIL() << "no exception";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.Message(), "Unable to write to " + inRo);
    }
    EXPECT_EQ(ini.ReadString("COMMON", "comport", ""), "COM3");
    QFile::setPermissions(sub, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

TEST_F(IniFileTest, UnreadableFileIsNotOverwritten)
{
    WriteAll(path, "[COMMON]\ncomport=COM3\n");
    QFile::setPermissions(path, QFileDevice::Permissions());
    if (QFile(path).open(QIODevice::ReadOnly))
        GTEST_SKIP() << "running with rights that ignore file permissions";
    TIniFile ini(path);
    EXPECT_THROW(ini.WriteString("UPGRADE", "filelist", "x"), EIniFileException);
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    EXPECT_EQ(ReadAll(path), "[COMMON]\ncomport=COM3\n");
}

TEST_F(IniFileTest, UnwritablePlacesRaiseWithThePath)
{
    // Both fail for every user, root included: a directory where the file should be, and a
    // file where its directory should be.
    ASSERT_TRUE(QDir().mkdir(path));
    EXPECT_THROW(TIniFile(path).WriteString("COMMON", "comport", "COM1"), EIniFileException);

    WriteAll(dir.filePath("plain"), "x");
    const QString below = dir.filePath("plain") + "/zentrop.ini";
    try {
        TIniFile(below).WriteString("COMMON", "comport", "COM1");
        FAIL() << "no exception";
    } catch (const EIniFileException& e) {
        EXPECT_EQ(e.Message(), "Unable to write to " + below);
    }
}

// What cannot be a settings file is refused before it is opened: a FIFO would hang the
// reader, /dev/zero would be read until memory ran out.
TEST_F(IniFileTest, WhatIsNotASettingsFileIsRefusedUnopened)
{
    struct Case {
        const char* what;
        std::function<void()> make;
        const char* reason;
    };
    const Case cases[] = {
        {"FIFO", [&] { ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0); }, "Not a regular file"},
        {"link to /dev/zero", [&] { ASSERT_EQ(::symlink("/dev/zero", QFile::encodeName(path).constData()), 0); },
         "Not a regular file"},
        {"larger than any settings file", [&] {
             WriteAll(path, "");
             ASSERT_TRUE(QFile::resize(path, 17 << 20)); // sparse: no disk is used
         },
         "Larger than 16 MiB, far more than a settings file holds"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(path);
        c.make();
        TIniFile ini(path);
        for (const std::function<void()>& use : std::initializer_list<std::function<void()>>{
                 [&] { ini.ReadString("COMMON", "comport", "COM1"); },
                 [&] { ini.WriteString("COMMON", "comport", "COM2"); }}) {
            try {
                use();
                ADD_FAILURE() << "no error";
            } catch (const EIniFileException& e) {
                EXPECT_EQ(e.Message(), "Cannot open file \"" + path + "\". " + c.reason);
            }
        }
    }
}

TEST_F(IniFileTest, WritesRemoveTemporariesThatAKilledWriteLeftBehind)
{
    const QString old = path + ".Ab3xYz.tmp";
    const QString fresh = path + ".Qw7rTy.tmp";
    const QString other = path + ".backup";
    for (const QString& f : {old, fresh, other})
        WriteAll(f, "[COMMON]\n");
    const utimbuf longAgo{1000000000, 1000000000};
    ASSERT_EQ(::utime(QFile::encodeName(old).constData(), &longAgo), 0);
    ASSERT_EQ(::utime(QFile::encodeName(other).constData(), &longAgo), 0);
    TIniFile(path).WriteString("COMMON", "comport", "COM2");
    EXPECT_FALSE(QFile::exists(old));
    EXPECT_TRUE(QFile::exists(fresh)); // another write may be making it now
    EXPECT_TRUE(QFile::exists(other));
}

TEST_F(IniFileTest, NamesAreComparedTrimmed)
{
    TIniFile ini(path);
    ini.WriteString("  S ", " k ", "v");
    EXPECT_EQ(ini.ReadString("S", "k", ""), "v");
    ini.WriteString("S", "k", "w");
    EXPECT_EQ(ini.ReadSections(), QStringList({"S"}));
    EXPECT_EQ(ini.ReadString(" s", "K ", ""), "w");
}

TEST_F(IniFileTest, ABatchReachesTheFileInOneWriteAtItsEnd)
{
    WriteAll(path, "[A]\nx=1\n");
    TIniFile ini(path);
    ini.BeginBatch();
    ini.WriteString("A", "x", "2");
    ini.BeginBatch();
    ini.WriteInteger("B", "y", 3);
    ini.EndBatch();
    EXPECT_EQ(ReadAll(path), "[A]\nx=1\n");
    EXPECT_EQ(ini.ReadInteger("B", "y", 0), 3);
    ini.EndBatch();
    EXPECT_EQ(ReadAll(path), "[A]\nx=2\n[B]\ny=3\n");

    ini.BeginBatch();
    ini.WriteString("A", "x", "9");
    ini.CancelBatch();
    EXPECT_EQ(ini.ReadString("A", "x", ""), "2");
    EXPECT_EQ(ReadAll(path), "[A]\nx=2\n[B]\ny=3\n");
}
