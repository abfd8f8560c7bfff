// The terminal's screen: a grid of character cells with tab stops, and the record of which
// cells changed since the display last looked, so that it repaints only those.
#pragma once

#include "term/TermTypes.h"

#include <QRect>
#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

namespace zentrop {

// Which part of a character a cell holds. A wide character (East Asian wide forms, emoji)
// covers two cells: the left one holds the character, the right one holds Ch 0 and is never
// drawn on its own; the display paints the left cell's character and background over both.
enum class CellPart : uint8_t { Single, WideLeft, WideRight };

// One screen cell, 16 bytes; an all-zero cell is empty and never drawn. The styles, the part
// and the Unicode character share the last word, so that a cell is stored in one move and a
// screen of them stays in the processor's nearest cache.
//
// Ch is the 8-bit character: received bytes in the code page of the program's other texts.
// A character that was decoded from UTF-8 and lies outside ASCII also has Unicode set; the
// display then shows Unicode and Ch holds only a stand-in ("?", or the Latin-1 byte below
// 0x100), so that readers of Ch still see a non-empty cell.
struct TTermChar {
    uint8_t Ch = 0;
    TColor FrontColor = 0;
    TColor BackColor = 0;
    bool Underline : 1 = false;
    bool Bold : 1 = false;      // drawn with a heavier font
    bool Graphic : 1 = false;   // Ch is a character of the line-drawing set: a box piece or symbol
    CellPart Part : 2 = CellPart::Single;
    char32_t Unicode : 21 = 0;  // 0: the cell shows Ch; every code point fits

    bool operator==(const TTermChar&) const = default;
};
static_assert(sizeof(TTermChar) == 16);

// The last word of a cell as the buffer reads it raw (little-endian, bit-fields from the low
// bit up): the styles, the part above them, the Unicode character above that; the top bits are
// padding and never looked at.
constexpr uint32_t CellStyleMask = 0x07;
constexpr uint32_t CellAttributeMask = 0x1F;
constexpr int CellUnicodeShift = 5;
constexpr uint32_t CellUnicodeMask = 0x1FFFFF;
static_assert(std::endian::native == std::endian::little);

// The character a cell shows, as a code point: Unicode when set, a line-drawing piece, the
// byte in the 8-bit code page, a blank for an empty cell or the right half of a wide one.
char32_t CellCharacter(const TTermChar& Cell);

// The character a line-drawing cell stands for (Ch from "_" to "~"): a box-drawing piece or
// a symbol; any other Ch stands for itself.
char16_t GraphicCharacter(uint8_t Ch);

// The attributes the next printed character gets.
struct TTermAttributes {
    TColor FrontColor = 0;
    TColor BackColor = 0;
    bool Invert = false;
    bool Bold = false;
    bool Underline = false;

    bool operator==(const TTermAttributes&) const = default;
};

// What changed since the display last took the record. The display first moves its pixels
// by ScrolledRows cell rows (up when positive, down when negative), then repaints Cells
// (1-based buffer cell rectangles, already in their places after that move).
struct TermDamage {
    int ScrolledRows = 0;
    std::vector<QRect> Cells;

    bool Empty() const { return ScrolledRows == 0 && Cells.empty(); }
};

// All coordinates are 1-based: column X, row Y. Each row is a block of its own reached through
// a table of rows, so a scroll moves no cells: it turns the table and clears the row that
// comes in. A row of plain text is kept as its characters in one set of attributes (see
// RowText): its cells are built only when someone reads them, so text that scrolls past
// faster than the display looks never costs a cell. A row that goes to the scrollback is kept
// packed (see HistoryRow), so that ten thousand lines cost little memory; a row of plain text
// is packed from its characters.
class TComTermBuffer {
public:
    static constexpr int MaxColumns = 256;
    static constexpr int MaxRows = 100;
    // The most rows a grid may have when it follows its window (Resize); the Rows property
    // keeps to MaxRows.
    static constexpr int MaxGridRows = 400;
    static constexpr int DefaultScrollbackLines = 10000;

    // Releases the old cells and allocates Columns x Rows empty ones, with a tab stop at
    // columns 1, 9, 17, ...; everything is damaged.
    void Init(int Columns, int Rows);

    int Columns() const { return FColumns; }
    int Rows() const { return FRows; }
    bool Contains(int Column, int Row) const
    {
        return Column >= 1 && Column <= FColumns && Row >= 1 && Row <= FRows;
    }

