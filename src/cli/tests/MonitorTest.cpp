// zentrop-cli monitor as a user sees it: the program runs on a pseudo-terminal as its own
// terminal, the device sits on another. Every byte value both ways, the log, the exit key,
// the terminal put back after signals, a device that goes away and comes back under the same
// name, "flash --monitor" showing the application's first bytes, time stamps on every
// visible line whatever the line ends, the hex display under the maps, the log appended to,
// the modem lines in the menu, another exit key, and a busy port's holder named.
#include "testsupport/UpgradeFileBuilder.h"
#include "testsupport/BootSim.h"
#include "testsupport/Ser2netServer.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace zentrop;

namespace {

constexpr int kWaitMs = 10000;

// Reads what Fd gives until Done says so or the time is up.
QByteArray ReadUntil(int fd, const std::function<bool(const QByteArray&)>& done, int timeoutMs = kWaitMs)
{
    QByteArray got;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done(got) && std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10) == 1 && (p.revents & POLLIN)) {
            char buf[4096];
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0)
                got.append(buf, n);
        }
    }
    return got;
}

QByteArray ReadCount(int fd, qsizetype count, int timeoutMs = kWaitMs)
{
    return ReadUntil(fd, [count](const QByteArray& got) { return got.size() >= count; }, timeoutMs);
}

// A pseudo-terminal: the device's end (master) and the path of the end the program opens.
struct Pty {
    int master = -1;
    int slave = -1;
    QString path;

    explicit Pty(bool keepSlave = false)
    {
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return;
        path = QString::fromLocal8Bit(name);
        if (!keepSlave) {
            ::close(slave);
            slave = -1;
        }
    }
    ~Pty() { Close(); }
    void Close()
    {
        for (int* fd : {&master, &slave})
            if (*fd >= 0)
                ::close(*fd);
        master = slave = -1;
    }
    void Write(const QByteArray& bytes) const { ASSERT_EQ(::write(master, bytes.constData(), bytes.size()), bytes.size()); }
};

// zentrop-cli as a shell runs a job: in a process group of its own in the foreground of a
// pseudo-terminal that is its terminal, standard input and output. A small session leader
// stands for the shell and passes the job's end on as its own. Standard error goes to a pipe,
// so the screen holds only the device's bytes.
class Program {
public:
    explicit Program(const QStringList& args) : term(true)
    {
        int err[2], id[2];
        if (::pipe2(err, O_CLOEXEC) != 0 || ::pipe2(id, O_CLOEXEC) != 0)
            return;
        std::vector<std::string> words{ZENTROP_CLI};
        for (const QString& a : args)
            words.push_back(a.toStdString());
        std::vector<char*> argv;
        for (std::string& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        pid = ::fork();
        if (pid == 0) {
            ::setsid();
            ::ioctl(term.slave, TIOCSCTTY, 0);
            const pid_t job = ::fork();
            if (job == 0) {
                ::setpgid(0, 0);
                sigset_t ttou;
                sigemptyset(&ttou);
                sigaddset(&ttou, SIGTTOU);
                ::sigprocmask(SIG_BLOCK, &ttou, nullptr);
                ::tcsetpgrp(term.slave, ::getpid());
                ::sigprocmask(SIG_UNBLOCK, &ttou, nullptr);
                ::dup2(term.slave, 0);
                ::dup2(term.slave, 1);
                ::dup2(err[1], 2);
                // The devices' ends stay with the test alone: closing one must hang it up.
                ::close_range(3, ~0U, 0);
                ::execv(argv[0], argv.data());
                ::_exit(127);
            }
            ::setpgid(job, job);
            (void)!::write(id[1], &job, sizeof job);
            ::close_range(3, ~0U, 0);
            int status = 0;
            while (::waitpid(job, &status, 0) < 0 && errno == EINTR) {
            }
            if (WIFSIGNALED(status)) {
                ::signal(WTERMSIG(status), SIG_DFL);
                ::raise(WTERMSIG(status));
            }
            ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 127);
        }
        ::close(err[1]);
        ::close(id[1]);
        errFd = err[0];
        if (::read(id[0], &job, sizeof job) != sizeof job)
            job = -1;
        ::close(id[0]);
    }
    ~Program()
    {
        if (pid > 0 && !exited) {
            ::kill(job, SIGKILL);
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        if (errFd >= 0)
            ::close(errFd);
    }

    // The job is stopped (state T in its process record).
    bool Stopped() const
    {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(job));
        if (!stat.open(QIODevice::ReadOnly))
            return false;
        const QByteArray line = stat.readAll();
        const qsizetype end = line.lastIndexOf(')');
        return end > 0 && line.mid(end + 2, 1) == "T";
    }

