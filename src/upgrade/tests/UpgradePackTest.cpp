// Intel HEX reading, page cutting and the upgrade file writer: records in, image or error
// line out; image in, pages out; pages written and read back by the upgrade file reader.
#include "upgrade/UpgradePack.h"

#include <gtest/gtest.h>

using namespace zentrop;

namespace {

// One record with its checksum, as a toolchain writes it.
QByteArray Rec(int type, int address, const QByteArray& data)
{
    QByteArray r;
    r += static_cast<char>(data.size());
    r += static_cast<char>(address >> 8);
    r += static_cast<char>(address & 0xFF);
    r += static_cast<char>(type);
    r += data;
    uint8_t sum = 0;
    for (const char c : r)
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    r += static_cast<char>(-sum);
    return ":" + r.toHex().toUpper() + "\r\n";
}

const QByteArray kEof = Rec(1, 0, {});

QByteArray U16(int v)
{
    QByteArray b;
    b += static_cast<char>(v >> 8);
    b += static_cast<char>(v & 0xFF);
    return b;
}

std::map<uint64_t, QByteArray> Bytes(const HexImage& image)
{
    std::map<uint64_t, QByteArray> out;
    for (const auto& [address, chunk] : image.Chunks)
        out[address] = chunk.Data;
    return out;
}

} // namespace

TEST(IntelHex, AddressRecordsPlaceTheData)
{
    const HexImage image = ReadIntelHex(Rec(0, 0x0010, "ab") + "\n" +                  // blank line skipped
                                         Rec(2, 0, U16(0x1000)) + Rec(0, 0x0004, "cd") + // segment: 0x10000 + 4
                                         Rec(4, 0, U16(0x0800)) + Rec(0, 0xFFFE, "ef") + // linear: 0x0800FFFE
                                         Rec(5, 0, QByteArray("\x08\x00\x01\x23", 4)) +
                                         Rec(3, 0, QByteArray("\x12\x34\x00\x10", 4)) + kEof.toLower());
    const std::map<uint64_t, QByteArray> want{{0x10, "ab"}, {0x10004, "cd"}, {0x0800FFFE, "ef"}};
    EXPECT_EQ(Bytes(image), want);
    ASSERT_EQ(image.Notes.size(), 2u);
    EXPECT_TRUE(image.Notes.at(7).startsWith("start address 0x8000123 ignored")) << image.Notes.at(7).toStdString();
    EXPECT_TRUE(image.Notes.at(8).contains("1234:0010")) << image.Notes.at(8).toStdString();
}

TEST(IntelHex, DamagedFilesNameTheLineAndTheReason)
{
    QByteArray badSum = Rec(0, 0, "ab");
    badSum[badSum.size() - 3] = badSum[badSum.size() - 3] == '0' ? '1' : '0';
    const struct {
        QByteArray text;
        int line;
        const char* reason;
    } cases[] = {
        {Rec(0, 0, "ab") + badSum + kEof, 2, "has the checksum"},
        {":0300000061626"+ QByteArray("\n") + kEof, 1, "odd number of hex digits"},
        {":02000000616X\n" + kEof, 1, "\"X\" at column 13"},
        {"02000000616263\n" + kEof, 1, "does not start with \":\""},
        {":0300000061629C\n" + kEof, 1, "says it holds 3 data bytes but holds 2"},
        {":00\n" + kEof, 1, "too short"},
        {Rec(0, 0x10, "abcd") + Rec(0, 0x12, "xy") + kEof, 2, "writes data at 0x12 that line 1 already wrote"},
        {Rec(0, 0x12, "xy") + Rec(0, 0x10, "abcd") + kEof, 2, "writes data at 0x12 that line 1 already wrote"},
        {kEof + Rec(0, 0, "ab"), 2, "follows the end-of-file record of line 1"},
        {Rec(0, 0, "ab"), 1, "without an end-of-file record"},
        {Rec(6, 0, "ab") + kEof, 1, "unknown record type 6"},
        {Rec(4, 0, "\x01") + kEof, 1, "type 4 with 1 data bytes; it takes 2"},
        {Rec(0, 0xFFFF, "ab") + kEof, 1, "runs past the end of its 64 KiB segment"},
    };
    for (const auto& c : cases) {
        try {
            ReadIntelHex(c.text);
            ADD_FAILURE() << "accepted: " << c.text.toStdString();
        } catch (const EHexFileError& e) {
            EXPECT_EQ(e.Line(), c.line) << c.text.toStdString();
            EXPECT_TRUE(e.Reason().contains(QString::fromUtf8(c.reason))) << e.Message().toStdString();
        }
    }
}

