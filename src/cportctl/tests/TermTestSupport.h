// A terminal without a window for tests: a port that is open or not and records what the
// terminal writes to it, and the screen read back as text rows.
#pragma once

#include "cportctl/TermCore.h"

#include <QByteArray>
#include <string>
#include <vector>

class TestTerm : public TComTermCore {
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
