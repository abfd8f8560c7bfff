// Starting and ending ser2net, and waiting until its accepters listen without connecting to
// them (a probe would open the device behind them).
#include "testsupport/Ser2netServer.h"

#include "base/UniqueFd.h"

#include <QFile>
#include <QStandardPaths>
#include <QStringList>
#include <QThread>

#include <QElapsedTimer>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace zentrop {

namespace ser2net {

namespace {

// Whether a TCP socket listens on this loopback port, from the kernel's table.
bool Listening(int port)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QString local = QStringLiteral("0100007F:%1").arg(port, 4, 16, QLatin1Char('0')).toUpper();
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QStringList f = QString::fromLatin1(line).simplified().split(QLatin1Char(' '));
        if (f.size() > 3 && f[1] == local && f[3] == QLatin1String("0A"))
            return true;
    }
    return false;
}

} // namespace

int FreePort()
{
    const UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const int fd = socket.Get();
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    return port;
}

UniqueFd ListenOnLoopback(int* port)
{
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (!socket || ::bind(socket.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(socket.Get(), 16) != 0 ||
        ::getsockname(socket.Get(), reinterpret_cast<sockaddr*>(&a), &len) != 0)
        return UniqueFd();
    *port = ntohs(a.sin_port);
    return socket;
}

Server::~Server()
{
    Kill();
}

QString Server::Program()
{
    const QStringList where = {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"), QStringLiteral("/usr/local/sbin")};
    QString found = QStandardPaths::findExecutable(QStringLiteral("ser2net"));
    return found.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("ser2net"), where) : found;
}

bool Server::Start(const QString& Device, bool CharDelay, QString* Error)
{
    const QString program = Program();
    if (program.isEmpty()) {
        *Error = QStringLiteral("ser2net is not installed (tools/setup.sh installs it)");
        return false;
    }
    // A port taken between choosing and binding makes the server fail to listen: try anew.
    for (int attempt = 0; attempt < 3; ++attempt) {
        Kill();
        FRawPort = FreePort();
        FTelnetPort = FreePort();
        const QString connector = QStringLiteral("serialdev,%1,115200n81,local").arg(Device);
        const QString options = QStringLiteral("    options:\n      chardelay: %1\n").arg(CharDelay ? "true" : "false");
        const QString config = QStringLiteral("%YAML 1.1\n---\n"
                                              "connection: &raw\n    accepter: tcp,127.0.0.1,%1\n    connector: %3\n%4"
                                              "connection: &telnet\n    accepter: telnet(rfc2217),tcp,127.0.0.1,%2\n"
                                              "    connector: %3\n%4")
                                   .arg(FRawPort)
                                   .arg(FTelnetPort)
                                   .arg(connector, options);
        const QString path = FDir.filePath(QStringLiteral("ser2net.yaml"));
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(config.toUtf8()) < 0) {
            *Error = QStringLiteral("cannot write %1").arg(path);
            return false;
        }
        f.close();
        const QByteArray prog = QFile::encodeName(program);
        const QByteArray cfg = QFile::encodeName(path);
        const QByteArray pid = QFile::encodeName(FDir.filePath(QStringLiteral("ser2net.pid")));
        char* argv[] = {const_cast<char*>(prog.constData()), const_cast<char*>("-n"), const_cast<char*>("-u"),
                        const_cast<char*>("-c"), const_cast<char*>(cfg.constData()), const_cast<char*>("-P"),
                        const_cast<char*>(pid.constData()), nullptr};
        // Its own messages ("unable to start mdns" and the like) are of no interest here.
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int err = posix_spawn(&FPid, prog.constData(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        if (err != 0) {
            FPid = -1;
            *Error = QStringLiteral("cannot start %1: %2").arg(program, QString::fromLocal8Bit(strerror(err)));
            return false;
        }
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 5000) {
            if (Listening(FRawPort) && Listening(FTelnetPort))
                return true;
            int status = 0;
            if (::waitpid(FPid, &status, WNOHANG) == FPid) {
                FPid = -1;
                break;
            }
            QThread::msleep(10);
        }
    }
    Kill();
    *Error = QStringLiteral("ser2net did not listen on its ports");
    return false;
}

void Server::Kill()
{
    if (FPid <= 0)
        return;
    ::kill(FPid, SIGKILL);
    int status = 0;
    while (::waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
    }
    FPid = -1;
}

} // namespace ser2net

} // namespace zentrop
