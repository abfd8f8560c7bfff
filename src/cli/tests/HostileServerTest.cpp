// zentrop-cli against network serial servers that misbehave: floods, endless
// subnegotiations, silence, wrong and doubled answers, refusals, and connections closed or
// reset at each step of a run; and SIGTERM in each phase. Every run must end with its own
// status, one JSON object that says the same, and a peak memory that stays small.
#include "testsupport/HostileServer.h"
#include "testsupport/UpgradeFileBuilder.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace zentrop;

using Clock = std::chrono::steady_clock;

namespace {

// Far beyond what any run here needs, even on a loaded machine: only a hang reaches it.
constexpr auto kHangGuard = std::chrono::seconds(60);
constexpr long kPeakMemoryKiB = 64 * 1024;

struct ChildRun {
    int status = -1;           // the exit status; -1 for a child that ended by a signal
    QByteArray out, err;
    long peakKiB = 0;          // the child's peak resident memory
    double afterSignalS = 0;   // from the signal to the child's end
};

// Runs zentrop-cli with its output in files, and its peak memory from wait4. Ready, when
// given, is polled until it holds; then the child gets SIGTERM.
ChildRun RunCli(const QStringList& args, const std::function<bool(pid_t)>& ready = {})
{
    QTemporaryDir dir;
    const QByteArray out = QFile::encodeName(dir.filePath("out")), err = QFile::encodeName(dir.filePath("err"));
    std::vector<QByteArray> owned{QByteArrayLiteral(ZENTROP_CLI)};
    for (const QString& a : args)
        owned.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : owned)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ChildRun r;
    EXPECT_EQ(spawned, 0);
    if (spawned != 0)
        return r;
    const Clock::time_point start = Clock::now();
    Clock::time_point signalled{};
    bool signalSent = !ready;
    int wstatus = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = ::wait4(pid, &wstatus, WNOHANG, &usage);
        if (done == pid)
            break;
        if (Clock::now() - start > kHangGuard) {
            ADD_FAILURE() << "zentrop-cli hangs: " << args.join(' ').toStdString();
            ::kill(pid, SIGKILL);
            ::wait4(pid, &wstatus, 0, &usage);
            break;
        }
        if (!signalSent && ready(pid)) {
            signalled = Clock::now();
            ::kill(pid, SIGTERM);
            signalSent = true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (ready)
        r.afterSignalS = std::chrono::duration<double>(Clock::now() - signalled).count();
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    r.peakKiB = usage.ru_maxrss;
    for (auto [path, into] : {std::pair{&out, &r.out}, std::pair{&err, &r.err}}) {
        QFile f(QFile::decodeName(*path));
        if (f.open(QIODevice::ReadOnly))
            *into = f.readAll();
    }
    return r;
}

// How many TCP connects to this loopback port are under way on the machine.
int Connecting(int port)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray remote = QStringLiteral("0100007F:%1").arg(port, 4, 16, QLatin1Char('0')).toUpper().toLatin1();
    int count = 0;
    for (const QByteArray& line : table.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        count += f.size() > 3 && f[2] == remote && f[3] == "02";   // SYN_SENT
    }
    return count;
}

class HostileServerTest : public testing::Test {
protected:
    void SetUp() override
    {
        upgrade = dir.filePath("fw.upg");
        QFile f(upgrade);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(upgtest::Builder().Flash().Page(0, QByteArray(16, 'a')).Page(0x100, QByteArray(16, 'b')).Bytes());
    }

    static hostile::Options Fair()
    {
        hostile::Options o;
        o.Device.FlashPageSize = 16;
        return o;
    }

    // One run against the server: the status, one JSON object with the same, small memory.
    ChildRun Flash(hostile::Server& server, int status, const char* says = nullptr,
                   const std::function<bool(pid_t)>& ready = {})
    {
        QString error;
        EXPECT_TRUE(server.Start(&error)) << error.toStdString();
        const ChildRun r = RunCli({"flash", "-p", server.Url(), "--json", upgrade}, ready);
        const std::string context = server.Url().toStdString() + "\n" + r.err.toStdString() + r.out.toStdString();
        EXPECT_EQ(r.status, status) << context;
        QJsonParseError parsed{};
        const QJsonDocument json = QJsonDocument::fromJson(r.out, &parsed);
        EXPECT_EQ(parsed.error, QJsonParseError::NoError) << context;
        EXPECT_TRUE(json.isObject()) << context;
        EXPECT_EQ(json.object().value("status").toInt(-1), status) << context;
        EXPECT_LT(r.peakKiB, kPeakMemoryKiB) << context;
        if (says) {
            EXPECT_TRUE(r.err.contains(says)) << "missing \"" << says << "\"\n" << context;
        }
        server.Stop();
        return r;
    }

    QTemporaryDir dir;
    QString upgrade;
};

} // namespace

// Servers that break the protocol are dropped with their fault named; a flood of NOPs
// leaves a device that does not answer; memory stays flat throughout.
TEST_F(HostileServerTest, FloodsAndEndlessSubnegotiationsEndTheRun)
{
    struct Case {
        hostile::Behaviour what;
        int status;
        const char* says;
    } cases[] = {
        {hostile::Behaviour::NegotiationFlood, 4, "kept renegotiating the Telnet options"},
        {hostile::Behaviour::EndlessSub, 4, "subnegotiation without end"},
        {hostile::Behaviour::NopFlood, 1, nullptr},
    };
    for (const Case& c : cases) {
        hostile::Options o = Fair();
        o.What = c.what;
        hostile::Server server(o);
        Flash(server, c.status, c.says);
    }
}

