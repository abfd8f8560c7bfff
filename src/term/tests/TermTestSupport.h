// A terminal without a window for tests: a port that is open or not and records what the
// terminal writes to it, and the screen read back as text rows.
#pragma once

#include "term/TermCore.h"

#include <QByteArray>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace zentrop;

class TestTerm : public ComTermCore {
public:
    explicit TestTerm(TTermEmulation Emulation = TTermEmulation::teVT100orANSI, int Columns = 10, int Rows = 4)
    {
        SetEmulation(Emulation);
        SetColumns(Columns);
        SetRows(Rows);
    }

    bool Port = false;        // a port is set
    bool Open = false;        // and open
    QByteArray Sent;
    int Damaged = 0;          // display notifications

    bool HasPort() const override { return Port; }
    bool PortConnected() const override { return Port && Open; }
    void WriteStr(const QByteArray& Str) override { Sent += Str; }
    // Overrides no DoChar.
    bool TextInRuns() const override { return true; }

    void Receive(const QByteArray& Bytes) { HandleRxData(nullptr, Bytes.constData(), static_cast<int>(Bytes.size())); }

    // Each row with empty cells as blanks and trailing blanks removed; trailing empty rows
    // are dropped.
    std::vector<std::string> Screen() const
    {
        std::vector<std::string> rows;
        for (int y = 1; y <= Buffer().Rows(); ++y) {
            std::string row;
            for (int x = 1; x <= Buffer().Columns(); ++x) {
                const uint8_t ch = Buffer().GetChar(x, y).Ch;
                row += ch ? static_cast<char>(ch) : ' ';
            }
            row.erase(row.find_last_not_of(' ') + 1);
            rows.push_back(row);
        }
        while (!rows.empty() && rows.back().empty())
            rows.pop_back();
        return rows;
    }

protected:
    void DisplayDamaged() override { ++Damaged; }
};

// A table row: bytes in, rows and caret and replies out, taken whole and one byte per chunk.
struct ScreenCase {
    const char* name;
    QByteArray in;
    std::vector<std::string> screen;
    QPoint caret;
    QByteArray sent = {};
    TTermEmulation emulation = TTermEmulation::teVT100orANSI;
    bool wrap = false;
};

class ScreenTable : public testing::TestWithParam<ScreenCase> {
protected:
    static void Check(const ScreenCase& c, bool split)
    {
        TestTerm t(c.emulation);
        t.Port = t.Open = true;
        t.SetWrapLines(c.wrap);
        if (split) {
            for (const char b : c.in)
                t.Receive(QByteArray(1, b));
        } else {
            t.Receive(c.in);
        }
        const char* how = split ? "one byte per chunk" : "one chunk";
        EXPECT_EQ(t.Screen(), c.screen) << how;
        EXPECT_EQ(t.CaretPos(), c.caret) << how;
        EXPECT_EQ(t.Sent, c.sent) << how;
    }
};
