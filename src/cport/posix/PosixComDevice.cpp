// The POSIX serial device: exclusive raw-mode open, line settings through termios, RTS while
// sending through the driver's RS-485 mode or around each write, the system's time-out rules
// on poll and the monotonic clock, cancellation of waiting requests through their thread's
// wake-up, and a close that never waits long.
#include "PosixComDevice.h"

#include "cport/PortNames.h"

#include "PosixBaudRate.h"
#include "base/UniqueFd.h"

#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <ctime>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <utility>

namespace zentrop {

namespace {

// What an errno means to the engine. Every device call's failure goes through here.
enum class ErrorKind {
    Retry,        // interrupted: try again
    WouldBlock,   // nothing to do now: wait
    Unsupported,  // the driver has no such feature (a pseudo-terminal has no modem lines)
    Gone,         // the device went away (unplugged, other end of a pty closed)
    Failed,
};

ErrorKind Classify(int err)
{
    switch (err) {
    case EINTR:
        return ErrorKind::Retry;
    case EAGAIN:
        return ErrorKind::WouldBlock;
    case ENOTTY:
    case EINVAL:
        return ErrorKind::Unsupported;
    case EIO:
    case ENXIO:
    case ENODEV:
    case EPIPE:
        return ErrorKind::Gone;
    default:
        return ErrorKind::Failed;
    }
}

// An ioctl retried on EINTR; 0 or errno.
template <typename Arg>
int Ioctl(int fd, unsigned long request, Arg arg)
{
    for (;;) {
        if (::ioctl(fd, request, arg) == 0)
            return 0;
        if (Classify(errno) != ErrorKind::Retry)
            return errno;
    }
}

// An ioctl whose absence on a driver means "nothing to report".
int OptionalIoctl(int fd, unsigned long request, void* arg, bool& supported)
{
    const int err = Ioctl(fd, request, arg);
    supported = err == 0;
    return Classify(err) == ErrorKind::Unsupported ? 0 : err;
}

struct StandardRate {
    uint32_t rate;
    speed_t constant;
};

constexpr StandardRate kStandardRates[] = {
    {50, B50}, {75, B75}, {110, B110}, {134, B134}, {150, B150}, {200, B200}, {300, B300},
    {600, B600}, {1200, B1200}, {1800, B1800}, {2400, B2400}, {4800, B4800}, {9600, B9600},
    {19200, B19200}, {38400, B38400}, {57600, B57600}, {115200, B115200}, {230400, B230400},
    {460800, B460800}, {500000, B500000}, {576000, B576000}, {921600, B921600},
    {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000},
    {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
};

const StandardRate* FindStandardRate(uint32_t rate)
{
    for (const StandardRate& r : kStandardRates)
        if (r.rate == rate)
            return &r;
    return nullptr;
}

// The settings that a driver must have taken as asked for the line to work as set.
constexpr tcflag_t kCheckedCflags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
constexpr tcflag_t kCheckedIflags = IXON | IXOFF | INPCK;
// A pseudo-terminal has no wire: it carries eight bits without parity whatever it is told,
// and the C library refuses to tell it otherwise.
constexpr tcflag_t kPtyIgnoredCflags = CSIZE | PARENB | PARODD | CMSPAR;

// Slaves of the pseudo-terminal multiplexer and of the old BSD pairs.
bool IsPtySlave(const struct stat& st)
{
    const unsigned int m = major(st.st_rdev);
    return (m >= 136 && m <= 143) || m == 3;
}

int TcSetAttr(int fd, const termios& t)
{
    for (;;) {
        if (::tcsetattr(fd, TCSANOW, &t) == 0)
            return 0;
        if (Classify(errno) != ErrorKind::Retry)
            return errno;
    }
}

// Gives the bytes still in a line's output queue the time their write time-out allows
// (within a small limit) to leave, then discards what is left, so that the kernel's close
// finds nothing to wait for.
void SettleOutput(int fd, const COMMTIMEOUTS& timeouts)
{
    int queued = 0;
    if (Ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0)
        return;
    constexpr Nanos kStep = 5000000;   // 5 ms between looks at the queue
    const Nanos deadline = MonotonicNow() + CloseDrainBudget(timeouts, queued);
    for (;;) {
        const Nanos left = deadline - MonotonicNow();
        if (left <= 0)
            break;
        const timespec step{0, static_cast<long>(std::min(left, kStep))};
        ::nanosleep(&step, nullptr);
        if (Ioctl(fd, TIOCOUTQ, &queued) != 0)
            break;
        if (queued <= 0)
            return;
    }
    ::tcflush(fd, TCOFLUSH);
}

} // namespace

// How the line state record becomes the terminal's settings. Every value the port can send
// is taken; what Linux cannot do is mapped to the nearest behaviour and never refused, so
// that the setup dialog's presets and settings made elsewhere keep working.
//
//   record value                   Linux setting          why, and what differs
//   -----------------------------  ---------------------  ----------------------------------
//   BaudRate                       cfsetspeed or BOTHER   any rate the driver can make
//   ByteSize 5 to 8                CS5 to CS8
//   Parity odd, even               PARENB (| PARODD)
//   Parity mark, space             PARENB | CMSPAR        mark adds PARODD
//   StopBits 1.5                   CSTOPB                 there is no 1.5: the line gets 2
//   fOutxCtsFlow                   CRTSCTS                one kernel handshake covers both
//   fRtsControl handshake          CRTSCTS                directions: either flag turns on
//                                                         both
//   fRtsControl disable, enable    RTS lowered, raised
//   fRtsControl toggle             the driver's RS-485    RTS raised while sending, with the
//                                  mode (TIOCSRS485)      delays the port set; where the
//                                                         driver has none, the device raises
//                                                         RTS around each write and lowers it
//                                                         once the output has drained
//   fDtrControl disable, enable    DTR lowered, raised
//   fDtrControl handshake          DTR raised             there is no DTR input handshake;
//                                                         the other side sees us ready
//   fOutxDsrFlow                   none                   there is no DSR output handshake
//   fDsrSensitivity                none                   bytes are taken whatever DSR says
//   fTXContinueOnXoff              none                   after sending Xoff Linux goes on
//                                                         sending, as if the flag were set
//   fOutX, fInX                    IXON, IXOFF
//   XonChar, XoffChar              VSTART, VSTOP
//   XonLim, XoffLim                none                   the kernel's limits are fixed
//   fParity without fErrorChar     no INPCK               a byte that fails the check is
//                                                         kept as received, as the record
//                                                         means; the error still reaches the
//                                                         line errors where the driver
//                                                         counts it
//   fParity with fErrorChar        INPCK, no IGNPAR and   a failed byte reads as NUL, not as
//                                  no PARMRK              ErrorChar: only marking (PARMRK)
//                                                         could tell it from a received NUL.
//                                                         A framing error reads as NUL too
//   fNull                          none                   the device's reads drop the NULs
//   EvtChar                        none                   the line discipline has no such
//                                                         character: the event wait looks
//                                                         for it in the bytes it takes
//   fBinary, fAbortOnError         none                   raw mode is binary; the port never
//                                                         asks to abort on errors
void TermiosFromDCB(const DCB& Dcb, termios& t)
{
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= kSizes[std::clamp<int>(Dcb.ByteSize, 5, 8) - 5] | CLOCAL | CREAD;
    switch (Dcb.Parity) {
    case DCB::ODDPARITY: t.c_cflag |= PARENB | PARODD; break;
    case DCB::EVENPARITY: t.c_cflag |= PARENB; break;
    case DCB::MARKPARITY: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case DCB::SPACEPARITY: t.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (Dcb.StopBits != DCB::ONESTOPBIT)
        t.c_cflag |= CSTOPB;
    if ((Dcb.Flags & DCB::fOutxCtsFlow)
        || (Dcb.Flags & DCB::fRtsControlMask) == DCB::fRtsControlHandshake)
        t.c_cflag |= CRTSCTS;

    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
    if (Dcb.Flags & DCB::fOutX)
        t.c_iflag |= IXON;
    if (Dcb.Flags & DCB::fInX)
        t.c_iflag |= IXOFF;
    if ((Dcb.Flags & DCB::fParity) && (Dcb.Flags & DCB::fErrorChar))
        t.c_iflag |= INPCK;
    t.c_cc[VSTART] = static_cast<cc_t>(Dcb.XonChar);
    t.c_cc[VSTOP] = static_cast<cc_t>(Dcb.XoffChar);
}

void ModemLinesFromDCB(const DCB& Dcb, int& Set, int& Clear)
{
    Set = 0;
    Clear = 0;
    ((Dcb.Flags & DCB::fDtrControlMask) == 0 ? Clear : Set) |= TIOCM_DTR;
    switch (Dcb.Flags & DCB::fRtsControlMask) {
    case DCB::fRtsControlEnable: Set |= TIOCM_RTS; break;
    case DCB::fRtsControlHandshake: break;   // driven by the kernel's handshake
    default: Clear |= TIOCM_RTS; break;      // disabled or toggle
    }
}

PosixComDevice::~PosixComDevice()
{
    Close();
}

QString PosixComDevice::DevicePath(const QString& Port)
{
    return PortDevicePath(Port);
}

QString PortDevicePath(const QString& Port)
{
    if (Port.startsWith(u'/'))
        return Port;
    static const QRegularExpression comName(QStringLiteral("^COM([1-9][0-9]{0,8})$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = comName.match(Port);
    if (m.hasMatch())
        return QStringLiteral("/dev/ttyS") + QString::number(m.captured(1).toLongLong() - 1);
    return QStringLiteral("/dev/") + Port;
}

int PosixComDevice::Open(const QString& Port)
{
    std::lock_guard lock(FMutex);
    if (FFd >= 0)
        return EBUSY;
    const QByteArray path = QFile::encodeName(DevicePath(Port));
    // Only character devices are opened: opening anything else by mistake could block
    // (a FIFO) or have effects of its own.
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return errno;
    if (!S_ISCHR(st.st_mode))
        return ENOTTY;
    // The console or a login line fails as a port in use does; the command line says why.
    if (!ReservedTerminalReason(QFile::decodeName(path), FRoots).isEmpty())
        return EBUSY;

    UniqueFd opened(::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!opened)
        return errno;
    const int fd = opened.Get();
    bool exclusive = false;
    auto fail = [&](int err) {
        if (exclusive)
            ::ioctl(fd, TIOCNXCL);
        return err;
    };

    // The lock also keeps out root, whom the tty's exclusive mode does not stop.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return fail(errno == EWOULDBLOCK ? EBUSY : errno);
    termios saved{};
    if (::tcgetattr(fd, &saved) != 0)
        return fail(errno);
    if (int err = Ioctl(fd, TIOCEXCL, nullptr))
        return fail(err);
    exclusive = true;

    termios raw = saved;
    ::cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    // Time-outs are kept by poll, never by the line discipline; a minimum of one byte
    // makes a non-blocking read without data say EAGAIN instead of "end of file".
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    if (int err = TcSetAttr(fd, raw))
        return fail(err);

    // Low latency hands each received byte on at once; a driver that refuses keeps its
    // default, which is no error.
    FRestoreLowLatency = false;
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0 && !(serial.flags & ASYNC_LOW_LATENCY)) {
        FSavedSerialFlags = serial.flags;
        serial.flags |= ASYNC_LOW_LATENCY;
        FRestoreLowLatency = ::ioctl(fd, TIOCSSERIAL, &serial) == 0;
    }
    // The kernel's close waits up to the port's closing wait (30 s unless set otherwise)
    // for output that a handshake or a stuck adapter holds back. While the port is open
    // that wait is off, so that a process that ends without closing cannot hang in it;
    // Close gives queued output a bounded time of its own, empties the queue and only
    // then gives the port its own closing wait back, which then finds nothing to wait
    // for. A driver without the setting, or a user who may not change it, keeps its own.
    FRestoreClosingWait = false;
    serial_struct wait{};
    if (::ioctl(fd, TIOCGSERIAL, &wait) == 0 && wait.closing_wait != ASYNC_CLOSING_WAIT_NONE) {
        FSavedClosingWait = wait.closing_wait;
        wait.closing_wait = ASYNC_CLOSING_WAIT_NONE;
        FRestoreClosingWait = ::ioctl(fd, TIOCSSERIAL, &wait) == 0;
    }

    FFd = opened.Release();
    FIsPty = IsPtySlave(st);
    FRS485 = RS485Mode::Off;
    FRS485Saved = false;
    FSaved = saved;
    ResetRequests();
    FInbox.clear();
    FLastCounts = ErrorCounts{};
    ReadErrorCounts(fd, FLastCounts);
    return 0;
}

void PosixComDevice::Close()
{
    int fd = -1;
    bool isPty = false;
    COMMTIMEOUTS timeouts;
    {
        std::lock_guard lock(FMutex);
        if (FFd < 0 || FClosing)
            return;
        StopRequests();
        fd = FFd;
        isPty = FIsPty;
        timeouts = FTimeouts;
    }
    // Every waiting request has been woken and leaves; none starts waiting any more.
    std::unique_lock use(FUse);
    // A pseudo-terminal's close never waits for its output, and flushing it would throw
    // away what the other end has not read yet.
    if (!isPty)
        SettleOutput(fd, timeouts);
    std::lock_guard lock(FMutex);
    // The port leaves as it was found: its latency flag and its closing wait.
    if (FRestoreLowLatency || FRestoreClosingWait) {
        serial_struct serial{};
        if (::ioctl(FFd, TIOCGSERIAL, &serial) == 0) {
            if (FRestoreLowLatency)
                serial.flags = FSavedSerialFlags;
            if (FRestoreClosingWait)
                serial.closing_wait = FSavedClosingWait;
            ::ioctl(FFd, TIOCSSERIAL, &serial);
        }
    }
    RestoreRS485(FFd);
    FRS485 = RS485Mode::Off;
    FRS485Saved = false;
    TcSetAttr(FFd, FSaved);
    ::ioctl(FFd, TIOCNXCL);
    ::flock(FFd, LOCK_UN);
    UniqueFd closing(std::exchange(FFd, -1));
    FInbox.clear();
    FClosing = false;
}

int PosixComDevice::SetCommState(const DCB& Dcb)
{
    if (!ValidLine(Dcb))
        return EINVAL;
    std::lock_guard lock(FMutex);
    if (FFd < 0 || FClosing)
        return EBADF;
    termios old{};
    if (::tcgetattr(FFd, &old) != 0)
        return errno;
    termios t = old;
    TermiosFromDCB(Dcb, t);
    if (FIsPty)
        t.c_cflag = (t.c_cflag & ~kPtyIgnoredCflags) | CS8;

    const StandardRate* standard = FindStandardRate(Dcb.BaudRate);
    if (standard && ::cfsetspeed(&t, standard->constant) != 0)
        return errno;
    if (int err = TcSetAttr(FFd, t))
        return err;
    int err = standard ? 0 : SetArbitraryBaudRate(FFd, Dcb.BaudRate);

    // Trust only what the driver took: a driver that cannot do a setting quietly keeps
    // another, and the line would not work as asked.
    termios now{};
    if (!err)
        err = ReadTermios(FFd, now);
    if (!err && ((now.c_cflag & kCheckedCflags) != (t.c_cflag & kCheckedCflags)
                 || (now.c_iflag & kCheckedIflags) != (t.c_iflag & kCheckedIflags)))
        err = EINVAL;
    uint32_t actual = 0;
    if (!err && GetActualBaudRate(FFd, actual) == 0 && actual != 0
        && std::abs(double(actual) - double(Dcb.BaudRate)) > 0.03 * Dcb.BaudRate)
        err = EINVAL;
    if (!err)
        err = ApplyRS485(FFd, (Dcb.Flags & DCB::fRtsControlMask) == DCB::fRtsControlToggle);
    if (!err)
        err = ApplyModemLines(FFd, Dcb);
    if (err) {
        TcSetAttr(FFd, old);
        return err;
    }
    TakeLine(Dcb);
    return 0;
}

int PosixComDevice::ApplyModemLines(int Fd, const DCB& Dcb)
{
    int set = 0;
    int clear = 0;
    ModemLinesFromDCB(Dcb, set, clear);
    bool supported = false;
    if (int err = OptionalIoctl(Fd, TIOCMBIS, &set, supported))
        return err;
    return OptionalIoctl(Fd, TIOCMBIC, &clear, supported);
}

int PosixComDevice::SerialIoctl(int Fd, unsigned long Request, void* Arg) const
{
    return Ioctl(Fd, Request, Arg);
}

int PosixComDevice::SetRS485Delays(int BeforeMs, int AfterMs)
{
    std::lock_guard lock(FMutex);
    FRS485Before = std::max(BeforeMs, 0);
    FRS485After = std::max(AfterMs, 0);
    return 0;
}

RS485Mode PosixComDevice::GetRS485Mode() const
{
    std::lock_guard lock(FMutex);
    return FRS485;
}

int PosixComDevice::ApplyRS485(int Fd, bool On)
{
    if (!On) {
        RestoreRS485(Fd);
        FRS485 = RS485Mode::Off;
        return 0;
    }
    // The driver's own settings are kept once, from before the first change, for the close.
    if (!FRS485Saved) {
        serial_rs485 now{};
        if (const int err = SerialIoctl(Fd, TIOCGRS485, &now)) {
            if (Classify(err) != ErrorKind::Unsupported)
                return err;
            FRS485 = RS485Mode::Port;
            return 0;
        }
        FSavedRS485 = now;
        FRS485Saved = true;
    }
    serial_rs485 rs = FSavedRS485;
    rs.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
    rs.flags &= ~SER_RS485_RTS_AFTER_SEND;
    rs.delay_rts_before_send = static_cast<__u32>(FRS485Before);
    rs.delay_rts_after_send = static_cast<__u32>(FRS485After);
    if (const int err = SerialIoctl(Fd, TIOCSRS485, &rs)) {
        if (Classify(err) != ErrorKind::Unsupported)
            return err;
        FRS485 = RS485Mode::Port;
        return 0;
    }
    FRS485 = RS485Mode::Driver;
    return 0;
}

void PosixComDevice::RestoreRS485(int Fd)
{
    if (FRS485 == RS485Mode::Driver && FRS485Saved)
        SerialIoctl(Fd, TIOCSRS485, &FSavedRS485);
}

void PosixComDevice::DriveSendRts(int Fd, bool On)
{
    int line = TIOCM_RTS;
    // A line without RTS has nothing to drive; the write goes out all the same.
    SerialIoctl(Fd, On ? TIOCMBIS : TIOCMBIC, &line);
}

void PosixComDevice::WaitSent(Overlapped& Ovl, int Fd, Nanos Deadline)
{
    Nanos character = 0;
    {
        std::lock_guard lock(FMutex);
        character = FCharacterNs;
    }
    for (;;) {
        int queued = 0;
        if (SerialIoctl(Fd, TIOCOUTQ, &queued) != 0)
            queued = 0;
        if (queued <= 0) {
            // The queue is empty; the last byte may still be in the transmitter. A driver
            // that cannot say so has only its queue to tell.
            unsigned int status = 0;
            if (SerialIoctl(Fd, TIOCSERGETLSR, &status) != 0 || (status & TIOCSER_TEMT))
                return;
        }
        const Nanos left = Deadline - MonotonicNow();
        if (left <= 0)
            return;
        const Nanos step = std::clamp<Nanos>(Nanos(std::max(queued, 1)) * character, 100000, left);
        bool cancelled = false;
        bool hangup = false;
        if (WaitReady(Ovl, Fd, 0, &step, cancelled, hangup) != 0 || cancelled || hangup)
            return;
    }
}

int PosixComDevice::PurgeComm(uint32_t Flags)
{
    // A write that has returned counts as sent, as it would on a line whose writes end when
    // their bytes have left; clearing the output discards only what is held up beyond the
    // time the line needs for it (a handshake, a stuck adapter). On a serial line that means
    // waiting for that time first; a pseudo-terminal has no line, and what its other end has
    // not read yet is never thrown away.
    if (Flags & PURGE_TXCLEAR) {
        Nanos left = 0;
        {
            std::lock_guard lock(FMutex);
            if (FFd < 0 || FClosing)
                return EBADF;
            if (!FIsPty)
                left = std::min(FLineFreeNs - MonotonicNow(), kCloseDrainLimit);
        }
        if (left > 0) {
            const timespec wait{static_cast<time_t>(left / 1000000000), static_cast<long>(left % 1000000000)};
            ::nanosleep(&wait, nullptr);
        }
    }
    std::lock_guard lock(FMutex);
    if (FFd < 0 || FClosing)
        return EBADF;
    AbortRequests(Flags);
    const bool in = Flags & PURGE_RXCLEAR;
    const bool out = (Flags & PURGE_TXCLEAR) && !FIsPty;
    if (!in && !out)
        return 0;
    if (out)
        FLineFreeNs = std::min(FLineFreeNs, MonotonicNow());
    int discarded = 0;
    if (in && Ioctl(FFd, FIONREAD, &discarded) == 0 && discarded >= 0 && discarded + FInbox.size() > 0) {
        NoteTaken(static_cast<uint64_t>(discarded) + FInbox.size());
        FInbox.clear();
    }
    return ::tcflush(FFd, in && out ? TCIOFLUSH : in ? TCIFLUSH : TCOFLUSH) == 0 ? 0 : errno;
}

int PosixComDevice::ReadTermios(int Fd, termios& T) const
{
    return ::tcgetattr(Fd, &T) == 0 ? 0 : errno;
}

int PosixComDevice::ReadErrorCounters(int Fd, serial_icounter_struct& Counters, bool& Supported) const
{
    return OptionalIoctl(Fd, TIOCGICOUNT, &Counters, Supported);
}

int PosixComDevice::ReadErrorCounts(int Fd, ErrorCounts& Counts) const
{
    serial_icounter_struct icount{};
    bool supported = false;
    if (int err = ReadErrorCounters(Fd, icount, supported))
        return err;
    if (supported)
        Counts = {icount.frame, icount.parity, icount.overrun, icount.buf_overrun, icount.brk};
    return 0;
}

int PosixComDevice::ClearCommError(uint32_t& Errors, COMSTAT& Stat)
{
    Errors = 0;
    Stat = COMSTAT{};
    std::lock_guard lock(FMutex);
    if (FFd < 0 || FClosing)
        return EBADF;
    // With NULs discarded the driver's count would promise bytes no read gets: the
    // received bytes are taken in, without their NULs, and only those are counted. Bytes
    // that come after that are counted by the next call.
    int inQueue = 0;
    if (FDiscardNull)
        PullInput(FFd);
    else if (int err = Ioctl(FFd, FIONREAD, &inQueue))
        return err;
    int outQueue = 0;
    bool supported = false;
    if (int err = OptionalIoctl(FFd, TIOCOUTQ, &outQueue, supported))
        return err;
    ErrorCounts counts = FLastCounts;
    if (int err = ReadErrorCounts(FFd, counts))
        return err;
    if (counts.frame != FLastCounts.frame)
        Errors |= CE_FRAME;
    if (counts.parity != FLastCounts.parity)
        Errors |= CE_RXPARITY;
    if (counts.overrun != FLastCounts.overrun)
        Errors |= CE_OVERRUN;
    if (counts.bufOverrun != FLastCounts.bufOverrun)
        Errors |= CE_RXOVER;
    if (counts.brk != FLastCounts.brk)
        Errors |= CE_BREAK;
    FLastCounts = counts;
    Stat.cbInQue = static_cast<uint32_t>(std::max(inQueue, 0)) + static_cast<uint32_t>(FInbox.size());
    Stat.cbOutQue = static_cast<uint32_t>(std::max(outQueue, 0));
    return 0;
}

int PosixComDevice::EscapeCommFunction(uint32_t Function)
{
    int line = 0;
    unsigned long request = 0;
    switch (Function) {
    case SETDTR: line = TIOCM_DTR; request = TIOCMBIS; break;
    case CLRDTR: line = TIOCM_DTR; request = TIOCMBIC; break;
    case SETRTS: line = TIOCM_RTS; request = TIOCMBIS; break;
    case CLRRTS: line = TIOCM_RTS; request = TIOCMBIC; break;
    default: return EINVAL;
    }
    std::lock_guard lock(FMutex);
    if (FFd < 0 || FClosing)
        return EBADF;
    return Ioctl(FFd, request, &line);
}

int PosixComDevice::SetCommBreak(bool On)
{
    std::lock_guard lock(FMutex);
    if (FFd < 0 || FClosing)
        return EBADF;
    // A pseudo-terminal has no line to hold: the request is taken and does nothing.
    return Ioctl(FFd, On ? TIOCSBRK : TIOCCBRK, static_cast<void*>(nullptr));
}

int PosixComDevice::GetCommModemStatus(uint32_t& Status)
{
    Status = 0;
    std::lock_guard lock(FMutex);
    if (FFd < 0 || FClosing)
        return EBADF;
    int lines = 0;
    bool supported = false;
    if (int err = OptionalIoctl(FFd, TIOCMGET, &lines, supported))
        return err;
    if (lines & TIOCM_CTS)
        Status |= MS_CTS_ON;
    if (lines & TIOCM_DSR)
        Status |= MS_DSR_ON;
    if (lines & TIOCM_RNG)
        Status |= MS_RING_ON;
    if (lines & TIOCM_CAR)
        Status |= MS_RLSD_ON;
    return 0;
}

Nanos PosixComDevice::LineQuietAt() const
{
    // The kernel takes written bytes at once and sends them later at the line's pace.
    Nanos quiet = std::max(MonotonicNow(), FLineFreeNs);
    // A line held up by its handshake still has bytes queued; they leave no sooner than at
    // the line's pace once it moves again. A pseudo-terminal has no queue of its own.
    int queued = 0;
    if (!FIsPty && FCharacterNs > 0 && Ioctl(FFd, TIOCOUTQ, &queued) == 0 && queued > 0)
        quiet = std::max(quiet, MonotonicNow() + Nanos(queued) * FCharacterNs);
    return quiet;
}

int PosixComDevice::WaitReady(Overlapped& Ovl, int Fd, short Events, const Nanos* Left,
                               bool& Cancelled, bool& Hangup)
{
    pollfd fds[2] = {{Fd, Events, 0}, {Ovl.hEvent, POLLIN, 0}};
    timespec ts{};
    if (Left) {
        ts.tv_sec = static_cast<time_t>(*Left / 1000000000);
        ts.tv_nsec = static_cast<long>(*Left % 1000000000);
    }
    if (::ppoll(fds, 2, Left ? &ts : nullptr, nullptr) < 0)
        return Classify(errno) == ErrorKind::Retry ? 0 : errno;
    if (fds[1].revents) {
        std::lock_guard lock(FMutex);
        Cancelled = IsCancelled(Ovl);
        if (!Cancelled)
            DrainWake(Ovl.hEvent);
    }
    if (fds[0].revents & POLLNVAL)
        return EBADF;
    if (fds[0].revents & (POLLHUP | POLLERR))
        Hangup = true;
    return 0;
}

ssize_t PosixComDevice::TakeInput(int Fd, char* Into, size_t Want, int& Err)
{
    // Under the lock, so that the event wait cannot take bytes from the driver between the
    // inbox and the read: they would come out of order.
    std::lock_guard lock(FMutex);
    const size_t held = std::min(Want, FInbox.size());
    std::memcpy(Into, FInbox.data(), held);
    FInbox.erase(0, held);
    ssize_t n = 0;
    if (held < Want) {
        n = ::read(Fd, Into + held, Want - held);
        Err = n < 0 ? errno : 0;
    }
    // Bytes from the inbox complete the read; whatever the driver said comes next time.
    const ssize_t taken = held > 0 ? ssize_t(held) + std::max<ssize_t>(n, 0) : n;
    if (taken > 0)
        NoteTaken(static_cast<uint64_t>(taken));
    return taken;
}

int PosixComDevice::RunRead(Overlapped& Ovl, int Fd, bool DiscardNull, int& Transferred)
{
    ReadTimer timer(Ovl.Timeouts, Ovl.Count, Ovl.StartNs);
    int got = 0;
    bool hangup = false;
    for (;;) {
        if (got < Ovl.Count) {
            // Dropped NULs never reach the caller's buffer, so a read that receives only NULs
            // leaves it as it was (the port's 0xFF mark of "nothing received" among it).
            char chunk[256];
            char* const into = DiscardNull ? chunk : Ovl.Buffer + got;
            const size_t want = DiscardNull ? std::min(sizeof chunk, size_t(Ovl.Count - got))
                                            : size_t(Ovl.Count - got);
            int err = 0;
            const ssize_t n = TakeInput(Fd, into, want, err);
            if (n > 0) {
                int kept = static_cast<int>(n);
                if (DiscardNull)
                    kept = static_cast<int>(std::remove_copy(chunk, chunk + n, Ovl.Buffer + got, '\0')
                                            - (Ovl.Buffer + got));
                got += kept;
                if (kept > 0)
                    timer.BytesArrived(got, MonotonicNow());
                hangup = false;
                continue;
            }
            if (n < 0 && Classify(err) == ErrorKind::Retry)
                continue;
            // End of file, or a hangup that poll reported while the read has nothing to
            // say: the device is gone. Bytes already received are not lost: they complete
            // this read, and the next one fails.
            if (n == 0 || Classify(err) != ErrorKind::WouldBlock || hangup) {
                Transferred = got;
                return got > 0 ? 0 : (n == 0 || Classify(err) == ErrorKind::WouldBlock ? EIO : err);
            }
        }
        const Nanos now = MonotonicNow();
        if (timer.Done(got, now)) {
            Transferred = got;
            return 0;
        }
        const std::optional<Nanos> left = timer.Remaining(now);
        bool cancelled = false;
        if (int err = WaitReady(Ovl, Fd, POLLIN, left ? &*left : nullptr, cancelled, hangup)) {
            Transferred = got;
            return err;
        }
        if (cancelled) {
            Transferred = got;
            return ECANCELED;
        }
    }
}

int PosixComDevice::RunWrite(Overlapped& Ovl, int Fd, int& Transferred)
{
    int before = 0;
    int after = 0;
    bool aroundWrite = false;
    {
        std::lock_guard lock(FMutex);
        aroundWrite = FRS485 == RS485Mode::Port;
        before = FRS485Before;
        after = FRS485After;
    }
    if (!aroundWrite)
        return SendBytes(Ovl, Fd, Transferred);
    // RTS goes up before the first bit and down once the last has left the line.
    const auto pause = [](int ms) {
        const timespec wait{ms / 1000, (ms % 1000) * 1000000L};
        if (ms > 0)
            ::nanosleep(&wait, nullptr);
    };
    DriveSendRts(Fd, true);
    pause(before);
    const int err = SendBytes(Ovl, Fd, Transferred);
    // A cancelled or failed write does not wait for the line: RTS falls at once.
    if (err == 0) {
        WaitSent(Ovl, Fd, MonotonicNow() + kCloseDrainLimit);
        pause(after);
    }
    DriveSendRts(Fd, false);
    return err;
}

int PosixComDevice::SendBytes(Overlapped& Ovl, int Fd, int& Transferred)
{
    WriteTimer timer(Ovl.Timeouts, Ovl.Count, Ovl.StartNs);
    int done = 0;
    bool hangup = false;
    while (done < Ovl.Count) {
        const ssize_t n = ::write(Fd, Ovl.Buffer + done, static_cast<size_t>(Ovl.Count - done));
        const int err = n < 0 ? errno : 0;
        if (n > 0) {
            NoteSent();
            done += static_cast<int>(n);
            continue;
        }
        if (n < 0 && Classify(err) == ErrorKind::Retry)
            continue;
        // A write to a device that went away fails, whatever part of it got through. A
        // device that takes nothing without saying why counts as gone rather than being
        // asked again and again.
        if (n == 0 || Classify(err) != ErrorKind::WouldBlock) {
            Transferred = done;
            return n == 0 ? EIO : err;
        }
        if (hangup) {
            Transferred = done;
            return EIO;
        }
        const std::optional<Nanos> left = timer.Remaining(MonotonicNow());
        if (left && *left == 0)
            break;   // the write time-out: a short count, not an error
        bool cancelled = false;
        if (int waitErr = WaitReady(Ovl, Fd, POLLOUT, left ? &*left : nullptr, cancelled, hangup)) {
            Transferred = done;
            return waitErr;
        }
        if (cancelled) {
            Transferred = done;
            return ECANCELED;
        }
    }
    Transferred = done;
    return 0;
}

} // namespace zentrop
