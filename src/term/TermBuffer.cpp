// The cell grid, its tab stops and its damage record.
#include "term/TermBuffer.h"

#include "base/Ansi.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <cstdlib>

namespace zentrop {

namespace {

// A cell's bytes as the scrollback reads them: the character, the two colours, the word with
// the styles, the part and the Unicode character. A run of cells keeps the colours and the
// styles and part as one byte.
constexpr size_t ColoursOffset = offsetof(TTermChar, FrontColor);
constexpr size_t WordOffset = 12;
constexpr size_t RunSize = sizeof(uint16_t) + 8 + 1;
static_assert(offsetof(TTermChar, Ch) == 0 && ColoursOffset == 4 && offsetof(TTermChar, BackColor) == 8);

const unsigned char* CellBytes(const TTermChar* Cell)
{
    return reinterpret_cast<const unsigned char*>(Cell);
}

uint64_t Load64(const unsigned char* At)
{
    uint64_t v;
    std::memcpy(&v, At, sizeof v);
    return v;
}

uint32_t Load32(const unsigned char* At)
{
    uint32_t v;
    std::memcpy(&v, At, sizeof v);
    return v;
}

uint32_t CellWord(const unsigned char* Cell)
{
    return Load32(Cell + WordOffset);
}

char32_t WordUnicode(uint32_t Word)
{
    return (Word >> CellUnicodeShift) & CellUnicodeMask;
}

constexpr uint32_t WordUsed = CellAttributeMask | CellUnicodeMask << CellUnicodeShift;

// An empty cell: all its fields zero (padding is not looked at).
bool EmptyCell(const unsigned char* Cell)
{
    return Cell[0] == 0 && Load64(Cell + ColoursOffset) == 0 && (CellWord(Cell) & WordUsed) == 0;
}

bool SameAttributes(const unsigned char* A, const unsigned char* B)
{
    return Load64(A + ColoursOffset) == Load64(B + ColoursOffset)
           && ((CellWord(A) ^ CellWord(B)) & CellAttributeMask) == 0;
}

} // namespace

char16_t GraphicCharacter(uint8_t Ch)
{
    static constexpr char16_t Table[32] = {
        u'\u00A0', u'\u25C6', u'\u2592', u'\u2409', u'\u240C', u'\u240D', u'\u240A', u'\u00B0',
        u'\u00B1', u'\u2424', u'\u240B', u'\u2518', u'\u2510', u'\u250C', u'\u2514', u'\u253C',
        u'\u23BA', u'\u23BB', u'\u2500', u'\u23BC', u'\u23BD', u'\u251C', u'\u2524', u'\u2534',
        u'\u252C', u'\u2502', u'\u2264', u'\u2265', u'\u03C0', u'\u2260', u'\u00A3', u'\u00B7',
    };
    return Ch >= 0x5F && Ch <= 0x7E ? Table[Ch - 0x5F] : static_cast<char16_t>(Ch);
}

char32_t CellCharacter(const TTermChar& Cell)
{
    if (Cell.Unicode != 0)
        return Cell.Unicode;
    if (Cell.Ch == 0)
        return U' ';
    if (Cell.Graphic)
        return GraphicCharacter(Cell.Ch);
    if (Cell.Ch < 0x80)
        return Cell.Ch;
    static const std::array<char16_t, 128> upper = [] {
        std::array<char16_t, 128> t{};
        for (int i = 0; i < 128; ++i) {
            const QString s = DecodeAnsi(QByteArray(1, static_cast<char>(0x80 + i)));
            t[static_cast<size_t>(i)] = s.isEmpty() ? u'?' : s.at(0).unicode();
        }
        return t;
    }();
    return upper[Cell.Ch - 0x80];
}

void TComTermBuffer::Init(int Columns, int Rows)
{
    // The scrollback keeps its lines, each with its own width.
    const int columns = std::clamp(Columns, 1, MaxColumns);
    // Rows of the same width are used again.
    if (columns != FColumns)
        FFree.clear();
    for (RowTable* lines : {&FLines, &FOtherLines})
        for (RowBlock& row : *lines)
            if (columns == FColumns)
                FFree.push_back(std::move(row));
    FColumns = columns;
    FRows = std::clamp(Rows, 1, MaxGridRows);
    std::vector<RowBlock> shown, other;
    for (int y = 0; y < FRows; ++y) {
        shown.push_back(NewRow());
        other.push_back(NewRow());
    }
    FLines.Assign(std::move(shown));
    FOtherLines.Assign(std::move(other));
    FTabs.assign(static_cast<size_t>(FColumns), false);
    for (int x = 1; x <= FColumns; x += 8)
        FTabs[static_cast<size_t>(x - 1)] = true;
    FDamage.assign(static_cast<size_t>(FRows) * 3, RowSpan());
    DamageAll();
}

TTermChar TComTermBuffer::GetChar(int Column, int Row) const
{
    return Contains(Column, Row) ? RowCells(Row)[Column - 1] : TTermChar();
}

void TComTermBuffer::BuildCells(TTermChar* Cells, int Columns)
{
    RowText t = TextAt(Cells, Columns);
    const CellBlock pen{t.Colours << 32, t.Colours >> 32 | uint64_t{t.Style} << 32};
    PutCells(Cells, reinterpret_cast<const char*>(Cells + Columns + 1), t.Filled, pen);
    // An empty cell is all zero bytes.
    std::memset(static_cast<void*>(Cells + t.Filled), 0, sizeof(TTermChar) * static_cast<size_t>(Columns - t.Filled));
    t.Built = true;
    SetTextAt(Cells, Columns, t);
}

inline void TComTermBuffer::ClearRow(int Row, int FromColumn)
{
    ClearCells(FLines.Rows()[Row - 1].get(), FromColumn, FColumns);
    Damage(FromColumn, FColumns, Row);
}

inline void TComTermBuffer::ClearCells(TTermChar* Cells, int From, int To)
{
    RowText t = TextOf(Cells);
    if (t.Mixed || (From <= t.Filled && To < t.Filled)) {
        ClearCellsOfMixed(Cells, From, To, t);
        return;
    }
    // Plain text loses its end, or nothing: the cells follow when read.
    if (From <= t.Filled) {
        t.Filled = static_cast<uint16_t>(From - 1);
        t.Built = false;
        if (t.Filled == 0)
            t = RowText();
        SetText(Cells, t);
    }
}

void TComTermBuffer::ClearCellsOfMixed(TTermChar* Cells, int From, int To, const RowText& Text)
{
    // A gap in plain text makes the row mixed; its cells must hold the text first.
    if (!Text.Mixed && !Text.Built)
        BuildCells(Cells, FColumns);
    // An empty cell is all zero bytes.
    std::memset(static_cast<void*>(Cells + From - 1), 0, sizeof(TTermChar) * static_cast<size_t>(To - From + 1));
    SetText(Cells, From == 1 && To == FColumns ? RowText{.Built = true} : RowText{.Mixed = true});
}

void TComTermBuffer::RowTable::Assign(std::vector<RowBlock>&& Rows)
{
    FCount = static_cast<int>(Rows.size());
    FTop = 0;
    // Room for the window to move on for a few screens before its rows go back to the start.
    Rows.resize(Rows.size() * 4 + 16);
    FSlots = std::move(Rows);
}

void TComTermBuffer::ScrollUp()
{
    if (FRows == 0)
        return;
    RowBlock top = FLines.ShiftUp();
    if (!FAlternate && FHistoryLimit > 0)
        PushHistory(top.get());
    FLines.Rows()[FRows - 1] = std::move(top);
    ScrollDamage(1);
    ClearRow(FRows, 1);
}

void TComTermBuffer::ScrollDown()
{
    if (FRows == 0)
        return;
    std::rotate(FLines.begin(), FLines.end() - 1, FLines.end());
    ScrollDamage(-1);
    ClearRow(1, 1);
}

void TComTermBuffer::ScrollRegionUp(int Top, int Bottom, int Count, const TTermChar& Blank, bool ToHistory)
{
    Top = std::max(Top, 1);
    Bottom = std::min(Bottom, FRows);
    if (Top > Bottom || Count <= 0)
        return;
    Count = std::min(Count, Bottom - Top + 1);
    RowBlock* const lines = FLines.Rows();
    if (Top == 1 && Bottom == FRows && Count == 1) {
        // The whole screen: the row table moves on, and the display moves its pixels
        // instead of repainting.
        RowBlock top = FLines.ShiftUp();
        if (ToHistory && !FAlternate && FHistoryLimit > 0)
            PushHistory(top.get());
        FLines.Rows()[FRows - 1] = std::move(top);
        ScrollDamage(1);
        FillCells(1, FColumns, Bottom, Blank);
        return;
    }
    RowBlock* const first = lines + (Top - 1);
    std::rotate(first, first + Count, lines + Bottom);
    // The rows that left the top are now the last Count of the band.
    if (ToHistory && Top == 1 && !FAlternate && FHistoryLimit > 0)
        for (int y = Bottom - Count + 1; y <= Bottom; ++y)
            PushHistory(lines[y - 1].get());
    for (int y = Bottom - Count + 1; y <= Bottom; ++y)
        FillRow(FLines.Rows()[y - 1].get(), Blank);
    DamageRows(Top, Bottom);
}

void TComTermBuffer::ScrollRegionDown(int Top, int Bottom, int Count, const TTermChar& Blank)
{
    Top = std::max(Top, 1);
    Bottom = std::min(Bottom, FRows);
    if (Top > Bottom || Count <= 0)
        return;
    Count = std::min(Count, Bottom - Top + 1);
    RowBlock* const lines = FLines.Rows();
    std::rotate(lines + (Top - 1), lines + Bottom - Count, lines + Bottom);
    if (Top == 1 && Bottom == FRows && Count == 1) {
        ScrollDamage(-1);
        FillCells(1, FColumns, Top, Blank);
        return;
    }
    for (int y = Top; y < Top + Count; ++y)
        FillRow(FLines.Rows()[y - 1].get(), Blank);
    DamageRows(Top, Bottom);
}

void TComTermBuffer::InsertCells(int Column, int Row, int Count, const TTermChar& Blank)
{
    if (!Contains(Column, Row) || Count <= 0)
        return;
    Count = std::min(Count, FColumns - Column + 1);
    TTermChar* cells = RowCells(Row);
    std::move_backward(cells + Column - 1, cells + FColumns - Count, cells + FColumns);
    std::fill(cells + Column - 1, cells + Column - 1 + Count, Blank);
    MarkMixed(cells);
    Damage(Column, FColumns, Row);
}

void TComTermBuffer::DeleteCells(int Column, int Row, int Count, const TTermChar& Blank)
{
    if (!Contains(Column, Row) || Count <= 0)
        return;
    Count = std::min(Count, FColumns - Column + 1);
    TTermChar* cells = RowCells(Row);
    std::move(cells + Column - 1 + Count, cells + FColumns, cells + Column - 1);
    std::fill(cells + FColumns - Count, cells + FColumns, Blank);
    MarkMixed(cells);
    Damage(Column, FColumns, Row);
}

void TComTermBuffer::FillCells(int From, int To, int Row, const TTermChar& Blank)
{
    From = std::max(From, 1);
    To = std::min(To, FColumns);
    if (Row < 1 || Row > FRows || From > To)
        return;
    if (EmptyCell(CellBytes(&Blank))) {
        ClearCells(FLines.Rows()[Row - 1].get(), From, To);
    } else {
        TTermChar* cells = RowCells(Row);
        std::fill(cells + From - 1, cells + To, Blank);
        MarkMixed(cells);
    }
    Damage(From, To, Row);
}

void TComTermBuffer::DamageRows(int From, int To)
{
    for (int y = From; y <= To; ++y)
        Damage(1, FColumns, y);
}

void TComTermBuffer::EraseLineFrom(int Column, int Row)
{
    if (Row < 1 || Row > FRows || Column > FColumns)
        return;
    ClearRow(Row, std::max(Column, 1));
}

void TComTermBuffer::EraseScreenFrom(int Column, int Row)
{
    if (Row > FRows)
        return;
    if (Row < 1) {
        Row = 1;
        Column = 1;
    }
    EraseLineFrom(Column, Row);
    for (int y = Row + 1; y <= FRows; ++y)
        ClearRow(y, 1);
}

void TComTermBuffer::Fill(const TTermChar& Cell)
{
    for (int y = 1; y <= FRows; ++y)
        FillRow(FLines.Rows()[y - 1].get(), Cell);
    DamageAll();
}

bool TComTermBuffer::GetTab(int Column) const
{
    return Column >= 1 && Column <= FColumns && FTabs[static_cast<size_t>(Column - 1)];
}

void TComTermBuffer::SetTab(int Column, bool Value)
{
    if (Column >= 1 && Column <= FColumns)
        FTabs[static_cast<size_t>(Column - 1)] = Value;
}

void TComTermBuffer::ClearAllTabs()
{
    std::fill(FTabs.begin(), FTabs.end(), false);
}

int TComTermBuffer::NextTab(int Column) const
{
    for (int x = std::max(Column, 1); x <= FColumns; ++x)
        if (FTabs[static_cast<size_t>(x - 1)])
            return x;
    return 0;
}

// ---- scrollback

TComTermBuffer::RowBlock TComTermBuffer::NewRow()
{
    if (FFree.empty())
        return std::make_unique<TTermChar[]>(BlockCells(FColumns));
    RowBlock row = std::move(FFree.back());
    FFree.pop_back();
    FillRow(row.get(), TTermChar());
    return row;
}

void TComTermBuffer::FillRow(TTermChar* Row, const TTermChar& Blank)
{
    // An empty cell is all zero bytes.
    if (EmptyCell(CellBytes(&Blank))) {
        std::memset(static_cast<void*>(Row), 0, sizeof(TTermChar) * static_cast<size_t>(FColumns));
        SetText(Row, RowText{.Built = true});
    } else {
        std::fill(Row, Row + FColumns, Blank);
        MarkMixed(Row);
    }
}

inline void TComTermBuffer::PackRow(const TTermChar* Row, HistoryRow& Into)
{
    const RowText t = TextOf(Row);
    if (t.Mixed) {
        PackMixedRow(Row, Into);
        return;
    }
    // Plain text: its characters and one run, without a look at the cells.
    Into.Width = static_cast<uint16_t>(FColumns);
    const size_t used = t.Filled;
    Into.Used = t.Filled;
    Into.Runs = used > 0 ? 1 : 0;
    Into.HasUnicode = false;
    Into.Bytes.resize(used + Into.Runs * RunSize);
    if (used > 0) {
        uint8_t* const at = Into.Bytes.data();
        std::memcpy(at, CharsOf(Row), used);
        std::memcpy(at + used, &t.Filled, sizeof t.Filled);
        std::memcpy(at + used + sizeof t.Filled, &t.Colours, sizeof t.Colours);
        at[used + sizeof t.Filled + sizeof t.Colours] = t.Style;
    }
}

void TComTermBuffer::PackMixedRow(const TTermChar* Row, HistoryRow& Into)
{
    Into.Width = static_cast<uint16_t>(FColumns);
    int used = FColumns;
    while (used > 0 && EmptyCell(CellBytes(Row + used - 1)))
        --used;
    // Worst case: a run per cell and a Unicode character per cell.
    FPackBuffer.resize(static_cast<size_t>(FColumns) * (1 + RunSize + sizeof(char32_t)));
    uint8_t* const chars = FPackBuffer.data();
    uint8_t* const runs = chars + used;
    uint8_t* end = runs;
    bool anyUnicode = false;
    if (used > 0) {
        // Most lines have one set of attributes: the characters are taken and every cell's
        // bytes compared with the first cell's in one pass without branches, a whole cell
        // at a time, and only a line with more than one run is looked at again.
        CellBlock first;
        std::memcpy(&first, Row, sizeof first);
        CellBlock differs{}, seen{};
        for (int i = 0; i < used; ++i) {
            CellBlock cell;
            std::memcpy(&cell, Row + i, sizeof cell);
            chars[i] = CellBytes(Row + i)[0];
            differs |= cell ^ first;
            seen |= cell;
        }
        // The colours lie in the first block's upper half and the second's lower half, the
        // styles and part at the bottom of the second's upper half.
        const bool oneRun = (differs[0] >> 32 | (differs[1] & (uint64_t{CellAttributeMask} << 32 | 0xFFFFFFFF))) == 0;
        anyUnicode = WordUnicode(static_cast<uint32_t>(seen[1] >> 32)) != 0;
        int from = 0;
        while (from < used) {
            const unsigned char* head = CellBytes(Row + from);
            int to = from + 1;
            if (oneRun)
                to = used;
            else
                while (to < used && SameAttributes(CellBytes(Row + to), head))
                    ++to;
            const auto length = static_cast<uint16_t>(to - from);
            std::memcpy(end, &length, sizeof length);
            std::memcpy(end + sizeof length, head + ColoursOffset, 8);
            end[sizeof length + 8] = static_cast<uint8_t>(CellWord(head) & CellAttributeMask);
            end += RunSize;
            from = to;
        }
    }
    Into.Runs = static_cast<uint16_t>((end - runs) / static_cast<std::ptrdiff_t>(RunSize));
    Into.HasUnicode = anyUnicode;
    if (anyUnicode)
        for (int i = 0; i < used; ++i, end += sizeof(char32_t)) {
            const char32_t c = WordUnicode(CellWord(CellBytes(Row + i)));
            std::memcpy(end, &c, sizeof c);
        }
    Into.Bytes.assign(chars, end);
    Into.Used = static_cast<uint16_t>(used);
}

void TComTermBuffer::PushHistory(const TTermChar* Row)
{
    ++FHistoryAdded;
    if (FHistoryCount < FHistoryLimit) {
        // Until the ring is full its slots are in order from 0.
        FHistory.emplace_back();
        PackRow(Row, FHistory.back());
        ++FHistoryCount;
        return;
    }
    PackRow(Row, FHistory[FHistoryFirst]);
    if (++FHistoryFirst == FHistory.size())
        FHistoryFirst = 0;
}

std::vector<TTermChar> TComTermBuffer::HistoryLine(int Back) const
{
    if (Back < 1 || Back > FHistoryCount)
        return {};
    const HistoryRow& row = FHistory[HistorySlot(Back)];
    std::vector<TTermChar> cells(row.Width);
    const uint8_t* const chars = row.Bytes.data();
    const uint8_t* run = chars + row.Used;
    const uint8_t* const unicode = run + static_cast<size_t>(row.Runs) * RunSize;
    size_t at = 0;
    for (int r = 0; r < row.Runs; ++r, run += RunSize) {
        uint16_t length = 0;
        std::memcpy(&length, run, sizeof length);
        unsigned char pen[sizeof(TTermChar)] = {};
        std::memcpy(pen + ColoursOffset, run + sizeof length, 8);
        const uint32_t attributes = run[sizeof length + 8];
        for (; length > 0; --length, ++at) {
            uint32_t word = attributes;
            if (row.HasUnicode) {
                char32_t c = 0;
                std::memcpy(&c, unicode + at * sizeof c, sizeof c);
                word |= c << CellUnicodeShift;
            }
            pen[0] = chars[at];
            std::memcpy(pen + WordOffset, &word, sizeof word);
            std::memcpy(static_cast<void*>(&cells[at]), pen, sizeof pen);
        }
    }
    return cells;
}

void TComTermBuffer::SetScrollbackLines(int Lines)
{
    Lines = std::max(Lines, 0);
    if (Lines == FHistoryLimit)
        return;
    // Into a fresh ring, oldest first, keeping the newest lines that fit.
    std::vector<HistoryRow> kept;
    const int keep = std::min(FHistoryCount, Lines);
    kept.reserve(static_cast<size_t>(keep));
    for (int back = keep; back >= 1; --back)
        kept.push_back(std::move(FHistory[HistorySlot(back)]));
    FHistory = std::move(kept);
    FHistoryFirst = 0;
    FHistoryCount = keep;
    FHistoryLimit = Lines;
}

void TComTermBuffer::ClearHistory()
{
    FHistory.clear();
    FHistory.shrink_to_fit();
    FHistoryFirst = 0;
    FHistoryCount = 0;
}

// ---- alternate screen and resize

void TComTermBuffer::SetAlternate(bool Value)
{
    if (Value == FAlternate)
        return;
    FAlternate = Value;
    std::swap(FLines, FOtherLines);
    DamageAll();
}

int TComTermBuffer::Resize(int Columns, int Rows, int KeepRow)
{
    Columns = std::clamp(Columns, 1, MaxColumns);
    Rows = std::clamp(Rows, 1, MaxGridRows);
    KeepRow = std::clamp(KeepRow, 1, std::max(FRows, 1));
    const int oldColumns = FColumns;
    // A row at the new width: cut or padded; a wide character cut in half at the new edge
    // leaves a blank.
    const auto rewidth = [&](RowBlock& Row) {
        if (Columns == oldColumns || !Row)
            return;
        RowBlock row = std::make_unique<TTermChar[]>(BlockCells(Columns));
        const TTermChar* const old = CellsOf(Row.get(), oldColumns);
        std::copy(old, old + std::min(Columns, oldColumns), row.get());
        if (Columns < oldColumns && row[static_cast<size_t>(Columns - 1)].Part == CellPart::WideLeft)
            row[static_cast<size_t>(Columns - 1)] = TTermChar();
        SetTextAt(row.get(), Columns, RowText{.Mixed = true});
        Row = std::move(row);
    };
    // Rows that leave at the top: enough to keep KeepRow, no more than the shrink.
    const int up = std::clamp(KeepRow - Rows, 0, std::max(FRows - Rows, 0));
    std::vector<RowBlock> shown, other;
    for (int y = 1; y <= FRows; ++y) {
        RowBlock& row = FLines.Rows()[y - 1];
        if (y <= up) {
            // The grid not shown loses the same rows, without a scrollback of its own.
            if (!FAlternate && FHistoryLimit > 0)
                PushHistory(row.get());
            continue;
        }
        if (y - up > Rows)
            break;
        shown.push_back(std::move(row));
        other.push_back(std::move(FOtherLines.Rows()[y - 1]));
    }
    FFree.clear();
    for (RowBlock& row : shown)
        rewidth(row);
    for (RowBlock& row : other)
        rewidth(row);
    FColumns = Columns;
    while (static_cast<int>(shown.size()) < Rows) {
        shown.push_back(NewRow());
        other.push_back(NewRow());
    }
    FLines.Assign(std::move(shown));
    FOtherLines.Assign(std::move(other));
    FRows = Rows;
    FTabs.resize(static_cast<size_t>(Columns), false);
    for (int x = oldColumns + 1; x <= Columns; ++x)
        FTabs[static_cast<size_t>(x - 1)] = (x - 1) % 8 == 0;
    FDamage.assign(static_cast<size_t>(FRows) * 3, RowSpan());
    FAnyRowDamaged = false;
    DamageAll();
    return up;
}

// ---- damage

void TComTermBuffer::DamageAll()
{
    FAllDamaged = true;
    FScrolled = 0;
}

void TComTermBuffer::ScrollDamage(int Rows)
{
    if (FAllDamaged)
        return;
    // A record that scrolls both ways, or further than the screen, is simply all damaged.
    if ((FScrolled > 0 && Rows < 0) || (FScrolled < 0 && Rows > 0) || std::abs(FScrolled + Rows) >= FRows) {
        DamageAll();
        return;
    }
    // The screen's window on the record moves with the rows. It moves one way only until the
    // record is taken, so the rows that come in meet spans not used since then.
    FScrolled += Rows;
}

TermDamage TComTermBuffer::TakeDamage()
{
    TermDamage d;
    if (FAllDamaged) {
        if (FRows > 0)
            d.Cells.emplace_back(1, 1, FColumns, FRows);
    } else {
        d.ScrolledRows = FScrolled;
        // Neighbouring rows with the same changed columns become one rectangle.
        for (int y = 1; y <= FRows; ++y) {
            const RowSpan s = DamageOf(y);
            if (s.From == 0)
                continue;
            QRect r(QPoint(s.From, y), QPoint(s.To, y));
            if (!d.Cells.empty()) {
                QRect& last = d.Cells.back();
                if (last.left() == r.left() && last.right() == r.right() && last.bottom() == y - 1) {
                    last.setBottom(y);
                    continue;
                }
            }
            d.Cells.push_back(r);
        }
    }
    std::fill(FDamage.begin(), FDamage.end(), RowSpan());
    FAnyRowDamaged = false;
    FAllDamaged = false;
    FScrolled = 0;
    return d;
}

} // namespace zentrop
