// Opening language files, choosing the column, string lookups with their fallback, and the
// loader redirect's life: installed on success only, gone after a failed second load and
// restored before the file is unmapped.
#include "testsupport/LcTestFiles.h"
#include "lc/LcUnit.h"
#include "lc/LcfFormat.h"

#include <QFile>
#include <QtEndian>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

using namespace zentrop;

namespace {

class LcUnitTest : public testing::Test {
protected:
    void TearDown() override { delete CurrentLcf(); }

    QString Write(const QByteArray& bytes, const QString& name = QStringLiteral("zentrop.lcf"))
    {
        return WriteTestFile(FDir, name, bytes);
    }
    QString WriteFile(const lcf::LanguageFile& file) { return Write(lcf::BuildLanguageFile(file)); }
    // A file whose only resources are the given header bytes and string records.
    QString WriteRaw(const QByteArray& header, const QList<PeResource>& more = {})
    {
        QList<PeResource> resources{{10, lcf::HeaderName, 0, 0, header}};
        return Write(WritePeResources(resources + more));
    }

    QTemporaryDir FDir;
};

QByteArray Header(uint32_t flags, int32_t count, QList<int32_t> languages)
{
    QByteArray h = lcf::BuildHeader(flags, languages);
    qToLittleEndian(count, h.data() + 12);
    return h;
}

} // namespace