    // Cells outside the grid read as empty and are not written.
    TTermChar GetChar(int Column, int Row) const;
    void SetChar(int Column, int Row, const TTermChar& Cell)
    {
        if (!Contains(Column, Row))
            return;
        RowCells(Row)[Column - 1] = Cell;
        MarkMixed(RowCells(Row));
        Damage(Column, Column, Row);
    }
    // Stores Count cells from (Column, Row) on, each as Cell with its Ch taken from Text, and
    // damages them once; the cells must all lie inside the grid.
    [[gnu::always_inline]] void WriteRun(int Column, int Row, const char* Text, int Count, const TTermChar& Cell)
    {
        if (Count <= 0)
            return;
        // The pen's first word holds only Ch and padding, its last only the styles, so that
        // clearing them leaves a single-cell pen without a character or Unicode.
        CellBlock pen;
        std::memcpy(&pen, &Cell, sizeof pen);
        pen[0] &= ~uint64_t{0xFFFFFFFF};
        pen[1] &= uint64_t{CellStyleMask} << 32 | 0xFFFFFFFF;
        TTermChar* const cells = FLines.Rows()[Row - 1].get();
        RowText t = TextOf(cells);
        if (!t.Mixed) {
            const uint64_t colours = pen[0] >> 32 | pen[1] << 32;
            const auto style = static_cast<uint8_t>(pen[1] >> 32);
            // Plain text stays plain when it goes on without a gap in the same attributes,
            // or covers every cell written before. Then only the text changes: the cells
            // follow when someone reads them, and text that scrolls on before that is
            // never spread into cells at all.
            const bool keepsOld = Column > 1 || Count < t.Filled;
            if (Column - 1 <= t.Filled && (!keepsOld || (colours == t.Colours && style == t.Style))) {
                t.Colours = colours;
                t.Style = style;
                t.Filled = static_cast<uint16_t>(std::max<int>(t.Filled, Column - 1 + Count));
                t.Built = false;
                std::memcpy(CharsOf(cells) + (Column - 1), Text, static_cast<size_t>(Count));
                SetText(cells, t);
                Damage(Column, Column + Count - 1, Row);
                return;
            }
            if (!t.Built)
                BuildCells(cells, FColumns);
            MarkMixed(cells);
        }
        PutCells(cells + (Column - 1), Text, Count, pen);
        Damage(Column, Column + Count - 1, Row);
    }
    // Which part of a character the cell at (Column, Row), inside the grid, holds, without
    // building the row: the cells of plain text not yet built hold only single cells or
    // empty ones, as the row's text does.
    CellPart Part(int Column, int Row) const { return FLines.Rows()[Row - 1].get()[Column - 1].Part; }
    // The cells of one row, Columns() of them, column 1 first.
    const TTermChar* Row(int Row) const { return RowCells(Row); }

    // Rows 2..Rows move up one, the last row is cleared; on the main screen row 1 goes to the
    // scrollback.
    void ScrollUp();
    // Rows 1..Rows-1 move down one, the first row is cleared.
    void ScrollDown();
    // Clears from (Column, Row) to the end of that row.
    void EraseLineFrom(int Column, int Row);
    // Clears from (Column, Row) to the end of the buffer.
    void EraseScreenFrom(int Column, int Row);
    // Stores Cell in every cell.
    void Fill(const TTermChar& Cell);

    // Rows Top..Bottom move up (or down) by Count inside that band; the rows that come in hold
    // Blank. Rows outside the band stay. With ToHistory, on the main screen and with Top 1,
    // the rows that leave the top go to the scrollback.
    void ScrollRegionUp(int Top, int Bottom, int Count, const TTermChar& Blank, bool ToHistory = false);
    void ScrollRegionDown(int Top, int Bottom, int Count, const TTermChar& Blank);
    // Count cells from (Column, Row) on make room by moving the rest of the row right (the
    // cells pushed past the end are lost), or are taken out by moving the rest left; the cells
    // that come in hold Blank.
    void InsertCells(int Column, int Row, int Count, const TTermChar& Blank);
    void DeleteCells(int Column, int Row, int Count, const TTermChar& Blank);
    // Stores Blank in columns From..To of Row, kept inside the grid.
    void FillCells(int From, int To, int Row, const TTermChar& Blank);

    bool GetTab(int Column) const;
    void SetTab(int Column, bool Value);
    void ClearAllTabs();
    // The first tab stop at or after Column; 0 when there is none.
    int NextTab(int Column) const;

    // ---- scrollback: the lines that left the top of the main screen, oldest dropped first
    int ScrollbackLines() const { return FHistoryLimit; }
    // 0 keeps none; a smaller number drops the oldest lines at once.
    void SetScrollbackLines(int Lines);
    int HistoryCount() const { return FHistoryCount; }
    // Scrollback line Back: 1 is the line just above screen row 1, HistoryCount() the
    // oldest: as many cells as the screen had columns when the line left it, column 1
    // first, each as it was on the screen. Empty outside 1..HistoryCount().
    std::vector<TTermChar> HistoryLine(int Back) const;
    // How many lines ever went to the scrollback: a view that shows old lines keeps its
    // place by the change of this count while new lines come in.
    uint64_t HistoryAdded() const { return FHistoryAdded; }
    void ClearHistory();

