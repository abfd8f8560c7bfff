// Measures event delivery on a pseudo-terminal: the time from the other end's write to the
// link's OnRxData for one byte and for a 4 KiB burst, the sustained receive rate at a
// 4 Mbaud pace with the CPU it costs per MiB, the CPU an idle open port with every event
// in its mask uses, and how long Close takes while the other end keeps sending.
#include "cport/ComPort.h"

#include <QCoreApplication>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace zentrop;

namespace {

using Clock = std::chrono::steady_clock;

double Percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

double CpuSeconds()
{
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

const char* MethodName(TSyncMethod m)
{
    return m == TSyncMethod::smThreadSync ? "smThreadSync" : m == TSyncMethod::smWindowSync ? "smWindowSync" : "smNone";
}

// A port on the slave of a fresh pseudo-terminal pair with a link that counts what it gets.
struct Bench {
    explicit Bench(TSyncMethod Method, TComEvents Events = AllComEvents)
    {
        char name[256] = {};
        int slave = -1;
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
            std::perror("openpty");
            std::exit(1);
        }
        ::close(slave);
        method = Method;
        port.SetPort(QString::fromLocal8Bit(name));
        port.SetEvents(Events);
        port.SetSyncMethod(Method);
        link.OnRxData = [this](QObject*, const char*, int n) {
            const int64_t total = received += n;
            if (total >= expected)
                doneAt.store(Clock::now().time_since_epoch().count());
            received.notify_all();
        };
        port.AttachLink(&link);
        port.Open();
    }
    ~Bench()
    {
        port.Close();
        port.DetachLink(&link);
        ::close(master);
    }

    // Waits until Total bytes have reached the link; serves delivery on the owning thread
    // meanwhile.
    void WaitFor(int64_t Total)
    {
        while (received < Total) {
            if (method != TSyncMethod::smNone)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            else
                received.wait(received.load());
        }
    }

    int master = -1;
    TSyncMethod method;
    std::atomic<int64_t> received{0};
    std::atomic<int64_t> expected{0};
    std::atomic<Clock::rep> doneAt{0};
    TComLink link;
    TComPort port;
};

void Latency(TSyncMethod Method, int Size, int Samples)
{
    Bench b(Method);
    const std::vector<char> bytes(size_t(Size), 'x');
    std::vector<double> us;
    for (int i = 0; i < Samples; ++i) {
        b.expected = b.received + Size;
        const auto start = Clock::now();
        if (!WriteAll(b.master, bytes.data(), bytes.size()))
            std::exit(1);
        b.WaitFor(b.expected);
        const Clock::time_point end{Clock::duration(b.doneAt.load())};
        us.push_back(std::chrono::duration<double, std::micro>(end - start).count());
        ::usleep(200);
    }
    std::printf("  %-12s %5d bytes: median %7.1f us, 99th percentile %7.1f us (%d samples)\n",
                MethodName(Method), Size, Percentile(us, 0.5), Percentile(us, 0.99), Samples);
}

// A child process plays the other end, so that only the receiving side's CPU is counted.
void Rate(int MiB, bool Paced)
{
    Bench b(TSyncMethod::smThreadSync);
    const int64_t total = int64_t(MiB) << 20;
    b.expected = total;
    constexpr int kChunk = 4096;
    // 4 Mbaud with start and stop bits carries 400 000 bytes a second.
    constexpr double kBytesPerSecond = 4000000.0 / 10.0;
    // Made before the fork: the child of a threaded process must not allocate.
    const std::vector<char> chunk(kChunk, 'r');
    const double cpu0 = CpuSeconds();
    const auto start = Clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        timespec next{};
        ::clock_gettime(CLOCK_MONOTONIC, &next);
        for (int64_t sent = 0; sent < total; sent += kChunk) {
            if (Paced) {
                const long step = long(kChunk / kBytesPerSecond * 1e9);
                next.tv_nsec += step;
                while (next.tv_nsec >= 1000000000) {
                    next.tv_nsec -= 1000000000;
                    ++next.tv_sec;
                }
                ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
            }
            if (!WriteAll(b.master, chunk.data(), chunk.size()))
                ::_exit(1);
        }
        ::_exit(0);
    }
    b.WaitFor(total);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = CpuSeconds() - cpu0;
    int status = 0;
    ::waitpid(child, &status, 0);
    std::printf("  %-22s %d MiB in %.2f s: %.0f KiB/s, receiving CPU %.1f ms per MiB (%.1f %% of a core)\n",
                Paced ? "paced at 4 Mbaud" : "as fast as it comes", MiB, seconds,
                double(total) / 1024 / seconds, cpu * 1000 / MiB, cpu / seconds * 100);
}

