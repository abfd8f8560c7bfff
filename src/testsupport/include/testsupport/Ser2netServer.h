// A real network serial server for tests and benchmarks: ser2net, started on free loopback
// ports with its own configuration file, serving one serial device (a pseudo-terminal)
// through a raw TCP accepter and a Telnet accepter with the COM port option.
#pragma once

#include "base/UniqueFd.h"

#include <QString>
#include <QTemporaryDir>

#include <sys/types.h>

namespace zentrop {

namespace ser2net {

class Server {
public:
    Server() = default;
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // The server program, or empty when it is not installed.
    static QString Program();
    // Starts serving Device; false with Error set when the server did not come up within a
    // few seconds. CharDelay keeps the server's default wait for more bytes from the device
    // before it passes them on; without it every byte goes on at once.
    bool Start(const QString& Device, bool CharDelay, QString* Error);
    // Ends the server at once, as a crash or a pulled cable would, connections and all.
    void Kill();

    QString RawUrl() const { return QStringLiteral("socket://127.0.0.1:%1").arg(FRawPort); }
    QString Rfc2217Url() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(FTelnetPort); }

private:
    QTemporaryDir FDir;
    pid_t FPid = -1;
    int FRawPort = 0;
    int FTelnetPort = 0;
};

// A loopback TCP port that nothing listened on a moment ago.
int FreePort();

// A socket listening on a free loopback port, whose number goes to *port; empty when none
// could be made.
UniqueFd ListenOnLoopback(int* port);

} // namespace ser2net

} // namespace zentrop
