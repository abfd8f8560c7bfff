// What a production station reads from zentrop-cli flash: the JSON object of every exit
// status checked against the schema the manual documents, the event lines, the attempts of a
// retried port, the application check, quiet runs and the log's header.
#include "CliTestSupport.h"
#include "testsupport/UpgradeFileBuilder.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QSet>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <memory>

using namespace zentrop;

using upgtest::Builder;
using clitest::Cli;
using clitest::CliRun;
using clitest::Device;

namespace {

// The documented schema, read from "zentrop-cli help json": for each "NAME object:" block its
// fields with their types ("string|null"), and the names of the results.
struct Schema {
    QMap<QString, QMap<QString, QStringList>> Objects;
    QStringList Results;

    static Schema FromHelp()
    {
        Schema schema;
        const CliRun help = Cli({"help", "json"});
        EXPECT_EQ(help.status, 0);
        static const QRegularExpression title(QStringLiteral("^(\\w+) object:$"));
        static const QRegularExpression field(QStringLiteral("^  (\\w+) +([a-z|]+)  "));
        static const QRegularExpression result(QStringLiteral("^  ([a-z_]+) {2,}\\S"));
        QString block;
        for (const QString& line : help.out.split(u'\n')) {
            if (const QRegularExpressionMatch m = title.match(line); m.hasMatch()) {
                block = m.captured(1);
            } else if (line == QLatin1String("results:")) {
                block = line;
            } else if (line.isEmpty() || !line.startsWith(u' ')) {
                block.clear();
            } else if (block == QLatin1String("results:")) {
                if (const QRegularExpressionMatch m = result.match(line); m.hasMatch())
                    schema.Results << m.captured(1);
            } else if (!block.isEmpty()) {
                if (const QRegularExpressionMatch m = field.match(line); m.hasMatch())
                    schema.Objects[block][m.captured(1)] = m.captured(2).split(u'|');
            }
        }
        return schema;
    }

    static QString TypeOf(const QJsonValue& v)
    {
        switch (v.type()) {
        case QJsonValue::Null: return QStringLiteral("null");
        case QJsonValue::Bool: return QStringLiteral("bool");
        case QJsonValue::Double: return QStringLiteral("number");
        case QJsonValue::String: return QStringLiteral("string");
        case QJsonValue::Array: return QStringLiteral("array");
        case QJsonValue::Object: return QStringLiteral("object");
        default: return QStringLiteral("undefined");
        }
    }

    // Every documented field there with its type, nothing undocumented, results from the list;
    // the documented objects inside checked as well. Returns the faults.
    QStringList Check(const QString& name, const QJsonObject& o) const
    {
        QStringList faults;
        const QMap<QString, QStringList> fields = Objects.value(name);
        for (auto it = fields.begin(); it != fields.end(); ++it) {
            const QJsonValue v = o.value(it.key());
            if (!it.value().contains(TypeOf(v)))
                faults << QStringLiteral("%1.%2 is %3").arg(name, it.key(), TypeOf(v));
            if (it.key() == QLatin1String("result") && !Results.contains(v.toString()))
                faults << QStringLiteral("%1.result \"%2\" is not a documented result").arg(name, v.toString());
        }
        for (const QString& key : o.keys())
            if (!fields.contains(key))
                faults << QStringLiteral("%1.%2 is not documented").arg(name, key);
        if (o.value("file").isObject())
            faults << Check(QStringLiteral("file"), o.value("file").toObject());
        for (const QJsonValue& p : o.value(name == QLatin1String("run") ? "ports" : "").toArray())
            faults << Check(QStringLiteral("port"), p.toObject());
        for (const QJsonValue& a : o.value(name == QLatin1String("port") ? "attempts" : "").toArray())
            faults << Check(QStringLiteral("attempt"), a.toObject());
        return faults;
    }
};

class StationTest : public clitest::FileTest {
protected:
    QString Sample(int flashPages = 2)
    {
        Builder b;
        b.Name("fw").Version("2.1").User(1, 7).Flash();
        for (int i = 0; i < flashPages; ++i)
            b.Page(0x100 * i, QByteArray(16, char('a' + i % 26)));
        b.EEProm().Page(0x0010, QByteArray(4, 'c'));
        return Write(QStringLiteral("fw%1.upg").arg(flashPages), b.Bytes());
    }