    // Waits until standard error has shown Text.
    bool ErrorShows(const QString& text)
    {
        err += ReadUntil(errFd, [this, &text](const QByteArray& more) { return (err + more).contains(text.toUtf8()); });
        return err.contains(text.toUtf8());
    }
    void Type(const QByteArray& keys) const { term.Write(keys); }
    QByteArray Screen(qsizetype count) const { return ReadCount(term.master, count); }
    termios Mode() const
    {
        termios t{};
        ::tcgetattr(term.slave, &t);
        return t;
    }
    // The raw wait status, or -1 when the program has not ended in time.
    int Wait(int timeoutMs = kWaitMs)
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < end) {
            int status = 0;
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                exited = true;
                return status;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }
    int ExitCode(int timeoutMs = kWaitMs)
    {
        const int status = Wait(timeoutMs);
        return status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    Pty term;
    pid_t pid = -1;   // the session leader
    pid_t job = -1;   // the program
    int errFd = -1;
    QByteArray err;
    bool exited = false;
};

QByteArray AllByteValues()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(static_cast<char>(i));
    return bytes;
}

bool SameMode(const termios& a, const termios& b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_lflag == b.c_lflag && a.c_cflag == b.c_cflag;
}

constexpr char kExit = 0x1D;
constexpr char kMenu = 0x14;

class MonitorTest : public testing::Test {
protected:
    QTemporaryDir dir;
};

} // namespace

TEST_F(MonitorTest, EveryByteBothWaysTheLogAndTheExitKey)
{
    Pty dev;
    const QString log = dir.filePath("received.log");
    Program p({"monitor", "--port", dev.path, "--log", log});
    const termios before = p.Mode();
    ASSERT_TRUE(p.ErrorShows("exit with Ctrl-]")) << p.err.constData();
    EXPECT_FALSE(p.Mode().c_lflag & (ICANON | ECHO | ISIG));

    const QByteArray all = AllByteValues();
    dev.Write(all);
    EXPECT_EQ(p.Screen(256), all);

    // The exit and menu keys reach the device through the menu.
    QByteArray keys;
    for (char c : all) {
        if (c == kExit || c == kMenu)
            keys += kMenu;
        keys += c;
    }
    p.Type(keys);
    EXPECT_EQ(ReadCount(dev.master, 256), all);

    p.Type(QByteArray(1, kExit));
    EXPECT_EQ(p.ExitCode(), 0);
    EXPECT_TRUE(SameMode(p.Mode(), before));
    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), all);
}

TEST_F(MonitorTest, EverySignalPutsTheTerminalBack)
{
    struct Case {
        int sig;
        int exitCode;  // -1: ended by the signal itself
    };
    for (const Case c : {Case{SIGTERM, 130}, Case{SIGHUP, 130}, Case{SIGINT, 130}, Case{SIGQUIT, -1}, Case{SIGTSTP, 130}}) {
        SCOPED_TRACE(c.sig);
        Pty dev;
        Program p({"monitor", "--port", dev.path});
        const termios before = p.Mode();
        ASSERT_TRUE(p.ErrorShows("exit with Ctrl-]"));
        ASSERT_FALSE(SameMode(p.Mode(), before));
        ::kill(p.job, c.sig);
        if (c.sig == SIGTSTP) {
            // Stopped with the shell's terminal as it was; raw again when continued.
            for (int i = 0; i < 500 && !p.Stopped(); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ASSERT_TRUE(p.Stopped());
            EXPECT_TRUE(SameMode(p.Mode(), before));
            ::kill(p.job, SIGCONT);
            for (int i = 0; i < 200 && SameMode(p.Mode(), before); ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            EXPECT_FALSE(SameMode(p.Mode(), before));
            ::kill(p.job, SIGTERM);
        }
        const int status = p.Wait();
        if (c.exitCode >= 0)
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.exitCode) << status;
        else
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == c.sig) << status;
        EXPECT_TRUE(SameMode(p.Mode(), before));
    }
}

