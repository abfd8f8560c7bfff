// The PE resource reader against our writer's files, PE32 and PE32+, and against damaged and
// hostile ones: every check refuses the file instead of reading outside it.
#include "lc/LcfWriter.h"
#include "lc/PeResources.h"

#include <QtEndian>

#include <gtest/gtest.h>

#include <functional>

using namespace zentrop;

namespace {

QList<PeResource> Sample()
{
    return {
        {10, QStringLiteral("LCHEADER"), 0, 0, QByteArray("header")},
        {10, QStringLiteral("65047"), 0, 0, QByteArray("record")},
        {10, QString(), 7, 0, QByteArray("by number")},
        {6, QStringLiteral("65047"), 0, 0, QByteArray("other type")},
        {10, QStringLiteral("TWMAIN"), 0, 1033, QByteArray("english")},
        {10, QStringLiteral("TWMAIN"), 0, 0, QByteArray("neutral")},
    };
}

uint32_t Get32(const QByteArray& b, qsizetype at)
{
    return qFromLittleEndian<uint32_t>(b.constData() + at);
}

void Put32(QByteArray& b, qsizetype at, uint32_t v)
{
    qToLittleEndian(v, b.data() + at);
}

// Our writer puts the headers in the first 0x200 bytes and the tree at the start of the
// only section, which begins at RVA 0x1000.
constexpr qsizetype kTree = 0x200;
constexpr qsizetype kOptional = 0x40 + 24;

} // namespace

TEST(PeResources, FindsByTypeAndStringNameInEveryLayout)
{
    for (const PeOptions options : {PeOptions{}, PeOptions{true, 0}, PeOptions{false, 100}, PeOptions{true, 4096}}) {
        SCOPED_TRACE(testing::Message() << "PE32+ " << options.Pe32Plus << ", leading " << options.Leading);
        const QByteArray file = WritePeResources(Sample(), options);
        PeResources pe;
        ASSERT_TRUE(pe.Load(file)) << pe.Error().toStdString();
        EXPECT_EQ(pe.Pe32Plus(), options.Pe32Plus);
        EXPECT_EQ(pe.Find(10, u"LCHEADER"), QByteArrayView("header"));
        // ASCII letters compare without regard to case.
        EXPECT_EQ(pe.Find(10, u"lcHeader"), QByteArrayView("header"));
        EXPECT_EQ(pe.Find(10, u"65047"), QByteArrayView("record"));
        EXPECT_EQ(pe.Find(6, u"65047"), QByteArrayView("other type"));
        // The neutral language wins over the others.
        EXPECT_EQ(pe.Find(10, u"twmain"), QByteArrayView("neutral"));
        // Integer identifiers are not string names.
        EXPECT_FALSE(pe.Find(10, u"7"));
        EXPECT_FALSE(pe.Find(10, u"LCHEADE"));
        EXPECT_FALSE(pe.Find(10, u"LCHEADERS"));
        EXPECT_FALSE(pe.Find(10, u"000"));
        EXPECT_FALSE(pe.Find(10, u"ZZZ"));
        EXPECT_FALSE(pe.Find(11, u"LCHEADER"));
        int named = 0;
        pe.ForEachNamed(10, [&named](const QString&, QByteArrayView) { ++named; });
        EXPECT_EQ(named, 3);
    }
}

TEST(PeResources, NonAsciiLettersCompareExactly)
{
    const QByteArray file = WritePeResources({{10, QStringLiteral("ÄRGER"), 0, 0, QByteArray("x")}});
    PeResources pe;
    ASSERT_TRUE(pe.Load(file));
    EXPECT_TRUE(pe.Find(10, u"ÄRGER"));
    EXPECT_TRUE(pe.Find(10, u"Ärger"));
    EXPECT_FALSE(pe.Find(10, u"äRGER"));
}