TEST(PackPages, CutFilledAndBlankPagesLeftOut)
{
    HexImage image;
    image.Chunks[0x8002] = {QByteArray("ab"), 1};
    image.Chunks[0x8006] = {QByteArray("cdef"), 2};     // crosses into the second page
    image.Chunks[0x8010] = {QByteArray(4, '\xFF'), 3};  // an erased page
    PackLayout layout;
    layout.PageSize = 8;
    layout.Base = 0x8000;
    const PageList pages = CutPages(image, layout);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].Address, 0);
    EXPECT_EQ(pages[0].Data, QByteArray("\xFF\xFF" "ab\xFF\xFF" "cd"));
    EXPECT_EQ(pages[1].Address, 8);
    EXPECT_EQ(pages[1].Data, QByteArray("ef") + QByteArray(6, '\xFF'));

    layout.KeepBlank = true;
    const PageList kept = CutPages(image, layout);
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_EQ(kept[2].Address, 16);
}

TEST(PackPages, DataOutOfReachNamesItsLine)
{
    PackLayout layout;
    layout.PageSize = 256;
    layout.Base = 0x100;
    const struct {
        uint64_t address;
        const char* reason;
    } cases[] = {
        {0x00FF, "below the base address 0x100"},
        {0x10100, "holds data at 0x10100, page address 0x10000"},
    };
    for (const auto& c : cases) {
        HexImage image;
        image.Chunks[0x100] = {QByteArray("ok"), 3};
        image.Chunks[c.address] = {QByteArray("x"), 7};
        try {
            CutPages(image, layout);
            ADD_FAILURE() << c.reason;
        } catch (const EHexFileError& e) {
            EXPECT_EQ(e.Line(), 7);
            EXPECT_TRUE(e.Reason().contains(c.reason)) << e.Reason().toStdString();
        }
    }
    // The last page that an upgrade file can address is still taken.
    HexImage top;
    top.Chunks[0x100 + 0xFFFF] = {QByteArray("z"), 1};
    EXPECT_EQ(CutPages(top, layout).back().Address, 0xFF00);
}

TEST(PackWriter, WhatItWritesReadsBackUnchanged)
{
    UpgradeContent content;
    content.Name = "fw \xE9";
    content.Version = "1.2";
    content.User = -5;
    content.Flash = {{0, QByteArray(512, 'a')}, {0x200, QByteArray(512, 'b')}};
    content.EEProm = PageList{{0x10, "cd"}};
    UpgradeFile file;
    ASSERT_EQ(file.LoadFromBytes(WriteUpgradeFile(content)), UpgradeFile::Result::Loaded);
    EXPECT_EQ(file.Firmware().FFirmwareName, content.Name);
    EXPECT_EQ(file.Firmware().FFirmwareVersion, "1.2");
    EXPECT_EQ(file.Firmware().FUserNumber, -5);
    ASSERT_EQ(file.FlashPages().size(), 2u);
    EXPECT_EQ(file.FlashPages()[1].Address, 0x200);
    EXPECT_EQ(file.FlashPages()[1].Data, content.Flash[1].Data);
    ASSERT_EQ(file.EEPromPages().size(), 1u);
    EXPECT_EQ(file.EEPromPages()[0].Data, "cd");

    content.Name = QByteArray(513, 'n');
    EXPECT_THROW(WriteUpgradeFile(content), EUpgradeFileError);
}