TEST_F(MonitorTest, ReconnectsWhenTheSameNameComesBack)
{
    auto first = std::make_unique<Pty>();
    const QString link = dir.filePath("by-id-adapter");
    ASSERT_TRUE(QFile::link(first->path, link));
    Program p({"monitor", "--port", link, "--reconnect"});
    ASSERT_TRUE(p.ErrorShows("exit with Ctrl-]"));

    first->Close();
    ASSERT_TRUE(p.ErrorShows("went away")) << p.err.constData();
    p.Type("lost");
    ASSERT_TRUE(p.ErrorShows("not sent"));

    Pty second;
    const QString next = link + ".new";
    ASSERT_TRUE(QFile::link(second.path, next));
    ASSERT_EQ(::rename(QFile::encodeName(next).constData(), QFile::encodeName(link).constData()), 0);
    ASSERT_TRUE(p.ErrorShows("is back")) << p.err.constData();
    EXPECT_EQ(ReadCount(second.master, 1, 300), QByteArray());
    p.Type("ok");
    EXPECT_EQ(ReadCount(second.master, 2), QByteArray("ok"));
    second.Write("back");
    EXPECT_EQ(p.Screen(4), QByteArray("back"));
    p.Type(QByteArray(1, kExit));
    EXPECT_EQ(p.ExitCode(), 0);
}

// A server that takes every new connection and drops it at once keeps the device away: one
// outage, told once, and never "back"; the port is tried again on time while keys keep coming.
TEST_F(MonitorTest, AnOutageIsToldOnceHoweverOftenTheServerDropsTheConnection)
{
    int serverPort = 0;
    const UniqueFd listening = ser2net::ListenOnLoopback(&serverPort);
    ASSERT_TRUE(listening);
    const int listener = listening.Get();
    std::atomic<bool> dropFirst{false}, stop{false};
    std::atomic<int> accepted{0};
    std::thread server([&] {
        const int first = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        ++accepted;
        while (!dropFirst)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ::close(first);
        while (!stop) {
            pollfd p{listener, POLLIN, 0};
            if (::poll(&p, 1, 20) == 1) {
                ::close(::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC));
                ++accepted;
            }
        }
    });
    Program p({"monitor", "--port", QStringLiteral("socket://127.0.0.1:%1").arg(serverPort), "--reconnect"});
    ASSERT_TRUE(p.ErrorShows("exit with Ctrl-]")) << p.err.constData();
    dropFirst = true;
    ASSERT_TRUE(p.ErrorShows("went away")) << p.err.constData();
    for (int i = 0; i < 2000 && accepted < 6; ++i) {
        p.Type("x");
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_GE(accepted, 6);
    p.Type(QByteArray(1, kExit));
    EXPECT_EQ(p.ExitCode(), 0);
    p.err += ReadUntil(p.errFd, [](const QByteArray&) { return false; }, 200);
    EXPECT_EQ(p.err.count("went away"), 1) << p.err.constData();
    EXPECT_FALSE(p.err.contains("is back")) << p.err.constData();
    stop = true;
    server.join();
}

TEST_F(MonitorTest, WithoutReconnectADeviceThatGoesAwayEndsTheMonitor)
{
    Pty dev;
    Program p({"monitor", "--port", dev.path});
    ASSERT_TRUE(p.ErrorShows("exit with Ctrl-]"));
    dev.Close();
    EXPECT_EQ(p.ExitCode(), 4);
}

TEST_F(MonitorTest, FlashMonitorShowsTheApplicationsFirstBytes)
{
    bootsim::SimOptions o;
    o.Device.FlashPageSize = 16;
    o.Device.AppBanner = "application 1.0 ready\r\n";
    bootsim::Simulator sim(o);
    const QString path = sim.Open();
    sim.Start();
    const QString file = dir.filePath("fw.upg");
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(upgtest::Builder().Name("fw").Flash().Page(0, QByteArray(16, 'a')).Bytes());
    f.close();

    Program p({"flash", "--port", path, "--monitor", file});
    EXPECT_EQ(p.Screen(o.Device.AppBanner.size()), o.Device.AppBanner);
    p.Type(QByteArray(1, kExit));
    EXPECT_EQ(p.ExitCode(), 0);
    sim.Stop();
    sim.Join();
}

TEST_F(MonitorTest, WrongUsageIsRefused)
{
    for (const QStringList& args : {QStringList{"monitor", "--port", "x", "--map", "crlf,bogus"},
                                    QStringList{"monitor"},
                                    QStringList{"monitor", "--port", "x", "--escape", "q"},
                                    QStringList{"monitor", "--port", "x", "--escape", "ctrl-t"},
                                    QStringList{"flash", "--port", "a", "--port", "b", "--monitor", "f.upg"}}) {
        SCOPED_TRACE(args.join(' ').toStdString());
        Program p(args);
        EXPECT_EQ(p.ExitCode(), 2);
    }
}

