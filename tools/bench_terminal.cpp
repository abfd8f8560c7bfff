// The terminal's parse-and-buffer throughput, without a window: received chunks of 1024
// bytes through each emulation's parser into the screen buffer (with the default scrollback,
// and for plain text also without one, or with every damaged row read after each chunk), for
// plain text with line feeds and for a stream heavy with cursor moves and attribute changes;
// then recorded output of real
// programs through the VT102 emulation and, on the same bytes in the same run, through a
// reference terminal library. Prints MB/s (10^6 bytes) by the thread's own processor time,
// which other work on a shared machine does not dilute, and by the clock on the wall.
#include "term/TermCore.h"

#ifdef ZENTROP_HAVE_VTERM
#include <vterm.h>
#endif

#include <QDir>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <malloc.h>

using namespace zentrop;

namespace {

// Set from the command line: a small stream and one run suit an instruction counter.
qsizetype StreamSize = 32 << 20;
int Runs = 3;
const char* Only = nullptr;   // only the streams whose name holds this text
// What reading the cells saw: kept, so that the compiler cannot leave the reads out.
volatile unsigned Painted = 0;

// Lines of 70 printable characters, each closed by CR LF: the screen scrolls every line.
QByteArray PlainText()
{
    QByteArray s;
    s.reserve(StreamSize + 128);
    for (int line = 0; s.size() < StreamSize; ++line) {
        for (int i = 0; i < 70; ++i)
            s.append(static_cast<char>(' ' + 1 + (line + i) % 94));
        s.append("\r\n");
    }
    return s;
}

// What a full-screen program sends: a cursor move, an attribute change, a few characters,
// attributes reset, an erase to the end of the line now and then.
QByteArray EscapeHeavy()
{
    QByteArray s;
    s.reserve(StreamSize + 128);
    static const char* const attrs[] = {"\x1b[1m", "\x1b[7m", "\x1b[4m", "\x1b[1;7m", "\x1b[0m"};
    for (int i = 0; s.size() < StreamSize; ++i) {
        s.append("\x1b[");
        s.append(QByteArray::number(i % 24 + 1));
        s.append(';');
        s.append(QByteArray::number(i * 7 % 80 + 1));
        s.append('H');
        s.append(attrs[i % 5]);
        s.append("ab12");
        s.append("\x1b[m");
        if (i % 8 == 0)
            s.append("\x1b[K");
    }
    return s;
}

double ThreadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

struct Rate {
    double cpu = 0;     // MB per second of the thread's processor time
    double wall = 0;    // MB per second on the wall clock
};

// Recorded program output, repeated to the stream's size.
QByteArray Recorded()
{
    QByteArray one;
    const QDir dir(QStringLiteral(ZENTROP_CAPTURES_DIR));
    for (const QString& name : dir.entryList({QStringLiteral("*.vt")}, QDir::Files, QDir::Name)) {
        QFile f(dir.filePath(name));
        if (f.open(QIODevice::ReadOnly))
            one += f.readAll();
    }
    QByteArray s;
    if (one.isEmpty())
        return s;
    s.reserve(StreamSize + one.size());
    while (s.size() < StreamSize)
        s += one;
    return s;
}

// Reads the cells of every damaged row, as a display painting them would.
unsigned ReadDamaged(const ComTermCore& term, const TermDamage& damage)
{
    unsigned sum = 0;
    for (const QRect& r : damage.Cells)
        for (int y = r.top(); y <= r.bottom(); ++y) {
            const TTermChar* const row = term.Buffer().Row(y);
            for (int x = r.left(); x <= r.right(); ++x)
                sum += row[x - 1].Ch;
        }
    return sum;
}

Rate Measure(const QByteArray& stream, TTermEmulation emulation, int scrollback, bool read = false, int runs = Runs)
{
    Rate best;
    for (int run = 0; run < runs; ++run) {
        ComTermCore term;
        term.SetScrollbackLines(scrollback);
        term.SetEmulation(emulation);
        term.SetWrapLines(emulation == TTermEmulation::teVT102);
        const double cpuStart = ThreadSeconds();
        const auto wallStart = std::chrono::steady_clock::now();
        for (qsizetype at = 0; at < stream.size(); at += ComTermCore::MaxChunk) {
            const int n = static_cast<int>(std::min<qsizetype>(ComTermCore::MaxChunk, stream.size() - at));
            term.HandleRxData(nullptr, stream.constData() + at, n);
            // The display takes the damage once per chunk; reading it, it reads the cells.
            const TermDamage damage = term.TakeDamage();
            if (read)
                Painted = Painted + ReadDamaged(term, damage);
        }
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        const double cpu = ThreadSeconds() - cpuStart;
        best.cpu = std::max(best.cpu, static_cast<double>(stream.size()) / cpu / 1e6);
        best.wall = std::max(best.wall, static_cast<double>(stream.size()) / wall / 1e6);
    }
    return best;
}

#ifdef ZENTROP_HAVE_VTERM
// The reference library on the same chunks, its screen kept as the terminal's is.
Rate MeasureReference(const QByteArray& stream, int runs)
{
    Rate best;
    for (int run = 0; run < runs; ++run) {
        VTerm* vt = vterm_new(24, 80);
        vterm_set_utf8(vt, 0);
        VTermScreen* screen = vterm_obtain_screen(vt);
        vterm_screen_reset(screen, 1);
        const double cpuStart = ThreadSeconds();
        const auto wallStart = std::chrono::steady_clock::now();
        for (qsizetype at = 0; at < stream.size(); at += ComTermCore::MaxChunk) {
            const size_t n = static_cast<size_t>(std::min<qsizetype>(ComTermCore::MaxChunk, stream.size() - at));
            vterm_input_write(vt, stream.constData() + at, n);
        }
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        const double cpu = ThreadSeconds() - cpuStart;
        vterm_free(vt);
        best.cpu = std::max(best.cpu, static_cast<double>(stream.size()) / cpu / 1e6);
        best.wall = std::max(best.wall, static_cast<double>(stream.size()) / wall / 1e6);
    }
    return best;
}
#endif

void PrintRate(const char* name, const Rate& r, int goal)
{
    std::printf("  %-34s %8.1f MB/s of processor time, %8.1f MB/s wall clock   (goal %d)\n", name, r.cpu, r.wall, goal);
}

Rate Print(const char* name, const QByteArray& stream, TTermEmulation emulation, int goal,
           int scrollback = TComTermBuffer::DefaultScrollbackLines, bool read = false)
{
    if (Only && !std::strstr(name, Only))
        return {};
    const Rate r = Measure(stream, emulation, scrollback, read);
    PrintRate(name, r, goal);
    return r;
}

// The heap a full default scrollback of the plain text's lines takes.
double ScrollbackMegabytes(const QByteArray& stream)
{
    const size_t before = mallinfo2().uordblks;
    ComTermCore term;
    term.SetEmulation(TTermEmulation::teVT102);
    const qsizetype lines = TComTermBuffer::DefaultScrollbackLines + 100;
    for (qsizetype at = 0; at < std::min<qsizetype>(stream.size(), lines * 72); at += ComTermCore::MaxChunk)
        term.HandleRxData(nullptr, stream.constData() + at, static_cast<int>(std::min<qsizetype>(ComTermCore::MaxChunk, stream.size() - at)));
    return static_cast<double>(mallinfo2().uordblks - before) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    // bench_terminal [MB [runs [name part]]]
    if (argc > 1)
        StreamSize = static_cast<qsizetype>(std::clamp(std::atoi(argv[1]), 1, 1024)) << 20;
    if (argc > 2)
        Runs = std::clamp(std::atoi(argv[2]), 1, 100);
    if (argc > 3)
        Only = argv[3];
    std::printf("terminal parse and buffer, 80 x 24, chunks of %d bytes, best of %d runs over %lld MB:\n",
                ComTermCore::MaxChunk, Runs, static_cast<long long>(StreamSize >> 20));
    const QByteArray plain = PlainText();
    const QByteArray heavy = EscapeHeavy();
    Print("VT100 plain text with line feeds", plain, TTermEmulation::teVT100orANSI, 800);
    Print("VT100 cursor moves and attributes", heavy, TTermEmulation::teVT100orANSI, 250);
    Print("VT52 plain text with line feeds", plain, TTermEmulation::teVT52, 800);
    Print("VT102 plain text with line feeds", plain, TTermEmulation::teVT102, 800);
    // What keeping every line that scrolls off costs.
    Print("VT100 plain text, no scrollback", plain, TTermEmulation::teVT100orANSI, 800, 0);
    Print("VT102 plain text, no scrollback", plain, TTermEmulation::teVT102, 800, 0);
    Print("VT102 cursor moves and attributes", heavy, TTermEmulation::teVT102, 250);
    // Rows of plain text get their cells when they are read: what a display that reads every
    // damaged row after every chunk (far more often than one frame a chunk) adds to that.
    Print("VT102 plain text, read every chunk", plain, TTermEmulation::teVT102, 0,
          TComTermBuffer::DefaultScrollbackLines, true);
    if (!Only)
        std::printf("  heap of a full scrollback (%d lines of 70 characters): %.1f MB\n",
                    TComTermBuffer::DefaultScrollbackLines, ScrollbackMegabytes(plain));
    const QByteArray recorded = Recorded();
    if (recorded.isEmpty())
        return 0;
#ifdef ZENTROP_HAVE_VTERM
    if (Only && !std::strstr("VT102 recorded programs' output, reference library", Only))
        return 0;
    // The two in turns, a run each, so that both meet the machine as it is at the time: on a
    // shared machine the ratio is the figure that holds.
    Rate ours, reference;
    for (int run = 0; run < Runs; ++run) {
        const Rate o = Measure(recorded, TTermEmulation::teVT102, TComTermBuffer::DefaultScrollbackLines, false, 1);
        const Rate r = MeasureReference(recorded, 1);
        ours = {std::max(ours.cpu, o.cpu), std::max(ours.wall, o.wall)};
        reference = {std::max(reference.cpu, r.cpu), std::max(reference.wall, r.wall)};
    }
    PrintRate("VT102 recorded programs' output", ours, 0);
    std::printf("  %-34s %8.1f MB/s of processor time, %8.1f MB/s wall clock\n", "reference library, same bytes",
                reference.cpu, reference.wall);
    std::printf("  VT102 against the reference: %.1f times by processor time (goal 4)\n", ours.cpu / reference.cpu);
#else
    Print("VT102 recorded programs' output", recorded, TTermEmulation::teVT102, 0);
#endif
    return 0;
}
