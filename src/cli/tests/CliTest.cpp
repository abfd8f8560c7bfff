// zentrop-cli as scripts see it: exit statuses, the info and --json output, the status lines
// on standard error, and upgrades against the simulated bootloader.
#include "CliTestSupport.h"
#include "testsupport/UpgradeFileBuilder.h"

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
#include <memory>
#include <thread>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace zentrop;

using upgtest::Builder;
using clitest::Cli;
using clitest::CliRun;
using clitest::Device;

namespace {

class CliTest : public clitest::FileTest {
protected:
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
    // What the file is instead, and how to make an upgrade file of it.
    const struct {
        QString file;
        const char* says;
    } rejected[] = {
        {CrcBroken(), "broken.upg is damaged or not an upgrade file; a raw binary image (.bin) becomes one with "
                      "\"zentrop-cli pack --flash FW.bin --flash-page-size N -o FW.upg\".\n"},
        {Write("fw.hex", ":0400000001020304F2\n:00000001FF\n"),
         "fw.hex is an Intel HEX file, not an upgrade file: make one with \"zentrop-cli pack --flash FW.hex"},
        {Write("fw.elf", QByteArray("\x7F" "ELF\x01\x01\x01", 7) + QByteArray(64, 0)),
         "fw.elf is an ELF program, not an upgrade file: convert it to Intel HEX (objcopy -O ihex)"},
    };
    for (const auto& c : rejected) {
        const CliRun r = Cli({"info", c.file});
        EXPECT_EQ(r.status, 3);
        EXPECT_TRUE(r.err.startsWith("CRC error!\n" + c.file.section('/', 0, -2) + "/")) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromLatin1(c.says))) << r.err.toStdString();
    }
    const CliRun missing = Cli({"info", dir.filePath("missing.upg")});
    EXPECT_EQ(missing.status, 3);
    EXPECT_TRUE(missing.err.startsWith("Cannot open file")) << missing.err.toStdString();
    // The file is checked before the port is touched.
    EXPECT_EQ(Cli({"flash", "--port", "/dev/zentrop-no-such-port", CrcBroken()}).status, 3);
    // A list of ports in a FIFO would wait for a writer for ever.
    const QString fifo = dir.filePath("fifo");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const CliRun listed = Cli({"flash", "--ports-from", fifo, Sample()});
    EXPECT_EQ(listed.status, 3);
    EXPECT_TRUE(listed.err.contains("fifo: not a regular file")) << listed.err.toStdString();
    // A list of ports that is missing is a file error, as a missing upgrade file is.
    EXPECT_EQ(Cli({"flash", "--ports-from", dir.filePath("missing.txt"), Sample()}).status, 3);
    // "help flash" is "flash --help".
    const CliRun help = Cli({"help", "flash"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out, Cli({"flash", "--help"}).out);

    const QList<QStringList> usage{{},
                                   {"frobnicate"},
                                   {"info"},
                                   {"info", "--xml", Sample()},
                                   {"info", Sample(), Sample()},
                                   {"flash", Sample()},
                                   {"flash", "--port"},
                                   {"flash", "--port", "/dev/null", "--mode", "most", Sample()},
                                   {"flash", "--port", "/dev/null", "--reset", "dtr=2", Sample()},
                                   {"flash", "--port", "/dev/null", "--reset-pulse", "-1", Sample()},
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
                          "Send Flash mode\nFlash page 1/2 at 0x0000\nFlash page 2/2 at 0x01A0\n"
                          "Send EEProm mode\nEEProm page 1/1 at 0x0010\nJump to Application!\n";
    EXPECT_TRUE(r.err.startsWith(lines)) << r.err.toStdString();
    EXPECT_TRUE(QRegularExpression("^Done: 3 pages, 36 bytes of data \\(54 bytes sent\\) in [0-9.]+ s \\([0-9]+ bytes/s\\)\n$").match(r.err.mid(lines.size())).hasMatch())
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
        {"A#2:wrong=41", "Flash page 2/2 at 0x01A0\nSend Flash Page address: Communication Error!\n"
                         "The device on %1 gave a wrong answer: expected 0x0D, got 0x41.\n"
                         "A wrong line speed garbles the answers: check --baud (now 115200).\n"},
        {"F:silent", "Send Flash mode\nSet Flash mode: Communication Error!\n"
                     "The device on %1 gave no answer within the time-out.\nCheck that the device is powered and "
                     "connected, that its bootloader runs (--reset restarts it, --wake-retries N waits for a slow "
                     "start) and the line speed (--baud, now 115200).\n"},
    };
    for (const auto& c : cases) {
        Device d(c.fault);
        const CliRun r = Cli({"flash", "--port", d.path, Sample()});
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.err.endsWith(QString::fromLatin1(c.tail).arg(d.path))) << r.err.toStdString();
    }
}

