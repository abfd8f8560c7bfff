// What the portable engine takes from the POSIX side: the descriptors behind its request
// records and stop events, and the factory of the devices ports create.
#include "cport/ComDevice.h"

#include "PosixPortDevice.h"

#include <cerrno>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace zentrop {

namespace {

std::mutex gFactoryMutex;
ComDeviceFactory gFactory;

} // namespace

Overlapped::Overlapped() = default;

Overlapped::~Overlapped()
{
    if (hEvent >= 0)
        ::close(hEvent);
}

// An eventfd that is never drained: once set, it stays readable.
StopEvent::StopEvent() : FHandle(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

StopEvent::~StopEvent()
{
    if (FHandle >= 0)
        ::close(FHandle);
}

void StopEvent::Set()
{
    const uint64_t one = 1;
    while (FHandle >= 0 && ::write(FHandle, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

bool StopEvent::IsSet() const
{
    pollfd p{FHandle, POLLIN, 0};
    return FHandle < 0 || ::poll(&p, 1, 0) > 0;
}

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