    static QJsonObject Json(const CliRun& r)
    {
        // The object is the last line; event lines may come before it.
        const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
        return lines.isEmpty() ? QJsonObject() : QJsonDocument::fromJson(lines.last().toUtf8()).object();
    }

};

} // namespace

// Each status gives one object on standard output that the documented schema describes, with
// the result a station branches on.
TEST_F(StationTest, JsonOfEveryStatusFollowsTheDocumentedSchema)
{
    const Schema schema = Schema::FromHelp();
    ASSERT_TRUE(schema.Objects.contains("run") && schema.Objects.contains("port") && schema.Objects.contains("attempt"));
    ASSERT_EQ(schema.Results.size(), 12) << schema.Results.join(' ').toStdString();

    Device good, silent("F:silent"), wrong("F:wrong=41"), twice("D:twice"), appQuiet(nullptr, "booting\r\n");
    QByteArray broken = Builder().Flash().Page(0, "xy").Bytes();
    broken[broken.size() - 1] = static_cast<char>(broken[broken.size() - 1] ^ 0x5A);
    const QString flashOnly = Write("flash-only.upg", Builder().Flash().Page(0, QByteArray(16, 'x')).Bytes());
    const struct {
        QStringList args;
        int status;
        const char* result;
    } cases[] = {
        {{"-p", good.path, Sample()}, 0, "ok"},
        {{"-p", silent.path, Sample()}, 1, "no_answer"},
        {{"-p", wrong.path, Sample()}, 1, "wrong_answer"},
        {{"-p", twice.path, Sample()}, 1, "early_answer"},
        {{"-p", good.path, "--mode", "most", Sample()}, 2, "usage"},
        {{"-p", good.path, "--no-such-option", Sample()}, 2, "usage"},
        {{"-p", good.path, Write("broken.upg", broken)}, 3, "file_error"},
        {{"-p", dir.filePath("no-such-port"), Sample()}, 4, "port_error"},
        {{"-p", good.path, "--mode", "eeprom", flashOnly}, 5, "nothing_to_write"},
        {{"-p", appQuiet.path, "--expect", "ready", "--expect-timeout", "0.5", Sample()}, 6, "app_check_failed"},
    };
    for (const auto& c : cases) {
        const CliRun r = Cli(QStringList{"flash", "--json"} + c.args);
        const std::string what = c.args.join(' ').toStdString();
        EXPECT_EQ(r.status, c.status) << what << r.err.toStdString();
        ASSERT_EQ(r.out.count('\n'), 1) << what << r.out.toStdString();
        const QJsonObject o = Json(r);
        EXPECT_EQ(schema.Check("run", o), QStringList()) << what;
        EXPECT_EQ(o.value("status").toInt(), c.status) << what;
        EXPECT_EQ(o.value("result").toString(), c.result) << what;
        // Options that could not be parsed name no port for sure.
        const QJsonArray ports = o.value("ports").toArray();
        EXPECT_EQ(ports.size(), c.args.contains("--no-such-option") ? 0 : 1) << what;
        for (const QJsonValue& port : ports)
            EXPECT_EQ(port.toObject().value("result").toString(), c.result) << what;
        EXPECT_EQ(o.value("message").isNull(), c.status == 0) << what;
    }
    // The file's identity is there from the moment it was read.
    const QJsonObject ok = Json(Cli({"flash", "--json", "-p", good.path, Sample()}));
    const QJsonObject file = ok.value("file").toObject();
    EXPECT_EQ(file.value("name").toString(), "fw");
    EXPECT_EQ(file.value("user").toInt(), 7);
    EXPECT_EQ(file.value("sha256").toString().size(), 64);
    EXPECT_EQ(ok.value("mode").toString(), "flash");
    EXPECT_EQ(ok.value("baud").toInt(), 115200);
}