// The device's pages are 16 bytes. A device that answers before the page's last byte is sent
// never ends in success: a second answer already waiting fails the page at once; a longer page
// is answered early and its rest taken as commands, whose refusals a later answer meets if the
// look before the last byte came too soon. A shorter first page leaves it waiting for more;
// silence after pages that were taken is a device that stopped, not a page size.
TEST_F(CliTest, AnAnswerBeforeThePagesEndOrSilenceInItIsNamed)
{
    const QString restart = QStringLiteral("Restart the device (power it off and on, or give --reset) before the next "
                                           "run, or that run fails too.");
    {
        Device d("A:twice");
        const CliRun r = Cli({"flash", "-p", d.path, "--retries", "2", Sample()});
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.err.contains(QStringLiteral(
            "Send Flash Page: Communication Error!\nThe device on %1 answered before the page's last byte was sent.\n"
            "The device ended Flash page 1/2 at 0x0000 before its 16 bytes were sent: its pages are shorter than the "
            "file's, unless it answered the address twice.").arg(d.path)))
            << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("It may have taken the rest of the page as commands. ") + restart));
        // The next attempt would end the same way: none is made.
        EXPECT_FALSE(r.err.contains("Retry"));
        EXPECT_EQ(d.sim->Snapshot().Jumps, 0);
    }
    {
        Device d;
        const QString file = Write("long.upg", Builder()
                                                   .Flash()
                                                   .Page(0x100, QByteArray(200, 'x'))
                                                   .EEProm()
                                                   .Page(0x10, QByteArray(4, 'c'))
                                                   .Bytes());
        const CliRun r = Cli({"flash", "-p", d.path, "-m", "both", file});
        EXPECT_EQ(r.status, 1) << r.err.toStdString();
        EXPECT_EQ(d.sim->Snapshot().Jumps, 0);
    }
    {
        // The run's last page, one byte longer than the device's, on a slow paced line: the
        // device's refusal of that byte comes a millisecond after its answer, and before the jump.
        Device d(nullptr, QByteArray(), 9600);
        const CliRun r = Cli({"flash", "-p", d.path, "-b", "9600",
                              Write("last.upg", Builder().Flash().Page(0x100, QByteArray(17, 'x')).Bytes())});
        EXPECT_EQ(r.status, 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("Send Flash Page: Communication Error!")) << r.err.toStdString();
        EXPECT_EQ(d.sim->Snapshot().Jumps, 0);
    }
    {
        Device d;
        const CliRun r = Cli({"flash", "-p", d.path,
                              Write("short.upg", Builder().Flash().Page(0x100, QByteArray(8, 'x')).Bytes())});
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.err.contains(QStringLiteral(
            "Send Flash Page: Communication Error!\nThe device on %1 gave no answer within the time-out.\nAfter the 8 "
            "bytes of Flash page 1/1 at 0x0100 the device still waited for more: its pages may be longer than the "
            "file's. Make the upgrade file with the device's page size (zentrop-cli pack "
            "--flash-page-size N).\nThe device now waits in the middle of a page. ").arg(d.path) + restart))
            << r.err.toStdString();
    }
    {
        Device d("D#3:silent");
        Builder b;
        b.Flash();
        for (int page = 0; page < 4; ++page)
            b.Page(page * 16, QByteArray(16, 'x'));
        const CliRun r = Cli({"flash", "-p", d.path, Write("four.upg", b.Bytes())});
        EXPECT_EQ(r.status, 1);
        EXPECT_TRUE(r.err.contains("The device took 2 of the 4 Flash pages and then stopped answering, at Flash page "
                                   "3/4 at 0x0020. Check its power supply and the cable.\n"
                                   "The device now waits in the middle of a page. " + restart))
            << r.err.toStdString();
        EXPECT_FALSE(r.err.contains("longer than the file's"));
    }
}

