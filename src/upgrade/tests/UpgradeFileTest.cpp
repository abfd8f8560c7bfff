// The upgrade file reader: CRC, record rules, firmware values that live on between files,
// and damaged files rejected without touching anything.
#include "upgrade/UpgradeFile.h"
#include "testsupport/UpgradeFileBuilder.h"

#include <QFile>
#include <QTemporaryDir>

#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace zentrop;

using upgtest::Builder;

TEST(Crc16, CheckValueAndByteStep)
{
    const char* digits = "123456789";
    EXPECT_EQ(Crc16(reinterpret_cast<const uint8_t*>(digits), 9), 0x29B1);
    EXPECT_EQ(Crc16(nullptr, 0), 0xFFFF);
    // The byte step agrees with the bitwise definition for every byte and a few accumulators.
    for (uint32_t crc : {0x0000u, 0xFFFFu, 0x1234u, 0xA5A5u}) {
        for (int b = 0; b < 256; ++b) {
            uint16_t ref = static_cast<uint16_t>(crc ^ (b << 8));
            for (int i = 0; i < 8; ++i)
                ref = static_cast<uint16_t>((ref & 0x8000) ? (ref << 1) ^ 0x1021 : ref << 1);
            ASSERT_EQ(UpdateCrc(static_cast<uint16_t>(crc), static_cast<uint8_t>(b)), ref);
        }
    }
}

TEST(UpgradeFile, CrcMismatchGivesNoPagesAndKeepsValues)
{
    UpgradeFile f;
    ASSERT_EQ(f.LoadFromBytes(Builder().Name("first").Page(1, "ab").Bytes()), UpgradeFile::Result::Loaded);
    QByteArray bad = Builder().Name("second").Page(2, "cd").Bytes();
    bad[bad.size() - 1] = static_cast<char>(bad[bad.size() - 1] ^ 0x01);
    EXPECT_EQ(f.LoadFromBytes(bad), UpgradeFile::Result::CrcError);
    EXPECT_TRUE(f.EEPromPages().empty());
    EXPECT_EQ(f.Firmware().FFirmwareName, "first");

    EXPECT_EQ(f.LoadFromBytes(QByteArray()), UpgradeFile::Result::CrcError);
    EXPECT_EQ(f.LoadFromBytes(QByteArray("\xFF", 1)), UpgradeFile::Result::CrcError);
    // The CRC stored high byte first fails when its two bytes differ.
    QByteArray swapped = Builder().Page(1, "x").Bytes();
    const char lo = swapped[swapped.size() - 2];
    swapped[swapped.size() - 2] = swapped[swapped.size() - 1];
    swapped[swapped.size() - 1] = lo;
    ASSERT_NE(swapped[swapped.size() - 1], swapped[swapped.size() - 2]);
    EXPECT_EQ(f.LoadFromBytes(swapped), UpgradeFile::Result::CrcError);
}

TEST(UpgradeFile, EmptyRecordListLoads)
{
    UpgradeFile f;
    EXPECT_EQ(f.LoadFromBytes(Builder().Bytes()), UpgradeFile::Result::Loaded);
    EXPECT_TRUE(f.FlashPages().empty());
    EXPECT_TRUE(f.EEPromPages().empty());
}

TEST(UpgradeFile, SectionsRouteThePages)
{
    UpgradeFile f;
    const QByteArray file = Builder()
                                .Page(0x10, "e0")      // before any section: EEProm
                                .Flash().Page(0x100, "f1").Page(0x200, "f2")
                                .EEProm().Page(0x20, "e1")
                                .Flash().Page(0x300, "f3")
                                .Bytes();
    ASSERT_EQ(f.LoadFromBytes(file), UpgradeFile::Result::Loaded);
    ASSERT_EQ(f.FlashPages().size(), 3u);
    EXPECT_EQ(f.FlashPages()[0].Address, 0x100);
    EXPECT_EQ(f.FlashPages()[1].Data, "f2");
    EXPECT_EQ(f.FlashPages()[2].Address, 0x300);
    ASSERT_EQ(f.EEPromPages().size(), 2u);
    EXPECT_EQ(f.EEPromPages()[0].Address, 0x10);
    EXPECT_EQ(f.EEPromPages()[1].Data, "e1");
}