// Interrupted in the middle of a page: the object still comes, and the events show the run
// as it went until then.
TEST_F(StationTest, AnInterruptedRunStillGivesItsObjectAndEvents)
{
    const Schema schema = Schema::FromHelp();
    // A slow line, so the run is still going on when the signal comes.
    Device slow(nullptr, QByteArray(), 2400);
    QProcess p;
    p.start(QStringLiteral(ZENTROP_CLI), {"flash", "--json", "--events", "-", "-p", slow.path, Sample(100)});
    ASSERT_TRUE(p.waitForStarted(30000));
    QByteArray out;
    // Waits for the first page's event, however long the loaded machine takes to get there.
    while (!out.contains("\"event\":\"page\"") && p.state() == QProcess::Running && p.waitForReadyRead(30000))
        out += p.readAllStandardOutput();
    ASSERT_TRUE(out.contains("\"event\":\"page\"")) << out.toStdString();
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(30000));
    out += p.readAllStandardOutput();
    EXPECT_EQ(p.exitCode(), 130);
    const QList<QByteArray> lines = out.trimmed().split('\n');
    QStringList events;
    for (qsizetype i = 0; i + 1 < lines.size(); ++i)
        events << QJsonDocument::fromJson(lines[i]).object().value("event").toString();
    EXPECT_EQ(events.value(0), "run");
    EXPECT_EQ(events.value(1), "port");
    EXPECT_EQ(events.value(2), "memory");
    EXPECT_TRUE(events.contains("page"));
    EXPECT_EQ(events.mid(events.size() - 2), QStringList({"port", "end"}));
    const QJsonObject o = QJsonDocument::fromJson(lines.last()).object();
    EXPECT_EQ(schema.Check("run", o), QStringList());
    EXPECT_EQ(o.value("result").toString(), "interrupted");
}

// A retried port keeps why each attempt failed; the events say the retry.
TEST_F(StationTest, ARetriedPortKeepsEveryAttempt)
{
    Device d("D#1:silent");
    const QString events = dir.filePath("events.jsonl");
    const CliRun r = Cli({"flash", "--json", "--events", events, "--retries", "2", "-p", d.path, Sample()});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    const QJsonObject port = Json(r).value("ports").toArray()[0].toObject();
    const QJsonArray attempts = port.value("attempts").toArray();
    ASSERT_EQ(attempts.size(), 2);
    EXPECT_EQ(attempts[0].toObject().value("result").toString(), "page_size");
    EXPECT_EQ(attempts[0].toObject().value("step").toString(), "data");
    EXPECT_EQ(attempts[1].toObject().value("result").toString(), "ok");
    EXPECT_EQ(port.value("retries").toInt(), 1);
    QFile f(events);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    EXPECT_TRUE(text.contains("\"after\":\"page_size\",\"event\":\"retry\"")) << text.toStdString();
}

// The application check reads the started application's banner on the same open port.
TEST_F(StationTest, ExpectMatchesTheApplicationsBanner)
{
    Device d(nullptr, "\r\nblinky 2.1 ready, serial 0042\r\n");
    const QString log = dir.filePath("line.log");
    const CliRun r = Cli({"flash", "--json", "--log", log, "--expect", "ready, serial [0-9]+", "-p", d.path, Sample()});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(Json(r).value("ports").toArray()[0].toObject().value("app_line").toString(),
              "blinky 2.1 ready, serial 0042");
    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    EXPECT_TRUE(text.contains("the application printed \"blinky 2.1 ready, serial 0042\"")) << text.toStdString();

    Device other(nullptr, "panic: bad checksum\r\n");
    const CliRun failed = Cli({"flash", "--expect", "ready", "--expect-timeout", "0.3", "-p", other.path, Sample()});
    EXPECT_EQ(failed.status, 6);
    EXPECT_TRUE(failed.err.contains("The application printed no line matching \"ready\" within 0.3 s; it printed: "
                                    "\"panic: bad checksum\"."))
        << failed.err.toStdString();
    EXPECT_EQ(Cli({"flash", "--expect", "(", "-p", other.path, Sample()}).status, 2);
    EXPECT_EQ(Cli({"flash", "--expect-timeout", "1", "-p", other.path, Sample()}).status, 2);
}

