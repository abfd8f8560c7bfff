// zentrop-cli as scripts see it: exit statuses, the info and --json output, the status lines
// on standard error, and upgrades against the simulated bootloader.
#include "app/tests/UpgradeFileBuilder.h"
#include "bootsim/BootSim.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using upgtest::Builder;

namespace {

struct CliRun {
    int status = -1;
    QString out;
    QString err;
};

CliRun Cli(const QStringList& args, const std::function<void()>& childSetup = {})
{
    QProcess p;
    if (childSetup)
        p.setChildProcessModifier(childSetup);
    p.start(QStringLiteral(ZENTROP_CLI), args);
    p.closeWriteChannel();
    EXPECT_TRUE(p.waitForFinished(30000));
    CliRun r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

class CliTest : public testing::Test {
protected:
    QString Write(const QString& name, const QByteArray& bytes)
    {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }

    // Two Flash pages and one EEProm page; the name holds a character of the 8-bit code page.
    QString Sample()
    {
        return Write("sample.upg", Builder()
                                       .Name("Zentr\xF6p")
                                       .Version("2.1")
                                       .User(1, -7)
                                       .Flash()
                                       .Page(0x0000, QByteArray(16, 'a'))
                                       .Page(0x1A0, QByteArray(16, 'b'))
                                       .EEProm()
                                       .Page(0x0010, QByteArray(4, 'c'))
                                       .Bytes());
    }

    QString CrcBroken()
    {
        QByteArray bytes = Builder().Flash().Page(0, "xy").Bytes();
        bytes[bytes.size() - 1] = static_cast<char>(bytes[bytes.size() - 1] ^ 0x5A);
        return Write("broken.upg", bytes);
    }

    QTemporaryDir dir;
};

// A simulator with 16-byte Flash and 4-byte EEProm pages, on its own thread.
struct Device {
    explicit Device(const char* fault = nullptr)
    {
        bootsim::SimOptions o;
        o.Device.FlashPageSize = 16;
        o.Device.EEPromPageSize = 4;
        if (fault) {
            QString error;
            o.Device.Faults.push_back(*bootsim::Fault::Parse(QString::fromLatin1(fault), &error));
        }
        sim = std::make_unique<bootsim::Simulator>(o);
        path = sim->Open();
        sim->Start();
    }
    std::unique_ptr<bootsim::Simulator> sim;
    QString path;
};

} // namespace

TEST_F(CliTest, InfoListsThePreparedUpgrade)
{
    const CliRun r = Cli({"info", Sample()});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QString::fromUtf8("Name: Zentröp\nVersion: 2.1\nUser: -7\n"
                                       "Flash: 2 pages\n  0x0000   16 bytes\n  0x01A0   16 bytes\n"
                                       "EEProm: 1 pages\n  0x0010    4 bytes\n"));
}

TEST_F(CliTest, InfoJson)
{
    const CliRun r = Cli({"info", "--json", Sample()});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    EXPECT_EQ(o.value("name").toString(), QString::fromUtf8("Zentröp"));
    EXPECT_EQ(o.value("version").toString(), "2.1");
    EXPECT_EQ(o.value("user").toInt(), -7);
    const QJsonArray flash = o.value("flash").toArray();
    ASSERT_EQ(flash.size(), 2);
    EXPECT_EQ(flash[1].toObject().value("address").toInt(), 0x1A0);
    EXPECT_EQ(flash[1].toObject().value("size").toInt(), 16);
    EXPECT_EQ(o.value("eeprom").toArray().size(), 1);

    // Without a user record the number is null, not 0.
    const CliRun bare = Cli({"info", "--json", Write("bare.upg", Builder().Bytes())});
    const QJsonObject b = QJsonDocument::fromJson(bare.out.toUtf8()).object();
    EXPECT_TRUE(b.value("user").isNull());
    EXPECT_EQ(b.value("name").toString(), "");
    EXPECT_TRUE(b.value("flash").toArray().isEmpty());
}

