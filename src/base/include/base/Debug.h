// Debug output: short texts for whoever listens, like a debugger's output window. The
// programs send them to a logging category that is off unless asked for, so that nothing
// reaches a log while nobody listens; tests install their own sink.
#pragma once

#include <QLoggingCategory>
#include <QString>
#include <functional>

namespace zentrop {

// "zentrop.debugstring": off by default; QT_LOGGING_RULES="zentrop.debugstring=true" or a
// program's --debug turns it on.
Q_DECLARE_LOGGING_CATEGORY(DebugCategory)

using DebugSink = std::function<void(const QString&)>;

void OutputDebugString(const QString& text);

// Installs a sink (an empty one restores the logging category) and returns the one it
// replaces.
DebugSink SetDebugSink(DebugSink sink);

// Turns the logging category on, as a program's --debug asks.
void EnableDebugOutput();

} // namespace zentrop