// Wrong answers of the server or the device behind it: an answer before or at the start of
// a page's data fails the page; a rate the server set on its own is named; doubled answers
// of the COM port option are harmless; a refusal names the other client.
TEST_F(HostileServerTest, WrongAnswersGiveTheirOwnStatus)
{
    struct Case {
        const char* name;
        std::function<void(hostile::Options&)> set;
        int status;
        const char* says;
    } cases[] = {
        {"one byte early", [](hostile::Options& o) { o.Device.FlashPageSize = 15; }, 1, nullptr},
        {"eight bytes early", [](hostile::Options& o) { o.Device.FlashPageSize = 8; }, 1, nullptr},
        {"at D", [](hostile::Options& o) { o.AnswerAtData = true; }, 1, nullptr},
        {"device answers twice", [](hostile::Options& o) { o.DeviceAnswersTwice = true; }, 1, nullptr},
        {"COM port answers twice", [](hostile::Options& o) { o.What = hostile::Behaviour::DoubledAnswers; }, 0,
         nullptr},
        {"another rate", [](hostile::Options& o) { o.What = hostile::Behaviour::GarbageBaud; }, 4,
         "set the line to 57600 baud instead of the 115200 asked for"},
        {"in use", [](hostile::Options& o) { o.What = hostile::Behaviour::InUse; }, 4, "Another client holds"},
        {"in use, raw",
         [](hostile::Options& o) {
             o.What = hostile::Behaviour::InUse;
             o.Telnet = false;
         },
         4, "Another client holds"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        hostile::Options o = Fair();
        c.set(o);
        hostile::Server server(o);
        Flash(server, c.status, c.says);
    }
}

// The server closes or resets the connection at each step: connect, negotiation, the mode,
// the address, the middle of a page. Each is a port error, whichever way it is cut.
TEST_F(HostileServerTest, AConnectionCutAtAnyStepIsAPortError)
{
    struct Step {
        hostile::HangUp when;
        const char* fault;
    } steps[] = {
        {hostile::HangUp::AtConnect, nullptr},     {hostile::HangUp::AfterNegotiation, nullptr},
        {hostile::HangUp::AtDeviceFault, "F:hangup"}, {hostile::HangUp::AtDeviceFault, "A:hangup"},
        {hostile::HangUp::AtDeviceFault, "D#1+5:hangup"}, {hostile::HangUp::AtDeviceFault, "D#2+1:hangup"},
    };
    for (const Step& s : steps) {
        for (hostile::HowHangUp how : {hostile::HowHangUp::Close, hostile::HowHangUp::Reset}) {
            for (bool telnet : {true, false}) {
                SCOPED_TRACE(std::string(s.fault ? s.fault : "") + " when " + std::to_string(int(s.when)) + " reset "
                             + std::to_string(how == hostile::HowHangUp::Reset) + " telnet " + std::to_string(telnet));
                hostile::Options o = Fair();
                o.When = s.when;
                o.How = how;
                o.Telnet = telnet;
                if (s.fault) {
                    QString error;
                    o.Device.Faults.push_back(*bootsim::Fault::Parse(QString::fromLatin1(s.fault), &error));
                }
                hostile::Server server(o);
                Flash(server, 4);
            }
        }
    }
}

// SIGTERM ends the run in every phase before the phase's own time-out would: the connect
// (5 s), the wait for the server's options (2 s), a flood, and a read. Status 130 is the
// proof: a phase that ran out its time-out ends as a port error (4) or no answer (1); the
// times are hang guards only.
TEST_F(HostileServerTest, SigtermEndsEveryPhase)
{
    // The connect of the upgrade, and the one of the reset before it.
    for (const QStringList& reset : {QStringList(), QStringList{"--reset", "dtr"}}) {
        SCOPED_TRACE(reset.join(' ').toStdString());
        hostile::Options o = Fair();
        o.What = hostile::Behaviour::NoAccept;
        hostile::Server server(o);
        const int port = [&] {
            QString error;
            EXPECT_TRUE(server.Start(&error));
            return server.Port();
        }();
        // The server's own queue fillers may wait too: the child's connect is one more.
        const int before = Connecting(port);
        const ChildRun r = RunCli(QStringList{"flash", "-p", server.Url(), "--json", upgrade} + reset,
                                  [port, before](pid_t) { return Connecting(port) > before; });
        EXPECT_EQ(r.status, 130) << r.err.toStdString();
        EXPECT_EQ(QJsonDocument::fromJson(r.out).object().value("status").toInt(), 130) << r.out.toStdString();
        EXPECT_LT(r.afterSignalS, 10) << "the connect went on after SIGTERM";
    }
    struct Case {
        const char* name;
        hostile::Behaviour what;
        const char* fault;
    } cases[] = {
        {"option wait", hostile::Behaviour::Silent, nullptr},
        {"flood", hostile::Behaviour::NopFlood, nullptr},
        {"read", hostile::Behaviour::Fair, "D#1:silent"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        hostile::Options o = Fair();
        o.What = c.what;
        if (c.fault) {
            QString error;
            o.Device.Faults.push_back(*bootsim::Fault::Parse(QString::fromLatin1(c.fault), &error));
        }
        hostile::Server server(o);
        const ChildRun r = Flash(server, 130, nullptr, [&server, &c](pid_t) {
            if (c.fault)
                return server.Record().Log.contains(QStringLiteral("silent at D#1"));
            return server.BytesTaken() > 0;
        });
        EXPECT_LT(r.afterSignalS, 10);
    }
}
