// zentrop-termdump: feeds received chunks to a terminal control and prints what it made of
// them as one JSON object (screen, caret, cells, tabs, modes, unhandled codes, bytes sent).
//   zentrop-termdump [--emulation vt100|vt52|none|vt102] [--columns N] [--rows N] [--wrap]
//                    [--append-lf] [--force7] [--local-echo] < chunks.json
// Standard input is a JSON array of hex strings, each one received chunk. A cell is
// [character, text colour, background, underline], under vt102 followed by bold and whether it
// is a line-drawing character, which the text rows show as the box-drawing character it
// stands for. The control's port
// is a pseudo-terminal whose other end collects what the control writes.
#include "cportctl/ComTerminal.h"

#include <QApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <thread>
#include <unistd.h>

using namespace zentrop;

namespace {

constexpr int ExitUsage = 2;
constexpr int ExitInput = 3;
constexpr int ExitPort = 4;

int Fail(int Status, const QString& Message)
{
    std::fprintf(stderr, "zentrop-termdump: %s\n", qPrintable(Message));
    return Status;
}

// The far end of the control's port: a thread keeps reading the master side, so that long
// replies never fill the pseudo-terminal and block the control's writes.
class PortEnd {
public:
    bool Open()
    {
        char name[256] = {};
        int slave = -1;
        if (::openpty(&FMaster, &slave, name, nullptr, nullptr) != 0)
            return false;
        ::close(slave);
        FSlaveName = QString::fromLocal8Bit(name);
        FReader = std::thread([this] { Read(); });
        return true;
    }
    ~PortEnd()
    {
        Stop();
        if (FMaster >= 0)
            ::close(FMaster);
    }
    const QString& SlaveName() const { return FSlaveName; }

    // Everything written so far; the reader is stopped first.
    QByteArray Received()
    {
        Stop();
        std::lock_guard lock(FMutex);
        return FReceived;
    }

private:
    void Stop()
    {
        if (!FReader.joinable())
            return;
        FStop = true;
        FReader.join();
    }
    void Read()
    {
        char buf[4096];
        // After the stop request, one more pass takes what is still queued.
        for (bool last = false;;) {
            pollfd p{FMaster, POLLIN, 0};
            const int r = ::poll(&p, 1, last ? 0 : 20);
            if (r > 0 && (p.revents & POLLIN)) {
                const ssize_t n = ::read(FMaster, buf, sizeof buf);
                if (n > 0) {
                    std::lock_guard lock(FMutex);
                    FReceived.append(buf, n);
                    continue;
                }
            }
            if (r < 0 && errno == EINTR)
                continue;
            if (last)
                return;
            if (FStop)
                last = true;
        }
    }

    int FMaster = -1;
    QString FSlaveName;
    std::thread FReader;
    std::atomic<bool> FStop{false};
    std::mutex FMutex;
    QByteArray FReceived;
};

bool ParseCount(const QString& Text, int& Value)
{
    bool ok = false;
    Value = Text.toInt(&ok);
    return ok;
}

QJsonObject Dump(const TComTerminal& t, const QJsonArray& Unhandled, const QByteArray& Sent)
{
    const TComTermBuffer& b = t.Buffer();
    QJsonArray text, cells, tabs;
    for (int y = 1; y <= b.Rows(); ++y) {
        QString row;
        QJsonArray rowCells;
        for (int x = 1; x <= b.Columns(); ++x) {
            const TTermChar c = b.GetChar(x, y);
            row += c.Ch == 0 ? QChar(' ') : c.Graphic ? QChar(GraphicCharacter(c.Ch)) : QChar(c.Ch);
            QJsonArray cell{c.Ch, c.FrontColor, c.BackColor, c.Underline};
            if (t.Emulation() == TTermEmulation::teVT102) {
                cell.append(c.Bold);
                cell.append(c.Graphic);
            }
            rowCells.append(cell);
        }
        while (row.endsWith(QLatin1Char(' ')))
            row.chop(1);
        text.append(row);
        cells.append(rowCells);
    }
    for (int x = 1; x <= b.Columns(); ++x)
        if (b.GetTab(x))
            tabs.append(x);
    QJsonObject o;
    o.insert("columns", t.Columns());
    o.insert("rows", t.Rows());
    o.insert("caret", QJsonArray{t.CaretPos().x(), t.CaretPos().y()});
    o.insert("text", text);
    o.insert("cells", cells);
    o.insert("tabs", tabs);
    o.insert("wrap", t.WrapLines());
    o.insert("app_cursor", t.AppCursorKeys());
    o.insert("unhandled", Unhandled);
    o.insert("sent", QString::fromLatin1(Sent.toHex()));
    return o;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);

