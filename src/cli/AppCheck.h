// The application check after an upgrade: the started application's first output, read on
// the same open port, must show a line that matches a pattern within a time.
#pragma once

#include "cport/ComPort.h"

#include <QRegularExpression>
#include <QString>

#include <functional>

namespace zentrop {

namespace cli {

struct AppCheckResult {
    bool Matched = false;
    QString Line;    // the matching line, without its line end
    QString Seen;    // what came before the time was up (the end of it), for the message
    bool Interrupted = false;
};

// Reads until a line (or the text after the last line end, as a prompt has none) matches, the
// time is up or interrupted() says to stop. Port errors propagate.
AppCheckResult CheckApplication(TCustomComPort& port, const QRegularExpression& pattern, int timeoutMs,
                                const std::function<bool()>& interrupted);

// The lines that say why a check failed.
QString AppCheckFailure(const AppCheckResult& result, const QString& pattern, int timeoutMs);

} // namespace cli

} // namespace zentrop