TEST_F(CliTest, RejectedFilesAndWrongUsage)
{
    const CliRun crc = Cli({"info", CrcBroken()});
    EXPECT_EQ(crc.status, 3);
    EXPECT_EQ(crc.err, "CRC error!\n");
    const CliRun missing = Cli({"info", dir.filePath("missing.upg")});
    EXPECT_EQ(missing.status, 3);
    EXPECT_TRUE(missing.err.startsWith("Cannot open file")) << missing.err.toStdString();
    // The file is checked before the port is touched.
    EXPECT_EQ(Cli({"flash", "--port", "/dev/zentrop-no-such-port", CrcBroken()}).status, 3);
    // A list of ports in a FIFO would wait for a writer for ever.
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const CliRun listed = Cli({"flash", "--ports-from", fifo, Sample()});
    EXPECT_EQ(listed.status, 2);
    EXPECT_TRUE(listed.err.contains("fifo: not a regular file")) << listed.err.toStdString();

    const QList<QStringList> usage{{},
                                   {"frobnicate"},
                                   {"info"},
                                   {"info", "--xml", Sample()},
                                   {"info", Sample(), Sample()},
                                   {"flash", Sample()},
                                   {"flash", "--port"},
                                   {"flash", "--port", "/dev/null", "--mode", "all", Sample()},
                                   {"flash", "--port", "/dev/null", "--baud", "fast", Sample()},
                                   {"flash", "--port", "/dev/null"},
                                   {"ports", "extra"}};
    for (const QStringList& args : usage) {
        const CliRun r = Cli(args);
        EXPECT_EQ(r.status, 2) << args.join(' ').toStdString();
        EXPECT_TRUE(r.err.contains("usage:")) << args.join(' ').toStdString();
    }
}

TEST_F(CliTest, FlashBothOverThePseudoTerminal)
{
    Device d;
    const CliRun r = Cli({"flash", "--port", d.path, "--mode", "both", Sample()});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    // Not a terminal: every status line as a line of its own, then the summary: 3 wake bytes,
    // "F", two 16-byte pages with "A" and "D", "E", a 4-byte page, "J".
    const QString lines = "Ready for Upgrade (Flash: 2 pages, EEProm: 1 pages\n"
                          "Send Flash mode\nWrite Flash Page at 0x   0\nWrite Flash Page at 0x 1A0\n"
                          "Send EEProm mode\nWrite EEProm Page at 0x  10\nJump to Application!\n";
    EXPECT_TRUE(r.err.startsWith(lines)) << r.err.toStdString();
    EXPECT_TRUE(QRegularExpression("^Done: 3 pages, 54 bytes in [0-9.]+ s \\([0-9]+ bytes/s\\)\n$").match(r.err.mid(lines.size())).hasMatch())
        << r.err.toStdString();
    ASSERT_TRUE(d.sim->WaitFor([](const bootsim::DeviceRecord& rec) { return rec.Jumps == 1; }, 5000));
    const auto pages = d.sim->Snapshot().Pages;
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[1].Address, 0x1A0);
    EXPECT_EQ(pages[2].Data, "cccc");
}

TEST_F(CliTest, FlashModeDefaultsToFlashOnly)
{
    Device d;
    EXPECT_EQ(Cli({"flash", "--port", d.path, Sample()}).status, 0);
    ASSERT_TRUE(d.sim->WaitFor([](const bootsim::DeviceRecord& rec) { return rec.Jumps == 1; }, 5000));
    for (const bootsim::ReceivedPage& p : d.sim->Snapshot().Pages)
        EXPECT_EQ(p.Where, bootsim::Memory::Flash);
}

TEST_F(CliTest, DeviceThatDoesNotAnswerGivesStatusOneAndSaysWhatItDid)
{
    const struct {
        const char* fault;
        const char* tail;
    } cases[] = {
        {"A#2:wrong=41", "Write Flash Page at 0x 1A0\nSend Flash Page address: Communication Error!\n"
                         "The device gave a wrong answer: expected 0x0D, got 0x41.\n"},
        {"F:silent", "Send Flash mode\nSet Flash mode: Communication Error!\n"
                     "The device gave no answer within the time-out.\n"},
    };
    for (const auto& c : cases) {
        Device d(c.fault);
        const CliRun r = Cli({"flash", "--port", d.path, Sample()});
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.err.endsWith(QString::fromLatin1(c.tail))) << r.err.toStdString();
    }
}

