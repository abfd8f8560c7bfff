// Installed serial ports, sorted, from a replaceable source.
#include "cport/ComPortList.h"

#include <mutex>

namespace zentrop {

namespace {

std::mutex gSourceMutex;
ComPortSource gSource;

} // namespace

ComPortSource SetComPortSource(ComPortSource Source)
{
    std::lock_guard lock(gSourceMutex);
    ComPortSource previous = std::move(gSource);
    gSource = std::move(Source);
    if (!previous)
        previous = [] { return SystemComPorts(); };
    return previous;
}

void EnumComPorts(TStrings& Ports)
{
    ComPortSource source;
    {
        std::lock_guard lock(gSourceMutex);
        source = gSource;
    }
    TStringList sorted;
    sorted.Assign(source ? source() : SystemComPorts());
    sorted.Sort();
    Ports.Assign(sorted.ToStringList());
}

} // namespace zentrop
