// The formatting routine's rules that the program's texts rely on.
#include "base/Exception.h"
#include "base/Format.h"

#include <gtest/gtest.h>

using namespace zentrop;

TEST(Format, HexUsesBlankPaddingAndUpperCase)
{
    EXPECT_EQ(Format("Write Flash Page at 0x%04x", {0x1A0}), "Write Flash Page at 0x 1A0");
    EXPECT_EQ(Format("0x%04x", {0}), "0x   0");
    EXPECT_EQ(Format("0x%04x", {0x12AB}), "0x12AB");
    EXPECT_EQ(Format("%x", {0x12345}), "12345");
    EXPECT_EQ(Format("%X", {-1}), "FFFFFFFF");
    EXPECT_EQ(Format("%.4x", {0xA}), "000A");
}

TEST(Format, DecimalTextAndFlags)
{
    EXPECT_EQ(Format("Ready for Upgrade (Flash: %d pages, EEProm: %d pages", {3, 0}),
              "Ready for Upgrade (Flash: 3 pages, EEProm: 0 pages");
    EXPECT_EQ(Format("%d", {-17}), "-17");
    EXPECT_EQ(Format("%5d|%-5d|", {42, 42}), "   42|42   |");
    EXPECT_EQ(Format("%u", {-1}), "4294967295");
    EXPECT_EQ(Format("Hiba a %s port", {QString("COM1")}), "Hiba a COM1 port");
    EXPECT_EQ(Format("%-6s|%.2s", {"ab", "xyz"}), "ab    |xy");
    EXPECT_EQ(Format("100%%", {}), "100%");
}

TEST(Format, MismatchedArgumentsRaise)
{
    EXPECT_THROW(Format("%d", {"text"}), EConvertError);
    EXPECT_THROW(Format("%s", {1}), EConvertError);
    EXPECT_THROW(Format("%d %d", {1}), EConvertError);
    EXPECT_THROW(Format("%q", {1}), EConvertError);
    EXPECT_THROW(Format("trailing %", {1}), EConvertError);
    try {
        Format("%d", {"x"});
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Format '%d' invalid or incompatible with argument");
    }
}
