// The network ports against the real ser2net on loopback, serving a pseudo-terminal: every
// byte value both ways, line settings arriving at the terminal, DTR and RTS pulses, whole
// upgrades through both accepters, the server killed mid-run, and a port nobody listens on.
#include "upgrade/BootComPort.h"
#include "upgrade/Bootloader.h"
#include "testsupport/FakeBootPort.h"
#include "testsupport/UpgradeFileBuilder.h"
#include "testsupport/BootSim.h"
#include "cport/ComPort.h"
#include "testsupport/PtyPair.h"
#include "testsupport/Ser2netServer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <atomic>
#include <future>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>

#include <gtest/gtest.h>

using namespace zentrop;

using namespace std::chrono_literals;

namespace {

// The server is installed by the set-up script; where it is missing, say so rather than pass.
#define NEED_SER2NET()                                                                                 \
    do {                                                                                               \
        if (ser2net::Server::Program().isEmpty()) {                                                    \
            if (qEnvironmentVariableIsSet("CI"))                                                       \
                FAIL() << "ser2net is not installed; tools/setup.sh installs it";                      \
            GTEST_SKIP() << "ser2net is not installed (tools/setup.sh installs it): skipped";          \
        }                                                                                              \
    } while (0)

void PrepareLine(TComPort& port, const QString& url)
{
    port.SetPort(url);
    port.SetEvents({});
    port.SetSyncMethod(TSyncMethod::smDisableEvents);
    port.Timeouts()->SetReadInterval(0);
    port.Timeouts()->SetReadTotalMultiplier(0);
    port.Timeouts()->SetReadTotalConstant(2000);
}

QByteArray EveryByte()
{
    QByteArray b;
    for (int i = 0; i < 256; ++i)
        b += static_cast<char>(i);
    for (int i = 255; i >= 0; --i) {
        b += static_cast<char>(i);
        b += '\r';
    }
    return b;
}

// Sits between the port and the server and keeps what the port sent, with the time of each
// chunk, so that the commands the server was given can be looked at.
class Relay {
public:
    explicit Relay(int serverPort)
    {
        FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(FListen, 1);
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len);
        Port = ntohs(a.sin_port);
        FThread = std::thread([this, serverPort] { Run(serverPort); });
    }
    ~Relay()
    {
        FStop = true;
        FThread.join();
        ::close(FListen);
    }
    // Where the bytes first appear in what the port sent from From on, and the milliseconds
    // since the start at which they were sent.
    std::optional<std::pair<qsizetype, qint64>> Find(const QByteArray& bytes, qsizetype from = 0)
    {
        std::lock_guard lock(FMutex);
        const qsizetype at = FSent.indexOf(bytes, from);
        for (auto [end, ms] : FChunks)
            if (at >= 0 && end > at)
                return std::pair{at, ms};
        return std::nullopt;
    }
    int Port = 0;

private:
    void Run(int serverPort)
    {
        QElapsedTimer clock;
        clock.start();
        pollfd l{FListen, POLLIN, 0};
        while (!FStop && ::poll(&l, 1, 50) == 0) {
        }
        if (FStop)
            return;
        const int client = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(static_cast<uint16_t>(serverPort));
        if (client >= 0 && ::connect(server, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
            while (!FStop) {
                pollfd p[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
                if (::poll(p, 2, 50) <= 0)
                    continue;
                char buf[4096];
                if (p[0].revents) {
                    const ssize_t n = ::read(client, buf, sizeof buf);
                    if (n <= 0)
                        break;
                    std::lock_guard lock(FMutex);
                    FSent.append(buf, n);
                    FChunks.emplace_back(FSent.size(), clock.elapsed());
                    ::send(server, buf, size_t(n), MSG_NOSIGNAL);
                }
                if (p[1].revents) {
                    const ssize_t n = ::read(server, buf, sizeof buf);
                    if (n <= 0)
                        break;
                    ::send(client, buf, size_t(n), MSG_NOSIGNAL);
                }
            }
        }
        ::close(server);
        if (client >= 0)
            ::close(client);
    }

    int FListen = -1;
    std::atomic<bool> FStop{false};
    std::thread FThread;
    std::mutex FMutex;
    QByteArray FSent;
    std::vector<std::pair<qsizetype, qint64>> FChunks;   // end of each chunk in FSent, its time
};

// The server gives its device up a moment after a connection ends; until then it turns the
// next connection away.
void OpenWhenFree(TComPort& port)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        try {
            port.Open();
            return;
        } catch (const EComPort&) {
            if (clock.elapsed() > 3000)
                throw;
        }
        std::this_thread::sleep_for(50ms);
    }
}