TEST_F(CliTest, WakeRetriesAndAResetThatCannotBeDone)
{
    // The simulator ignores its first "F" as a device still starting would; one more wake helps.
    Device d("F#1:silent");
    const CliRun r = Cli({"flash", "-p", d.path, "--wake-retries", "1", Sample()});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    ASSERT_TRUE(d.sim->WaitFor([](const bootsim::DeviceRecord& rec) { return rec.Jumps == 1; }, 5000));
    EXPECT_EQ(d.sim->Snapshot().Wakes, 2);
    // A pseudo-terminal has no modem lines: the board would not be reset, so nothing is sent.
    Device lineless;
    const CliRun reset = Cli({"flash", "-p", lineless.path, "--reset=rts=1,wait=1,dtr=1", Sample()});
    EXPECT_EQ(reset.status, 4);
    EXPECT_TRUE(reset.err.contains("The reset cannot drive RTS on " + lineless.path + ": Inappropriate ioctl for device."))
        << reset.err.toStdString();
    EXPECT_EQ(lineless.sim->Snapshot().Wakes, 0);
}

// A closed pipe or a full disk on standard error must not stop the upgrade half-way.
TEST_F(CliTest, AnOutputThatFailsDoesNotStopTheRun)
{
    Device d;
    int pipeFds[2];
    ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    ::close(pipeFds[0]);
    const int writeEnd = pipeFds[1];
    const CliRun r = Cli({"flash", "-p", d.path, "-m", "both", Sample()}, [writeEnd] { ::dup2(writeEnd, 2); });
    ::close(writeEnd);
    EXPECT_EQ(r.status, 0);
    ASSERT_TRUE(d.sim->WaitFor([](const bootsim::DeviceRecord& rec) { return rec.Jumps == 1; }, 5000));
    EXPECT_EQ(d.sim->Snapshot().Pages.size(), 3u);
}

