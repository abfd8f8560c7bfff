// The terminal's behaviour without a window: bytes in, screen, caret and replies out, each
// stream taken whole and again one byte per chunk; then the received-data path, keys,
// events and the damage record.
#include "TermTestSupport.h"

#include "base/Debug.h"

#include <gtest/gtest.h>

#include <numeric>

using namespace zentrop;

namespace {

using Rows = std::vector<std::string>;

TEST_P(ScreenTable, Whole) { Check(GetParam(), false); }
TEST_P(ScreenTable, SplitIntoBytes) { Check(GetParam(), true); }

// The terminal is 10 columns by 4 rows.
const ScreenCase screenCases[] = {
    {"text_and_newline", "AB\r\nC", {"AB", "C"}, {2, 2}},
    {"no_wrap_overwrites_last_column", "0123456789X", {"012345678X"}, {10, 1}},
    {"wrap_continues_on_next_row", "0123456789X", {"0123456789", "X"}, {2, 2}, {}, TTermEmulation::teVT100orANSI, true},
    {"wrap_at_once_after_last_column", "0123456789", {"0123456789"}, {1, 2}, {}, TTermEmulation::teVT100orANSI, true},
    {"wrap_on_last_row_scrolls", "a\r\nb\r\nc\r\n0123456789X", {"b", "c", "0123456789", "X"}, {2, 4}, {},
     TTermEmulation::teVT100orANSI, true},
    {"lf_on_last_row_scrolls_keeps_column", "a\nb\nc\ndd\n", {" b", "  c", "   dd"}, {6, 4}},
    {"cr_lf_at_bottom", "a\r\nb\r\nc\r\nd\r\n", {"b", "c", "d"}, {1, 4}},
    {"form_feed_is_line_feed", "a\fb", {"a", " b"}, {3, 2}},
    {"tab_stops", "\tA\tB", {"        AB"}, {10, 1}},
    {"tab_after_last_stop_stays", "\t\t\tX", {"        X"}, {10, 1}},
    {"no_tab_after_clear_all", "\x1b[3g\tX", {"X"}, {2, 1}},
    {"set_and_clear_tab", "\x1b[3g\x1b[4C\x1bH\r\tX\r\x1b[4C\x1b[g\r\tY", {"Y   X"}, {2, 1}},
    {"backspace_does_not_erase", "AB\b\b\bX", {"XB"}, {2, 1}},
    {"bell_and_controls_print_nothing", "A\a\x01\x0b\x7f" "B", {"A\x7f" "B"}, {4, 1}},
    {"cursor_move_row_then_column", "\x1b[3;5HX", {"", "", "    X"}, {6, 3}},
    {"cursor_move_clamped", "\x1b[99;99HX\x1b[0;0HY\x1b[;HZ", {"Z", "", "", "         X"}, {2, 1}},
    {"cursor_up_zero_and_missing", "\x1b[4;1H\x1b[0AX\x1b[AY\x1b[2AZ", {"  Z", "", " Y", "X"}, {4, 1}},
    {"cursor_down_left_right", "\x1b[2BX\x1b[3CY\x1b[2DZ", {"", "", "X  ZY"}, {5, 3}},
    {"erase_screen_homes", "AB\r\nCD\x1b[2JE", {"E"}, {2, 1}},
    {"erase_from_caret", "ABCD\r\nEFGH\r\nIJ\x1b[2;3H\x1b[J", {"ABCD", "EF"}, {3, 2}},
    {"erase_line_from_caret", "ABCD\x1b[2D\x1b[K", {"AB"}, {3, 1}},
    {"erase_whole_line", "ABCD\r\nEF\x1b[A\x1b[2K", {"", "EF"}, {1, 1}},
    {"save_restore_caret", "\x1b[2;3H\x1b" "7\x1b[H\x1b" "8X\x1b[s\x1b[4;4H\x1b[uY", {"", "  XY"}, {5, 2}},
    {"restore_before_save_goes_home", "\x1b[3;3H\x1b[uX", {"X"}, {2, 1}},
    {"test_fills_screen", "\x1b#8", {"EEEEEEEEEE", "EEEEEEEEEE", "EEEEEEEEEE", "EEEEEEEEEE"}, {1, 1}},
    {"reset_keeps_screen_and_caret", "AB\x1b" "cC", {"ABC"}, {4, 1}},
    {"unknown_sequence_changes_nothing", "A\x1b[1J\x1bxB", {"AB"}, {3, 1}},
    {"unfinished_sequence_waits", "A\x1b[2", {"A"}, {2, 1}},
    {"reply_identify", "\x1b[c", {}, {1, 1}, "\x1b[?1;2c"},
    {"reply_status", "\x1b[5n", {}, {1, 1}, "\x1b[0n"},
    {"reply_cursor_position", "\x1b[3;7H\x1b[6n", {}, {7, 3}, "\x1b[3;7R"},
    {"reports_are_not_acted_on", "\x1b[0n\x1b[2;2R\x1b[?1;2c", {}, {1, 1}},
    {"vt52_cursor_address", "\x1bY\"#X\x1bY'/Y", {"", "", "   X", "         Y"}, {10, 4}, {}, TTermEmulation::teVT52},
    {"vt52_moves_and_erase", "ABC\x1b" "D\x1b" "D\x1bKx\x1b" "Bz\x1bHq", {"qx", "  z"}, {2, 1}, {}, TTermEmulation::teVT52},
    {"vt52_reverse_lf_at_top_scrolls_down", "A\x1bIB", {" B", "A"}, {3, 1}, {}, TTermEmulation::teVT52},
    {"vt52_identify", "\x1bZ", {}, {1, 1}, "\x1b/Z", TTermEmulation::teVT52},
    {"vt52_erase_screen_from", "AB\r\nCD\x1b" "A\x1bJ", {"AB"}, {3, 1}, {}, TTermEmulation::teVT52},
    {"no_emulation_shows_sequence_text", "\x1b[2JA\a", {"[2JA"}, {5, 1}, {}, TTermEmulation::teNone},
};

INSTANTIATE_TEST_SUITE_P(Terminal, ScreenTable, testing::ValuesIn(screenCases),
                         [](const testing::TestParamInfo<ScreenCase>& i) { return std::string(i.param.name); });

// Runs of printable bytes are written a row's stretch at a time while nobody watches single
// bytes; with an OnChar handler every byte goes its own way. Both must leave the same cells,
// caret, replies and damage.
struct RunCase {
    const char* name;
    QByteArray in;
    bool wrap = false;
    int chunk = 0;    // bytes per received chunk on the fast side; 0: all at once
    bool force7 = false;
    TTermEmulation emulation = TTermEmulation::teVT100orANSI;
};

TEST(Terminal, RunsOfTextLeaveWhatSingleBytesLeave)
{
    const RunCase cases[] = {
        {"ends_on_last_column", "0123456789"},
        {"ends_on_last_column_wrapping", "0123456789", true},
        {"past_last_column_keeps_last_byte", "0123456789ABCDEF"},
        {"wraps_over_rows_and_scrolls", QByteArray(47, 'w') + "0123456789xyz", true},
        {"starts_in_last_column", "\x1b[1;10HXYZ\x1b[2;10HQ"},
        {"starts_in_last_column_wrapping", "\x1b[4;10HXYZ", true},
        {"tabs_and_controls", "ab\tcd\b\be\a\x7f\x01" "f\r\ng\x0bh\fi\t\t\tj", true},
        {"attributes_inside", "a\x1b[1mbc\x1b[7mde\x1b[4;21mfg\x1b[0mh\x1b[1;7mij"},
        {"numbers_of_every_shape",
         "\x1b[2;3Ha\x1b[;5Hb\x1b[3;Hc\x1b[04;007Hd\x1b[4294967303;2He\x1b[5;6;Hf\x1b[;Hg\x1b[0Hh"
         "\x1b[1;;7mi\x1b[4;mj\x1b[;7mk\x1b[0;1;4;7;21;24;27ml\x1b[1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;7mm"
         "\x1b[1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;7mn\x1b[0000000001mo\x1b[99;99Hp\x1b[2;3fq"},
        {"eight_bit_bytes", "\xc1\xe2\xff\x80 \x9b" "2J"},
        {"eight_bit_bytes_force7", "\xc1\xe2\xff\x80 \x9b" "2J\x9b[3;4H\xf8", false, 0, true},
        {"sequence_split_across_chunks", "abc\x1b[2;5Hxyz\x1b[1mqrstuvwxyz\x1b[6n", true, 3},
        {"vt52", "ab\x1bY%(cdefghijk\x1bY##\x1bKz", false, 4, false, TTermEmulation::teVT52},
        {"no_emulation", "ab\x1b[2Jcdefghijkl\r\nmn", true, 5, false, TTermEmulation::teNone},
        {"vt102_deferred_wrap_and_region", "0123456789\x1b[2;3r\x1b[3;8Habcdefgh\x1b[4h\x1b[1;1HXY", true, 3, false,
         TTermEmulation::teVT102},
        {"vt102_line_drawing_and_pen", "\x1b(0lqqk\x1b[31;1mxx\x1b(B\x0e\x1b)0q\x0fq\x1b[7mabcdefghijk", false, 4, false,
         TTermEmulation::teVT102},
    };
    for (const RunCase& c : cases) {
        TestTerm fast(c.emulation), bytewise(c.emulation);
        bytewise.OnChar = [](QObject*, char) {};
        for (TestTerm* t : {&fast, &bytewise}) {
            t->Port = t->Open = true;
            t->SetWrapLines(c.wrap);
            t->SetForce7Bit(c.force7);
            t->TakeDamage();
        }
        const qsizetype step = c.chunk > 0 ? c.chunk : c.in.size();
        for (qsizetype at = 0; at < c.in.size(); at += step)
            fast.Receive(c.in.mid(at, step));
        for (const char b : c.in)
            bytewise.Receive(QByteArray(1, b));

        for (int y = 1; y <= fast.Rows(); ++y)
            for (int x = 1; x <= fast.Columns(); ++x)
                EXPECT_EQ(fast.Buffer().GetChar(x, y), bytewise.Buffer().GetChar(x, y)) << c.name << " at " << x << "," << y;
        EXPECT_EQ(fast.CaretPos(), bytewise.CaretPos()) << c.name;
        EXPECT_EQ(fast.Sent, bytewise.Sent) << c.name;
        if (fast.EscapeCodes()) {
            EXPECT_EQ(fast.EscapeCodes()->Character, bytewise.EscapeCodes()->Character) << c.name;
        }
        const TermDamage a = fast.TakeDamage(), b = bytewise.TakeDamage();
        EXPECT_EQ(a.ScrolledRows, b.ScrolledRows) << c.name;
        EXPECT_EQ(a.Cells, b.Cells) << c.name;
    }
}

// A stream cut into two chunks anywhere leaves the cells, caret, attributes, replies and
// unhandled codes that it leaves in one piece.
TEST(Terminal, SequencesCutAnywhereLeaveWhatWholeLeaves)
{
    struct Cut {
        TTermEmulation emulation;
        QByteArray in;
    };
    const Cut cuts[] = {
        {TTermEmulation::teVT100orANSI,
         "ab\x1b[2;5Hc\x1b[1;7mde\x1b[m\x1b[K\r\n\x1b[?7h0123456789wrap\x1b[6n\x1b[1J\x1b[5q\x1b[c"
         "\x1b[3;3H\x1b[1\r\n;2H\x1b#8\x1bOA\x1b[4m\x1b" "7\x1b[H\x1b" "8x\x1b[" + QByteArray(300, '9') + "Hy\x1b[5n"
         "\x1b[;5Hz\x1b[04;007H\x1b[1;;7m\x1b[3;Hw"},
        {TTermEmulation::teVT52, "ab\x1bY%(cd\x1b" "A\x1bKz\x1bZ\x1b/Xq\x1bJ"},
    };
    for (const Cut& c : cuts) {
        const auto run = [&](qsizetype at, std::vector<std::pair<TEscapeCode, QByteArray>>& unhandled) {
            auto t = std::make_unique<TestTerm>(c.emulation);
            t->Port = t->Open = true;
            t->OnUnhandledCode = [&](QObject*, TEscapeCode code, const QByteArray& d) { unhandled.emplace_back(code, d); };
            t->Receive(c.in.left(at));
            t->Receive(c.in.mid(at));
            return t;
        };
        std::vector<std::pair<TEscapeCode, QByteArray>> want;
        const auto whole = run(c.in.size(), want);
        for (qsizetype at = 0; at < c.in.size(); ++at) {
            std::vector<std::pair<TEscapeCode, QByteArray>> got;
            const auto cut = run(at, got);
            EXPECT_EQ(cut->Screen(), whole->Screen()) << "cut at " << at;
            EXPECT_EQ(cut->CaretPos(), whole->CaretPos()) << "cut at " << at;
            EXPECT_EQ(cut->Sent, whole->Sent) << "cut at " << at;
            EXPECT_EQ(got, want) << "cut at " << at;
            EXPECT_EQ(cut->Buffer().GetChar(1, 1), whole->Buffer().GetChar(1, 1)) << "cut at " << at;
            EXPECT_EQ(cut->EscapeCodes()->Data, whole->EscapeCodes()->Data) << "cut at " << at;
        }
    }
}

// A parser of the application's own, derived from the VT100 one, gets every byte of a
// sequence through its ProcessChar, and the plain bytes around sequences not.
TEST(Terminal, AnOwnParserSeesTheBytesOfSequences)
{
    struct Recording : TEscapeCodesVT100 {
        QByteArray* Fed;
        explicit Recording(QByteArray* f) : Fed(f) {}
        TEscapeResult ProcessChar(char Ch) override
        {
            Fed->append(Ch);
            return TEscapeCodesVT100::ProcessChar(Ch);
        }
    };
    QByteArray fed;
    TestTerm t(TTermEmulation::teVT52);
    t.OnGetEscapeCodes = [&](QObject*, TEscapeCodes*& codes) { codes = new Recording(&fed); };
    t.SetEmulation(TTermEmulation::teNone);
    t.Receive("ab\x1b[2;3Hc\r\x1b[1");
    t.Receive("mde\x1b[K");
    EXPECT_EQ(fed, "\x1b[2;3H\x1b[1m\x1b[K");
    EXPECT_EQ(t.Screen(), (Rows{"ab", "de"}));
}

// A class derived elsewhere that overrides DoChar sees every byte, those of runs of text too.
TEST(Terminal, AnOverriddenDoCharSeesEveryByte)
{
    struct Watching : ComTermCore {
        QByteArray Seen;
        void DoChar(char Ch) override
        {
            Seen += Ch;
            ComTermCore::DoChar(Ch);
        }
    } t;
    const QByteArray in = "hello, world\r\nand more";
    t.HandleRxData(nullptr, in.constData(), int(in.size()));
    EXPECT_EQ(t.Seen, in);
}

TEST(Terminal, AttributesGiveCellColours)
{
    TestTerm t;
    t.SetFontColor(0x00FF00);
    t.SetColor(0x000080);
    t.ResetAttributes();
    t.Receive("a\x1b[1;7mb\x1b[0mc\x1b[7md\x1b[4;27me\x1b[24;1;21mf\x1b[?mg\x1b[m\x1b[5;31mh");
    const auto cell = [&](int x) { return t.Buffer().GetChar(x, 1); };
    const TColor alt = t.AltColor();
    EXPECT_EQ(cell(1), (TTermChar{'a', 0x00FF00, 0x000080, false}));
    EXPECT_EQ(cell(2), (TTermChar{'b', alt, 0x00FF00, false})) << "bold and inverse: alternative colour on text colour";
    EXPECT_EQ(cell(3), (TTermChar{'c', 0x00FF00, 0x000080, false}));
    EXPECT_EQ(cell(4), (TTermChar{'d', 0x000080, 0x00FF00, false}));
    EXPECT_EQ(cell(5), (TTermChar{'e', 0x00FF00, 0x000080, true}));
    EXPECT_EQ(cell(6), (TTermChar{'f', 0x00FF00, 0x000080, false}));
    EXPECT_EQ(cell(7), (TTermChar{'g', alt, 0x000080, false})) << "a parameter that is no number is bold";
    EXPECT_EQ(cell(8), (TTermChar{'h', 0x00FF00, 0x000080, false})) << "colours are ignored";
}

TEST(Terminal, RestoredAttributesBeforeAnySaveAreBlackOnBlack)
{
    TestTerm t;
    t.Receive("\x1b" "8X");
    EXPECT_EQ(t.Buffer().GetChar(1, 1), (TTermChar{'X', 0, 0, false}));
}

TEST(Terminal, WidthModeRecreatesBuffer)
{
    TestTerm t(TTermEmulation::teVT100orANSI, 80, 24);
    t.Receive("\x1b[3g\x1b[5;70HAB");
    t.Receive("\x1b[?3h");
    EXPECT_EQ(t.Columns(), 132);
    EXPECT_TRUE(t.Screen().empty());
    EXPECT_EQ(t.Buffer().NextTab(2), 9) << "tab stops reset";
    t.Receive("\x1b[5;130HX");
    t.Receive("\x1b[?3h");
    EXPECT_EQ(t.Screen().size(), 5u) << "setting the width it has changes nothing";
    t.Receive("\x1b[?3l");
    EXPECT_EQ(t.Columns(), 80);
    EXPECT_EQ(t.CaretPos(), QPoint(80, 5)) << "caret brought inside the narrower buffer";
    t.Receive("Y");
    EXPECT_EQ(t.Buffer().GetChar(80, 5).Ch, 'Y');
    t.SetColumns(80);
    EXPECT_EQ(t.Screen().size(), 5u) << "the same width keeps the grid";
    t.SetColumns(1);
    t.Receive("Z");
    t.SetColumns(0);
    EXPECT_EQ(t.Columns(), 2);
    EXPECT_TRUE(t.Screen().empty()) << "a width that clamps to the current one is still new";
}

TEST(Terminal, ModesSetKeysAndWrap)
{
    TestTerm t;
    t.Receive("\x1b[?1h\x1b[?7h\x1b[?9h\x1b[h");
    EXPECT_TRUE(t.AppCursorKeys());
    EXPECT_TRUE(t.WrapLines());
    t.Receive("\x1b[?1l\x1b[?7l");
    EXPECT_FALSE(t.AppCursorKeys());
    EXPECT_FALSE(t.WrapLines());
}

TEST(Terminal, UnhandledCodesReachTheEvent)
{
    TestTerm t;
    std::vector<std::pair<TEscapeCode, QByteArray>> seen;
    t.OnUnhandledCode = [&](QObject*, TEscapeCode c, const QByteArray& d) { seen.emplace_back(c, d); };
    t.Receive("\x1b[1J\x1b[0n\x1b[A\x1b[5q");
    const std::vector<std::pair<TEscapeCode, QByteArray>> want{
        {TEscapeCode::ecUnknown, "[1J"}, {TEscapeCode::ecReportDeviceOK, "[0n"}, {TEscapeCode::ecUnknown, "[5q"}};
    EXPECT_EQ(seen, want);
    EXPECT_EQ(t.EscapeCodes()->Params.Count(), 0) << "parameters cleared after each code";
    // The parser's Data holds the last sequence once a chunk is done, though the terminal
    // took it whole; the next chunk's control byte must not read the gone bytes again.
    t.Receive("\x1b[2;3H");
    t.Receive("\r");
    EXPECT_EQ(t.EscapeCodes()->Data, "[2;3H");
}

// ---- received data

TEST(Terminal, LongChunksAreShownInPieces)
{
    for (const int size : {1024, 1025, 3000}) {
        TestTerm t(TTermEmulation::teVT100orANSI, 100, 40);
        std::vector<int> pieces;
        t.OnStrRecieved = [&](QObject*, QByteArray& s) { pieces.push_back(static_cast<int>(s.size())); };
        int chars = 0;
        t.OnChar = [&](QObject*, char) { ++chars; };
        t.Receive(QByteArray(size, 'x'));
        EXPECT_EQ(chars, size);
        EXPECT_EQ(pieces.front(), std::min(size, 1024));
        EXPECT_EQ(std::accumulate(pieces.begin(), pieces.end(), 0), size);
        for (const int p : pieces)
            EXPECT_LE(p, ComTermCore::MaxChunk);
    }
}

TEST(Terminal, AppendLfAndForce7Bit)
{
    TestTerm t;
    t.SetAppendLF(true);
    QByteArray got;
    t.OnStrRecieved = [&](QObject*, QByteArray& s) { got = s; };
    t.Receive("A\rB");
    EXPECT_EQ(t.Screen(), (Rows{"A", "B"}));
    t.Receive("\r\n");
    EXPECT_EQ(got, "\r\n\n");
    EXPECT_EQ(t.CaretPos(), QPoint(1, 4));
    t.SetAppendLF(false);
    t.SetForce7Bit(true);
    t.Receive("\xc1\x8d");
    EXPECT_EQ(got, "A\r");
}

TEST(Terminal, ReceivedTextCanBeReplacedByHandler)
{
    TestTerm t;
    t.OnStrRecieved = [](QObject*, QByteArray& s) { s = s.toUpper(); };
    t.Receive("abc");
    EXPECT_EQ(t.Screen(), Rows{"ABC"});
}

TEST(Terminal, ChunkStartingWithZeroIsReportedAndShown)
{
    QStringList log;
    const DebugSink old = SetDebugSink([&](const QString& s) { log << s; });
    TestTerm t;
    t.Receive(QByteArray("\0A", 2));
    t.Receive(QByteArray("B\0", 2));
    SetDebugSink(old);
    EXPECT_EQ(log, QStringList{"nul"});
    EXPECT_EQ(t.Screen(), Rows{"AB"});
}

TEST(Terminal, EmulationChangeAndOwnParser)
{
    TestTerm t;
    t.Receive("\x1b[");
    t.SetEmulation(TTermEmulation::teVT52);
    t.Receive("A");
    EXPECT_EQ(t.Screen(), Rows{"A"}) << "the unfinished sequence is lost with its parser";

    bool asked = false;
    t.OnGetEscapeCodes = [&](QObject*, TEscapeCodes*& codes) {
        asked = true;
        codes = new TEscapeCodesVT52;
    };
    t.SetEmulation(TTermEmulation::teNone);
    EXPECT_TRUE(asked);
    ASSERT_NE(t.EscapeCodes(), nullptr);
    t.Receive("\x1bH");
    EXPECT_EQ(t.CaretPos(), QPoint(1, 1));
}

// ---- keys

struct KeyCase {
    const char* name;
    int key;
    bool appKeys;
    TArrowKeys arrows;
    bool echo;
    QByteArray sent;
    QPoint caret;   // from (3, 3)
};

TEST(Terminal, CursorKeys)
{
    const KeyCase cases[] = {
        {"up_sent", Qt::Key_Up, false, TArrowKeys::akTerminal, false, "\x1b[A", {3, 3}},
        {"up_sent_and_echoed", Qt::Key_Up, false, TArrowKeys::akTerminal, true, "\x1b[A", {3, 2}},
        {"home_sent", Qt::Key_Home, false, TArrowKeys::akTerminal, false, "\x1b[H", {3, 3}},
        {"windows_keys_move_locally", Qt::Key_Left, false, TArrowKeys::akWindows, false, "", {2, 3}},
        {"app_keys_sent_whatever_arrows", Qt::Key_Down, true, TArrowKeys::akWindows, false, "\x1bOB", {3, 3}},
        {"app_keys_echoed", Qt::Key_Right, true, TArrowKeys::akTerminal, true, "\x1bOC", {4, 3}},
        {"app_home_does_nothing", Qt::Key_Home, true, TArrowKeys::akTerminal, true, "", {3, 3}},
        {"other_keys_nothing", Qt::Key_F1, false, TArrowKeys::akWindows, true, "", {3, 3}},
    };
    for (const KeyCase& c : cases) {
        TestTerm t;
        t.Port = t.Open = true;
        t.MoveCaret(3, 3);
        t.SetLocalEcho(c.echo);
        t.SetArrowKeys(c.arrows);
        t.Receive(c.appKeys ? "\x1b[?1h" : "");
        int key = c.key;
        t.KeyDown(key, Qt::NoModifier);
        EXPECT_EQ(t.Sent, c.sent) << c.name;
        EXPECT_EQ(t.CaretPos(), c.caret) << c.name;
    }
}

TEST(Terminal, CursorKeysNeedPortAndParser)
{
    TestTerm closed;
    closed.Port = true;
    closed.SetLocalEcho(true);
    int key = Qt::Key_Down;
    closed.KeyDown(key, Qt::NoModifier);
    EXPECT_EQ(closed.CaretPos(), QPoint(1, 1)) << "no echo of codes without a connected port";

    TestTerm none(TTermEmulation::teNone);
    none.Port = none.Open = true;
    none.KeyDown(key, Qt::NoModifier);
    EXPECT_TRUE(none.Sent.isEmpty());
}

struct TypeCase {
    const char* name;
    bool port, open, echo, sendLf;
    QByteArray sent;
    Rows screen;
    QPoint caret;
};

// Typing "A" then CR.
TEST(Terminal, TypedCharacters)
{
    const TypeCase cases[] = {
        {"echo_no_port_cr_gets_lf", false, false, true, true, "", {"A"}, {1, 2}},
        {"echo_closed_port_cr_alone", true, false, true, true, "", {"A"}, {1, 1}},
        {"echo_open_port_sends_cr_lf", true, true, true, true, "A\r\n", {"A"}, {1, 2}},
        {"no_echo_open_port", true, true, false, true, "A\r\n", {}, {1, 1}},
        {"no_send_lf", true, true, true, false, "A\r", {"A"}, {1, 1}},
    };
    for (const TypeCase& c : cases) {
        TestTerm t;
        t.Port = c.port;
        t.Open = c.open;
        t.SetLocalEcho(c.echo);
        t.SetSendLF(c.sendLf);
        for (char k : {'A', '\r'})
            t.KeyPress(k);
        EXPECT_EQ(t.Sent, c.sent) << c.name;
        EXPECT_EQ(t.Screen(), c.screen) << c.name;
        EXPECT_EQ(t.CaretPos(), c.caret) << c.name;
    }
}

TEST(Terminal, KeyPressHandlerZeroStillSends)
{
    TestTerm t;
    t.Port = t.Open = true;
    t.SetLocalEcho(true);
    std::vector<char> chars;
    t.OnChar = [&](QObject*, char c) { chars.push_back(c); };
    t.OnKeyPress = [](QObject*, char& k) { k = 0; };
    char key = 'A';
    t.KeyPress(key);
    EXPECT_EQ(t.Sent, QByteArray(1, '\0'));
    EXPECT_EQ(chars, std::vector<char>{'\0'});
    EXPECT_TRUE(t.Screen().empty());
}

// ---- damage

TEST(Terminal, DamageNamesChangedCellsOncePerChunk)
{
    TestTerm t;
    t.TakeDamage();
    t.Damaged = 0;
    t.Receive("\x1b[2;3HAB\r\nC");
    EXPECT_EQ(t.Damaged, 1);
    TermDamage d = t.TakeDamage();
    EXPECT_EQ(d.ScrolledRows, 0);
    EXPECT_EQ(d.Cells, (std::vector<QRect>{QRect(3, 2, 2, 1), QRect(1, 3, 1, 1)}));
    EXPECT_TRUE(t.TakeDamage().Empty());

    // Changed cells move with the rows a scroll moves; the row that comes in is changed.
    t.Receive("\x1b[4;1HX\nY");
    d = t.TakeDamage();
    EXPECT_EQ(d.ScrolledRows, 1);
    EXPECT_EQ(d.Cells, (std::vector<QRect>{QRect(1, 3, 1, 1), QRect(1, 4, 10, 1)}));

    t.Receive("\x1b[1;1H\x1bM");   // unknown: nothing changes
    EXPECT_TRUE(t.TakeDamage().Empty());
    t.Receive("\n\n\n\x1b[4;1H\n\x1b[H\x1b#8");
    d = t.TakeDamage();
    EXPECT_EQ(d.ScrolledRows, 0);
    EXPECT_EQ(d.Cells, std::vector<QRect>{QRect(1, 1, 10, 4)});
}

TEST(Terminal, DamageOfScrollsBothWaysIsWholeScreen)
{
    TestTerm t(TTermEmulation::teVT52);
    t.TakeDamage();
    t.Receive("\x1bY#  \n\x1bH\x1bI");
    EXPECT_EQ(t.TakeDamage().Cells, std::vector<QRect>{QRect(1, 1, 10, 4)});
}

} // namespace