// CPU of the whole process while a port waits; with Queued, bytes nobody reads are left in
// the input queue. Left in the driver's queue, they make the wait look at the line at its
// interval instead of sleeping; taken into the device's inbox while the event character is
// watched, they do not.
void Idle(int Seconds, bool Queued, TComEvents Events, const char* Label)
{
    Bench b(TSyncMethod::smThreadSync, Events);
    if (Queued) {
        // Attached again without its data slot, the link no longer asks for the bytes.
        b.port.DetachLink(&b.link);
        b.link.OnRxData = nullptr;
        b.port.AttachLink(&b.link);
        WriteAll(b.master, "unread", 6);
        QTimer::singleShot(200, [] { QCoreApplication::exit(); });
        QCoreApplication::exec();
    }
    const double cpu0 = CpuSeconds();
    const auto start = Clock::now();
    QTimer::singleShot(Seconds * 1000, [] { QCoreApplication::exit(); });
    QCoreApplication::exec();
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = CpuSeconds() - cpu0;
    std::printf("  %-42s %.0f s: CPU %.3f ms, %.4f %% of one core\n",
                Label, seconds, cpu * 1000,
                cpu / seconds * 100);
}

// The other end sends a byte every 200 us to a link that takes 1 ms for each delivery; once
// deliveries flow, Close is timed and the deliveries that still ran inside it counted.
void CloseUnderTraffic(TSyncMethod Method, int Trials)
{
    std::vector<double> ms;
    int most = 0;
    for (int i = 0; i < Trials; ++i) {
        Bench b(Method);
        std::atomic<bool> closing{false};
        std::atomic<int> inside{0};
        b.link.OnRxData = [&](QObject*, const char*, int n) {
            inside += closing ? 1 : 0;
            b.received += n;
            b.received.notify_all();
            ::usleep(1000);
        };
        std::jthread peer([&](std::stop_token stop) {
            while (!stop.stop_requested() && WriteAll(b.master, "x", 1))
                ::usleep(200);
        });
        b.WaitFor(50);
        const auto start = Clock::now();
        closing = true;
        b.port.Close();
        ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        most = std::max(most, inside.load());
    }
    std::printf("  %-12s median %6.2f ms, longest %6.2f ms, at most %d deliveries inside Close (%d trials)\n",
                MethodName(Method), Percentile(ms, 0.5), Percentile(ms, 1.0), most, Trials);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int samples = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int mib = argc > 2 ? std::atoi(argv[2]) : 4;
    const int idleSeconds = argc > 3 ? std::atoi(argv[3]) : 10;
    if (samples < 1 || mib < 1 || idleSeconds < 1) {
        std::fprintf(stderr, "usage: bench_events [latency samples] [MiB for the rate] [idle seconds]\n");
        return 2;
    }
    try {
        std::printf("event delivery, other end's write to the link's OnRxData:\n");
        for (TSyncMethod m : {TSyncMethod::smThreadSync, TSyncMethod::smNone})
            for (int size : {1, 4096})
                Latency(m, size, samples);
        std::printf("sustained receive (smThreadSync, one link):\n");
        Rate(mib, true);
        Rate(mib * 4, false);
        std::printf("idle open port, every event in its mask but where said:\n");
        Idle(idleSeconds, false, AllComEvents, "nothing queued");
        Idle(idleSeconds, true, AllComEvents, "unread bytes held in the inbox");
        Idle(idleSeconds, true, AllComEvents - TComEvents{TComEvent::evRxFlag},
             "unread in the driver queue, without evRxFlag");
        std::printf("Close while the other end sends a byte every 200 us, 1 ms per delivery:\n");
        for (TSyncMethod m : {TSyncMethod::smThreadSync, TSyncMethod::smWindowSync, TSyncMethod::smNone})
            CloseUnderTraffic(m, 20);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
