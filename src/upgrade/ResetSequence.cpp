// The reset sequences: the named wirings and the step lists, and running them.
#include "upgrade/ResetSequence.h"

#include <QStringList>

namespace zentrop {

namespace {

constexpr int kMaxWaitMs = 10000;

using Kind = ResetStep::Kind;

ResetSequence Pulse(std::initializer_list<Kind> lines, const ResetTiming& timing)
{
    const int active = timing.Inverted ? 0 : 1;
    ResetSequence steps;
    for (const Kind line : lines)
        steps.push_back({line, active});
    steps.push_back({Kind::Wait, timing.PulseMs});
    for (const Kind line : lines)
        steps.push_back({line, 1 - active});
    steps.push_back({Kind::Wait, timing.StartMs});
    return steps;
}

} // namespace

std::optional<ResetSequence> ParseResetSequence(const QString& text, const ResetTiming& timing, QString* error)
{
    if (text == QLatin1String("none"))
        return ResetSequence{};
    if (text == QLatin1String("dtr"))
        return Pulse({Kind::Dtr}, timing);
    if (text == QLatin1String("rts"))
        return Pulse({Kind::Rts}, timing);
    if (text == QLatin1String("both"))
        return Pulse({Kind::Dtr, Kind::Rts}, timing);
    ResetSequence steps;
    for (const QString& step : text.split(u',')) {
        const QString name = step.section(u'=', 0, 0).trimmed();
        const QString value = step.section(u'=', 1).trimmed();
        bool ok = false;
        const int number = value.toInt(&ok);
        if (name == QLatin1String("wait") && ok && number >= 0 && number <= kMaxWaitMs) {
            steps.push_back({Kind::Wait, number});
        } else if ((name == QLatin1String("dtr") || name == QLatin1String("rts")) && ok && (number == 0 || number == 1)) {
            steps.push_back({name == QLatin1String("dtr") ? Kind::Dtr : Kind::Rts, number});
        } else {
            *error = QStringLiteral("\"%1\" is not a reset step: dtr=0|1, rts=0|1 or wait=MS (0 to %2)").arg(step).arg(kMaxWaitMs);
            return std::nullopt;
        }
    }
    return steps;
}

int RunResetSequence(const ResetSequence& steps, const std::function<int(Kind, bool)>& setLine,
                     const std::function<void(int)>& pause, ResetStep* failed)
{
    for (const ResetStep& step : steps) {
        if (step.What == Kind::Wait) {
            pause(step.Value);
            continue;
        }
        if (const int err = setLine(step.What, step.Value != 0)) {
            *failed = step;
            return err;
        }
    }
    return 0;
}

QString ResetLineName(Kind line)
{
    return line == Kind::Dtr ? QStringLiteral("DTR") : QStringLiteral("RTS");
}

} // namespace zentrop
