// The application check: lines from the port matched against the pattern.
#include "AppCheck.h"

#include <QElapsedTimer>

namespace zentrop {

namespace cli {

namespace {

// A read returns as soon as bytes are there, or after this with none, so the time and an
// interruption are looked at often.
constexpr int kReadWaitMs = 100;
constexpr int kReadSize = 1024;
// What the message shows of the application's output.
constexpr int kSeenShown = 200;
// The longest line matched: a line beyond it keeps its newest bytes, so an application that
// never ends a line costs neither memory nor a match over all it ever sent.
constexpr int kLineKept = 4096;

QString Printable(const QByteArray& bytes)
{
    QString text = QString::fromUtf8(bytes);
    for (QChar& c : text)
        if (c.unicode() < 0x20 && c != u'\n')
            c = u' ';
    return text;
}

} // namespace

AppCheckResult CheckApplication(TCustomComPort& port, const QRegularExpression& pattern, int timeoutMs,
                                const std::function<bool()>& interrupted)
{
    TComTimeouts* timeouts = port.Timeouts();
    timeouts->SetReadInterval(static_cast<int>(MAXDWORD));
    timeouts->SetReadTotalMultiplier(static_cast<int>(MAXDWORD));
    timeouts->SetReadTotalConstant(kReadWaitMs);

    AppCheckResult result;
    QByteArray all;
    QByteArray line;
    QElapsedTimer clock;
    clock.start();
    char buffer[kReadSize];
    const auto matches = [&](const QByteArray& text) {
        const QString s = Printable(text).trimmed();
        if (s.isEmpty() || !pattern.match(s).hasMatch())
            return false;
        result.Matched = true;
        result.Line = s;
        return true;
    };
    while (clock.elapsed() < timeoutMs) {
        if (interrupted && interrupted()) {
            result.Interrupted = true;
            break;
        }
        const int got = port.Read(buffer, kReadSize);
        for (int i = 0; i < got; ++i) {
            const char c = buffer[i];
            if (c == '\n' || c == '\r') {
                if (matches(line))
                    return result;
                line.clear();
            } else {
                line += c;
            }
        }
        if (got > 0) {
            all.append(buffer, got);
            if (all.size() > 2 * kSeenShown)
                all.remove(0, all.size() - kSeenShown);
            if (line.size() > kLineKept)
                line.remove(0, line.size() - kLineKept);
        }
        // A prompt ends without a line end.
        if (got > 0 && matches(line))
            return result;
    }
    result.Seen = Printable(all.right(kSeenShown)).simplified();
    return result;
}

QString AppCheckFailure(const AppCheckResult& result, const QString& pattern, int timeoutMs)
{
    const QString within = QString::number(timeoutMs / 1000.0, 'g', 4);
    if (result.Seen.isEmpty())
        return QStringLiteral("The application printed nothing within %1 s; expected a line matching \"%2\".")
            .arg(within, pattern);
    return QStringLiteral("The application printed no line matching \"%1\" within %2 s; it printed: \"%3\".")
        .arg(pattern, within, result.Seen);
}

} // namespace cli

} // namespace zentrop