TEST_F(CliTest, ModesSayWhatTheyLeaveOutAndARunWithoutPagesFails)
{
    const QString flashOnly = Write("flash.upg", Builder().Flash().Page(0, QByteArray(16, 'f')).Bytes());
    const struct {
        QString file;
        const char* mode;
        int status;
        size_t pages;
        const char* says;
    } cases[] = {
        {Sample(), "flash", 0, 2, "Left out: the file's 1 EEProm pages (--mode both or --mode all writes them).\n"},
        {Sample(), "all", 0, 3, "Send EEProm mode\n"},
        {flashOnly, "all", 0, 1, "Send Flash mode\n"},
        {flashOnly, "eeprom", 5, 0, "holds no EEProm pages. Its 1 Flash pages are written with --mode flash or --mode all.\n"},
        {Write("empty.upg", Builder().Bytes()), "both", 5, 0, "empty.upg holds no pages.\n"},
    };
    for (const auto& c : cases) {
        Device d;
        const CliRun r = Cli({"flash", "-p", d.path, "--mode", c.mode, c.file});
        EXPECT_EQ(r.status, c.status) << c.mode << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromLatin1(c.says))) << c.mode << r.err.toStdString();
        if (c.pages > 0) {
            ASSERT_TRUE(d.sim->WaitFor([](const bootsim::DeviceRecord& rec) { return rec.Jumps == 1; }, 5000));
        }
        EXPECT_EQ(d.sim->Snapshot().Pages.size(), c.pages);
        if (c.status != 0) {
            EXPECT_EQ(d.sim->Snapshot().Wakes, 0); // the device is not touched
        }
    }
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
    EXPECT_TRUE(r.err.contains("s  Set Flash mode: Communication Error! The device on " + silent.path +
                               " gave no answer within the time-out.\n"))
        << r.err.toStdString();
    // Not a terminal: each progress line and message with its port in front.
    for (const QString& line : {QRegularExpression::escape(b.path) + " +EEProm page 1/1 at 0x0010\n",
                                QRegularExpression::escape(silent.path) + " +Set Flash mode: Communication Error!\n"})
        EXPECT_TRUE(QRegularExpression(line).match(r.err).hasMatch()) << line.toStdString() << r.err.toStdString();
    // Two devices took the file's three pages each.
    EXPECT_TRUE(QRegularExpression("\nDone: 2 of 3 devices, 6 pages, [0-9]+ bytes sent in [0-9.]+ s \\([0-9]+ bytes/s\\)\n$")
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
    EXPECT_TRUE(gone.err.endsWith("The device disconnected; the upgrade is incomplete. Connect it again and run the "
                                  "upgrade again.\n"))
        << gone.err.toStdString();

    // Names that are no serial device at all.
    const struct {
        QString port;
        const char* what;
    } notPorts[] = {{dir.path(), "a directory"}, {Sample(), "a regular file"}, {"/dev/null", "a device that is not a terminal"}};
    for (const auto& c : notPorts) {
        const CliRun r = Cli({"flash", "--port", c.port, Sample()});
        EXPECT_EQ(r.status, 4);
        EXPECT_TRUE(r.err.contains(c.port + " is " + c.what + ", not a serial port; \"zentrop-cli ports\" lists the serial ports.\n"))
            << r.err.toStdString();
    }
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
        // This test holds the port itself, to look at it afterwards.
        p.start(QStringLiteral(ZENTROP_CLI), {"flash", "--force", "--port", path, file});
        QByteArray err;
        while (!err.contains("Flash page 1/") && p.waitForReadyRead(10000))
            err += p.readAllStandardError();
        ASSERT_TRUE(err.contains("Flash page 1/")) << err.toStdString();
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

TEST_F(CliTest, PermissionErrorHintsAtTheGroupOnlyWhereItHelps)
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
    // A group that may not read and write the device is no remedy.
    EXPECT_TRUE(r.err.contains("so joining a group does not help")) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("usermod")) << r.err.toStdString();
    // Given to a group that may, the device is the user's to use after joining it.
    const group* dialout = getgrnam("dialout");
    if (geteuid() != 0 || !dialout)
        return;
    ASSERT_EQ(chown(d.path.toLocal8Bit().constData(), 0, dialout->gr_gid), 0);
    ASSERT_EQ(chmod(d.path.toLocal8Bit().constData(), 0660), 0);
    const CliRun group = Cli({"flash", "--port", d.path, file}, asOtherUser);
    EXPECT_EQ(group.status, 4) << group.err.toStdString();
    EXPECT_TRUE(group.err.contains("adding it to the group \"dialout\" (sudo usermod -aG dialout $USER)"))
        << group.err.toStdString();
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
    // This test process holds the port without a lock, as a terminal program left open would.
    const int fd = ::open(d.path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    QFile comm(QStringLiteral("/proc/self/comm"));
    ASSERT_TRUE(comm.open(QIODevice::ReadOnly));
    const QString holder = QStringLiteral("%1 (process %2)").arg(QString::fromLocal8Bit(comm.readAll().trimmed())).arg(::getpid());
    const CliRun r = Cli({"flash", "--port", d.path, Sample()});
    EXPECT_EQ(r.status, 4);
    EXPECT_TRUE(r.err.contains(d.path + " is open in " + holder + ", which would take the device's answers. Close it, "
                               "or give --force to upgrade anyway.\n"))
        << r.err.toStdString();
    EXPECT_EQ(d.sim->Snapshot().Wakes, 0);
    // Told to go on, the run still meets the lock another upgrade would hold.
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    const CliRun forced = Cli({"flash", "--force", "--port", d.path, Sample()});
    ::close(fd);
    EXPECT_EQ(forced.status, 4);
    EXPECT_TRUE(forced.err.contains("Another program is using the port: " + holder + ".")) << forced.err.toStdString();
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

// Names are bytes: one that is not valid UTF-8 still opens.
TEST_F(CliTest, FileNamesThatAreNotUtf8Open)
{
    QFile::copy(Sample(), dir.filePath("x"));
    const QByteArray bytes = QFile::encodeName(dir.filePath("x"));
    ASSERT_EQ(::rename(bytes.constData(), (bytes + "\xE9.upg").constData()), 0);
    QProcess p;
    p.start(QStringLiteral("/bin/sh"), {"-c", "exec \"$0\" info \"$1$(printf '\\351').upg\"", ZENTROP_CLI, dir.filePath("x")});
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    EXPECT_TRUE(p.readAllStandardOutput().startsWith("Name: Zentr\xC3\xB6p\n"));
}

// What a production line collects: the JSON object and the appended log.
TEST_F(CliTest, JsonAndLogCollectTheResults)
{
    // The second device stays silent after the second page's data.
    Device good, silent("D#2:silent");
    const QString log = Write("line.log", "earlier run\n");
    const CliRun r = Cli({"flash", "-p", good.path, "-p", silent.path, "-m", "both", "--json", "-v", "--log", log, Sample()});
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
    const QJsonArray ports = o.value("ports").toArray();
    ASSERT_EQ(ports.size(), 2) << r.out.toStdString();
    const QJsonObject done = ports[0].toObject(), failed = ports[1].toObject();
    EXPECT_EQ(done.value("port").toString(), good.path);
    EXPECT_EQ(done.value("result").toString(), "ok");
    EXPECT_EQ(done.value("pages").toInt(), 3);
    EXPECT_EQ(done.value("bytes").toInt(), 54);
    for (const char* key : {"step", "memory", "page", "address"})
        EXPECT_TRUE(done.value(key).isNull()) << key;
    EXPECT_TRUE(done.value("by_id").isNull()); // a pseudo-terminal has none
    EXPECT_EQ(failed.value("status").toInt(), 1);
    EXPECT_EQ(failed.value("result").toString(), "no_answer");
    EXPECT_EQ(failed.value("message").toString(), "Send Flash Page: Communication Error!");
    EXPECT_EQ(failed.value("step").toString(), "data");
    EXPECT_EQ(failed.value("memory").toString(), "flash");
    EXPECT_EQ(failed.value("page").toInt(), 2);
    EXPECT_EQ(failed.value("address").toInt(), 0x1A0);
    EXPECT_EQ(failed.value("pages").toInt(), 1);
    EXPECT_EQ(o.value("devices").toInt(), 2);
    EXPECT_EQ(o.value("done").toInt(), 1);
    EXPECT_EQ(o.value("status").toInt(), 1);

    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    EXPECT_TRUE(text.startsWith("earlier run\n")) << text.toStdString();
    const QString at = "\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}Z ";
    for (const QString& line : {at + QRegularExpression::escape(good.path) + " > 1B 55 1B\n",
                                at + QRegularExpression::escape(silent.path) + " < \\(nothing within the time-out",
                                at + QRegularExpression::escape(good.path) + " result: done; status 0, 3 pages, 54 bytes in [0-9.]+ s, 0 retries; ok\n",
                                at + QRegularExpression::escape(silent.path) +
                                    " result: Send Flash Page: Communication Error! .* \\(Flash page 2/2 at 0x01A0\\); "
                                    "status 1, 1 page, [0-9]+ bytes in [0-9.]+ s, 0 retries; no_answer\n",
                                at + "totals: 1 of 2 devices done, 4 pages, [0-9]+ bytes in [0-9.]+ s; exit status 1\n"})
        EXPECT_TRUE(QRegularExpression(line).match(text).hasMatch()) << line.toStdString() << text.toStdString();
}

// A retry wakes the device again and starts over; it says so, and that the device may still
// be in the page's data when it failed there.
TEST_F(CliTest, RetriesStartOverAfterAFailure)
{
    Device d("D#1:silent");
    const CliRun r = Cli({"flash", "-p", d.path, "--retries", "2", "--json", Sample()});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("Retry 1 of 2 on " + d.path + " after: Send Flash Page: Communication Error! (it may "
                               "still be in the page's data and take the opening sequence as data; --reset restarts it "
                               "reliably)\n"))
        << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("Retry 2"));
    const QJsonObject port = QJsonDocument::fromJson(r.out.toUtf8()).object().value("ports").toArray()[0].toObject();
    EXPECT_EQ(port.value("retries").toInt(), 1);
    EXPECT_EQ(port.value("pages").toInt(), 2);
    ASSERT_TRUE(d.sim->WaitFor([](const bootsim::DeviceRecord& rec) { return rec.Jumps == 1; }, 5000));
    EXPECT_EQ(d.sim->Snapshot().Wakes, 2);
}

