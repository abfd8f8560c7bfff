// The VT102 emulation without a window: bytes in, screen, caret, line-drawing cells and
// replies out, each stream taken whole and again one byte per chunk; then the pen's colours.
#include "TermTestSupport.h"

#include "EscapeCodesVT102.h"

using namespace zentrop;

namespace {

constexpr TTermEmulation vt = TTermEmulation::teVT102;

// The terminal is 10 columns by 4 rows.
const ScreenCase cases[] = {
    {"wrap_waits_for_next_character", "0123456789", {"0123456789"}, {10, 1}, {}, vt, true},
    {"wrap_on_next_character", "0123456789X", {"0123456789", "X"}, {2, 2}, {}, vt, true},
    {"cr_cancels_pending_wrap", "0123456789\rX", {"X123456789"}, {2, 1}, {}, vt, true},
    {"no_autowrap_overwrites_last_column", "0123456789XY", {"012345678Y"}, {10, 1}, {}, vt, false},
    {"wrap_at_bottom_scrolls", "a\r\nb\r\nc\r\n0123456789X", {"b", "c", "0123456789", "X"}, {2, 4}, {}, vt, true},
    {"region_scrolls_on_lf_at_its_bottom", "1\r\n2\r\n3\r\n4\x1b[2;3r\x1b[3;1Hx\n",
     {"1", "x", "", "4"}, {2, 3}, {}, vt, true},
    {"ri_at_region_top_scrolls_down", "1\r\n2\r\n3\r\n4\x1b[2;3r\x1b[2;1H\x1bM", {"1", "", "2", "4"}, {1, 2}, {}, vt, true},
    {"lf_below_region_stops_at_last_row", "\x1b[1;2r\x1b[4;1Ha\nb", {"", "", "", "ab"}, {3, 4}, {}, vt, true},
    {"index_and_next_line", "ab\x1b" "Dc\x1b" "Ed", {"ab", "  c", "d"}, {2, 3}, {}, vt, true},
    {"insert_lines_inside_region", "1\r\n2\r\n3\r\n4\x1b[2;1H\x1b[L", {"1", "", "2", "3"}, {1, 2}, {}, vt, true},
    {"delete_lines", "1\r\n2\r\n3\r\n4\x1b[2;3H\x1b[2M", {"1", "4"}, {1, 2}, {}, vt, true},
    {"lines_outside_region_untouched", "1\r\n2\r\n3\r\n4\x1b[1;2r\x1b[4;1H\x1b[L", {"1", "2", "3", "4"}, {1, 4}, {}, vt, true},
    {"insert_delete_erase_chars", "abcdefgh\x1b[1;2H\x1b[2@\x1b[2;1Habcdefgh\x1b[1G\x1b[2;2H\x1b[3P\x1b[3;1Habcdef\x1b[3;2H\x1b[2X",
     {"a  bcdefgh", "aefgh", "a  def"}, {2, 3}, {}, vt, true},
    {"erase_to_caret", "abcdef\r\nghijkl\x1b[1;3H\x1b[1K\x1b[2;2H\x1b[1J", {"", "  ijkl"}, {2, 2}, {}, vt, true},
    {"erase_all_keeps_caret", "abc\x1b[2J\x1b[2Kx", {"   x"}, {5, 1}, {}, vt, true},
    {"insert_mode", "abc\x1b[4h\x1b[1;1HXY\x1b[4lZ", {"XYZbc"}, {4, 1}, {}, vt, true},
    {"origin_mode_counts_from_region", "\x1b[2;3r\x1b[?6h\x1b[1;1HX\x1b[9;1HY\x1b[6n", {"", "X", "Y"}, {2, 3},
     "\x1b[2;2R", vt, true},
    {"moves_stop_at_region_margins", "\x1b[2;3r\x1b[3;1H\x1b[5AX\x1b[5BY", {"", "X", " Y"}, {3, 3}, {}, vt, true},
    {"tab_without_stops_goes_to_last_column", "\x1b[3g\tX", {"         X"}, {10, 1}, {}, vt, true},
    {"final_byte_ends_any_sequence", "\x1b[4@Z", {"Z"}, {2, 1}, {}, vt, true},
    {"controls_inside_sequence_are_done", "abc\x1b[1\bDX\x1b[\r2CY", {"aXY"}, {4, 1}, {}, vt, true},
    {"can_aborts_sub_aborts_esc_restarts", "a\x1b[2\x18Jb\x1b[\x1a" "c\x1b[3\x1b[Cd", {"aJbc d"}, {7, 1}, {}, vt, true},
    {"control_strings_are_skipped", "a\x1b]0;title\x07" "b\x1bPq#0\x1b\\c", {"abc"}, {4, 1}, {}, vt, true},
    {"designations_print_nothing", "\x1b(B\x1b)0a\x1b(A#", {"a\xa3"}, {3, 1}, {}, vt, true},
    {"unknown_sequences_print_nothing", "a\x1b[>c\x1b[?5W\x1b[1;2$pb", {"ab"}, {3, 1}, {}, vt, true},
    {"identify_replies", "\x1b[c\x1bZ\x1b[0c", {}, {1, 1}, "\x1b[?6c\x1b[?6c\x1b[?6c", vt, true},
    {"status_and_position_replies", "\x1b[5n\x1b[3;7H\x1b[6n", {}, {7, 3}, "\x1b[0n\x1b[3;7R", vt, true},
    {"alignment_fills_homes_and_frees_region", "\x1b[2;3r\x1b[3;3H\x1b#8X\x1b[4;1H\n",
     {"EEEEEEEEEE", "EEEEEEEEEE", "EEEEEEEEEE"}, {1, 4}, {}, vt, true},
    {"save_restore_with_origin", "\x1b[2;3r\x1b[?6h\x1b[2;5H\x1b" "7\x1b[?6l\x1b[H\x1b" "8X", {"", "", "    X"}, {6, 3}, {}, vt, true},
    {"reset_clears_everything", "ab\x1b[2;3r\x1b[4h\x1b" "cX\x1b[4;1H\nY", {"", "", "", "Y"}, {2, 4}, {}, vt, true},
};

INSTANTIATE_TEST_SUITE_P(VT102, ScreenTable, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<ScreenCase>& i) { return std::string(i.param.name); });