// The simulated bootloader on its thread, served by ser2net.
struct Served {
    explicit Served(bootsim::SimOptions options) : sim(std::move(options)) {}
    bool Start(QString* error)
    {
        const QString path = sim.Open();
        sim.Start();
        return server.Start(path, false, error);
    }
    bootsim::Simulator sim;
    ser2net::Server server;
};

QByteArray Control(int value)
{
    return QByteArray("\xff\xfa\x2c\x05", 4) + char(value) + QByteArray("\xff\xf0", 2);
}

std::vector<TPage> Pages(int count, int size, int seed)
{
    std::vector<TPage> pages;
    for (int p = 0; p < count; ++p) {
        QByteArray data(size, '\0');
        for (int i = 0; i < size; ++i)
            data[i] = static_cast<char>((i * 13 + p * 7 + seed) & 0xFF);
        data[0] = '\xff';
        data[1] = '\r';
        pages.push_back(TPage{static_cast<int32_t>(p * size), data});
    }
    return pages;
}

} // namespace

TEST(Ser2net, EveryByteBothWaysThroughEachAccepter)
{
    NEED_SER2NET();
    PtyPair pty(true);
    ser2net::Server server;
    QString error;
    ASSERT_TRUE(server.Start(pty.SlaveName(), false, &error)) << error.toStdString();
    const QByteArray all = EveryByte();
    for (const QString& url : {server.RawUrl(), server.Rfc2217Url()}) {
        SCOPED_TRACE(url.toStdString());
        TComPort port;
        PrepareLine(port, url);
        OpenWhenFree(port);
        port.Write(all.constData(), int(all.size()));
        EXPECT_EQ(pty.Receive(int(all.size())).toHex(), all.toHex());
        pty.Send(all);
        QByteArray back(all.size(), '\0');
        EXPECT_EQ(port.Read(back.data(), int(back.size())), all.size());
        EXPECT_EQ(back.toHex(), all.toHex());
        port.Close();
    }
}

// The pseudo-terminal keeps eight data bits without parity whatever it is told, so the speed
// and the stop bits are what can be seen arriving.
TEST(Ser2net, LineSettingsArriveAtTheTerminal)
{
    NEED_SER2NET();
    PtyPair pty(true);
    ser2net::Server server;
    QString error;
    ASSERT_TRUE(server.Start(pty.SlaveName(), false, &error)) << error.toStdString();
    auto line = [&] {
        termios t{};
        EXPECT_EQ(::tcgetattr(pty.Slave(), &t), 0);
        return std::pair{cfgetospeed(&t), (t.c_cflag & CSTOPB) != 0};
    };
    TComPort port;
    PrepareLine(port, server.Rfc2217Url());
    port.SetBaudRate(TBaudRate::br9600);
    port.SetStopBits(TStopBits::sbTwoStopBits);
    port.Open();
    EXPECT_EQ(line(), (std::pair<speed_t, bool>{B9600, true}));
    port.SetBaudRate(TBaudRate::br57600);
    port.SetStopBits(TStopBits::sbOneStopBit);
    EXPECT_EQ(line(), (std::pair<speed_t, bool>{B57600, false}));
    port.Close();

    // A raw connection cannot set the line: the server's settings stay.
    PrepareLine(port, server.RawUrl());
    port.SetBaudRate(TBaudRate::br1200);
    // A raw connection is taken before the server looks at its device: a byte that arrives
    // tells that the server has the device for it.
    QElapsedTimer clock;
    clock.start();
    for (bool reached = false; !reached && clock.elapsed() < 3000;) {
        try {
            OpenWhenFree(port);
            port.Write("x", 1);
            reached = pty.Receive(1, 200) == "x";
        } catch (const EComPort&) {
        }
        if (!reached)
            port.Close();
    }
    EXPECT_EQ(line().first, speed_t(B115200));
    port.Close();
}