    TComTerminal t;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool hasValue = i + 1 < args.size();
        int n = 0;
        if (a == "--emulation" && hasValue) {
            const QString e = args[++i];
            if (e == "vt100")
                t.SetEmulation(TTermEmulation::teVT100orANSI);
            else if (e == "vt52")
                t.SetEmulation(TTermEmulation::teVT52);
            else if (e == "none")
                t.SetEmulation(TTermEmulation::teNone);
            else if (e == "vt102")
                t.SetEmulation(TTermEmulation::teVT102);
            else
                return Fail(ExitUsage, QStringLiteral("unknown emulation \"%1\" (vt100, vt52, none or vt102)").arg(e));
        } else if ((a == "--columns" || a == "--rows") && hasValue) {
            if (!ParseCount(args[++i], n))
                return Fail(ExitUsage, QStringLiteral("%1 needs a number, not \"%2\"").arg(a, args[i]));
            if (a == "--columns")
                t.SetColumns(n);
            else
                t.SetRows(n);
        } else if (a == "--wrap") {
            t.SetWrapLines(true);
        } else if (a == "--append-lf") {
            t.SetAppendLF(true);
        } else if (a == "--force7") {
            t.SetForce7Bit(true);
        } else if (a == "--local-echo") {
            t.SetLocalEcho(true);
        } else {
            return Fail(ExitUsage, QStringLiteral("unknown option \"%1\"\nusage: zentrop-termdump [--emulation "
                                                  "vt100|vt52|none|vt102] [--columns N] [--rows N] [--wrap] [--append-lf] "
                                                  "[--force7] [--local-echo] < chunks.json").arg(a));
        }
    }

    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return Fail(ExitInput, QStringLiteral("cannot read standard input"));
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(in.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray())
        return Fail(ExitInput, QStringLiteral("standard input is not a JSON array of hex strings%1")
                                   .arg(error.error != QJsonParseError::NoError
                                            ? QStringLiteral(" (%1 at offset %2)").arg(error.errorString()).arg(error.offset)
                                            : QString()));
    QList<QByteArray> chunks;
    const QJsonArray array = doc.array();
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QByteArray hex = array[i].toString().toLatin1();
        const auto decoded = QByteArray::fromHex(hex);
        if (!array[i].isString() || hex.size() % 2 != 0 || decoded.toHex() != hex.toLower())
            return Fail(ExitInput, QStringLiteral("chunk %1 is not a string of hex digit pairs").arg(i + 1));
        chunks.append(decoded);
    }

    PortEnd end;
    if (!end.Open())
        return Fail(ExitPort, QStringLiteral("cannot open a pseudo-terminal: %1").arg(QString::fromLocal8Bit(strerror(errno))));
    TComPort port;
    port.SetEvents({});
    port.SetSyncMethod(TSyncMethod::smDisableEvents);
    port.SetPort(end.SlaveName());
    try {
        port.Open();
    } catch (const Exception& e) {
        return Fail(ExitPort, e.Message());
    }
    t.SetComPort(&port);

    QJsonArray unhandled;
    t.OnUnhandledCode = [&](QObject*, TEscapeCode Code, const QByteArray& Data) {
        unhandled.append(QJsonArray{QString::fromLatin1(EscapeCodeName(Code)), QString::fromLatin1(Data)});
    };
    try {
        for (const QByteArray& chunk : chunks)
            t.ComLink()->OnRxData(&port, chunk.constData(), static_cast<int>(chunk.size()));
    } catch (const Exception& e) {
        return Fail(ExitPort, e.Message());
    }
    const QByteArray sent = end.Received();
    t.SetComPort(nullptr);
    port.Close();
    std::fputs(QJsonDocument(Dump(t, unhandled, sent)).toJson(QJsonDocument::Compact).constData(), stdout);
    std::fputc('\n', stdout);
    return 0;
}
