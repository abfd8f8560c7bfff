// A pseudo-terminal pair for port tests: the port opens the slave by its path, the test
// plays the device on the master.
#pragma once

#include "base/UniqueFd.h"

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

namespace zentrop {

class PtyPair {
public:
    // KeepSlave holds the slave open too, so that its terminal settings can be read.
    explicit PtyPair(bool KeepSlave = false)
    {
        char name[256] = {};
        int master = -1;
        int slave = -1;
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return;
        FMaster.Reset(master);
        UniqueFd opened(slave);
        FSlaveName = QString::fromLocal8Bit(name);
        if (KeepSlave)
            FSlave = std::move(opened);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Valid() const { return FMaster.Valid(); }
    const QString& SlaveName() const { return FSlaveName; }
    int Master() const { return FMaster.Get(); }
    int Slave() const { return FSlave.Get(); }

    void Send(const QByteArray& bytes) const
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(FMaster.Get(), bytes.constData() + done, size_t(bytes.size() - done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return;
            done += n;
        }
    }

    // What the port sent, up to Count bytes, waiting at most TimeoutMs for each chunk.
    QByteArray Receive(int Count, int TimeoutMs = 2000) const
    {
        QByteArray out;
        while (out.size() < Count) {
            pollfd p{FMaster.Get(), POLLIN, 0};
            if (::poll(&p, 1, TimeoutMs) <= 0)
                break;
            char buf[4096];
            const ssize_t n = ::read(FMaster.Get(), buf, std::min<size_t>(sizeof buf, size_t(Count - out.size())));
            if (n <= 0)
                break;
            out.append(buf, n);
        }
        return out;
    }

    void CloseMaster() { FMaster.Reset(); }

private:
    UniqueFd FMaster;
    UniqueFd FSlave;
    QString FSlaveName;
};

} // namespace zentrop