// Quiet runs say nothing unless something fails; the log has the bytes only with -v, and its
// header says what was written how.
TEST_F(StationTest, QuietRunsAndTheLogsHeader)
{
    Device d, silent("F:silent");
    const QString log = dir.filePath("quiet.log");
    const CliRun quiet = Cli({"flash", "-q", "--log", log, "-p", d.path, "--mode", "BOTH", Sample()});
    EXPECT_EQ(quiet.status, 0) << quiet.err.toStdString();
    EXPECT_EQ(quiet.err, "");
    const CliRun failed = Cli({"flash", "--quiet", "-p", silent.path, Sample()});
    EXPECT_EQ(failed.status, 1);
    EXPECT_TRUE(failed.err.startsWith("Set Flash mode: Communication Error!\n")) << failed.err.toStdString();
    EXPECT_EQ(Cli({"flash", "-q", "-v", "-p", d.path, Sample()}).status, 2);

    QFile f(log);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    EXPECT_FALSE(text.contains(" > 1B 55 1B")) << text.toStdString();
    EXPECT_TRUE(QRegularExpression("mode both, baud 115200, file [0-9]+ bytes, sha256 [0-9a-f]{64}, name \"fw\", "
                                   "version \"2.1\", user 7\n")
                    .match(text)
                    .hasMatch())
        << text.toStdString();
    EXPECT_TRUE(text.contains("result: done; status 0, 3 pages")) << text.toStdString();

    EXPECT_EQ(Cli({"flash", "--version"}).out, Cli({"--version"}).out);
}

