// What the portable engine takes from the POSIX side: which errors mean a device went away,
// and the factory of the devices ports create.
#include "cport/ComDevice.h"

#include "PosixPortDevice.h"

#include <cerrno>
#include <mutex>

namespace zentrop {

namespace {

std::mutex gFactoryMutex;
ComDeviceFactory gFactory;

} // namespace

bool DeviceGone(int Error)
{
    return Error == EIO || Error == ENXIO || Error == ENODEV || Error == EPIPE || Error == ECONNRESET
        || Error == ECONNABORTED;
}

std::unique_ptr<ComDevice> CreateComDevice()
{
    ComDeviceFactory factory;
    {
        std::lock_guard lock(gFactoryMutex);
        factory = gFactory;
    }
    return factory ? factory() : std::make_unique<PosixPortDevice>();
}

ComDeviceFactory SetComDeviceFactory(ComDeviceFactory Factory)
{
    std::lock_guard lock(gFactoryMutex);
    ComDeviceFactory previous = std::move(gFactory);
    gFactory = std::move(Factory);
    if (!previous)
        previous = [] { return std::make_unique<PosixPortDevice>(); };
    return previous;
}

} // namespace zentrop