TEST(UpgradeFile, PagesKeepTheirExactBytesAndOrder)
{
    QByteArray big(512, '\0');
    for (int i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 7);
    UpgradeFile f;
    ASSERT_EQ(f.LoadFromBytes(Builder().Flash().Page(0xFFFF, big).Page(5, "").Page(5, "dup").Bytes()),
              UpgradeFile::Result::Loaded);
    ASSERT_EQ(f.FlashPages().size(), 3u);
    EXPECT_EQ(f.FlashPages()[0].Address, 0xFFFF);
    EXPECT_EQ(f.FlashPages()[0].Data, big);
    EXPECT_TRUE(f.FlashPages()[1].Data.isEmpty());
    EXPECT_EQ(f.FlashPages()[2].Data, "dup");
}

TEST(UpgradeFile, FirmwareValuesReplaceAndPersist)
{
    UpgradeFile f;
    ASSERT_EQ(f.LoadFromBytes(Builder().Name("old").Name("app").Version("1.2").User(7, 1234).Bytes()),
              UpgradeFile::Result::Loaded);
    EXPECT_EQ(f.Firmware().FFirmwareName, "app");
    EXPECT_EQ(f.Firmware().FFirmwareVersion, "1.2");
    EXPECT_EQ(f.Firmware().FUserFlag, 7);
    EXPECT_EQ(f.Firmware().FUserNumber, 1234);
    // A second file without a name keeps the first one's.
    ASSERT_EQ(f.LoadFromBytes(Builder().Version("2.0").User(0xFF, -1).Bytes()), UpgradeFile::Result::Loaded);
    EXPECT_EQ(f.Firmware().FFirmwareName, "app");
    EXPECT_EQ(f.Firmware().FFirmwareVersion, "2.0");
    EXPECT_EQ(f.Firmware().FUserFlag, 255);
    EXPECT_EQ(f.Firmware().FUserNumber, -1);
}

TEST(UpgradeFile, UserRecordReadsFiveBytesWhateverItsLength)
{
    for (int length : {0, 1, 6, 20, 0xFFFF}) {
        UpgradeFile f;
        const QByteArray file = Builder().User(3, 0x01020304, length).Flash().Page(9, "z").Bytes();
        ASSERT_EQ(f.LoadFromBytes(file), UpgradeFile::Result::Loaded) << length;
        EXPECT_EQ(f.Firmware().FUserNumber, 0x01020304);
        ASSERT_EQ(f.FlashPages().size(), 1u);
        EXPECT_EQ(f.FlashPages()[0].Address, 9);
    }
}

TEST(UpgradeFile, UnknownTypesWithoutBodyAndTrailingBytesAreIgnored)
{
    UpgradeFile f;
    const QByteArray file = Builder().Raw(0, {}).Raw(200, {}).Flash().Page(1, "a").Trailer("junk after the records").Bytes();
    ASSERT_EQ(f.LoadFromBytes(file), UpgradeFile::Result::Loaded);
    EXPECT_EQ(f.FlashPages().size(), 1u);
}

TEST(UpgradeFile, DamagedRecordsAreRejectedAndNamed)
{
    struct Case {
        const char* what;
        QByteArray file;
        const char* message;
    };
    const QByteArray longText(513, 'n');
    const QByteArray longPage(513, 'p');
    const Case cases[] = {
        {"text over 512", Builder().Name(longText).Bytes(), "record 1 of 1 (type 1, at offset 2) has a text of 513 bytes"},
        {"page over 512", Builder().Page(1, "a").Page(2, longPage).Bytes(), "record 2 of 2 (type 6"},
        {"page length 2", Builder().Raw(6, QByteArray("\x01\x00", 2), 2).Bytes(), "too small for a page"},
        {"name length 0", Builder().Raw(1, {}, 0).Bytes(), "has a length of 0"},
        {"unknown with body", Builder().Raw(9, "abc").Bytes(), "its type carries none"},
        {"ends early", Builder().Page(1, "abc").Count(2).Trailer("xyz").Bytes(), "record 2 of 2 (type 122"},
        {"header cut off", Builder().Page(1, "abc").Count(2).Trailer("xy").Bytes(), "record 2 of 2 (at offset 10) is cut off"},
        {"count too big", Builder().Count(60000).Bytes(), "counts 60000 record(s), more than its 0 byte(s)"},
        {"body past the end", Builder().Raw(1, QByteArray("ab"), 40).Bytes(), "needs 39 byte(s) but only 2 remain"},
        {"section with a body", Builder().Raw(4, QByteArray("x")).Bytes(), "type 4, at offset 2) has a body of 1 byte(s)"},
        {"two-byte file", Builder::WithCrc(QByteArray()), "too short"},
    };
    for (const Case& c : cases) {
        UpgradeFile f;
        ASSERT_EQ(f.LoadFromBytes(Builder().Name("kept").Page(1, "p").Bytes()), UpgradeFile::Result::Loaded);
        try {
            f.LoadFromBytes(c.file);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const EUpgradeFileError& e) {
            EXPECT_TRUE(e.Message().contains(c.message)) << c.what << ": " << e.Message().toStdString();
        }
        EXPECT_TRUE(f.EEPromPages().empty()) << c.what;
        EXPECT_EQ(f.Firmware().FFirmwareName, "kept") << c.what;
    }
}