TEST_F(MonitorTest, TimestampsStartEveryVisibleLine)
{
    Pty dev;
    Program p({"monitor", "--port", dev.path, "--timestamps"});
    ASSERT_TRUE(p.ErrorShows("exit with Ctrl-]"));
    // LF CR line ends, a line that starts with CR, CR LF, and a line end split over writes.
    dev.Write("one\n\rtwo\n\r\rthree\r\nfour\n");
    dev.Write("\rfive\n");
    const QByteArray screen = ReadUntil(p.term.master, [](const QByteArray& got) { return got.contains("five\n"); });
    const QRegularExpression stamped(QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\] [a-z]+$"));
    int lines = 0;
    for (QByteArray line : screen.split('\n')) {
        // A CR that ends a line erases nothing.
        while (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            continue;
        // What stays visible of a line is what follows its last CR.
        const QString visible = QString::fromLatin1(line.mid(line.lastIndexOf('\r') + 1));
        EXPECT_TRUE(stamped.match(visible).hasMatch()) << screen.toStdString();
        ++lines;
    }
    EXPECT_EQ(lines, 5);
    p.Type(QByteArray(1, kExit));
    EXPECT_EQ(p.ExitCode(), 0);
}

TEST_F(MonitorTest, HexFollowsTheMapsAndTheExitEndsTheLine)
{
    struct Case {
        const char* map;
        QByteArray screen;
    };
    for (const Case& c : {Case{"crlf", "61 0D \r\n62 0A \r\n"}, Case{"igncr", "61 62 0A \r\n"},
                          Case{"lfcrlf", "61 0D 62 0A \r\n"}}) {
        SCOPED_TRACE(c.map);
        Pty dev;
        Program p({"monitor", "--port", dev.path, "--hex", "--map", c.map});
        ASSERT_TRUE(p.ErrorShows("exit with Ctrl-]"));
        dev.Write("a\rb\n");
        EXPECT_EQ(p.Screen(c.screen.size()), c.screen);
        dev.Write("c");
        EXPECT_EQ(p.Screen(3), QByteArray("63 "));
        // After the exit key the shell's prompt starts on a line of its own.
        p.Type(QByteArray(1, kExit));
        EXPECT_EQ(p.ExitCode(), 0);
        EXPECT_EQ(p.Screen(2), QByteArray("\r\n"));
    }
}

TEST_F(MonitorTest, LogIsAppendedTo)
{
    Pty dev;
    const QString log = dir.filePath("kept.log");
    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("earlier session\n");
    f.close();
    Program p({"monitor", "--port", dev.path, "--log", log});
    ASSERT_TRUE(p.ErrorShows("exit with Ctrl-]"));
    dev.Write("new");
    EXPECT_EQ(p.Screen(3), QByteArray("new"));
    p.Type(QByteArray(1, kExit));
    EXPECT_EQ(p.ExitCode(), 0);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("earlier session\nnew"));
}

TEST_F(MonitorTest, OtherExitKeyAndTheModemLines)
{
    Pty dev;
    Program p({"monitor", "--port", dev.path, "--escape", "ctrl-a"});
    ASSERT_TRUE(p.ErrorShows("exit with Ctrl-A")) << p.err.constData();
    // Ctrl-] is an ordinary key now.
    p.Type(QByteArray(1, kExit));
    EXPECT_EQ(ReadCount(dev.master, 1), QByteArray(1, kExit));
    p.Type(QByteArray(1, kMenu) + "l");
    ASSERT_TRUE(p.ErrorShows("CTS off")) << p.err.constData();
    p.Type(QByteArray(1, kMenu) + "D");
    ASSERT_TRUE(p.ErrorShows("DTR o")) << p.err.constData();
    p.Type(QByteArray(1, 0x01));
    EXPECT_EQ(p.ExitCode(), 0);
}

TEST_F(MonitorTest, BusyPortNamesItsHolder)
{
    Pty dev(true);
    ASSERT_EQ(::flock(dev.slave, LOCK_EX | LOCK_NB), 0);
    Program p({"monitor", "--port", dev.path});
    EXPECT_EQ(p.ExitCode(), 4);
    EXPECT_TRUE(p.ErrorShows("monitor_tests (process")) << p.err.constData();
}