TEST_F(CliTest, ResetAndWakeRetriesBeforeTheUpgrade)
{
    // The simulator ignores its first "F" as a device still starting would; one more wake helps.
    Device d("F#1:silent");
    const CliRun r = Cli({"flash", "-p", d.path, "--reset=dtr", "--wake-retries", "1", Sample()});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    ASSERT_TRUE(d.sim->WaitFor([](const bootsim::DeviceRecord& rec) { return rec.Jumps == 1; }, 5000));
    EXPECT_EQ(d.sim->Snapshot().Wakes, 2);
    EXPECT_EQ(Cli({"flash", "-p", d.path, "--reset", "cts", Sample()}).status, 2);
}

TEST_F(CliTest, VerboseTracesEveryCommandAndAnswer)
{
    Device d;
    const CliRun r = Cli({"flash", "-vp", d.path, "--mode=eeprom", "--", Sample()});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    const QString ts = "\\[ *[0-9]+\\.[0-9]{6}\\] ";
    for (const QString& line : {ts + "> 1B 55 1B\n", ts + "- input and output queues purged\n", ts + "> 45\n",
                                ts + "< 0D\n", ts + "> 41 10 00\n", ts + "> 44 63 63 63 63\n", ts + "> 4A\n"})
        EXPECT_TRUE(QRegularExpression(line).match(r.err).hasMatch()) << line.toStdString() << r.err.toStdString();
}

TEST_F(CliTest, SeveralDevicesAtOnceEachWithItsResult)
{
    Device a, b, silent("F:silent");
    // The first device named again as a name under /dev runs once.
    const QString list = Write("ports.txt", ("# the line's fixtures\n" + b.path + "\n\n" + silent.path + "\n" + a.path.mid(5) + "\n").toUtf8());
    const CliRun r = Cli({"flash", "-p", a.path, "--ports-from", list, "-m", "both", Sample()});
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    for (const Device* d : {&a, &b}) {
        ASSERT_TRUE(d->sim->WaitFor([](const bootsim::DeviceRecord& rec) { return rec.Jumps == 1; }, 5000));
        EXPECT_EQ(d->sim->Snapshot().Pages.size(), 3u);
        EXPECT_TRUE(QRegularExpression(QRegularExpression::escape(d->path) + " +[0-9.]+s  done\n").match(r.err).hasMatch())
            << r.err.toStdString();
    }
    EXPECT_TRUE(r.err.contains("s  Set Flash mode: Communication Error! The device gave no answer within the time-out.\n"))
        << r.err.toStdString();
    // Two devices took the file's three pages each.
    EXPECT_TRUE(QRegularExpression("\nDone: 2 of 3 devices, 6 pages, [0-9]+ bytes in [0-9.]+ s \\([0-9]+ bytes/s\\)\n$")
                    .match(r.err).hasMatch())
        << r.err.toStdString();
    // A port that is not there fails alone, with the port's own status.
    Device c;
    const CliRun gone = Cli({"flash", "-p", c.path, "-p", "/dev/zentrop-no-such-port", Sample()});
    EXPECT_EQ(gone.status, 4) << gone.err.toStdString();
    ASSERT_TRUE(c.sim->WaitFor([](const bootsim::DeviceRecord& rec) { return rec.Jumps == 1; }, 5000)) << gone.err.toStdString();
}

TEST_F(CliTest, PortErrorsGiveStatusFour)
{
    const CliRun missing = Cli({"flash", "--port", "/dev/zentrop-no-such-port", Sample()});
    EXPECT_EQ(missing.status, 4);
    EXPECT_TRUE(missing.err.contains("COM Port Error: Unable to open com port on /dev/zentrop-no-such-port\n"))
        << missing.err.toStdString();

    Device hangsUp("D#1+3:hangup");
    const CliRun gone = Cli({"flash", "--port", hangsUp.path, Sample()});
    EXPECT_EQ(gone.status, 4);
    EXPECT_TRUE(gone.err.contains("COM Port Error: ")) << gone.err.toStdString();
}

