// A network port's events: the server's modem and line state notifications and its data
// reach the port's signals and handlers through the event thread. The server is played by
// the test, as a real one's lines cannot be moved from here.
#include "EventTestSupport.h"
#include "cport/ComPort.h"

#include <QStringList>

#include <atomic>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace zentrop;

namespace {

// Takes the COM port option, answers each line setting and purge with the value asked, and
// sends what the test gives it.
class ScriptedServer {
public:
    ScriptedServer()
    {
        FListen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        ::bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(FListen, 1);
        ::getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len);
        FPort = ntohs(a.sin_port);
        FThread = std::thread([this] { Run(); });
    }
    ~ScriptedServer()
    {
        FStop = true;
        FThread.join();
        if (FClient >= 0)
            ::close(FClient);
        ::close(FListen);
    }
    QString Url() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(FPort); }
    void Send(const QByteArray& bytes)
    {
        std::lock_guard lock(FMutex);
        ::send(FClient, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL);
    }

private:
    void Run()
    {
        pollfd l{FListen, POLLIN, 0};
        while (!FStop && ::poll(&l, 1, 20) == 0) {
        }
        if (FStop)
            return;
        {
            std::lock_guard lock(FMutex);
            FClient = ::accept4(FListen, nullptr, nullptr, SOCK_CLOEXEC);
        }
        Send(QByteArray("\xff\xfd\x2c\xff\xfb\x00\xff\xfd\x00", 9));
        QByteArray in;
        while (!FStop) {
            pollfd p{FClient, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            char buf[1024];
            const ssize_t n = ::read(FClient, buf, sizeof buf);
            if (n <= 0)
                return;
            in.append(buf, n);
            // Each setting's and purge's answer carries the value asked (none holds an 0xFF).
            for (qsizetype at; (at = in.indexOf("\xff\xfa\x2c")) >= 0;) {
                const qsizetype end = in.indexOf("\xff\xf0", at);
                if (end < 0)
                    break;
                const QByteArray command = in.mid(at + 3, end - at - 3);
                in.remove(0, end + 2);
                if (!command.isEmpty() && ((command[0] >= 1 && command[0] <= 4) || command[0] == 12))
                    Send(QByteArray("\xff\xfa\x2c", 3) + char(command[0] + 100) + command.mid(1) + "\xff\xf0");
            }
        }
    }

    int FListen = -1;
    int FClient = -1;
    int FPort = 0;
    std::atomic<bool> FStop{false};
    std::mutex FMutex;
    std::thread FThread;
};

QByteArray Notify(int command, int value)
{
    return QByteArray("\xff\xfa\x2c", 3) + char(command) + char(value) + QByteArray("\xff\xf0", 2);
}

} // namespace

TEST(NetEvents, NotificationsAndDataReachSignalsAndHandlers)
{
    EnsureApplication();
    ScriptedServer server;
    TComPort port;
    port.SetPort(server.Url());
    QStringList heard;
    auto signal = [&](const char* name) {
        return [&heard, name](QObject*, bool on) { heard << QStringLiteral("%1 %2").arg(name).arg(on); };
    };
    port.OnCTSChange = signal("cts");
    port.OnDSRChange = signal("dsr");
    port.OnRLSDChange = signal("rlsd");
    port.OnRing = [&](QObject*) { heard << "ring"; };
    port.OnBreak = [&](QObject*) { heard << "break"; };
    port.OnError = [&](QObject*, TComErrors e) { heard << (e.Contains(TComError::ceFrame) ? "frame error" : "error"); };
    port.OnRxChar = [&](QObject*, int n) { heard << QStringLiteral("rx %1").arg(n); };
    port.Open();
    EXPECT_EQ(heard, (QStringList{"cts 0", "dsr 0", "rlsd 0"}));
    heard.clear();

    // CTS and DSR go up; then the ring ends.
    server.Send(Notify(107, 0x10 | 0x20 | 0x01 | 0x02));
    ASSERT_TRUE(ServeUntil([&] { return heard.size() >= 2; }));
    EXPECT_EQ(heard, (QStringList{"cts 1", "dsr 1"}));
    EXPECT_EQ(port.LineSignals(), (TLineSignals{TLineSignal::lsCTS, TLineSignal::lsDSR}));
    heard.clear();
    server.Send(Notify(107, 0x10 | 0x20 | 0x04));
    ASSERT_TRUE(ServeUntil([&] { return !heard.isEmpty(); }));
    EXPECT_EQ(heard, QStringList{"ring"});
    heard.clear();

    // A break with a framing error; then data with an escaped 0xFF.
    server.Send(Notify(106, 0x10 | 0x08));
    ASSERT_TRUE(ServeUntil([&] { return heard.size() >= 2; }));
    EXPECT_EQ(heard, (QStringList{"frame error", "break"}));
    heard.clear();
    server.Send(QByteArray("a\xff\xff" "b", 4));
    ASSERT_TRUE(ServeUntil([&] { return !heard.isEmpty(); }));
    EXPECT_EQ(heard, QStringList{"rx 3"});
    char got[3] = {};
    EXPECT_EQ(port.Read(got, 3), 3);
    EXPECT_EQ(QByteArray(got, 3), QByteArray("a\xff" "b", 3));
    port.Close();
}
