// An owned descriptor is closed exactly once, whoever ends up holding it; a wake-up stays set
// until drained and reaches a waiter on another thread.
#include "base/UniqueFd.h"
#include "base/WakeUp.h"

#include <fcntl.h>
#include <poll.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

using namespace zentrop;

namespace {

bool IsOpen(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

} // namespace

TEST(UniqueFd, ClosesWhatItHoldsOnceAndNothingItGaveAway)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    const int kept = fds[1];
    {
        UniqueFd a(fds[0]);
        UniqueFd b(std::move(a));
        EXPECT_FALSE(a.Valid());
        EXPECT_EQ(b.Get(), fds[0]);
        UniqueFd c(fds[1]);
        EXPECT_EQ(c.Release(), kept);
        b = std::move(c);   // closes the pipe's read end, takes nothing
        EXPECT_FALSE(IsOpen(fds[0]));
        EXPECT_FALSE(b.Valid());
    }
    EXPECT_TRUE(IsOpen(kept));
    UniqueFd last(kept);
    last.Reset();
    EXPECT_FALSE(IsOpen(kept));
}

TEST(WakeUp, StaysSetUntilDrainedAndWakesAWaiter)
{
    WakeUp wake;
    ASSERT_TRUE(wake.Valid());
    EXPECT_FALSE(wake.IsSet());
    EXPECT_FALSE(wake.Drain());
    wake.Signal();
    wake.Signal();
    EXPECT_TRUE(wake.IsSet());
    EXPECT_TRUE(wake.Drain());
    EXPECT_FALSE(wake.IsSet());

    std::thread waiter([&] {
        pollfd p{wake.Fd(), POLLIN, 0};
        ::poll(&p, 1, -1);
    });
    wake.Signal();
    waiter.join();
    EXPECT_TRUE(wake.Drain());
}