// A signal in the middle of a page ends the run cleanly: the port leaves exclusive use and
// gets back the settings it had, so the next run can open it.
TEST_F(CliTest, SignalsEndTheRunAndGiveThePortBack)
{
    Builder pages;
    pages.Flash();
    for (int i = 0; i < 8; ++i)
        pages.Page(i * 256, QByteArray(256, char('a' + i)));
    const QString file = Write("long.upg", pages.Bytes());
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        bootsim::SimOptions o;
        o.Device.FlashPageSize = 256;
        o.Baud = 1200; // about two seconds a page
        bootsim::Simulator sim(o);
        const QString path = sim.Open();
        sim.Start();
        const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        termios before{};
        ASSERT_EQ(tcgetattr(fd, &before), 0);

        QProcess p;
        p.setReadChannel(QProcess::StandardError);
        p.start(QStringLiteral(ZENTROP_CLI), {"flash", "--port", path, file});
        QByteArray err;
        while (!err.contains("Write Flash Page") && p.waitForReadyRead(10000))
            err += p.readAllStandardError();
        ASSERT_TRUE(err.contains("Write Flash Page")) << err.toStdString();
        ::kill(static_cast<pid_t>(p.processId()), sig);
        ASSERT_TRUE(p.waitForFinished(10000));
        err += p.readAllStandardError();
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 130);
        EXPECT_TRUE(err.endsWith("The upgrade was interrupted.\n")) << err.toStdString();

        int exclusive = -1;
        ASSERT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 0);
        termios after{};
        ASSERT_EQ(tcgetattr(fd, &after), 0);
        EXPECT_EQ(after.c_lflag, before.c_lflag);
        EXPECT_EQ(after.c_iflag, before.c_iflag);
        EXPECT_EQ(after.c_cflag, before.c_cflag);
        ::close(fd);
        EXPECT_EQ(sim.Snapshot().Jumps, 0);
    }
}

TEST_F(CliTest, PermissionErrorHintsAtTheDialoutGroup)
{
    Device d;
    const QString file = Sample();
    chmod(file.toLocal8Bit().constData(), 0644);
    // The exit status of a child that cannot reach the program or the upgrade file: the
    // checkout may lie where the unprivileged user cannot go.
    constexpr int kUnreachable = 77;
    std::function<void()> asOtherUser;
    if (geteuid() == 0) {
        // Root may open anything; the pseudo-terminal is not open to an unprivileged user.
        const passwd* nobody = getpwnam("nobody");
        if (!nobody)
            GTEST_SKIP() << "no unprivileged user to run as";
        chmod(dir.path().toLocal8Bit().constData(), 0755);
        const uid_t uid = nobody->pw_uid;
        const gid_t gid = nobody->pw_gid;
        asOtherUser = [uid, gid, path = file.toLocal8Bit()] {
            if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0)
                _exit(99);
            if (access(ZENTROP_CLI, X_OK) != 0 || access(path.constData(), R_OK) != 0)
                _exit(kUnreachable);
        };
    } else {
        ASSERT_EQ(chmod(d.path.toLocal8Bit().constData(), 0), 0);
    }
    const CliRun r = Cli({"flash", "--port", d.path, file}, asOtherUser);
    if (r.status == kUnreachable)
        GTEST_SKIP() << "the unprivileged user cannot reach the program or the test's files";
    EXPECT_EQ(r.status, 4) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("dialout")) << r.err.toStdString();
}

TEST(CliPorts, ListsAndSucceeds)
{
    const CliRun r = Cli({"ports"});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    for (const QString& line : r.out.split('\n', Qt::SkipEmptyParts))
        EXPECT_TRUE(line.startsWith("/dev/")) << line.toStdString();
    const CliRun json = Cli({"ports", "--json"});
    EXPECT_EQ(json.status, 0);
    const QJsonArray list = QJsonDocument::fromJson(json.out.toUtf8()).array();
    EXPECT_EQ(list.size(), r.out.count('\n'));
    for (const QJsonValue& p : list)
        EXPECT_TRUE(p.toObject().value("port").toString().startsWith("/dev/"));
}

