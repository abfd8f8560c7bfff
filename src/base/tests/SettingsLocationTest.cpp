// Where the settings and language files lie for a program in a writable directory and for an
// installed one.
#include "base/SettingsFile.h"
#include "base/Exception.h"

#include <gtest/gtest.h>

#include <QSet>

using namespace zentrop;

namespace {

settings::Environment Fake(bool writable, const QString& xdg, const QSet<QString>& existing = {})
{
    return {[writable](const QString&) { return writable; },
            [xdg](const char* name) { return QString::fromLatin1(name) == "HOME" ? QStringLiteral("/home/u") : xdg; },
            [existing](const QString& path) { return existing.contains(path); },
            [] { return QStringLiteral("/home/account"); }};
}

} // namespace

TEST(SettingsLocation, BesideAWritableProgramElseTheUsersConfiguration)
{
    const struct {
        const char* executable;
        bool writable;
        const char* xdg;
        const char* settings;
        QStringList languages;
    } cases[] = {
        {"/opt/z/zentrop", true, "/x", "/opt/z/zentrop.ini", {"/opt/z/zentrop.lcf"}},
        {"/opt/z.d/my.app.bin", true, "", "/opt/z.d/my.app.ini", {"/opt/z.d/my.app.lcf"}},
        {"/usr/bin/zentrop", false, "/cfg", "/cfg/zentrop/zentrop.ini",
         {"/cfg/zentrop/zentrop.lcf", "/usr/share/zentrop/zentrop.lcf"}},
        // Unset or relative: the default under the home directory.
        {"/usr/local/bin/zentrop", false, "", "/home/u/.config/zentrop/zentrop.ini",
         {"/home/u/.config/zentrop/zentrop.lcf", "/usr/local/share/zentrop/zentrop.lcf"}},
        {"/usr/bin/zentrop", false, "rel", "/home/u/.config/zentrop/zentrop.ini",
         {"/home/u/.config/zentrop/zentrop.lcf", "/usr/share/zentrop/zentrop.lcf"}},
    };
    for (const auto& c : cases) {
        const settings::Environment env = Fake(c.writable, QString::fromLatin1(c.xdg));
        EXPECT_EQ(settings::ProgramFile(c.executable, ".ini", env), c.settings) << c.executable;
        EXPECT_EQ(settings::LanguageFileCandidates(c.executable, env), c.languages) << c.executable;
    }
}

// Without HOME the account's home directory is used; without either there is no place, and
// the program says so instead of writing below "/".
TEST(SettingsLocation, WithoutHomeTheAccountsHomeOrNone)
{
    settings::Environment env{[](const QString&) { return false; }, [](const char*) { return QString(); },
                              [](const QString&) { return false; }, [] { return QStringLiteral("/home/acct"); }};
    EXPECT_EQ(settings::ProgramFile("/usr/bin/zentrop", ".ini", env), "/home/acct/.config/zentrop/zentrop.ini");
    env.AccountHome = [] { return QString(); };
    EXPECT_EQ(settings::ProgramFile("/usr/bin/zentrop", ".ini", env), QString());
    EXPECT_EQ(settings::LanguageFileCandidates("/usr/bin/zentrop", env), QStringList{"/usr/share/zentrop/zentrop.lcf"});
    try {
        settings::SettingsFileName("/usr/bin/zentrop", env);
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_TRUE(e.Message().startsWith("No place for the settings file: the program's directory /usr/bin"))
            << e.Message().toStdString();
    }
}

TEST(SettingsLocation, LanguageFileFromTheFirstPlaceThatHasOne)
{
    const QString user = "/cfg/zentrop/zentrop.lcf";
    const QString data = "/usr/share/zentrop/zentrop.lcf";
    EXPECT_EQ(settings::LanguageFileName("/usr/bin/zentrop", Fake(false, "/cfg", {data})), data);
    EXPECT_EQ(settings::LanguageFileName("/usr/bin/zentrop", Fake(false, "/cfg", {user, data})), user);
    EXPECT_EQ(settings::LanguageFileName("/usr/bin/zentrop", Fake(false, "/cfg")), user);
}
