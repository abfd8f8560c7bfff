// The cell grid, its tab stops and its damage record.
#include "TermBuffer.h"

#include <algorithm>
#include <cstdlib>

void TComTermBuffer::Init(int Columns, int Rows)
{
    FColumns = std::clamp(Columns, 1, MaxColumns);
    FRows = std::clamp(Rows, 1, MaxRows);
    FOrigin = 0;
    FCells.assign(static_cast<size_t>(FColumns) * static_cast<size_t>(FRows), TTermChar());
    FTabs.assign(static_cast<size_t>(FColumns), false);
    for (int x = 1; x <= FColumns; x += 8)
        FTabs[static_cast<size_t>(x - 1)] = true;
    FDamage.assign(static_cast<size_t>(FRows), RowSpan());
    DamageAll();
}

TTermChar TComTermBuffer::GetChar(int Column, int Row) const
{
    return Contains(Column, Row) ? RowCells(Row)[Column - 1] : TTermChar();
}

void TComTermBuffer::ClearRow(int Row, int FromColumn)
{
    TTermChar* cells = RowCells(Row);
    std::fill(cells + FromColumn - 1, cells + FColumns, TTermChar());
    Damage(FromColumn, FColumns, Row);
}

void TComTermBuffer::ScrollUp()
{
    if (FRows == 0)
        return;
    FOrigin = FOrigin + 1 == FRows ? 0 : FOrigin + 1;
    ScrollDamage(1);
    ClearRow(FRows, 1);
}

void TComTermBuffer::ScrollDown()
{
    if (FRows == 0)
        return;
    FOrigin = FOrigin == 0 ? FRows - 1 : FOrigin - 1;
    ScrollDamage(-1);
    ClearRow(1, 1);
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
    std::fill(FCells.begin(), FCells.end(), Cell);
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
    FScrolled += Rows;
    if (!FAnyRowDamaged)
        return;
    if (Rows > 0)
        std::move(FDamage.begin() + 1, FDamage.end(), FDamage.begin());
    else
        std::move_backward(FDamage.begin(), FDamage.end() - 1, FDamage.end());
    FDamage[Rows > 0 ? FDamage.size() - 1 : 0] = RowSpan();
}

TTermDamage TComTermBuffer::TakeDamage()
{
    TTermDamage d;
    if (FAllDamaged) {
        if (FRows > 0)
            d.Cells.emplace_back(1, 1, FColumns, FRows);
    } else {
        d.ScrolledRows = FScrolled;
        // Neighbouring rows with the same changed columns become one rectangle.
        for (int y = 1; y <= FRows; ++y) {
            const RowSpan s = FDamage[static_cast<size_t>(y - 1)];
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