    // ---- the alternate screen: a second grid of the same size that full-screen programs
    // draw on, so that the main screen and its scrollback are left as they were
    bool Alternate() const { return FAlternate; }
    // Switches the grid shown; the other grid's cells are kept; everything is damaged.
    void SetAlternate(bool Value);

    // A new size that keeps the content: each row is cut or padded with empty cells. When the
    // rows shrink, rows leave at the top (to the scrollback on the main screen) as far as
    // needed to keep row KeepRow, and the rest at the bottom; when they grow, empty rows come
    // in at the bottom. Tab stops stay, new columns get the every-eighth stops. Returns how
    // many rows the content moved up. Everything is damaged.
    int Resize(int Columns, int Rows, int KeepRow);

    // ---- damage
    bool Damaged() const { return FAllDamaged || FScrolled != 0 || FAnyRowDamaged; }
    // Hands over what changed and starts a new record.
    TermDamage TakeDamage();
    // Marks every cell as changed (a size or colour change, a repaint request).
    void DamageAll();

private:
    // A cell's 16 bytes as two words, for moving and comparing whole cells.
    using CellBlock = uint64_t __attribute__((vector_size(16)));
    // Count cells at To, each the pen (without a character) with its Ch from Text, each in
    // one store.
    [[gnu::always_inline]] static void PutCells(TTermChar* To, const char* Text, int Count, CellBlock Pen)
    {
        auto* const c = reinterpret_cast<unsigned char*>(To);
        const auto* const text = reinterpret_cast<const unsigned char*>(Text);
        const auto put = [&](int i) {
            const CellBlock cell = Pen | CellBlock{text[i], 0};
            std::memcpy(c + i * sizeof(TTermChar), &cell, sizeof cell);
        };
        // Four at a time: the loop's own counting is then a small share.
        int i = 0;
        for (; i + 4 <= Count; i += 4) {
            put(i);
            put(i + 1);
            put(i + 2);
            put(i + 3);
        }
        for (; i < Count; ++i)
            put(i);
    }
    // A row's block: its cells, then a RowText in the room of one cell, then room for a
    // character per cell.
    using RowBlock = std::unique_ptr<TTermChar[]>;
    static size_t BlockCells(int Columns) { return static_cast<size_t>(Columns + 1 + (Columns + 15) / 16); }
    // What the buffer knows of a row's text, kept in the row's block so that it moves with
    // the row. Unless Mixed, the row is plain text: columns 1..Filled hold characters
    // written in one set of attributes (Colours and Style as a cell's bytes hold them), none
    // with a Unicode character, and the rest is empty. The block then holds those
    // characters, and they, not the cells, are the row: the cells hold the same only when
    // Built, and are built from the text when first read. The scrollback packs such a row
    // from its text alone. A Mixed row is its cells. All zero: an empty row.
    struct RowText {
        uint64_t Colours = 0;
        uint16_t Filled = 0;
        uint8_t Style = 0;
        bool Mixed = false;
        bool Built = false;
    };
    static_assert(sizeof(RowText) <= sizeof(TTermChar));
    static RowText TextAt(const TTermChar* Cells, int Columns)
    {
        RowText t;
        std::memcpy(static_cast<void*>(&t), Cells + Columns, sizeof t);
        return t;
    }
    static void SetTextAt(TTermChar* Cells, int Columns, const RowText& Text)
    {
        std::memcpy(static_cast<void*>(Cells + Columns), &Text, sizeof Text);
    }
    RowText TextOf(const TTermChar* Cells) const { return TextAt(Cells, FColumns); }
    void SetText(TTermChar* Cells, const RowText& Text) const { SetTextAt(Cells, FColumns, Text); }
    void MarkMixed(TTermChar* Cells) const { SetText(Cells, RowText{.Mixed = true}); }
    unsigned char* CharsOf(TTermChar* Cells) const { return reinterpret_cast<unsigned char*>(Cells + FColumns + 1); }
    const unsigned char* CharsOf(const TTermChar* Cells) const
    {
        return reinterpret_cast<const unsigned char*>(Cells + FColumns + 1);
    }
    // A row's cells, built from its text first when they do not hold it yet. Building
    // changes no content, so readers may do it too.
    TTermChar* RowCells(int Row) const { return CellsOf(FLines.Rows()[Row - 1].get(), FColumns); }
    static TTermChar* CellsOf(TTermChar* Cells, int Columns)
    {
        if (const RowText t = TextAt(Cells, Columns); !t.Mixed && !t.Built)
            BuildCells(Cells, Columns);
        return Cells;
    }
    // Spreads a plain row's text into its cells.
    static void BuildCells(TTermChar* Cells, int Columns);
    void ClearRow(int Row, int FromColumn);
    // Clears the cells From..To of a row, keeping its text where it can.
    void ClearCells(TTermChar* Cells, int From, int To);
    // The same for a row that is mixed, or becomes so by a gap in its text; Text is its
    // record as it was.
    void ClearCellsOfMixed(TTermChar* Cells, int From, int To, const RowText& Text);
    // An empty row of Columns() cells, a freed one when there is one.
    RowBlock NewRow();
    void FillRow(TTermChar* Row, const TTermChar& Blank);
    // Stores a packed copy of a row of Columns() cells as the newest scrollback line,
    // dropping the oldest when the scrollback is full; the row itself stays the caller's.
    void PushHistory(const TTermChar* Row);
    // Size of the ring: the slots in use until it is full.
    size_t HistorySlot(int Back) const
    {
        return (FHistoryFirst + static_cast<size_t>(FHistoryCount - Back)) % FHistory.size();
    }