TEST(UpgradeFile, LoadFromDiskMatchesMemoryAndReportsOpenErrors)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("fw.upg");
    const QByteArray bytes = Builder().Name("disk").Flash().Page(0x40, QByteArray(300, 'x')).Trailer(QByteArray(100000, 't')).Bytes();
    {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(bytes);
    }
    UpgradeFile f;
    ASSERT_EQ(f.Load(path), UpgradeFile::Result::Loaded);
    EXPECT_EQ(f.FlashPages().at(0).Data.size(), 300);

    try {
        f.Load(dir.filePath("missing.upg"));
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file \"" + dir.filePath("missing.upg") + "\". No such file or directory");
    }
    EXPECT_TRUE(f.FlashPages().empty());
    EXPECT_THROW(f.Load(dir.path()), EFOpenError);
    EXPECT_THROW(f.Load(QString()), EFOpenError);

    // A FIFO would block a plain open until a writer came; it is refused at once instead.
    const QString fifo = dir.filePath("pipe.upg");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    try {
        f.Load(fifo);
        FAIL();
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file \"" + fifo + "\". Not a regular file");
    }
}

TEST(UpgradeFile, SizeNoUpgradeFileCanHaveIsRefusedUnread)
{
    // 65535 records of 3 + 2 + 512 bytes, the record count and the CRC.
    constexpr qint64 kLargest = 2 + 65535LL * 517 + 2;
    QTemporaryDir dir;
    const QString path = dir.filePath("big.upg");
    const QByteArray small = Builder().Flash().Page(7, "abc").Bytes();
    const QByteArray largest =
        Builder().Flash().Page(7, "abc").Trailer(QByteArray(kLargest - small.size(), 'q')).Bytes();
    ASSERT_EQ(largest.size(), kLargest);
    {
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(largest);
    }
    UpgradeFile f;
    ASSERT_EQ(f.Load(path), UpgradeFile::Result::Loaded);
    EXPECT_EQ(f.FlashPages().at(0).Data, "abc");

    for (const qint64 size : {kLargest + 1, 4LL << 30}) {
        ASSERT_TRUE(QFile::resize(path, size)); // sparse beyond the data: nothing to read
        try {
            f.Load(path);
            ADD_FAILURE() << size;
        } catch (const EUpgradeFileError& e) {
            EXPECT_EQ(e.Message(), QStringLiteral("The file is too large for an upgrade file: %1 bytes, where the "
                                                  "largest upgrade file (65535 records of 517 bytes each, with the "
                                                  "record count and the CRC) has 33881599 bytes")
                                       .arg(size));
        }
    }
}

// A device typed in as the file name is refused without being opened: opening a serial
// adapter can reset its board.
TEST(UpgradeFile, DeviceIsRefusedUnopened)
{
    QTemporaryDir dir;
    const QString fifo = dir.filePath("pipe.upg");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, QFile::encodeName(fifo).constData(), IN_OPEN), 0);
    UpgradeFile f;
    EXPECT_THROW(f.Load(fifo), EFOpenError);
    inotify_event events[4];
    EXPECT_LT(::read(watch, events, sizeof events), 0) << "the FIFO was opened";
    ::close(watch);
}
