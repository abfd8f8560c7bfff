// What today's full-screen programs and boards need of the VT102 emulation: the added
// sequences, UTF-8 with wide characters, the alternate screen, the modes the window reads,
// the scrollback and the resize that keeps the screen. Each stream is taken whole and again
// one byte per chunk.
#include "TermTestSupport.h"

#include <bit>
#include <cstring>

using namespace zentrop;

namespace {

std::string Utf8Of(char32_t c)
{
    return QString::fromUcs4(&c, 1).toStdString();
}

// Each row as the display shows it: the right half of a wide character adds nothing.
std::vector<std::string> Shown(const ComTermCore& t)
{
    std::vector<std::string> rows;
    for (int y = 1; y <= t.Buffer().Rows(); ++y) {
        std::string row;
        for (int x = 1; x <= t.Buffer().Columns(); ++x) {
            const TTermChar c = t.Buffer().GetChar(x, y);
            if (c.Part != CellPart::WideRight)
                row += Utf8Of(CellCharacter(c));
        }
        row.erase(row.find_last_not_of(' ') + 1);
        rows.push_back(row);
    }
    while (!rows.empty() && rows.back().empty())
        rows.pop_back();
    return rows;
}

std::string Line(std::span<const TTermChar> Cells)
{
    std::string s;
    for (const TTermChar& c : Cells)
        s += Utf8Of(CellCharacter(c));
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

struct Case {
    const char* name;
    QByteArray in;
    std::vector<std::string> screen;
    QPoint caret;
    bool utf8 = true;
};

// A VT102 terminal of 10 columns by 4 rows with wrapping, as the window sets it up.
std::unique_ptr<TestTerm> Vt(bool Utf8 = true)
{
    auto t = std::make_unique<TestTerm>(TTermEmulation::teVT102);
    t->SetWrapLines(true);
    t->SetUtf8(Utf8);
    t->Port = t->Open = true;
    return t;
}

const Case cases[] = {
    {"column_and_row_moves", "\x1b[3Ga\x1b[5`b\x1b[3dc\x1b[9d", {"  a b", "", "     c"}, {7, 4}},
    {"repeat_last_character", "ab\x1b[3b", {"abbbb"}, {6, 1}},
    {"scroll_up_keeps_caret", "1\r\n2\r\n3\r\n4\x1b[S", {"2", "3", "4"}, {2, 4}},
    {"scroll_down_in_region", "1\r\n2\r\n3\r\n4\x1b[2;3r\x1b[2T", {"1", "", "", "4"}, {1, 1}},
    {"next_and_previous_line", "ab\x1b[2Ec\x1b[Fd", {"ab", "d", "c"}, {2, 2}},
    {"tabs_forward_and_back", "\x1b[2Ix\x1b[Zy", {"        yx"}, {10, 1}},
    {"alternate_screen_saves_and_restores", "main\x1b[?1049hALT\x1b[?1049lX", {"mainX"}, {6, 1}},
    {"alternate_47_keeps_both_screens", "m\x1b[?47ha\x1b[?47lb\x1b[?47h", {" a"}, {4, 1}},
    {"alternate_1047_cleared_on_leaving", "\x1b[?1047hold\x1b[?1047l\x1b[?1047h", {}, {4, 1}},
    {"utf8_text", "h\xc3\xa9llo \xe2\x82\xac", {"h\xc3\xa9llo \xe2\x82\xac"}, {8, 1}},
    {"invalid_bytes_replaced_rest_kept", "a\xff" "b\xc3(c\xe2\x82", {"a\xef\xbf\xbd" "b\xef\xbf\xbd(c"}, {7, 1}},
    {"broken_character_before_control", "\xe2\x82\r\n", {"\xef\xbf\xbd"}, {1, 2}},
    {"broken_character_before_sequence", "\xc3\x1b[1m\xa9", {"\xef\xbf\xbd\xef\xbf\xbd"}, {3, 1}},
    {"wide_characters_take_two_cells", "\xe4\xb8\xad\xe6\x96\x87x", {"\xe4\xb8\xad\xe6\x96\x87x"}, {6, 1}},
    {"emoji_is_wide", "\xf0\x9f\x98\x80!", {"\xf0\x9f\x98\x80!"}, {4, 1}},
    {"wide_at_last_column_wraps", "123456789\xe4\xb8\xad", {"123456789", "\xe4\xb8\xad"}, {3, 2}},
    {"overwritten_half_clears_other_half", "\xe4\xb8\xad\xe6\x96\x87\x1b[1Gx\x1b[4Gy", {"x  y"}, {5, 1}},
    {"combining_marks_left_out", "e\xcc\x81x", {"ex"}, {3, 1}},
    {"eight_bit_mode_reads_latin1", "h\xc3\xa9\x85", {"h\xc3\x83\xc2\xa9"}, {4, 1}, false},
};

class Modern : public testing::TestWithParam<Case> {};

TEST_P(Modern, BytesToScreen)
{
    const Case& c = GetParam();
    for (const bool split : {false, true}) {
        auto t = Vt(c.utf8);
        if (split) {
            for (const char b : c.in)
                t->Receive(QByteArray(1, b));
        } else {
            t->Receive(c.in);
        }
        const char* how = split ? "one byte per chunk" : "one chunk";
        EXPECT_EQ(Shown(*t), c.screen) << how;
        EXPECT_EQ(t->CaretPos(), c.caret) << how;
    }
}

INSTANTIATE_TEST_SUITE_P(VT102, Modern, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

TEST(Modern, WideCellsAndTheirHalves)
{
    auto t = Vt();
    t->Receive("\xe4\xb8\xad");
    const TTermChar left = t->Buffer().GetChar(1, 1), right = t->Buffer().GetChar(2, 1);
    EXPECT_EQ(left.Part, CellPart::WideLeft);
    EXPECT_EQ(left.Unicode, U'\u4E2D');
    EXPECT_NE(left.Ch, 0) << "readers of Ch see a character";
    EXPECT_EQ(right.Part, CellPart::WideRight);
    EXPECT_EQ(right.Ch, 0) << "the right half is never drawn on its own";
}

TEST(Modern, ExtendedColours)
{
    auto t = Vt();
    t->Receive("\x1b[38;5;196ma\x1b[48;2;1;2;3mb\x1b[0;1;38;5;3mc\x1b[38;2;300;0;0md");
    const auto cell = [&](int x) { return t->Buffer().GetChar(x, 1); };
    EXPECT_EQ(cell(1).FrontColor, VT102PaletteColor(196));
    EXPECT_EQ(VT102PaletteColor(196), 0x0000FF) << "the cube's red corner";
    EXPECT_EQ(VT102PaletteColor(232), 0x080808) << "the first grey";
    EXPECT_EQ(cell(2).BackColor, 0x030201);
    EXPECT_EQ(cell(3).FrontColor, VT102PaletteColor(11)) << "bold brightens the first eight";
    EXPECT_EQ(cell(4).FrontColor, 0x0000FF) << "channels held at 255";
}

TEST(Modern, ModesForTheWindow)
{
    auto t = Vt();
    t->Receive("\x1b[?25l\x1b[?2004h\x1b=\x1b[?1049h");
    EXPECT_FALSE(t->CaretVisible());
    EXPECT_TRUE(t->BracketedPaste());
    EXPECT_TRUE(t->AppKeypad());
    EXPECT_TRUE(t->AltScreen());
    t->Receive("\x1b>");
    EXPECT_FALSE(t->AppKeypad());
    t->Receive("\x1b" "c");
    EXPECT_TRUE(t->CaretVisible());
    EXPECT_FALSE(t->BracketedPaste());
    EXPECT_FALSE(t->AltScreen());
    t->Receive("\x1b[?1049h");
    t->SetEmulation(TTermEmulation::teVT100orANSI);
    EXPECT_FALSE(t->AltScreen()) << "another emulation shows the main screen";
}

// A handler that changes the emulation while a chunk is read: the rest of the chunk goes to
// the new one, and the old one is not touched after it is replaced.
TEST(Modern, HandlerChangesEmulationMidChunk)
{
    TestTerm t(TTermEmulation::teVT102);
    t.OnChar = [&t](QObject*, char c) {
        if (c == '|')
            t.SetEmulation(TTermEmulation::teVT52);
    };
    t.Receive("a\x1b[31m|\x1b" "Cb\x1b[2Jc");
    EXPECT_EQ(t.Screen(), (std::vector<std::string>{"a| b2Jc"}));
    EXPECT_EQ(t.Buffer().GetChar(4, 1).FrontColor, t.FontColor()) << "the VT102's pen left with it";
    TestTerm u(TTermEmulation::teVT100orANSI);
    u.OnUnhandledCode = [&u](QObject*, TEscapeCode, const QByteArray&) { u.SetEmulation(TTermEmulation::teVT102); };
    u.Receive("\x1bxA\x1b[2Gb");
    EXPECT_EQ(u.Screen(), (std::vector<std::string>{"Ab"}));
}

TEST(Scrollback, LinesLeavingTheTopOfTheMainScreen)
{
    // The classic emulation's line feed and the VT102's index alike.
    for (const auto emulation : {TTermEmulation::teVT100orANSI, TTermEmulation::teVT102}) {
        TestTerm t(emulation);
        t.Receive("1\r\n2\r\n3\r\n4\r\n5\r\n6");
        ASSERT_EQ(t.Buffer().HistoryCount(), 2);
        EXPECT_EQ(Line(t.Buffer().HistoryLine(1)), "2");
        EXPECT_EQ(Line(t.Buffer().HistoryLine(2)), "1");
        EXPECT_TRUE(t.Buffer().HistoryLine(3).empty());
        EXPECT_EQ(t.Buffer().HistoryAdded(), 2u);
    }
    auto t = Vt();
    t->Receive("\x1b[2;4r\x1b[4;1H\n\n\x1b[r\x1b[?1049h\x1b[4;1H\n\n\x1b[?1049l");
    EXPECT_EQ(t->Buffer().HistoryCount(), 0) << "a region below the top and the alternate screen keep none";
    t->Receive("a\x1b[1;3r\x1b[2S");
    EXPECT_EQ(t->Buffer().HistoryCount(), 2) << "a region from the top and a scroll up keep them";
    EXPECT_EQ(Line(t->Buffer().HistoryLine(2)), "a");
}

TEST(Scrollback, BoundedAndCleared)
{
    auto t = Vt();
    t->SetScrollbackLines(3);
    for (int i = 0; i < 10; ++i)
        t->Receive(QByteArray::number(i) + "\r\n");
    // 0..6 left the screen; 4, 5, 6 are kept.
    ASSERT_EQ(t->Buffer().HistoryCount(), 3);
    EXPECT_EQ(Line(t->Buffer().HistoryLine(3)), "4");
    EXPECT_EQ(t->Buffer().HistoryAdded(), 7u);
    t->SetScrollbackLines(2);
    EXPECT_EQ(Line(t->Buffer().HistoryLine(2)), "5") << "the newest are kept";
    t->Buffer().ClearHistory();
    EXPECT_EQ(t->Buffer().HistoryCount(), 0);
    t->SetScrollbackLines(0);
    t->Receive("\r\n\r\n\r\n\r\n");
    EXPECT_EQ(t->Buffer().HistoryCount(), 0);
}

TEST(Scrollback, KeepsEveryCellAsItWas)
{
    // Rows of every kind of cell, and random rows of them, go through a ring of three lines
    // (so that long and short lines take over each other's storage) and come back whole.
    TTermChar plain;
    plain.Ch = 'a';
    TTermChar styled = plain;
    styled.FrontColor = 0x123456;
    styled.BackColor = 0x654321;
    styled.Bold = styled.Underline = true;
    TTermChar graphic = plain;
    graphic.Ch = 'q';
    graphic.Graphic = true;
    TTermChar wide;
    wide.Ch = '?';
    wide.Unicode = U'\u4E2D';
    wide.Part = CellPart::WideLeft;
    TTermChar wideRight;
    wideRight.Part = CellPart::WideRight;
    TTermChar erased;   // no character, but the background of an erase
    erased.BackColor = 0x0000FF;
    const std::vector<TTermChar> kinds = {plain, styled, graphic, wide, wideRight, erased, TTermChar()};

    std::vector<std::vector<TTermChar>> rows = {
        {plain, styled, styled, graphic, wide, wideRight, erased, plain, TTermChar(), TTermChar()},
        std::vector<TTermChar>(10, TTermChar()),
        std::vector<TTermChar>(10, erased),
        {plain, TTermChar(), TTermChar(), TTermChar(), TTermChar(), TTermChar(), TTermChar(), TTermChar(), TTermChar(), plain},
    };
    unsigned seed = 7;
    for (int n = 0; n < 200; ++n) {
        std::vector<TTermChar> row;
        for (int x = 0; x < 10; ++x) {
            seed = seed * 1103515245 + 12345;
            row.push_back(kinds[(seed >> 16) % kinds.size()]);
        }
        rows.push_back(row);
    }
    TComTermBuffer b;
    b.Init(10, 2);
    b.SetScrollbackLines(3);
    for (size_t n = 0; n < rows.size(); ++n) {
        for (int x = 1; x <= 10; ++x)
            b.SetChar(x, 1, rows[n][static_cast<size_t>(x - 1)]);
        b.ScrollUp();
        for (size_t back = 1; back <= std::min<size_t>(n + 1, 3); ++back)
            ASSERT_EQ(b.HistoryLine(static_cast<int>(back)), rows[n + 1 - back]) << "row " << n << ", line " << back;
    }
}

TEST(Scrollback, CellWordAsTheBufferReadsIt)
{
    // The buffer reads a cell's last word raw, with masks; a compiler or an edit that lays the
    // bit-fields out otherwise must show here.
    const auto word = [](const TTermChar& Cell) {
        uint32_t w = 0;
        std::memcpy(&w, reinterpret_cast<const unsigned char*>(&Cell) + 12, sizeof w);
        return w & (CellAttributeMask | CellUnicodeMask << CellUnicodeShift);
    };
    TTermChar c;
    EXPECT_EQ(word(c), 0u);
    c.Underline = c.Bold = c.Graphic = true;
    EXPECT_EQ(word(c), CellStyleMask);
    c.Part = CellPart::WideRight;
    // The part lies in the attribute bits above the styles.
    EXPECT_EQ(word(c), CellStyleMask | 2u << std::countr_zero(CellAttributeMask & ~CellStyleMask));
    c = TTermChar();
    c.Unicode = U'\U0010FFFF';
    EXPECT_EQ(word(c), 0x10FFFFu << CellUnicodeShift);
}

TEST(Scrollback, KeepsRowsWrittenEveryWay)
{
    // The buffer keeps track of rows of plain text to pack them without reading their cells,
    // and builds their cells only when they are read. Every way of changing a row, in random
    // order, must leave a line that comes back as the row was when it scrolled off, and a
    // buffer read after every change must show what one read now and then shows.
    TTermChar pen;
    TTermChar styled;
    styled.FrontColor = 0x112233;
    styled.Bold = true;
    TTermChar erased;
    erased.BackColor = 0x0000FF;
    TTermChar wide;
    wide.Ch = '?';
    wide.Unicode = U'\u4E2D';
    wide.Part = CellPart::WideLeft;
    const TTermChar pens[] = {pen, styled, erased};
    const char text[] = "abcdefghijklmnopqrstuvwxyz";
    unsigned seed = 11;
    const auto next = [&](int Below) {
        seed = seed * 1103515245 + 12345;
        return static_cast<int>((seed >> 16) % static_cast<unsigned>(Below));
    };
    TComTermBuffer lazy, read;
    for (TComTermBuffer* b : {&lazy, &read})
        b->Init(12, 3);
    const auto rows = [](const TComTermBuffer& b) {
        std::vector<std::vector<TTermChar>> all;
        for (int y = 1; y <= b.Rows(); ++y)
            all.emplace_back(b.Row(y), b.Row(y) + b.Columns());
        return all;
    };
    for (int step = 0; step < 20000 && !HasFatalFailure(); ++step) {
        const int columns = lazy.Columns();
        const int x = 1 + next(columns);
        const int y = 1 + next(lazy.Rows());
        const TTermChar& blank = pens[next(3)];
        const int op = next(12), a = next(40), c = next(columns), d = next(4), e = next(10);
        const TTermChar& runPen = pens[next(2)];
        const bool either = next(2) == 0;
        // Row 1 of the buffer read after every change is what leaves the top.
        const std::vector<TTermChar> top(read.Row(1), read.Row(1) + columns);
        const int lines = read.HistoryCount();
        bool scrolled = false;
        for (TComTermBuffer* b : {&lazy, &read}) {
            switch (op) {
            case 0:
            case 1:
            case 2: b->WriteRun(x, y, text + e, 1 + c % (columns - x + 1), runPen); break;
            case 3: b->WriteRun(1, y, text, 1 + c, runPen); break;
            case 4: b->SetChar(x, y, either ? wide : styled); break;
            case 5: b->FillCells(x, x + d, y, either ? TTermChar() : blank); break;
            case 6: b->EraseLineFrom(x, y); break;
            case 7: either ? b->InsertCells(x, y, 1 + d, blank) : b->DeleteCells(x, y, 1 + d, blank); break;
            case 8: either ? b->ScrollRegionDown(1, b->Rows(), 1, blank) : b->ScrollRegionUp(2, b->Rows(), 1, blank); break;
            case 9:
                switch (a) {
                case 0: b->Resize(8 + d * 2 + e % 2, 3, 3); break;
                case 1: b->Fill(blank); break;
                case 2: b->Init(b->Columns(), 3); break;     // takes its rows back from its pool
                case 3: b->SetAlternate(!b->Alternate()); break;
                case 4: b->ScrollDown(); break;
                case 5: b->EraseScreenFrom(x, y); break;
                case 6: b->ScrollRegionUp(1, 2, 1, blank, true); scrolled = true; break;
                }
                break;
            default: b->ScrollUp(); scrolled = true;
            }
        }
        if (scrolled) {
            if (!read.Alternate()) {
                ASSERT_EQ(read.HistoryLine(1), top) << "step " << step;
                ASSERT_EQ(lazy.HistoryLine(1), top) << "step " << step;
            } else {
                ASSERT_EQ(read.HistoryCount(), lines) << "the alternate screen keeps no lines";
            }
        }
        const auto shown = rows(read);
        if (next(16) == 0) {
            ASSERT_EQ(rows(lazy), shown) << "step " << step;
        }
    }
}

TEST(Resize, KeepsTheScreen)
{
    auto t = Vt();
    t->Receive("1\r\n2\r\n3\r\n4bcdefghij");
    t->Resize(5, 2);
    EXPECT_EQ(Shown(*t), (std::vector<std::string>{"3", "4bcde"}));
    EXPECT_EQ(t->CaretPos(), QPoint(5, 2)) << "on its line, inside the grid";
    EXPECT_EQ(t->Buffer().HistoryCount(), 2) << "rows that left at the top";
    EXPECT_EQ(Line(t->Buffer().HistoryLine(1)), "2");
    t->Resize(12, 5);
    EXPECT_EQ(t->Columns(), 12);
    EXPECT_EQ(t->Rows(), 5);
    EXPECT_EQ(Shown(*t), (std::vector<std::string>{"3", "4bcde"}));
    t->Receive("\x1b[5;12HZ\r\n");
    EXPECT_EQ(t->Buffer().GetChar(12, 4).Ch, 'Z') << "the region follows the new size";
    // Rows below the caret go first.
    t->Receive("\x1b[H");
    t->Resize(12, 2);
    EXPECT_EQ(Shown(*t), (std::vector<std::string>{"4bcde"}));
    EXPECT_EQ(t->CaretPos(), QPoint(1, 1));
    t->Resize(1, 1);
    EXPECT_EQ(t->Columns(), 2);
    EXPECT_EQ(t->Rows(), 2);
}

} // namespace
