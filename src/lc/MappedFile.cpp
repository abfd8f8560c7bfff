// Read-only file mapping: the language file is read in place, never copied. A file that
// another program shortens while it is mapped would end the process on the next read past its
// new end (SIGBUS); such reads find zeros instead, which the readers take as no text.
#include "lc/MappedFile.h"

#include "base/UniqueFd.h"

#include <QFile>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zentrop {

namespace {

// The mappings a SIGBUS may come from, read by the signal handler without locks.
struct GuardedRange {
    std::atomic<uintptr_t> Begin{0};
    std::atomic<size_t> Size{0};
};
std::array<GuardedRange, 8> gGuarded;
std::mutex gGuardedMutex;   // serialises taking and giving back slots
struct sigaction gPreviousBusAction {};
uintptr_t gPageSize = 4096;

// The previous disposition's answer to a SIGBUS that is not a read past the end of one of
// our mappings. The guard stays in place for the next one.
void PassOn(int Signal, siginfo_t* Info, void* Context, bool Fault)
{
    const struct sigaction& previous = gPreviousBusAction;
    if (previous.sa_flags & SA_SIGINFO) {
        if (previous.sa_sigaction) {
            previous.sa_sigaction(Signal, Info, Context);
            return;
        }
    } else if (previous.sa_handler == SIG_IGN && !Fault) {
        return;
    } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
        previous.sa_handler(Signal);
        return;
    }
    // The default ends the process: a fault does so when the faulting read runs again (a
    // fault cannot be ignored), a sent signal once this handler returns and it is taken again.
    ::signal(SIGBUS, SIG_DFL);
    if (!Fault)
        ::raise(SIGBUS);
}

void OnBusError(int Signal, siginfo_t* Info, void* Context)
{
    const int savedErrno = errno;
    // Only the kernel's own report of a fault carries a positive code; a SIGBUS sent by a
    // process (kill, sigqueue, tgkill) is not a fault, whatever address it names.
    const bool fault = Info && Info->si_code > 0;
    if (fault) {
        const auto address = reinterpret_cast<uintptr_t>(Info->si_addr);
        for (const GuardedRange& range : gGuarded) {
            const uintptr_t begin = range.Begin.load(std::memory_order_acquire);
            if (begin == 0 || address < begin || address - begin >= range.Size.load(std::memory_order_acquire))
                continue;
            // The page past the file's end is replaced by one of zeros, and the read runs again.
            void* page = reinterpret_cast<void*>(address & ~(gPageSize - 1));
            if (::mmap(page, gPageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) != MAP_FAILED) {
                errno = savedErrno;
                return;
            }
            break;
        }
    }
    PassOn(Signal, Info, Context, fault);
    errno = savedErrno;
}

void InstallBusGuard()
{
    static std::once_flag once;
    std::call_once(once, [] {
        gPageSize = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &gPreviousBusAction);
    });
}

// With every slot taken, the mapping goes unguarded; a process maps one or two at a time.
void Guard(const void* Data, size_t Size)
{
    InstallBusGuard();
    std::lock_guard lock(gGuardedMutex);
    for (GuardedRange& range : gGuarded)
        if (range.Begin.load(std::memory_order_relaxed) == 0) {
            range.Size.store(Size, std::memory_order_release);
            range.Begin.store(reinterpret_cast<uintptr_t>(Data), std::memory_order_release);
            return;
        }
}

void Unguard(const void* Data)
{
    std::lock_guard lock(gGuardedMutex);
    for (GuardedRange& range : gGuarded)
        if (range.Begin.load(std::memory_order_relaxed) == reinterpret_cast<uintptr_t>(Data))
            range.Begin.store(0, std::memory_order_release);
}

} // namespace

bool MappedFile::Open(const QString& fileName)
{
    // Non-blocking, so that a FIFO put in the file's place cannot stall the opening.
    const UniqueFd file(::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    const int fd = file.Get();
    if (fd < 0) {
        FError = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    struct stat st {};
    bool ok = false;
    if (::fstat(fd, &st) != 0)
        FError = QString::fromLocal8Bit(std::strerror(errno));
    else if (!S_ISREG(st.st_mode))
        FError = QStringLiteral("not a regular file");
    else if (st.st_size == 0)
        FError = QStringLiteral("empty file");
    else {
        void* data = ::mmap(nullptr, size_t(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (data == MAP_FAILED)
            FError = QString::fromLocal8Bit(std::strerror(errno));
        else {
            FData = data;
            FSize = size_t(st.st_size);
            Guard(FData, FSize);
            ok = true;
        }
    }
    return ok;
}

MappedFile::~MappedFile()
{
    if (FData) {
        Unguard(FData);
        ::munmap(FData, FSize);
    }
}

} // namespace zentrop
