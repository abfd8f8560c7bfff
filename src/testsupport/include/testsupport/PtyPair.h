// A pseudo-terminal pair for port tests: the port opens the slave by its path, the test
// plays the device on the master.
#pragma once

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
        int slave = -1;
        if (::openpty(&FMaster, &slave, name, nullptr, nullptr) != 0)
            return;
        FSlaveName = QString::fromLocal8Bit(name);
        if (KeepSlave)
            FSlave = slave;
        else
            ::close(slave);
    }
    ~PtyPair()
    {
        CloseMaster();
        if (FSlave >= 0)
            ::close(FSlave);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool Valid() const { return FMaster >= 0; }
    const QString& SlaveName() const { return FSlaveName; }
    int Master() const { return FMaster; }
    int Slave() const { return FSlave; }

    void Send(const QByteArray& bytes) const
    {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(FMaster, bytes.constData() + done, size_t(bytes.size() - done));
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
            pollfd p{FMaster, POLLIN, 0};
            if (::poll(&p, 1, TimeoutMs) <= 0)
                break;
            char buf[4096];
            const ssize_t n = ::read(FMaster, buf, std::min<size_t>(sizeof buf, size_t(Count - out.size())));
            if (n <= 0)
                break;
            out.append(buf, n);
        }
        return out;
    }

    void CloseMaster()
    {
        if (FMaster >= 0)
            ::close(FMaster);
        FMaster = -1;
    }

private:
    int FMaster = -1;
    int FSlave = -1;
    QString FSlaveName;
};

} // namespace zentrop
