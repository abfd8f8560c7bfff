// The terminal's parse-and-buffer throughput, without a window: received chunks of 1024
// bytes through the VT100 parser into the screen buffer, for plain text with line feeds and
// for a stream heavy with cursor moves and attribute changes. Prints MB/s (10^6 bytes) by the
// thread's own processor time, which other work on a shared machine does not dilute, and by
// the clock on the wall.
#include "cportctl/TermCore.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace {

constexpr qsizetype StreamSize = 32 << 20;

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

Rate Measure(const QByteArray& stream)
{
    Rate best;
    for (int run = 0; run < 3; ++run) {
        TComTermCore term;
        const double cpuStart = ThreadSeconds();
        const auto wallStart = std::chrono::steady_clock::now();
        for (qsizetype at = 0; at < stream.size(); at += TComTermCore::MaxChunk) {
            const int n = static_cast<int>(std::min<qsizetype>(TComTermCore::MaxChunk, stream.size() - at));
            term.HandleRxData(nullptr, stream.constData() + at, n);
            // The display takes the damage once per chunk.
            term.TakeDamage();
        }
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
        const double cpu = ThreadSeconds() - cpuStart;
        best.cpu = std::max(best.cpu, static_cast<double>(stream.size()) / cpu / 1e6);
        best.wall = std::max(best.wall, static_cast<double>(stream.size()) / wall / 1e6);
    }
    return best;
}

void Print(const char* name, const QByteArray& stream, int goal)
{
    const Rate r = Measure(stream);
    std::printf("  %-28s %8.1f MB/s of processor time, %8.1f MB/s wall clock   (goal %d)\n", name, r.cpu, r.wall, goal);
}

} // namespace

int main()
{
    std::printf("terminal parse and buffer, VT100, 80 x 24, chunks of %d bytes, best of 3 runs over %lld MB:\n",
                TComTermCore::MaxChunk, static_cast<long long>(StreamSize >> 20));
    Print("plain text with line feeds", PlainText(), 200);
    Print("cursor moves and attributes", EscapeHeavy(), 100);
    return 0;
}
