// File names that are not valid UTF-8 come back as the same bytes; valid ones as their text.
#include "base/FileName.h"

#include <gtest/gtest.h>

using namespace zentrop;

TEST(FileName, BytesSurviveTheRoundTrip)
{
    const QByteArray names[] = {
        "plain.upg",
        "Zentr\xC3\xB6p/\xF0\x9F\x94\xA5.upg", // valid two- and four-byte sequences
        "x\xE9.upg",                           // a Latin-1 name
        "\xC0\xAF",                            // an overlong slash
        "\xED\xA0\x80",                        // an encoded surrogate
        "\xF4\x90\x80\x80",                    // above U+10FFFF
        "cut\xE2\x82",                         // a sequence cut short at the end
        "\xFF\xFE",
    };
    for (const QByteArray& bytes : names) {
        const QString name = DecodeFileName(bytes);
        EXPECT_EQ(EncodeFileName(name), bytes) << bytes.toHex().toStdString();
        EXPECT_EQ(name == QString::fromUtf8(bytes), bytes.isValidUtf8()) << bytes.toHex().toStdString();
    }
    EXPECT_EQ(DecodeFileName("x\xE9.upg"), QStringLiteral("x") + QChar(0xDCE9) + QStringLiteral(".upg"));
}