// More ports than the terminal has rows: the redraws stay within the terminal, so nothing
// scrolls into the scrollback, and no line is wide enough to wrap.
TEST_F(CliTest, ManyPortsFitTheTerminal)
{
    constexpr int kRows = 5, kColumns = 40;
    std::vector<std::unique_ptr<Device>> devices;
    QStringList args{"flash", "-m", "both"};
    for (int i = 0; i < 6; ++i) {
        devices.push_back(std::make_unique<Device>());
        args << "-p" << devices.back()->path;
    }
    args << Sample();
    const int terminal = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(terminal, 0);
    ASSERT_EQ(::grantpt(terminal), 0);
    ASSERT_EQ(::unlockpt(terminal), 0);
    const QByteArray name = ::ptsname(terminal);
    const winsize size{kRows, kColumns, 0, 0};
    ASSERT_EQ(::ioctl(terminal, TIOCSWINSZ, &size), 0);
    // Held here too, so the reader sees the end only once the program has gone.
    const int slave = ::open(name.constData(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    QByteArray screen;
    std::thread reader([&] {
        char buffer[4096];
        for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0;)
            screen.append(buffer, n);
    });
    const CliRun r = Cli(args, [slave] { ::dup2(slave, 2); });
    ::close(slave);
    reader.join();
    ::close(terminal);
    EXPECT_EQ(r.status, 0);
    const QRegularExpression up("\\x1b\\[(\\d+)A");
    int redraws = 0;
    for (auto it = up.globalMatch(QString::fromLatin1(screen)); it.hasNext(); ++redraws)
        EXPECT_LE(it.next().captured(1).toInt(), kRows - 1);
    EXPECT_GT(redraws, 0);
    EXPECT_TRUE(screen.contains("+3 ports: 0 running, 3 done, 0 failed")) << screen.toStdString();
    for (QByteArray line : screen.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const qsizetype clear = line.lastIndexOf("\x1b[K");
        if (clear >= 0) {
            EXPECT_LT(line.size() - clear - 3, kColumns) << line.toStdString();
        }
    }
}

// One step from the build: the images packed in memory and flashed, no upgrade file written.
TEST_F(CliTest, FlashTakesTheBuildsImagesDirectly)
{
    Device d;
    // 32 bytes at 0x18000: two pages of 16 from the base.
    QByteArray hex = ":020000040001F9\n";
    for (int line = 0; line < 2; ++line) {
        QByteArray record = QByteArray::fromHex("10") + QByteArray::fromHex(line == 0 ? "8000" : "8010") + QByteArray(1, 0) +
                            QByteArray(16, char(0x11 * (line + 1)));
        uint8_t sum = 0;
        for (const char c : record)
            sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
        hex += ":" + (record + QByteArray(1, static_cast<char>(-sum))).toHex().toUpper() + "\n";
    }
    hex += ":00000001FF\n";
    const QString fw = Write("fw.hex", hex);
    const CliRun r = Cli({"flash", "-p", d.path, "--flash", fw, "--flash-page-size", "16", "--base", "0x18000"});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    ASSERT_TRUE(d.sim->WaitFor([](const bootsim::DeviceRecord& rec) { return rec.Jumps == 1; }, 5000));
    const auto pages = d.sim->Snapshot().Pages;
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[1].Address, 16);
    EXPECT_EQ(pages[1].Data, QByteArray(16, 0x22));
    EXPECT_EQ(QDir(dir.path()).entryList({"*.upg"}, QDir::Files).size(), 0);

    // Without the base the data lies beyond the page addresses: refused with the base to give,
    // at the first record out of reach, before the damaged line after it is read.
    const CliRun far = Cli({"flash", "-p", d.path, "--flash", Write("far.hex", hex.left(hex.indexOf("\n:00")) + "\n:zz\n")});
    EXPECT_EQ(far.status, 3);
    EXPECT_TRUE(far.err.contains("far.hex:2: holds data at 0x18000, page address 0x18000 counted from the base 0x0, "
                                 "beyond 0xFFFF, the last page address an upgrade file holds; the data starts at 0x18000: "
                                 "give --base 0x18000"))
        << far.err.toStdString();
    EXPECT_EQ(Cli({"flash", "-p", d.path, "--flash", fw, Sample()}).status, 2);
    // Every image the user names is written; a mode that would leave one out is a usage error.
    // At 0x18010, 0x10 counted from the base as the Flash image's addresses are.
    const QString ee = Write("ee.hex", ":020000040001F9\n:0480100063636363E0\n:00000001FF\n");
    Device both;
    const CliRun named = Cli({"flash", "-p", both.path, "--flash", fw, "--flash-page-size", "16", "--base", "0x18000",
                              "--eeprom", ee, "--eeprom-page-size", "4"});
    EXPECT_EQ(named.status, 0) << named.err.toStdString();
    ASSERT_TRUE(both.sim->WaitFor([](const bootsim::DeviceRecord& rec) { return rec.Jumps == 1; }, 5000));
    const auto written = both.sim->Snapshot().Pages;
    ASSERT_EQ(written.size(), 3u);
    EXPECT_EQ(written[2].Where, bootsim::Memory::EEProm);
    EXPECT_EQ(written[2].Data, "cccc");
    for (const QStringList& leftOut : {QStringList{"--eeprom", ee, "-m", "flash"}, QStringList{"-m", "eeprom"}}) {
        const CliRun r = Cli(QStringList{"flash", "-p", both.path, "--flash", fw, "--base", "0x18000"} + leftOut);
        EXPECT_EQ(r.status, 2) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("leaves out the")) << r.err.toStdString();
    }
    EXPECT_EQ(Cli({"flash", "-p", both.path, "--eeprom", ee, Sample()}).status, 2);
    EXPECT_EQ(both.sim->Snapshot().Wakes, 1);
}