    struct RowSpan {
        int16_t From = 0;   // 0: row unchanged
        int16_t To = 0;
    };
    // Damages every cell of rows From..To.
    void DamageRows(int From, int To);
    // Row's span in the record. The record holds three screens' worth of spans; the screen
    // is a window on them that starts at Rows plus the rows scrolled up since the record
    // was last taken (less than a screen's height either way: a longer scroll damages all).
    RowSpan& DamageOf(int Row) { return FDamage[static_cast<size_t>(FRows + FScrolled + Row - 1)]; }
    void Damage(int FromColumn, int ToColumn, int Row)
    {
        RowSpan& s = DamageOf(Row);
        if (s.From == 0 || FromColumn < s.From)
            s.From = static_cast<int16_t>(FromColumn);
        if (ToColumn > s.To)
            s.To = static_cast<int16_t>(ToColumn);
        FAnyRowDamaged = true;
    }
    // Moves the damage record with the rows a scroll moved.
    void ScrollDamage(int Rows);

    int FColumns = 0;
    int FRows = 0;
    // A grid's rows, row 1 first, as a window into a longer table of slots: a scroll of the
    // whole screen moves the window on by one slot instead of moving every row; only when
    // the window reaches the table's end are the rows moved back to its start.
    class RowTable {
    public:
        RowBlock* Rows() { return FSlots.data() + FTop; }
        const RowBlock* Rows() const { return FSlots.data() + FTop; }
        RowBlock* begin() { return Rows(); }
        RowBlock* end() { return Rows() + FCount; }
        int Count() const { return FCount; }
        // Takes Rows as the grid's rows, row 1 first.
        void Assign(std::vector<RowBlock>&& Rows);
        void Clear() { Assign({}); }
        // Row 1 leaves the window and is returned; the last row's slot is empty, for the
        // caller to fill.
        RowBlock ShiftUp()
        {
            RowBlock top = std::move(FSlots[FTop]);
            ++FTop;
            if (FTop + static_cast<size_t>(FCount) > FSlots.size()) {
                std::move(FSlots.begin() + static_cast<std::ptrdiff_t>(FTop), FSlots.end(), FSlots.begin());
                FTop = 0;
            }
            return top;
        }

    private:
        std::vector<RowBlock> FSlots;
        size_t FTop = 0;
        int FCount = 0;
    };
    RowTable FLines;
    // The grid not shown: the main screen's while the alternate one is, and the other way.
    RowTable FOtherLines;
    std::vector<RowBlock> FFree;    // rows of the current width not in use
    bool FAlternate = false;
    // A scrollback line, packed: the cells up to the last non-empty one, as their
    // characters (Used bytes), then the runs of equal attributes (Runs records of a count
    // and the attribute bytes of a cell), then, when any cell has one, the Unicode
    // characters (Used of them). A line of plain text takes about a byte a cell instead of
    // a whole cell. A ring of these, FHistoryFirst the oldest; a full ring packs the newest
    // line into the oldest one's storage.
    struct HistoryRow {
        std::vector<uint8_t> Bytes;
        uint16_t Width = 0;     // the screen's columns when the line left it
        uint16_t Used = 0;
        uint16_t Runs = 0;
        bool HasUnicode = false;
    };
    // Packs Row into Into, with the help of FPackBuffer.
    void PackRow(const TTermChar* Row, HistoryRow& Into);
    void PackMixedRow(const TTermChar* Row, HistoryRow& Into);
    std::vector<uint8_t> FPackBuffer;
    std::vector<HistoryRow> FHistory;
    size_t FHistoryFirst = 0;
    int FHistoryCount = 0;
    int FHistoryLimit = DefaultScrollbackLines;
    uint64_t FHistoryAdded = 0;
    std::vector<bool> FTabs;
    std::vector<RowSpan> FDamage;   // three screens' rows, see DamageOf
    bool FAnyRowDamaged = false;
    bool FAllDamaged = false;
    int FScrolled = 0;
};

} // namespace zentrop