TEST(Ser2net, DtrRtsAndBreakReachTheServer)
{
    NEED_SER2NET();
    PtyPair pty(true);
    ser2net::Server server;
    QString error;
    ASSERT_TRUE(server.Start(pty.SlaveName(), false, &error)) << error.toStdString();
    const int telnetPort = server.Rfc2217Url().section(QLatin1Char(':'), -1).toInt();
    Relay relay(telnetPort);
    TComPort port;
    PrepareLine(port, QStringLiteral("rfc2217://127.0.0.1:%1").arg(relay.Port));
    port.FlowControl()->SetControlDTR(TDTRFlowControl::dtrDisable);
    port.FlowControl()->SetControlRTS(TRTSFlowControl::rtsDisable);
    port.Open();
    TComFlowControl* flow = port.FlowControl();
    flow->SetControlDTR(TDTRFlowControl::dtrEnable);
    std::this_thread::sleep_for(100ms);
    flow->SetControlDTR(TDTRFlowControl::dtrDisable);
    flow->SetControlRTS(TRTSFlowControl::rtsEnable);
    std::this_thread::sleep_for(100ms);
    flow->SetControlRTS(TRTSFlowControl::rtsDisable);
    // A break follows the data written before it and precedes the data written after it.
    port.Write("<A>", 3);
    port.SetBreak(true);
    port.SetBreak(false);
    port.Write("<B>", 3);
    // The server goes on serving the line after the pulses and the break.
    EXPECT_EQ(pty.Receive(6), "<A><B>");
    port.Close();
    const auto before = relay.Find("<A>");
    ASSERT_TRUE(before);
    const auto breakOn = relay.Find(Control(5), before->first);
    ASSERT_TRUE(breakOn);
    const auto breakOff = relay.Find(Control(6), breakOn->first);
    ASSERT_TRUE(breakOff);
    EXPECT_TRUE(relay.Find("<B>", breakOff->first));
    // Each line is raised, and lowered after the pause, in the order the port was told.
    const auto dtrOn = relay.Find(Control(8));
    ASSERT_TRUE(dtrOn);
    const auto dtrOff = relay.Find(Control(9), dtrOn->first);
    ASSERT_TRUE(dtrOff);
    const auto rtsOn = relay.Find(Control(11), dtrOff->first);
    ASSERT_TRUE(rtsOn);
    const auto rtsOff = relay.Find(Control(12), rtsOn->first);
    ASSERT_TRUE(rtsOff);
    EXPECT_GE(dtrOff->second - dtrOn->second, 90);
    EXPECT_GE(rtsOff->second - rtsOn->second, 90);
}

TEST(Ser2net, UpgradeThroughEachAccepter)
{
    NEED_SER2NET();
    bootsim::SimOptions options;
    options.Device.FlashPageSize = 64;
    options.Device.EEPromPageSize = 16;
    Served s(options);
    QString error;
    ASSERT_TRUE(s.Start(&error)) << error.toStdString();
    const std::vector<TPage> flash = Pages(6, 64, 1);
    const std::vector<TPage> eeprom = Pages(3, 16, 2);
    size_t kept = 0;
    for (const QString& url : {s.server.RawUrl(), s.server.Rfc2217Url()}) {
        SCOPED_TRACE(url.toStdString());
        TComPort port;
        SetUpgradeLineSettings(port, 115200);
        port.SetPort(url);
        OpenWhenFree(port);
        ComPortLine line(port);
        boottest::Recorder rec;
        Bootloader boot(line, rec);
        EXPECT_EQ(boot.WriteToDevice(UpgradeMode::Both, flash, eeprom), UpgradeResult::Done);
        port.Close();
        kept += flash.size() + eeprom.size();
        ASSERT_TRUE(s.sim.WaitFor([&](const bootsim::DeviceRecord& r) { return r.Pages.size() == kept; }, 3000));
        const bootsim::DeviceRecord r = s.sim.Snapshot();
        for (size_t i = 0; i < flash.size(); ++i)
            EXPECT_EQ(r.Pages[kept - flash.size() - eeprom.size() + i].Data, flash[i].Data);
        EXPECT_EQ(r.Pages[kept - 1].Data, eeprom.back().Data);
    }
}

TEST(Ser2net, ServerKilledMidRunEndsTheRunWithThePortsError)
{
    NEED_SER2NET();
    for (bool telnet : {false, true}) {
        SCOPED_TRACE(telnet ? "rfc2217" : "raw");
        bootsim::SimOptions options;
        options.Baud = 115200;
        Served s(options);
        QString error;
        ASSERT_TRUE(s.Start(&error)) << error.toStdString();
        const QString url = telnet ? s.server.Rfc2217Url() : s.server.RawUrl();
        TComPort port;
        SetUpgradeLineSettings(port, 115200);
        port.SetPort(url);
        ComPortLine line(port);
        boottest::Recorder rec;
        Bootloader boot(line, rec);
        auto killer = std::async(std::launch::async, [&] {
            s.sim.WaitFor([](const bootsim::DeviceRecord& r) { return r.Pages.size() >= 2; }, 5000);
            s.server.Kill();
        });
        QElapsedTimer clock;
        clock.start();
        try {
            boot.WriteToDevice(UpgradeMode::Flash, Pages(40, 256, 3), {});
            ADD_FAILURE() << "the run went on without its server";
        } catch (const EComPort& e) {
            EXPECT_TRUE(e.Message().endsWith(QStringLiteral("function failed on ") + url)) << e.Message().toStdString();
        }
        killer.get();
        EXPECT_LT(clock.elapsed(), 5000);
        try {
            port.Close();
        } catch (const Exception&) {
        }
    }
}

