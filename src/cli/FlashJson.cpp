// The flash run's JSON object and the description of its schema.
#include "FlashJson.h"

#include "Cli.h"

#include "base/Ansi.h"
#include "base/FileName.h"
#include "base/UniqueFd.h"
#include "cport/PortNames.h"
#include "cport/PortDetails.h"
#include "upgrade/UpgradeFile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <fcntl.h>
#include <unistd.h>

namespace zentrop {

namespace cli {

namespace {

QJsonValue OrNull(const QString& s)
{
    return s.isEmpty() ? QJsonValue() : QJsonValue(s);
}

QJsonValue TimeOrNull(const QDateTime& t)
{
    return t.isValid() ? QJsonValue(UtcText(t)) : QJsonValue();
}

QString StepMemory(const PortResult& r)
{
    if (!r.FailedPage)
        return QString();
    return r.FailedPage->Where == Memory::Flash ? QStringLiteral("flash") : QStringLiteral("eeprom");
}

} // namespace

QByteArray ReadWhole(const QString& path)
{
    QFile f;
    // Non-blocking, so a FIFO named by mistake cannot hold the run; the file was checked before.
    UniqueFd fd(::open(EncodeFileName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (!fd || !f.open(fd.Get(), QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        return QByteArray();
    fd.Release();
    return f.readAll();
}

FileIdentity IdentifyFile(const QString& path, const QByteArray& bytes, bool packed, const UpgradeFile& file)
{
    FileIdentity id;
    id.Path = path;
    id.Packed = packed;
    id.Size = bytes.size();
    id.Sha256 = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
    const FirmwareValues& fw = file.Firmware();
    id.Name = DecodeAnsi(fw.FFirmwareName);
    id.Version = DecodeAnsi(fw.FFirmwareVersion);
    if (file.HasUser())
        id.User = fw.FUserNumber;
    return id;
}

QString UtcText(const QDateTime& t)
{
    return t.toUTC().toString(Qt::ISODateWithMs);
}

QJsonObject IdentityJson(const RunRecord& record)
{
    QJsonValue file;
    if (const std::optional<FileIdentity>& f = record.File)
        file = QJsonObject{{"path", f->Path},
                           {"packed", f->Packed},
                           {"size", f->Size},
                           {"sha256", QString::fromLatin1(f->Sha256)},
                           {"name", f->Name},
                           {"version", f->Version},
                           {"user", f->User ? QJsonValue(*f->User) : QJsonValue()}};
    return QJsonObject{
        {"schema", kJsonSchema},
        {"program", QJsonObject{{"name", QStringLiteral("zentrop-cli")}, {"version", QStringLiteral(ZENTROP_VERSION)}}},
        {"command", record.Command},
        {"started", UtcText(record.Started)},
        {"file", file},
        {"mode", OrNull(record.Mode)},
        {"baud", record.Baud > 0 ? QJsonValue(record.Baud) : QJsonValue()},
        {"expect", OrNull(record.Expect)},
        {"patches", QJsonArray::fromStringList(record.Patches)},
        {"serial_at", OrNull(record.SerialAt)},
        {"port_names", QJsonArray::fromStringList(record.Ports)},
    };
}

QJsonObject PortJson(const PortResult& r)
{
    const std::vector<PortDetails> details = DescribePorts({PortDevicePath(r.Port)});
    const QString byId = details.empty() ? QString() : details.front().ById;
    const std::optional<PageProgress>& page = r.FailedPage;
    QJsonArray attempts;
    for (const Attempt& a : r.Attempts)
        attempts.append(QJsonObject{{"result", OutcomeName(a.Result)},
                                    {"message", OrNull(a.Message)},
                                    {"step", OrNull(a.Step)},
                                    {"started", TimeOrNull(a.Started)},
                                    {"ended", TimeOrNull(a.Ended)}});
    return QJsonObject{
        {"port", r.Port},
        {"by_id", OrNull(byId)},
        {"result", OutcomeName(r.Result)},
        {"message", r.Status == ExitSuccess ? QJsonValue() : OrNull(r.Lines.value(0))},
        {"detail", QJsonArray::fromStringList(r.Lines.mid(1))},
        {"status", r.Status},
        {"step", OrNull(r.Step)},
        {"memory", OrNull(StepMemory(r))},
        {"page", !page ? QJsonValue() : QJsonValue(page->Index + 1)},
        {"address", !page ? QJsonValue() : QJsonValue(page->Address)},
        {"pages", r.Pages},
        {"bytes", r.Bytes},
        {"seconds", r.Seconds},
        {"retries", r.Retries},
        {"started", TimeOrNull(r.Started)},
        {"ended", TimeOrNull(r.Ended)},
        {"attempts", attempts},
        {"app_line", OrNull(r.AppLine)},
        {"serial", r.Serial ? QJsonValue(*r.Serial) : QJsonValue()},
    };
}

QJsonObject RunObject(const RunRecord& record, int status, const QStringList& messages)
{
    QJsonObject root = IdentityJson(record);
    root.remove(QStringLiteral("port_names"));
    const RunTotals totals = Totals(record.Results, record.Seconds);
    QJsonArray ports;
    Outcome result = OutcomeOfStatus(status);
    QStringList lines = messages;
    for (const PortResult& r : record.Results)
        ports.append(PortJson(r));
    // The port that decided the status tells what happened; without one, what was said.
    if (!record.Results.empty() && status != ExitUsage && status != ExitFileRejected && status != ExitNothingWritten) {
        lines.clear();
        result = Outcome::Ok;
        for (const PortResult& r : record.Results)
            if (r.Status == status && status != ExitSuccess) {
                result = r.Result;
                lines = r.Lines;
                break;
            }
    }
    if (record.Results.empty()) {
        // No port ran: each named one gets the run's result, so a station reads every port alike.
        for (const QString& p : record.Ports) {
            PortResult r;
            r.Port = p;
            r.Status = status;
            r.Result = result;
            r.Lines = lines;
            ports.append(PortJson(r));
        }
    }
    root.insert("status", status);
    root.insert("result", OutcomeName(result));
    root.insert("message", OrNull(lines.value(0)));
    root.insert("detail", QJsonArray::fromStringList(lines.mid(1)));
    root.insert("ended", UtcText(QDateTime::currentDateTimeUtc()));
    root.insert("log", record.LogPath.isEmpty()
                           ? QJsonValue()
                           : QJsonValue(QJsonObject{{"path", record.LogPath}, {"complete", record.LogComplete}}));
    root.insert("ports", ports);
    root.insert("devices", static_cast<int>(ports.size()));
    root.insert("done", totals.Done);
    root.insert("pages", totals.Pages);
    root.insert("bytes", totals.Bytes);
    root.insert("seconds", totals.Seconds);
    return root;
}

QString JsonHelp()
{
    return QStringLiteral(
        "JSON output of \"flash --json\" and \"probe --json\" (schema 1)\n"
        "\n"
        "One object on standard output when the command ends, whatever its exit status (also after\n"
        "a usage error, a rejected file or nothing to write). A field that does not apply is null;\n"
        "readers should ignore fields they do not know, which later versions may add. The schema\n"
        "number rises only when a field changes its meaning or type, or goes away. Times are UTC.\n"
        "\n"
        "run object:\n"
        "  schema      number       1\n"
        "  program     object       {\"name\": \"zentrop-cli\", \"version\": the program's version}\n"
        "  command     string       flash, probe or station\n"
        "  status      number       the exit status\n"
        "  result      string       ok, or the result of the port that decided the status, or why no\n"
        "                           port ran (usage, file_error, nothing_to_write)\n"
        "  message     string|null  that result in words; null for ok\n"
        "  detail      array        further lines: what the device did, what is likely to help\n"
        "  started     string       when the command started\n"
        "  ended       string       when it ended\n"
        "  file        object|null  the upgrade file (file object); null before it was read\n"
        "  mode        string|null  flash, eeprom or both: the memories the run writes\n"
        "  baud        number|null  the line speed\n"
        "  expect      string|null  the --expect pattern\n"
        "  patches     array        the --patch texts (MEM:ADDR=HEXBYTES)\n"
        "  serial_at   string|null  the --serial-at text: where each device's number goes\n"
        "  log         object|null  {\"path\": the --log file, \"complete\": false when a line could not be\n"
        "                           written to it}\n"
        "  ports       array        a port object for each port, in the order given\n"
        "  devices     number       the number of ports\n"
        "  done        number       the ports whose run succeeded\n"
        "  pages       number       pages acknowledged, all ports together\n"
        "  bytes       number       bytes sent, all ports together\n"
        "  seconds     number       the time the ports took\n"
        "\n"
        "file object:\n"
        "  path        string       as given (for --flash images, the Flash image's)\n"
        "  packed      bool         made in memory from --flash/--eeprom images\n"
        "  size        number       bytes of the upgrade file\n"
        "  sha256      string       its SHA-256, hexadecimal\n"
        "  name        string       the firmware's name in the file\n"
        "  version     string       the firmware's version in the file\n"
        "  user        number|null  the user number, null when the file has none\n"
        "\n"
        "port object:\n"
        "  port        string       the name as given\n"
        "  by_id       string|null  its /dev/serial/by-id/ name\n"
        "  result      string       one of the results below\n"
        "  message     string|null  the result in words; null for ok\n"
        "  detail      array        further lines\n"
        "  status      number       the exit status this port alone would give\n"
        "  step        string|null  where it failed: open, wake, flash mode, eeprom mode, address,\n"
        "                           data, jump\n"
        "  memory      string|null  flash or eeprom, for a failed address or data step\n"
        "  page        number|null  that page's number within its memory, from 1\n"
        "  address     number|null  that page's address\n"
        "  pages       number       pages the device acknowledged in the attempt that counts\n"
        "  bytes       number       bytes sent over all attempts\n"
        "  seconds     number       the time the port took\n"
        "  retries     number       attempts started over after a failure\n"
        "  started     string|null  when its first attempt started\n"
        "  ended       string|null  when its last attempt ended\n"
        "  attempts    array        an attempt object for each attempt, the last one counts\n"
        "  app_line    string|null  the application's line that --expect matched\n"
        "  serial      number|null  the number --serial-file gave this device; a failed device gives\n"
        "                           it back to the counter\n"
        "\n"
        "attempt object:\n"
        "  result      string       one of the results below\n"
        "  message     string|null  the result in words\n"
        "  step        string|null  where it failed\n"
        "  started     string|null  when it started\n"
        "  ended       string|null  when it ended\n"
        "\n"
        "results:\n"
        "  ok                the device was upgraded (and the application matched --expect)\n"
        "  no_answer         the device did not answer a command within the time-out (status 1)\n"
        "  wrong_answer      it answered something other than the acknowledgement (status 1)\n"
        "  early_answer      it answered while a page's data was still being sent: its pages are\n"
        "                    shorter than the file's (status 1)\n"
        "  page_size         it still waited after a page's data: its pages are longer (status 1)\n"
        "  port_error        the port could not be opened, reset or used (status 4)\n"
        "  device_gone       the device went away during the run (status 4)\n"
        "  interrupted       Ctrl-C, SIGTERM or SIGHUP (status 130)\n"
        "  nothing_to_write  the file holds no page for the mode (status 5)\n"
        "  file_error        a file was rejected or could not be read (status 3)\n"
        "  usage             wrong usage (status 2)\n"
        "  app_check_failed  the application did not print a line matching --expect in time\n"
        "                    (status 6)\n"
        "\n"
        "\"station --json\" prints, as each board ends, a run object for that board alone (command\n"
        "\"station\", one port) with two fields more: \"board\", its number since the station started,\n"
        "and \"slot\", the --port it came on. When a signal ends the station, a last object gives the\n"
        "totals: {\"schema\":1,\"command\":\"station\",\"totals\":true,\"status\":130,\"result\":\"interrupted\",\n"
        "\"started\":...,\"ended\":...,\"boards\":N,\"done\":D,\"failed\":F}.\n"
        "\n"
        "example (one device, upgraded; shortened to one line per field group):\n"
        "  {\"schema\":1,\"program\":{\"name\":\"zentrop-cli\",\"version\":\"" ZENTROP_VERSION "\"},\"command\":\"flash\",\n"
        "   \"status\":0,\"result\":\"ok\",\"message\":null,\"detail\":[],\n"
        "   \"started\":\"2026-12-07T18:00:00.120Z\",\"ended\":\"2026-12-07T18:00:01.480Z\",\n"
        "   \"file\":{\"path\":\"fw.upg\",\"packed\":false,\"size\":4620,\"sha256\":\"9f86d0...\",\n"
        "           \"name\":\"Blinky\",\"version\":\"2.1\",\"user\":7},\n"
        "   \"mode\":\"flash\",\"baud\":115200,\"expect\":null,\"patches\":[],\"serial_at\":null,\"log\":null,\n"
        "   \"ports\":[{\"port\":\"/dev/ttyUSB0\",\"by_id\":\"/dev/serial/by-id/usb-FTDI_FT232R-if00-port0\",\n"
        "     \"result\":\"ok\",\"message\":null,\"detail\":[],\"status\":0,\"step\":null,\"memory\":null,\n"
        "     \"page\":null,\"address\":null,\"pages\":16,\"bytes\":4184,\"seconds\":1.35,\"retries\":0,\n"
        "     \"started\":\"2026-12-07T18:00:00.125Z\",\"ended\":\"2026-12-07T18:00:01.475Z\",\n"
        "     \"attempts\":[{\"result\":\"ok\",\"message\":null,\"step\":null,\n"
        "       \"started\":\"2026-12-07T18:00:00.125Z\",\"ended\":\"2026-12-07T18:00:01.475Z\"}],\n"
        "     \"app_line\":null,\"serial\":null}],\n"
        "   \"devices\":1,\"done\":1,\"pages\":16,\"bytes\":4184,\"seconds\":1.35}\n");
}

} // namespace cli

} // namespace zentrop
