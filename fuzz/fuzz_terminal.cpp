// Fuzzes the terminal without a window under the VT100, VT52 and VT102 emulations: the first bytes choose the
// emulation, size and options (UTF-8, a small scrollback, a resize that keeps the screen half
// way), the rest is received in chunks whose sizes the input also chooses. The caret must stay
// inside the grid, and the same stream taken one byte per chunk and printed byte by byte must
// leave the same screen, caret, replies, modes and scrollback.
#include "term/TermCore.h"

#include <algorithm>
#include <cstdlib>

using namespace zentrop;

namespace {

class FuzzTerm : public ComTermCore {
public:
    QByteArray Sent;
    bool HasPort() const override { return true; }
    bool PortConnected() const override { return true; }
    // Overrides no DoChar.
    bool TextInRuns() const override { return true; }
    void WriteStr(const QByteArray& Str) override
    {
        // Replies are short; keep only enough of them to compare.
        if (Sent.size() < 65536)
            Sent += Str;
    }
};

void Configure(FuzzTerm& t, uint8_t mode, uint8_t columns, uint8_t rows)
{
    // One buffer and parser for all the settings.
    t.BeginLoading();
    static constexpr TTermEmulation emulations[] = {TTermEmulation::teVT100orANSI, TTermEmulation::teVT52,
                                                    TTermEmulation::teVT102, TTermEmulation::teVT102};
    t.SetEmulation(emulations[(mode & 1) | ((mode >> 3) & 2)]);
    t.SetWrapLines(mode & 2);
    t.SetAppendLF(mode & 4);
    t.SetForce7Bit(mode & 8);
    t.SetColumns(columns);
    t.SetRows(rows % 40);
    t.SetUtf8(mode & 32);
    // A small scrollback that is soon full, so that its ring turns.
    t.SetScrollbackLines(mode & 128 ? 5 : 100);
    t.Loaded();
}

void CheckCaret(const FuzzTerm& t)
{
    const QPoint c = t.CaretPos();
    const TComTermBuffer& b = t.Buffer();
    if (b.Columns() != t.Columns() || b.Rows() != t.Rows() || !b.Contains(c.x(), c.y()))
        std::abort();
}

// The comparison is no part of what is fuzzed: kept out of the coverage, it costs little.
__attribute__((no_sanitize("coverage"))) bool SameScreen(const FuzzTerm& a, const FuzzTerm& b)
{
    if (a.CaretPos() != b.CaretPos() || a.Sent != b.Sent || a.Columns() != b.Columns() || a.Rows() != b.Rows())
        return false;
    for (int y = 1; y <= a.Rows(); ++y) {
        const TTermChar* ra = a.Buffer().Row(y);
        const TTermChar* rb = b.Buffer().Row(y);
        for (int x = 0; x < a.Columns(); ++x)
            if (!(ra[x] == rb[x]))
                return false;
    }
    const TComTermBuffer& ha = a.Buffer();
    const TComTermBuffer& hb = b.Buffer();
    if (ha.HistoryCount() != hb.HistoryCount() || ha.HistoryAdded() != hb.HistoryAdded())
        return false;
    for (int back = 1; back <= ha.HistoryCount(); ++back) {
        const auto la = ha.HistoryLine(back), lb = hb.HistoryLine(back);
        if (!std::equal(la.begin(), la.end(), lb.begin(), lb.end()))
            return false;
    }
    return a.TermAttr() == b.TermAttr() && a.WrapLines() == b.WrapLines() && a.AppCursorKeys() == b.AppCursorKeys()
        && a.CaretVisible() == b.CaretVisible() && a.AltScreen() == b.AltScreen() && a.AppKeypad() == b.AppKeypad()
        && a.BracketedPaste() == b.BracketedPaste();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 4)
        return 0;
    FuzzTerm chunked, bytewise;
    for (FuzzTerm* t : {&chunked, &bytewise})
        Configure(*t, data[0], data[1], data[2]);
    // A handler of single bytes makes bytewise print each byte on its own, so the runs
    // chunked prints at once are checked against that.
    bytewise.OnChar = [](QObject*, char) {};
    const uint8_t chunkSeed = data[3];
    const bool resize = data[0] & 64;
    const int newColumns = data[2] % 90 + 2;
    const int newRows = data[1] % 30 + 2;
    data += 4;
    size -= 4;
    // Half way, a new size that keeps the screen; the same byte for both.
    const size_t resizeAt = resize ? size / 2 : size + 1;

    // Chunk sizes cycle through 1..64, from the seed; bytewise gets one byte at a time.
    const char* bytes = reinterpret_cast<const char*>(data);
    for (size_t at = 0, n = chunkSeed % 64 + 1; at < size; at += n, n = (n * 7 + 3) % 64 + 1) {
        if (at <= resizeAt && resizeAt < at + n) {
            // Split the chunk at the resize.
            n = resizeAt - at;
            if (n == 0) {
                chunked.Resize(newColumns, newRows);
                CheckCaret(chunked);
                n = 1;
            }
        }
        const int len = static_cast<int>(std::min(n, size - at));
        chunked.HandleRxData(nullptr, bytes + at, len);
        CheckCaret(chunked);
    }
    for (size_t at = 0; at < size; ++at) {
        if (at == resizeAt) {
            bytewise.Resize(newColumns, newRows);
            CheckCaret(bytewise);
        }
        bytewise.HandleRxData(nullptr, bytes + at, 1);
        CheckCaret(bytewise);
    }
    if (!SameScreen(chunked, bytewise))
        std::abort();
    return 0;
}