TEST(Ser2net, NobodyListening)
{
    const int free = ser2net::FreePort();
    TComPort port;
    PrepareLine(port, QStringLiteral("rfc2217://127.0.0.1:%1").arg(free));
    QElapsedTimer clock;
    clock.start();
    try {
        port.Open();
        FAIL() << "opened a port nobody listens on";
    } catch (const EComPortExt& e) {
        EXPECT_EQ(e.SystemCode(), ECONNREFUSED);
        EXPECT_EQ(e.Message(),
                  QStringLiteral("COM Port Error: Unable to open com port on rfc2217://127.0.0.1:%1").arg(free));
    }
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_FALSE(port.Connected());

    PrepareLine(port, QStringLiteral("socket://127.0.0.1"));
    EXPECT_THROW(port.Open(), EComPortExt);
}

// The command line takes the URL as its port: an upgrade with a DTR reset through the Telnet
// accepter, and the exit status and words of a port nobody listens on.
TEST(Ser2net, CommandLineFlashesThroughTheServer)
{
    NEED_SER2NET();
    QTemporaryDir dir;
    const QString file = dir.filePath("net.upg");
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(upgtest::Builder().Name("net").Version("1").Flash().Page(0, QByteArray(16, '\xff')).Page(16, "\r\r\r\xff").Bytes());
    out.close();
    bootsim::SimOptions options;
    options.Device.FlashPageSize = 16;
    options.Device.IdleGapMs = 20;
    Served s(options);
    QString error;
    ASSERT_TRUE(s.Start(&error)) << error.toStdString();
    auto cli = [](const QStringList& args) {
        QProcess p;
        p.start(QStringLiteral(ZENTROP_CLI), args);
        p.closeWriteChannel();
        EXPECT_TRUE(p.waitForFinished(30000));
        return std::pair{p.exitCode(), QString::fromLocal8Bit(p.readAllStandardError())};
    };
    const auto [status, text] = cli({"flash", "--port", s.server.Rfc2217Url(), "--reset", "dtr", file});
    EXPECT_EQ(status, 0) << text.toStdString();
    ASSERT_TRUE(s.sim.WaitFor([](const bootsim::DeviceRecord& r) { return r.Pages.size() == 2; }, 3000));
    EXPECT_EQ(s.sim.Snapshot().Pages[1].Data, QByteArray("\r\r\r\xff"));

    const int free = ser2net::FreePort();
    const auto [refused, words] = cli({"flash", "--port", QStringLiteral("socket://127.0.0.1:%1").arg(free), file});
    EXPECT_EQ(refused, 4);
    EXPECT_TRUE(words.contains(QStringLiteral("Nothing listens on 127.0.0.1 port %1").arg(free))) << words.toStdString();
}

// A flaky network drops the connection after the device answered its mode: --retries connects
// again and the run starts over on the same device, which then takes every page.
TEST(Ser2net, RetriesConnectAgainAfterADroppedConnection)
{
    int serverPort = 0;
    const UniqueFd listening = ser2net::ListenOnLoopback(&serverPort);
    ASSERT_TRUE(listening);
    const int listener = listening.Get();
    bootsim::DeviceOptions options;
    options.FlashPageSize = 16;
    bootsim::Device device(options);
    // The device behind the server: the first connection ends once the mode is answered.
    std::thread server([&] {
        for (int connection = 0; connection < 2; ++connection) {
            const int peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (peer < 0)
                return;
            char buffer[512];
            bool drop = false;
            for (ssize_t n; !drop && (n = ::recv(peer, buffer, sizeof buffer, 0)) > 0;) {
                for (ssize_t i = 0; i < n; ++i) {
                    const bootsim::Reaction r = device.Receive(static_cast<uint8_t>(buffer[i]));
                    (void)!::send(peer, r.Reply.constData(), static_cast<size_t>(r.Reply.size()), MSG_NOSIGNAL);
                    if (connection == 0 && device.Record().Log.contains("F")) {
                        drop = true;
                        break;
                    }
                }
            }
            ::close(peer);
        }
    });
    QTemporaryDir dir;
    const QString file = dir.filePath("net.upg");
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(upgtest::Builder().Flash().Page(0, QByteArray(16, 'a')).Page(16, QByteArray(16, 'b')).Bytes());
    out.close();
    QProcess p;
    p.start(QStringLiteral(ZENTROP_CLI), {"flash", "--port", QStringLiteral("socket://127.0.0.1:%1").arg(serverPort),
                                          "--retries", "1", file});
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(30000));
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    EXPECT_EQ(p.exitCode(), 0) << err.toStdString();
    EXPECT_TRUE(err.contains("Retry 1 of 1")) << err.toStdString();
    // A run that did not come back leaves the server waiting for it: wake it.
    ::shutdown(listener, SHUT_RDWR);
    server.join();
    EXPECT_EQ(device.Record().Jumps, 1);
    EXPECT_EQ(device.Record().Pages.size(), 2u);
}
