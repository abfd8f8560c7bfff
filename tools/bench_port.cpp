// Measures the serial port engine on a pseudo-terminal: how closely a one-byte read that
// gets no answer keeps its 510 ms time-out, and the round trip of one byte written and one
// byte answered by a thread on the other end.
#include "cport/ComPort.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <poll.h>
#include <pty.h>
#include <stop_token>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace zentrop;

namespace {

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double Percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

// Answers every byte that arrives on the master with the next byte value.
void Answer(std::stop_token stop, int master)
{
    while (!stop.stop_requested()) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        unsigned char b = 0;
        if (::read(master, &b, 1) != 1)
            return;
        b = static_cast<unsigned char>(b + 1);
        if (::write(master, &b, 1) != 1)
            return;
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int timeoutRuns = argc > 1 ? std::atoi(argv[1]) : 20;
    const int roundTrips = argc > 2 ? std::atoi(argv[2]) : 2000;
    if (timeoutRuns < 1 || roundTrips < 1) {
        std::fprintf(stderr, "usage: bench_port [time-out runs] [round trips]\n");
        return 2;
    }

    int master = -1;
    int slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return 1;
    }
    ::close(slave);
    // Closed on every way out, after the answerer that reads it has been joined.
    const std::unique_ptr<int, void (*)(int*)> masterGuard(&master, [](int* fd) { ::close(*fd); });

    TComPort port;
    port.SetPort(QString::fromLocal8Bit(name));
    port.SetEvents({});
    port.SetSyncMethod(TSyncMethod::smDisableEvents);
    port.SetBaudRate(TBaudRate::br115200);
    port.Timeouts()->SetReadInterval(10);
    port.Timeouts()->SetReadTotalMultiplier(10);
    port.Timeouts()->SetReadTotalConstant(500);
    try {
        port.Open();
        port.PurgeBuffers(true, true);

        std::vector<double> timeouts;
        for (int i = 0; i < timeoutRuns; ++i) {
            unsigned char b = 0;
            const auto start = Clock::now();
            const int got = port.Read(&b, 1);
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            if (got != 0 || b != 0xFF) {
                std::fprintf(stderr, "unexpected byte during the time-out runs\n");
                return 1;
            }
            timeouts.push_back(ms);
        }
        const double median = Median(timeouts);
        const double worst = *std::max_element(timeouts.begin(), timeouts.end());
        std::printf("one-byte read time-out (10/10/500, goal 510 ms), %d runs: median %.2f ms, "
                    "max %.2f ms (max %.2f ms over 510)\n",
                    timeoutRuns, median, worst, worst - 510.0);

        // Stopped and joined when it goes out of scope, also when a round trip raises.
        std::jthread answerer(Answer, master);
        std::vector<double> trips;
        trips.reserve(size_t(roundTrips));
        unsigned char out = 0;
        for (int i = 0; i < roundTrips; ++i, ++out) {
            unsigned char in = 0;
            const auto start = Clock::now();
            port.Write(&out, 1);
            const int got = port.Read(&in, 1);
            const double us = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
            if (got != 1 || in != static_cast<unsigned char>(out + 1)) {
                std::fprintf(stderr, "round trip %d: wrong or missing answer\n", i);
                return 1;
            }
            trips.push_back(us);
        }
        std::printf("one-byte round trip, %d runs: median %.1f us, 99th percentile %.1f us, "
                    "max %.1f us\n",
                    roundTrips, Median(trips), Percentile(trips, 0.99),
                    *std::max_element(trips.begin(), trips.end()));
        port.Close();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