TEST_F(CliTest, PortInUseNamesItsHolder)
{
    Device d;
    // This test process holds the port the way another upgrade would.
    const int fd = ::open(d.path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    const CliRun r = Cli({"flash", "--port", d.path, Sample()});
    ::close(fd);
    EXPECT_EQ(r.status, 4);
    EXPECT_TRUE(r.err.contains(QStringLiteral("Another program is using the port: upgrade_e2e_tes (process %1).").arg(::getpid())))
        << r.err.toStdString();
}

TEST_F(CliTest, PackMakesAFileThatInfoReadsBack)
{
    // Two HEX records at 0x8000 and 0x8100 (the second all erased), then the end.
    const QString hex = Write("fw.hex", ":020000040000FA\n:048000000102030472\n:02810000FFFF7F\n:00000001FF\n");
    const QString bin = Write("ee.bin", QByteArray("\x01\x02\x03\x04\x05", 5));
    const QString out = dir.filePath("fw.upg");
    const CliRun r = Cli({"pack", "--flash=" + hex, "-e", bin, "--flash-page-size", "256", "--eeprom-page-size=4",
                          "--base", "0x8000", "--name", "fw", "--version", "3", "--user", "9", "-o", out});
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(Cli({"info", "--json", out}).out.toUtf8()).object();
    EXPECT_EQ(o.value("name").toString(), "fw");
    EXPECT_EQ(o.value("user").toInt(), 9);
    const QJsonArray flash = o.value("flash").toArray();
    ASSERT_EQ(flash.size(), 1); // the erased page is left out
    EXPECT_EQ(flash[0].toObject().value("size").toInt(), 256);
    const QJsonArray eeprom = o.value("eeprom").toArray();
    ASSERT_EQ(eeprom.size(), 2);
    EXPECT_EQ(eeprom[1].toObject().value("address").toInt(), 4);

    ASSERT_EQ(Cli({"pack", "-f", hex, "--keep-blank", "--base=0x8000", "-o", out}).status, 0);
    EXPECT_EQ(QJsonDocument::fromJson(Cli({"info", "--json", out}).out.toUtf8()).object().value("flash").toArray().size(), 2);
}

TEST_F(CliTest, PackRefusesAndLeavesNoOutput)
{
    const QString out = dir.filePath("out.upg");
    const QString badSum = Write("bad.hex", ":0400000001020304F1\n:00000001FF\n");
    const CliRun bad = Cli({"pack", "-f", badSum, "-o", out});
    EXPECT_EQ(bad.status, 3);
    EXPECT_TRUE(bad.err.contains("bad.hex:1: has the checksum 0xF1, its bytes need 0xF2")) << bad.err.toStdString();
    EXPECT_FALSE(QFile::exists(out));
    // Out of reach without a base; an existing output stays as it was.
    Write("out.upg", "old");
    const CliRun far = Cli({"pack", "-f", Write("far.hex", ":020000040001F9\n:0100000055AA\n:00000001FF\n"), "-o", out});
    EXPECT_EQ(far.status, 3);
    EXPECT_TRUE(far.err.contains("far.hex:2: holds data at 0x10000")) << far.err.toStdString();
    QFile old(out);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), "old");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).filter("out.upg").size(), 1); // no temporary left

    EXPECT_EQ(Cli({"pack", "-f", badSum, "--flash-page-size", "1024", "-o", out}).status, 2);

    // What is not a regular file is never replaced by one.
    const QString fifo = dir.filePath("out.fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const CliRun special = Cli({"pack", "-f", Write("ok.hex", ":0100000055AA\n:00000001FF\n"), "-o", fifo});
    EXPECT_EQ(special.status, 3);
    EXPECT_TRUE(special.err.contains("out.fifo: not a regular file, which is never replaced")) << special.err.toStdString();
    EXPECT_FALSE(QFileInfo(fifo).isFile());
}

// Outside a run there is nothing to put back: a signal ends any command at once, whatever it
// is busy with (here a long PO file, with the signal already waiting when the program starts).
TEST_F(CliTest, ASignalOutsideARunEndsTheCommandAtOnce)
{
    QByteArray po = "msgid \"\"\nmsgstr \"Content-Type: text/plain; charset=UTF-8\\n\"\n";
    for (int i = 0; i < 100000; ++i)
        po += "\nmsgctxt \"" + QByteArray::number(i) + "\"\nmsgid \"text\"\nmsgstr \"\"\n";
    const QString out = dir.filePath("big.lcf");
    const CliRun r = Cli({"lcf", "build", "--lang", "1038=" + Write("big.po", po), "-o", out}, [] {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigprocmask(SIG_BLOCK, &set, nullptr);
        kill(getpid(), SIGINT);
    });
    EXPECT_EQ(r.status, 130) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("interrupted")) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(out));
}
