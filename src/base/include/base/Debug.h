// Debug output: short texts for whoever listens, like a debugger's output window. The
// program sends them to the system log at debug priority; tests install their own sink.
#pragma once

#include <QString>
#include <functional>

namespace zentrop {

using DebugSink = std::function<void(const QString&)>;

void OutputDebugString(const QString& text);

// Installs a sink (an empty one restores the system log) and returns the one it replaces.
DebugSink SetDebugSink(DebugSink sink);

} // namespace zentrop