TEST(PeResources, RefusesDamagedAndHostileFiles)
{
    const QByteArray good = WritePeResources(Sample());
    // Offsets inside the tree: the root's only entry leads to the RT_RCDATA directory, whose
    // first entry leads to a name directory, whose first entry leads to a data entry.
    const qsizetype typeDir = kTree + (Get32(good, kTree + 16 + 8 + 4) & 0x7FFFFFFF);
    const qsizetype nameDir = kTree + (Get32(good, typeDir + 16 + 4) & 0x7FFFFFFF);
    const qsizetype dataEntry = kTree + Get32(good, nameDir + 16 + 4);
    const qsizetype resourceDirectory = kOptional + 96 + 2 * 8;
    const qsizetype section = kOptional + 224;

    const struct {
        const char* name;
        std::function<void(QByteArray&)> damage;
        const char* error;
    } cases[] = {
        {"empty", [](QByteArray& b) { b.clear(); }, "MZ"},
        {"text file", [](QByteArray& b) { b = QByteArray(200, 'x'); }, "MZ"},
        {"PE offset past the end", [](QByteArray& b) { Put32(b, 0x3C, 0x7FFFFFF0); }, "PE"},
        {"PE offset wraps", [](QByteArray& b) { Put32(b, 0x3C, 0xFFFFFFFE); }, "PE"},
        {"no PE signature", [](QByteArray& b) { b[0x41] = 'X'; }, "PE"},
        {"unknown magic", [](QByteArray& b) { b[kOptional] = 0x0C; }, "magic"},
        {"optional header larger than the file", [](QByteArray& b) { b[0x40 + 4 + 16] = char(0xFF); b[0x40 + 4 + 17] = char(0xFF); b.truncate(0x400); }, "optional header"},
        {"two data directories only", [](QByteArray& b) { Put32(b, kOptional + 92, 2); }, "resource directory"},
        {"no resources", [](QByteArray& b) { Put32(b, resourceDirectory, 0); }, "no resources"},
        {"section table past the end", [](QByteArray& b) { b[0x40 + 6] = char(0xFF); b[0x40 + 7] = char(0xFF); }, "section table"},
        {"section data past the end", [](QByteArray& b) { Put32(b, section + 20, 0x7FFFFF00); }, "section 1"},
        {"truncated section", [](QByteArray& b) { b.truncate(kTree + 64); }, "section 1"},
        {"tree outside the section", [](QByteArray& b) { Put32(b, resourceDirectory, 0x9000); }, "resource tree"},
        {"tree larger than the section", [](QByteArray& b) { Put32(b, resourceDirectory + 4, 0x100000); }, "resource tree"},
        {"directory count past the tree", [](QByteArray& b) { b[kTree + 14] = char(0xFF); b[kTree + 15] = char(0xFF); }, "runs past"},
        {"directory offset past the tree", [](QByteArray& b) { Put32(b, kTree + 16 + 8 + 4, 0x80000000u | 0x7FFFFFF0u); }, "outside"},
        {"root loops to itself", [](QByteArray& b) { Put32(b, kTree + 16 + 4, 0x80000000u); }, "twice"},
        {"two types share a directory", [](QByteArray& b) { Put32(b, kTree + 16 + 4, Get32(b, kTree + 16 + 8 + 4)); }, "twice"},
        {"name directory loops to the type directory", [nameDir, typeDir](QByteArray& b) { Put32(b, nameDir + 16 + 4, 0x80000000u | uint32_t(typeDir - kTree)); }, "deeper"},
        {"data where a directory belongs", [typeDir](QByteArray& b) { Put32(b, typeDir + 16 + 4, Get32(b, typeDir + 16 + 4) & 0x7FFFFFFF); }, "where a directory"},
        {"name offset past the tree", [typeDir](QByteArray& b) { Put32(b, typeDir + 16, 0x80000000u | 0x7FFFFFF0u); }, "name"},
        {"name length past the tree", [typeDir](QByteArray& b) { const qsizetype n = kTree + (Get32(b, typeDir + 16) & 0x7FFFFFFF); b[n] = char(0xFF); b[n + 1] = char(0x7F); }, "name"},
        {"data entry past the tree", [nameDir](QByteArray& b) { Put32(b, nameDir + 16 + 4, 0x7FFFFFF0); }, "data entry"},
        {"data RVA outside every section", [dataEntry](QByteArray& b) { Put32(b, dataEntry, 0x50000); }, "outside its section"},
        {"data size past the section", [dataEntry](QByteArray& b) { Put32(b, dataEntry + 4, 0xFFFFFFF0u); }, "outside its section"},
        {"data below the section", [dataEntry](QByteArray& b) { Put32(b, dataEntry, 0x800); }, "outside its section"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QByteArray file = good;
        c.damage(file);
        PeResources pe;
        EXPECT_FALSE(pe.Load(file));
        EXPECT_TRUE(pe.Error().contains(QLatin1String(c.error))) << pe.Error().toStdString();
        EXPECT_FALSE(pe.Find(10, u"LCHEADER"));
    }
}

TEST(PeResources, OverlappingDirectoriesCannotMultiplyTheWalk)
{
    // Many type entries, each leading to a different offset inside one long directory whose
    // entries all point back into it: refused, not walked in quadratic time.
    QList<PeResource> many;
    for (int i = 0; i < 300; ++i)
        many.append({uint16_t(100 + i), QString(), 1, 0, QByteArray(1, 'x')});
    QByteArray file = WritePeResources(many);
    for (int i = 0; i < 300; ++i)
        Put32(file, kTree + 16 + 8 * i + 4, 0x80000000u | uint32_t(16 + 8 * i));
    PeResources pe;
    EXPECT_FALSE(pe.Load(file));
}

TEST(PeResources, NamesOutOfOrderAreFoundToo)
{
    // Files from other tools may not sort their names; swapping two entries must not hide them.
    QByteArray file = WritePeResources(Sample());
    const qsizetype typeDir = kTree + (Get32(file, kTree + 16 + 8 + 4) & 0x7FFFFFFF);
    const QByteArray first = file.mid(typeDir + 16, 8);
    file.replace(typeDir + 16, 8, file.mid(typeDir + 24, 8));
    file.replace(typeDir + 24, 8, first);
    PeResources pe;
    ASSERT_TRUE(pe.Load(file));
    EXPECT_EQ(pe.Find(10, u"LCHEADER"), QByteArrayView("header"));
    EXPECT_EQ(pe.Find(10, u"65047"), QByteArrayView("record"));
    EXPECT_EQ(pe.Find(10, u"TWMAIN"), QByteArrayView("neutral"));
    EXPECT_FALSE(pe.Find(10, u"ZZZ"));
    EXPECT_FALSE(pe.Find(10, u"000"));
}