// The smaller things a station's operator meets: comments in the list of ports, another
// Zentrop run on the port, an ELF file or a whole ELF's HEX file given as an image.
TEST_F(StationTest, PortListsHoldersAndImagesOfAnElf)
{
    Device d;
    const QString list = Write("ports.txt", ("# fixture A\n\n" + d.path + "   # left socket\n  \n").toUtf8());
    const CliRun listed = Cli({"flash", "--json", "--ports-from", list, Sample()});
    EXPECT_EQ(listed.status, 0) << listed.err.toStdString();
    EXPECT_EQ(Json(listed).value("ports").toArray().size(), 1);

    // A run in progress on a slow line; the second one is told to wait, not to force.
    Device slow(nullptr, QByteArray(), 2400);
    QProcess first;
    first.start(QStringLiteral(ZENTROP_CLI), {"flash", "--events", "-", "-p", slow.path, Sample(100)});
    ASSERT_TRUE(first.waitForStarted(30000));
    QByteArray out;
    while (!out.contains("\"event\":\"page\"") && first.waitForReadyRead(30000))
        out += first.readAllStandardOutput();
    const CliRun second = Cli({"flash", "-p", slow.path, Sample()});
    ::kill(static_cast<pid_t>(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(30000));
    EXPECT_EQ(second.status, 4);
    EXPECT_TRUE(second.err.contains(slow.path + " is in use by another Zentrop run: zentrop-cli (process ")) << second.err.toStdString();
    EXPECT_FALSE(second.err.contains("--force")) << second.err.toStdString();

    const QString elfHex = Write("whole.hex", ":02000004008179\n:0400000001020304F2\n:00000001FF\n");
    const CliRun eeprom = Cli({"flash", "-p", d.path, "--flash", elfHex, "--flash-page-size", "16"});
    EXPECT_EQ(eeprom.status, 3);
    EXPECT_TRUE(eeprom.err.contains("whole.hex:2: holds data at 0x810000, where an AVR ELF file keeps its EEPROM "
                                    "section: make the HEX files of the ELF with \"objcopy -O ihex -R .eeprom"))
        << eeprom.err.toStdString();
    const QString elf = Write("fw.elf", QByteArray("\x7F" "ELF\x01\x01\x01", 7) + QByteArray(64, 0));
    const CliRun program = Cli({"flash", "-p", d.path, "--flash", elf, "--flash-page-size", "16"});
    EXPECT_EQ(program.status, 3);
    EXPECT_TRUE(program.err.contains("fw.elf is an ELF program, not an image: convert it to Intel HEX"))
        << program.err.toStdString();
    EXPECT_EQ(d.sim->Snapshot().Wakes, 1); // only the listed run's
}

// A probe wakes the device, has each memory's mode acknowledged and starts the application,
// writing no page; it fails as flash would.
TEST_F(StationTest, ProbeWritesNoPage)
{
    const Schema schema = Schema::FromHelp();
    Device d;
    const CliRun r = Cli({"probe", "--json", "-p", d.path, "--mode", "both", Sample()});
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    const QJsonObject o = Json(r);
    EXPECT_EQ(schema.Check("run", o), QStringList());
    EXPECT_EQ(o.value("command").toString(), "probe");
    EXPECT_EQ(o.value("pages").toInt(), 0);
    ASSERT_TRUE(d.sim->WaitFor([](const bootsim::DeviceRecord& rec) { return rec.Jumps == 1; }, 5000));
    const bootsim::DeviceRecord rec = d.sim->Snapshot();
    EXPECT_TRUE(rec.Pages.empty());
    EXPECT_EQ(rec.Log, QStringList({"wake", "F", "E", "J"}));
    EXPECT_TRUE(r.err.contains("no page was written")) << r.err.toStdString();

    // Without a file, the Flash mode alone.
    EXPECT_EQ(Cli({"probe", "-p", d.path}).status, 0);
    ASSERT_TRUE(d.sim->WaitFor([](const bootsim::DeviceRecord& rec) { return rec.Jumps == 2; }, 5000));
    EXPECT_EQ(d.sim->Snapshot().Log.mid(4), QStringList({"wake", "F", "J"}));

    Device silent("E:silent");
    const CliRun failed = Cli({"probe", "--json", "-p", silent.path, "-m", "both"});
    EXPECT_EQ(failed.status, 1);
    EXPECT_EQ(Json(failed).value("result").toString(), "no_answer");
    EXPECT_EQ(Json(failed).value("ports").toArray()[0].toObject().value("step").toString(), "eeprom mode");
    EXPECT_EQ(Cli({"probe", "-p", d.path, Write("bad.upg", "not an upgrade file")}).status, 3);
    EXPECT_EQ(Cli({"probe", "--json", "-p", d.path, "--expect", "x"}).status, 2);
}

// Eight devices at once each get their own number from the counter; the one that fails gives
// its number back, and the next device takes it.
TEST_F(StationTest, SerialNumbersAreUniqueAndOnlySuccessesUseThem)
{
    const QString counter = Write("serial.txt", "1000\n");
    std::vector<std::unique_ptr<Device>> devices;
    QStringList args{"flash", "--json", "-m", "both", "--serial-file", counter, "--serial-at", "0x12:u16le",
                     "--patch", "flash:0x102=BEEF", Sample()};
    constexpr int kFailing = 3;
    for (int i = 0; i < 8; ++i) {
        devices.push_back(std::make_unique<Device>(i == kFailing ? "E:silent" : nullptr));
        args << "-p" << devices.back()->path;
    }
    const CliRun r = Cli(args);
    EXPECT_EQ(r.status, 1) << r.err.toStdString();
    const QJsonObject o = Json(r);
    EXPECT_EQ(Schema::FromHelp().Check("run", o), QStringList());
    EXPECT_EQ(o.value("patches").toArray().size(), 1);
    QSet<int> used;
    int givenBack = -1;
    const QJsonArray ports = o.value("ports").toArray();
    ASSERT_EQ(ports.size(), 8);
    for (int i = 0; i < 8; ++i) {
        const QJsonObject port = ports[i].toObject();
        const int serial = port.value("serial").toInt(-1);
        EXPECT_GE(serial, 1000);
        EXPECT_LT(serial, 1008);
        if (i == kFailing) {
            givenBack = serial;
            continue;
        }
        EXPECT_FALSE(used.contains(serial)) << serial;
        used.insert(serial);
        // The device took its number in the EEProm page, and the fixed bytes in the Flash page.
        const bootsim::DeviceRecord rec = devices[static_cast<size_t>(i)]->sim->Snapshot();
        ASSERT_EQ(rec.Pages.size(), 3u);
        const QByteArray ee = rec.Pages[2].Data;
        EXPECT_EQ(ee, QByteArray("cc") + char(serial & 0xFF) + char(serial >> 8)) << ee.toHex().toStdString();
        EXPECT_EQ(rec.Pages[1].Data.mid(2, 2), QByteArray("\xBE\xEF"));
    }
    EXPECT_FALSE(used.contains(givenBack));
    QFile f(counter);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    // Seven numbers used; the failed device's is free again, at the top or in the free list.
    const QByteArray expected =
        givenBack == 1007 ? QByteArray("1007\n") : "1008\nfree " + QByteArray::number(givenBack) + "\n";
    EXPECT_EQ(text, expected);
    f.close();

    // The next device takes the number given back.
    Device next;
    const CliRun again = Cli({"flash", "--json", "-m", "both", "--serial-file", counter, "--serial-at", "0x12:u16le",
                              "-p", next.path, Sample()});
    EXPECT_EQ(again.status, 0) << again.err.toStdString();
    EXPECT_EQ(Json(again).value("ports").toArray()[0].toObject().value("serial").toInt(), givenBack);

    // A file without the page gets one, of the given size, filled with 0xFF around the number.
    Device blank;
    const QString flashOnly = Write("flash-only.upg", Builder().Flash().Page(0, QByteArray(16, 'x')).Bytes());
    EXPECT_EQ(Cli({"flash", "-p", blank.path, "-m", "both", "--serial-file", counter, "--serial-at", "0x41:u16le",
                   "--eeprom-page-size", "4", flashOnly})
                  .status,
              0);
    ASSERT_TRUE(blank.sim->WaitFor([](const bootsim::DeviceRecord& rec) { return rec.Jumps == 1; }, 5000));
    const bootsim::DeviceRecord rec = blank.sim->Snapshot();
    ASSERT_EQ(rec.Pages.size(), 2u);
    EXPECT_EQ(rec.Pages[1].Address, 0x40);
    EXPECT_EQ(rec.Pages[1].Data, QByteArray("\xFF\xF0\x03\xFF")); // 1008, the next number

    // Data that cannot be placed is refused before any device is touched.
    EXPECT_EQ(Cli({"flash", "-p", next.path, "--serial-file", counter, "--serial-at", "0x12:u32le", "-m", "both", Sample()}).status, 2);
    EXPECT_EQ(Cli({"flash", "-p", next.path, "--serial-file", counter, "--serial-at", "0x12", Sample()}).status, 2);
    EXPECT_EQ(Cli({"flash", "-p", next.path, "--patch", "ram:1=00", Sample()}).status, 2);
    EXPECT_EQ(Cli({"flash", "-p", next.path, "--serial-file", dir.filePath("none"), "--serial-at", "0x10", "-m", "both", Sample()}).status, 3);
}

// A fixture's defaults: its settings file, then the environment, then the command line.
TEST_F(StationTest, FixtureDefaultsFromFileAndEnvironment)
{
    Device d;
    const QString config = dir.filePath("config");
    QDir().mkpath(config + "/zentrop");
    Write("config/zentrop/cli.ini", ("[flash]\nport=" + d.path + "\nmode=both\nbaud=9600\n").toUtf8());
    const auto run = [&](const QStringList& args, const QStringList& env) {
        QProcess p;
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert("XDG_CONFIG_HOME", config);
        e.remove("ZENTROP_PORT");
        e.remove("ZENTROP_BAUD");
        for (const QString& kv : env)
            e.insert(kv.section('=', 0, 0), kv.section('=', 1));
        p.setProcessEnvironment(e);
        p.start(QStringLiteral(ZENTROP_CLI), args);
        EXPECT_TRUE(p.waitForFinished(60000));
        return CliRun{p.exitCode(), QString::fromLocal8Bit(p.readAllStandardOutput()),
                      QString::fromLocal8Bit(p.readAllStandardError())};
    };
    const QString ini = config + "/zentrop/cli.ini";
    const CliRun shown = run({"config"}, {"ZENTROP_BAUD=19200"});
    EXPECT_EQ(shown.status, 0);
    EXPECT_TRUE(shown.out.contains("port = " + d.path + " (" + ini + ")\n")) << shown.out.toStdString();
    EXPECT_TRUE(shown.out.contains("baud = 19200 (ZENTROP_BAUD)\n")) << shown.out.toStdString();
    EXPECT_TRUE(shown.out.contains("mode = both (" + ini + ")\n"));
    EXPECT_TRUE(shown.out.contains("retries = 0 (default)\n"));

    // No --port: the file's; the environment's speed over the file's; --mode over both.
    const QJsonObject o = Json(run({"flash", "--json", Sample()}, {"ZENTROP_BAUD=19200"}));
    EXPECT_EQ(o.value("status").toInt(), 0);
    EXPECT_EQ(o.value("baud").toInt(), 19200);
    EXPECT_EQ(o.value("mode").toString(), "both");
    EXPECT_EQ(Json(run({"flash", "--json", "-m", "flash", "-b", "57600", Sample()}, {})).value("baud").toInt(), 57600);
    EXPECT_EQ(run({"flash", "--config", dir.filePath("missing.ini"), Sample()}, {}).status, 3);
}

// Boards come and go under one link name: each is flashed once, a failing one does not stop
// the station, and SIGTERM ends it with the totals and status 130.
TEST_F(StationTest, StationFlashesBoardAfterBoardUnderALinkName)
{
    const Schema schema = Schema::FromHelp();
    const QString link = dir.filePath("fixture-board");
    QProcess p;
    p.start(QStringLiteral(ZENTROP_CLI),
            {"station", "--port", dir.filePath("fixture-*"), "--json", "--events", "-", "-q", Sample()});
    p.closeWriteChannel();
    ASSERT_TRUE(p.waitForStarted(60000));
    QByteArray pending;
    // The next line on standard output that passes the test; an empty object when the guard ends.
    const auto next = [&](const std::function<bool(const QJsonObject&)>& wanted) {
        QElapsedTimer guard;
        guard.start();
        while (guard.elapsed() < 60000) {
            while (pending.contains('\n')) {
                const qsizetype end = pending.indexOf('\n');
                const QJsonObject o = QJsonDocument::fromJson(pending.left(end)).object();
                pending.remove(0, end + 1);
                if (wanted(o))
                    return o;
            }
            if (p.state() == QProcess::NotRunning && !p.bytesAvailable())
                break;
            p.waitForReadyRead(1000);
            pending += p.readAllStandardOutput();
        }
        return QJsonObject();
    };
    const auto board = [](const QJsonObject& o) { return o.contains("board"); };
    const auto gone = [](const QJsonObject& o) {
        return o.value("event") == QLatin1String("board") && o.value("state") == QLatin1String("gone");
    };

    struct Case {
        const char* fault;
        const char* result;
    } boards[] = {{nullptr, "ok"}, {"F:silent", "no_answer"}, {nullptr, "ok"}};
    int number = 0;
    for (const Case& c : boards) {
        SCOPED_TRACE(number + 1);
        Device d(c.fault);
        ASSERT_TRUE(QFile::link(d.path, link));
        const QJsonObject o = next(board);
        ASSERT_FALSE(o.isEmpty()) << p.readAllStandardError().toStdString();
        EXPECT_EQ(o.value("board").toInt(), ++number);
        EXPECT_EQ(o.value("result").toString(), c.result);
        // A station's object is flash's with the board's number and its fixture port added.
        QJsonObject run = o;
        EXPECT_EQ(run.take("slot").toString(), dir.filePath("fixture-*"));
        run.remove("board");
        EXPECT_EQ(schema.Check("run", run), QStringList());
        const QJsonArray ports = o.value("ports").toArray();
        ASSERT_EQ(ports.size(), 1);
        EXPECT_EQ(ports[0].toObject().value("port").toString(), link);
        if (!c.fault) {
            const bootsim::DeviceRecord rec = d.sim->Snapshot();
            EXPECT_EQ(rec.Pages.size(), 2u);
            EXPECT_EQ(rec.Jumps, 1);
        }
        // Unplugged: the station notices before the next board comes under the same name.
        ASSERT_TRUE(QFile::remove(link));
        ASSERT_FALSE(next(gone).isEmpty());
    }
    ::kill(static_cast<pid_t>(p.processId()), SIGTERM);
    const QJsonObject totals = next([](const QJsonObject& o) { return o.contains("totals"); });
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 130);
    EXPECT_EQ(totals.value("boards").toInt(), 3);
    EXPECT_EQ(totals.value("done").toInt(), 2);
    EXPECT_EQ(totals.value("failed").toInt(), 1);
    EXPECT_EQ(totals.value("status").toInt(), 130);
}
