// The request record's wake descriptor and the factory of the devices ports create.
#include "ComDevice.h"

#include "PosixComDevice.h"

#include <mutex>
#include <unistd.h>

namespace {

std::mutex gFactoryMutex;
ComDeviceFactory gFactory;

} // namespace

TOverlapped::TOverlapped() = default;

TOverlapped::~TOverlapped()
{
    if (hEvent >= 0)
        ::close(hEvent);
}

std::unique_ptr<TComDevice> CreateComDevice()
{
    ComDeviceFactory factory;
    {
        std::lock_guard lock(gFactoryMutex);
        factory = gFactory;
    }
    return factory ? factory() : std::make_unique<TPosixComDevice>();
}

ComDeviceFactory SetComDeviceFactory(ComDeviceFactory Factory)
{
    std::lock_guard lock(gFactoryMutex);
    ComDeviceFactory previous = std::move(gFactory);
    gFactory = std::move(Factory);
    if (!previous)
        previous = [] { return std::make_unique<TPosixComDevice>(); };
    return previous;
}
