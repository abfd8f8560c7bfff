// zentrop-term's window against devices on pseudo-terminals: every byte value both ways, the
// log equal to what arrived, a device that goes away and comes back under the same name, and
// the settings read back by the next start.
#include "termapp/TermWindow.h"

#include "base/IniFile.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

using namespace zentrop;

namespace {

// The device's end of a pseudo-terminal; the window opens the other end by its path.
struct Device {
    int master = -1;
    QString path;

    Device()
    {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return;
        ::close(slave);
        path = QString::fromLocal8Bit(name);
    }
    ~Device() { Close(); }
    void Close()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    void Write(const QByteArray& bytes) const { QCOMPARE(::write(master, bytes.constData(), bytes.size()), bytes.size()); }
    // What the window sent within the time, until Want bytes have come.
    QByteArray Read(qsizetype want, int timeoutMs) const
    {
        QByteArray got;
        QElapsedTimer clock;
        clock.start();
        while (got.size() < want && clock.elapsed() < timeoutMs) {
            QCoreApplication::processEvents();
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 10) == 1 && (p.revents & POLLIN)) {
                char buf[4096];
                const ssize_t n = ::read(master, buf, sizeof buf);
                if (n > 0)
                    got.append(buf, n);
            }
        }
        return got;
    }
};

QByteArray AllByteValues()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(static_cast<char>(i));
    return bytes;
}

void Type(TermWindow& w, const QString& text)
{
    QTest::keyClicks(w.Terminal(), text);
}

} // namespace

class TermWindowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString Settings() const { return dir.filePath(QStringLiteral("zentrop-term.ini")); }

private slots:
    void init() { QFile::remove(Settings()); }

    void BytesBothWaysAndLog()
    {
        Device dev;
        QVERIFY(!dev.path.isEmpty());
        TermWindow w(Settings(), {dev.path, 0});
        QCOMPARE(w.Connection(), TermWindow::ConnectionState::Connected);

        const QString log = dir.filePath(QStringLiteral("received.log"));
        w.LogTo(log);
        const QByteArray all = AllByteValues();
        dev.Write(all);
        dev.Write(all);
        QTRY_COMPARE(w.ReceivedBytes(), 512);
        w.LogTo(QString());
        QFile f(log);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), all + all);

        const QString file = dir.filePath(QStringLiteral("send.bin"));
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(all);
        out.close();
        w.SendFile(file);
        QCOMPARE(dev.Read(256, 5000), all);
        QTRY_VERIFY(!w.SendingFile());

        Type(w, QStringLiteral("Ab"));
        QCOMPARE(dev.Read(2, 5000), QByteArray("Ab"));
        QCOMPARE(w.SentBytes(), 258);
    }

    void ReconnectsUnderTheSameName()
    {
        auto first = std::make_unique<Device>();
        const QString link = dir.filePath(QStringLiteral("by-id-adapter"));
        QFile::remove(link);
        QVERIFY(QFile::link(first->path, link));
        TermWindow w(Settings(), {link, 0});
        QCOMPARE(w.Connection(), TermWindow::ConnectionState::Connected);

        first->Close();
        QTRY_COMPARE(w.Connection(), TermWindow::ConnectionState::Waiting);
        QVERIFY(w.StatusText().contains(QStringLiteral("went away")));
        Type(w, QStringLiteral("lost"));

        // A new device appears under the same name, as udev makes the link again.
        Device second;
        const QString next = link + QStringLiteral(".new");
        QVERIFY(QFile::link(second.path, next));
        QVERIFY(::rename(QFile::encodeName(next).constData(), QFile::encodeName(link).constData()) == 0);
        QTRY_COMPARE_WITH_TIMEOUT(w.Connection(), TermWindow::ConnectionState::Connected, 5000);
        // What was typed while it was away went nowhere.
        QCOMPARE(second.Read(1, 300), QByteArray());
        Type(w, QStringLiteral("ok"));
        QCOMPARE(second.Read(2, 5000), QByteArray("ok"));
        second.Write("back");
        QTRY_COMPARE(w.ReceivedBytes(), 4);
        first.reset();
    }

    void SettingsReadBackByTheNextStart()
    {
        Device dev;
        {
            TermWindow w(Settings(), {dev.path, 57600});
            QCOMPARE(w.Connection(), TermWindow::ConnectionState::Connected);
            w.Terminal()->SetColumns(100);
            w.Terminal()->SetEmulation(TTermEmulation::teVT52);
            w.Terminal()->SetCaret(TTermCaret::tcUnderline);
            w.SetLocalEcho(true);
            w.close();
        }
        TermWindow w(Settings(), {});
        QCOMPARE(w.Port()->Port(), dev.path);
        QCOMPARE(w.Port()->BaudRate(), TBaudRate::br57600);
        QCOMPARE(w.Connection(), TermWindow::ConnectionState::Connected);
        QCOMPARE(w.Terminal()->Columns(), 100);
        QCOMPARE(w.Terminal()->Emulation(), TTermEmulation::teVT52);
        QCOMPARE(w.Terminal()->Caret(), TTermCaret::tcUnderline);
        QVERIFY(w.Terminal()->LocalEcho());
        // A value no member names keeps the default rather than failing the start.
        TIniFile ini(Settings());
        ini.WriteString(QStringLiteral("Terminal"), QStringLiteral("Emulation"), QStringLiteral("teVT999"));
        TermWindow again(Settings(), {});
        QCOMPARE(again.Terminal()->Emulation(), TTermEmulation::teVT102);
    }

    void FirstStartOpensNoPort()
    {
        TermWindow w(Settings(), {});
        QCOMPARE(w.Connection(), TermWindow::ConnectionState::Closed);
        QVERIFY(!w.Port()->Connected());
        QVERIFY(w.StatusText().contains(QStringLiteral("No port chosen")));
    }

    void MissingDeviceIsWaitedFor()
    {
        const QString link = dir.filePath(QStringLiteral("not-yet"));
        QFile::remove(link);
        TermWindow w(Settings(), {link, 0});
        QCOMPARE(w.Connection(), TermWindow::ConnectionState::Waiting);
        Device dev;
        QVERIFY(QFile::link(dev.path, link));
        QTRY_COMPARE_WITH_TIMEOUT(w.Connection(), TermWindow::ConnectionState::Connected, 5000);
    }
};

QTEST_MAIN(TermWindowTest)
#include "TermWindowTest.moc"