TEST(VT102, LineDrawingSetMarksCells)
{
    TestTerm t(TTermEmulation::teVT102);
    t.Receive("\x1b(0lqk\x1b(Bq\x1b)0\x0ex\x0fx_");
    const auto cell = [&](int x) { return t.Buffer().GetChar(x, 1); };
    for (int x : {1, 2, 3, 5})
        EXPECT_TRUE(cell(x).Graphic) << x;
    for (int x : {4, 6, 7})
        EXPECT_FALSE(cell(x).Graphic) << x;
    EXPECT_EQ(GraphicCharacter(cell(1).Ch), u'\u250C');
    EXPECT_EQ(GraphicCharacter(cell(2).Ch), u'\u2500');
    EXPECT_EQ(GraphicCharacter(cell(5).Ch), u'\u2502');
    EXPECT_EQ(GraphicCharacter('A'), u'A');
}

TEST(VT102, PenColours)
{
    TestTerm t(TTermEmulation::teVT102, 20, 4);
    t.SetFontColor(0xC0C0C0);
    t.SetColor(0x000000);
    t.Receive("\x1b[31ma\x1b[1mb\x1b[0;91mc\x1b[42;104md\x1b[m\x1b[1me\x1b[0;7mf\x1b[0;5mg\x1b[0;31;39;45;49mh"
              "\x1b[4;32m\x1b" "7\x1b[0mi\x1b" "8j\x1b[0;41m\x1b[K");
    const auto cell = [&](int x) { return t.Buffer().GetChar(x, 1); };
    const TColor grey = 0xC0C0C0;
    EXPECT_EQ(cell(1).FrontColor, VT102PaletteColor(1));
    EXPECT_EQ(cell(2).FrontColor, VT102PaletteColor(9)) << "bold is the bright form";
    EXPECT_EQ(cell(3).FrontColor, VT102PaletteColor(9));
    EXPECT_EQ(cell(4).BackColor, VT102PaletteColor(12));
    EXPECT_EQ(cell(5).FrontColor, VT102BoldColor(grey));
    EXPECT_GT(cell(5).FrontColor & 0xFF, grey & 0xFF) << "bold in the default colour is brighter";
    EXPECT_TRUE(cell(5).Bold);
    EXPECT_EQ(cell(6), (TTermChar{'f', 0, grey, false, false, false})) << "inverse swaps";
    EXPECT_TRUE(cell(7).Bold) << "blink is shown as bold";
    EXPECT_EQ(cell(8), (TTermChar{'h', grey, 0, false, false, false})) << "39 and 49 give the defaults";
    EXPECT_EQ(cell(9), (TTermChar{'j', VT102PaletteColor(2), 0, true, false, false})) << "restored with the cursor";
    EXPECT_EQ(cell(11).BackColor, VT102PaletteColor(1)) << "erased cells take the background colour";
}

TEST(VT102, ParserParameters)
{
    EscapeCodesVT102 p;
    const auto feed = [&p](const QByteArray& s) {
        TEscapeResult r = TEscapeResult::erNothing;
        for (const char c : s)
            r = p.ProcessChar(c);
        return r;
    };
    ASSERT_EQ(feed("\x1b[?1;7h"), TEscapeResult::erCode);
    EXPECT_EQ(p.Code, TEscapeCode::ecSetPrivateMode);
    EXPECT_EQ(EscapeCodesVT102::Number(p.Params, 2, 0), 7);
    ASSERT_EQ(feed("\x1b[5;;99999H"), TEscapeResult::erCode);
    EXPECT_EQ(EscapeCodesVT102::Number(p.Params, 2, 1), 1) << "an empty field takes the default";
    EXPECT_EQ(EscapeCodesVT102::Number(p.Params, 3, 1), 9999) << "large values are held";
    ASSERT_EQ(feed("\x1b[" + QByteArray(400, '1') + "m"), TEscapeResult::erCode);
    EXPECT_EQ(p.Code, TEscapeCode::ecUnknown);
    EXPECT_LE(p.Data.size(), TEscapeCodes::MaxSequenceLength);
    EXPECT_EQ(p.EscCodeToStr(TEscapeCode::ecAppCursorUp, nullptr), "\x1bOA");
}

} // namespace