TEST_F(LcUnitTest, OpenResultsAndColumns)
{
    const struct {
        const char* name;
        QByteArray header;
        int32_t result;
        int32_t langIndex;
        int32_t strColumn;
    } cases[] = {
        {"15 bytes", Header(0, 0, {}).left(15), -1, -1, -1},
        {"wrong signature", QByteArray("LCHEADEX").append(8, '\0'), -1, -1, -1},
        {"count past the resource", Header(0, 3, {1033, 1038}), -1, -1, -1},
        {"16 bytes, no language", Header(0, 0, {}), 0, -1, -1},
        {"negative count", Header(0, -5, {}), 0, -1, -1},
        {"other languages only", Header(0, 2, {1033, 1031}), 0, -1, -1},
        {"second column", Header(0, 2, {1033, 1038}), 1, 1, 1},
        {"second column, leading pair", Header(1, 2, {1033, 1038}), 1, 1, 2},
        {"only bit 0 of the flags counts", Header(0xFFFFFFFE, 2, {1033, 1038}), 1, 1, 1},
        {"listed twice: the first wins", Header(0, 3, {1038, 1033, 1038}), 1, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = WriteRaw(c.header);
        TLcf lcf;
        EXPECT_EQ(lcf.Open(path, 1038, nullptr, nullptr), c.result);
        if (c.result == 1) {
            EXPECT_EQ(lcf.LangIndex(), c.langIndex);
            EXPECT_EQ(lcf.StrColumn(), c.strColumn);
        }
        EXPECT_EQ(CurrentLcf(), &lcf);
    }
    EXPECT_EQ(CurrentLcf(), nullptr);
}

TEST_F(LcUnitTest, UnusableFilesGiveMinusOneWithoutRedirect)
{
    const QString fifo = FDir.filePath(QStringLiteral("fifo.lcf"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const struct {
        const char* name;
        QString path;
    } cases[] = {
        {"missing", FDir.filePath(QStringLiteral("none.lcf"))},
        {"directory", FDir.path()},
        {"FIFO", fifo},
        {"empty", Write({}, QStringLiteral("empty.lcf"))},
        {"not a module", Write("LCHEADER\0\0\0\0\1\0\0\0\x0e\x04\0\0", QStringLiteral("bare.lcf"))},
        {"module without LCHEADER", Write(WritePeResources({{10, QStringLiteral("OTHER"), 0, 0, "x"}}), QStringLiteral("o.lcf"))},
        {"LCHEADER of another type", Write(WritePeResources({{6, lcf::HeaderName, 0, 0, lcf::BuildHeader(0, {1038})}}), QStringLiteral("t.lcf"))},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(LcLoadLanguage(c.path, 1038, nullptr, nullptr), -1);
        EXPECT_EQ(CurrentLcf(), nullptr);
        EXPECT_EQ(LoadResString(res::SMsgDlgCancel), QStringLiteral("Cancel"));
    }
}

TEST_F(LcUnitTest, EnumerationSeesTheLanguagesUntilItSaysStop)
{
    const QString path = WriteFile(TwoLanguages());
    struct Seen {
        QList<int32_t> languages;
        int32_t stopAfter;
    };
    auto proc = [](int32_t lcid, void* data) -> int32_t {
        auto* seen = static_cast<Seen*>(data);
        seen->languages.append(lcid);
        return seen->languages.size() < seen->stopAfter;
    };
    Seen all{{}, 99};
    EXPECT_EQ(LcLoadLanguage(path, 1038, proc, &all), 1);
    EXPECT_EQ(all.languages, (QList<int32_t>{1033, 1038}));
    Seen first{{}, 1};
    EXPECT_EQ(LcLoadLanguage(path, 1038, proc, &first), 1);
    EXPECT_EQ(first.languages, QList<int32_t>{1033});
    Seen missing{{}, 99};
    EXPECT_EQ(LcLoadLanguage(path, 1031, proc, &missing), 0);
    EXPECT_EQ(missing.languages, (QList<int32_t>{1033, 1038}));
}

TEST_F(LcUnitTest, ResourceStringsComeFromTheFileOrTheProgram)
{
    for (const uint32_t flags : {0u, 1u}) {
        SCOPED_TRACE(testing::Message() << "flags " << flags);
        lcf::LanguageFile file = TwoLanguages(flags);
        // With bit 0 set the leading pair is never read, whatever it holds.
        file.Strings[65047].Source = QStringLiteral("leading");
        file.Strings[res::SMsgDlgOK] = {std::nullopt, {QStringLiteral("OK"), QString()}};
        file.Strings[res::SMsgDlgError] = {std::nullopt, {QStringLiteral("Error"), std::nullopt}};
        file.Strings[70000] = {std::nullopt, {QStringLiteral("x"), QStringLiteral("y")}};
        ASSERT_EQ(LcLoadLanguage(WriteFile(file), 1038, nullptr, nullptr), 1);

        EXPECT_EQ(LoadResString(res::SMsgDlgCancel), QStringLiteral("Mégse"));
        EXPECT_EQ(LoadResString(res::SMsgDlgWarning), QStringLiteral("Figyelmeztetés"));
        // Size 0 is an empty text; size -1 and no record give the program's own.
        EXPECT_EQ(LoadResString(res::SMsgDlgOK), QString());
        EXPECT_EQ(LoadResString(res::SMsgDlgError), QStringLiteral("Error"));
        EXPECT_EQ(LoadResString(res::SMsgDlgNo), QStringLiteral("&No"));
        // Identifiers past the string table are never looked up.
        EXPECT_EQ(LoadResString(70000), QString());

        QByteArrayView text;
        EXPECT_EQ(CurrentLcf()->FindString(res::SMsgDlgCancel, &text), 10);
        EXPECT_EQ(lcf::DecodeUtf16(text), QStringLiteral("Mégse"));
        EXPECT_EQ(CurrentLcf()->FindString(res::SMsgDlgError, &text), -1);
        EXPECT_EQ(text.data(), nullptr);
        EXPECT_EQ(CurrentLcf()->FindString(res::SMsgDlgNo, &text), 0);
        EXPECT_EQ(text.data(), nullptr);
    }
}

// Another program shortens the file in place while it is in force (a translator copying a new
// version over it): its texts are gone, the program's own come back, and nothing crashes.
TEST_F(LcUnitTest, AFileShortenedWhileInForceGivesTheProgramsTexts)
{
    lcf::LanguageFile file = TwoLanguages();
    // Large enough for the string records to lie pages away from the file's start.
    file.Strings[65000] = {std::nullopt, {QString(), QString(20000, u'x')}};
    const QString path = WriteFile(file);
    ASSERT_EQ(LcLoadLanguage(path, 1038, nullptr, nullptr), 1);
    EXPECT_EQ(LoadResString(res::SMsgDlgCancel), QStringLiteral("Mégse"));
    ASSERT_TRUE(QFile::resize(path, 0));
    EXPECT_EQ(LoadResString(res::SMsgDlgCancel), QStringLiteral("Cancel"));
    EXPECT_EQ(LoadResString(res::SMsgDlgWarning), QStringLiteral("Warning"));
}

// A SIGBUS that another process sends is not a fault of ours: it gets what the process had
// before (here: ignored), and the guard still catches the next real fault.
TEST_F(LcUnitTest, ASentBusSignalLeavesTheGuardInPlace)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    lcf::LanguageFile file = TwoLanguages();
    file.Strings[65000] = {std::nullopt, {QString(), QString(20000, u'x')}};
    const QString path = WriteFile(file);
    EXPECT_EXIT(
        {
            ::signal(SIGBUS, SIG_IGN);
            if (LcLoadLanguage(path, 1038, nullptr, nullptr) != 1)
                std::_Exit(2);
            ::kill(::getpid(), SIGBUS);
            QFile::resize(path, 0);
            std::_Exit(LoadResString(res::SMsgDlgCancel) == QStringLiteral("Cancel") ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(LcUnitTest, RecordsTooShortForTheirTextHaveNone)
{
    auto pair = [](int32_t offset, int32_t size) {
        QByteArray b(8, '\0');
        qToLittleEndian(offset, b.data());
        qToLittleEndian(size, b.data() + 4);
        return b;
    };
    const QByteArray text = lcf::EncodeUtf16(QStringLiteral("Mégse"));
    const struct {
        const char* name;
        QByteArray record;
        int32_t result;
    } cases[] = {
        {"no pair for the column", pair(16, 10), -1},
        {"half a pair", pair(16, 10) + QByteArray(4, '\0'), -1},
        {"text past the end", pair(0, 0) + pair(16, 12) + text, -1},
        {"offset past the end", pair(0, 0) + pair(0x7FFFFFF0, 10) + text, -1},
        {"negative offset", pair(0, 0) + pair(-8, 10) + text, -1},
        {"huge size", pair(0, 0) + pair(16, 0x7FFFFFFF) + text, -1},
        {"odd size drops the last byte", pair(0, 0) + pair(16, 9) + text, 9},
        {"exact fit", pair(0, 0) + pair(16, 10) + text, 10},
        {"empty text with its offset past the end", pair(0, 0) + pair(0x7FFFFFF0, 0) + text, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(LcLoadLanguage(WriteRaw(lcf::BuildHeader(0, {1033, 1038}), {{10, QStringLiteral("65047"), 0, 0, c.record}}),
                                 1038, nullptr, nullptr),
                  1);
        QByteArrayView found;
        EXPECT_EQ(CurrentLcf()->FindString(res::SMsgDlgCancel, &found), c.result);
        EXPECT_EQ(LoadResString(res::SMsgDlgCancel),
                  c.result < 0 ? QStringLiteral("Cancel") : QStringLiteral("Mégse").left(c.result / 2));
    }
}

TEST_F(LcUnitTest, AFailedSecondLoadLeavesNoLanguage)
{
    ASSERT_EQ(LcLoadLanguage(WriteFile(TwoLanguages()), 1038, nullptr, nullptr), 1);
    EXPECT_EQ(LoadResString(res::SMsgDlgCancel), QStringLiteral("Mégse"));
    EXPECT_EQ(LcLoadLanguage(FDir.filePath(QStringLiteral("none.lcf")), 1038, nullptr, nullptr), -1);
    EXPECT_EQ(CurrentLcf(), nullptr);
    EXPECT_EQ(LoadResString(res::SMsgDlgCancel), QStringLiteral("Cancel"));
    // The built-in loader is back in the slot, not a stale redirect.
    const ResStringLoader slot = SetResStringLoader(nullptr);
    EXPECT_EQ(slot, &LoadBuiltinResString);
}

namespace {

TLcf* gDying = nullptr;
bool gMappedWhenRestored = false;
ResStringLoader gSlot = nullptr;

ResStringLoader RecordingSlot(ResStringLoader loader)
{
    if (gDying && loader != &LcLoadResString)
        gMappedWhenRestored = gDying->FindResource(lcf::HeaderName).has_value();
    return std::exchange(gSlot, loader);
}

} // namespace

TEST_F(LcUnitTest, TheLoaderIsRestoredBeforeTheFileIsUnmapped)
{
    auto* lcf = new TLcf;
    ASSERT_EQ(lcf->Open(WriteFile(TwoLanguages()), 1038, nullptr, nullptr), 1);
    gSlot = &LoadBuiltinResString;
    lcf->RedirectProc(&LcLoadResString, &RecordingSlot);
    lcf->RedirectProc(nullptr, &RecordingSlot);
    EXPECT_EQ(gSlot, &LcLoadResString);
    gDying = lcf;
    delete lcf;
    gDying = nullptr;
    EXPECT_EQ(gSlot, &LoadBuiltinResString);
    EXPECT_TRUE(gMappedWhenRestored);
}

TEST_F(LcUnitTest, ProcessEndWithALanguageInForce)
{
    const QString path = WriteFile(TwoLanguages());
    EXPECT_EXIT(
        {
            if (LcLoadLanguage(path, 1038, nullptr, nullptr) != 1 || LoadResString(res::SMsgDlgCancel) != QStringLiteral("Mégse"))
                std::exit(2);
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
}
