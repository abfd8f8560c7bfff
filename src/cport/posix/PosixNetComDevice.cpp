// The network serial device: a bounded connect, the Telnet negotiation and COM port option on
// top of a non-blocking TCP socket, reads and writes under the system's time-out rules, and
// an event wait that reports arrived bytes and the server's modem and line notifications.
#include "PosixNetComDevice.h"

#include "cport/ComConvert.h"
#include "cport/NetPortName.h"

#include <QByteArray>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zentrop {

using namespace EventMask;

namespace {

// The most received data kept before the socket is left to hold the rest, so that TCP's own
// flow control stops a server that sends faster than the port reads.
constexpr size_t kInboxLimit = 1024 * 1024;
// How often the wait for the server's answers looks again, in case another thread took them
// from the socket; and how often the event wait looks at a draining send queue.
constexpr int kAnswerSliceMs = 5;
constexpr int kLookIntervalMs = 20;

constexpr Nanos kMs = 1000000;

int PollMs(Nanos Left)
{
    return static_cast<int>(std::clamp<Nanos>((Left + kMs - 1) / kMs, 0, 1 << 30));
}

// Connects to one address within the deadline: the socket, or -1 with Err set.
int ConnectOne(const addrinfo& Ai, Nanos Deadline, int& Err)
{
    const int fd = ::socket(Ai.ai_family, Ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, Ai.ai_protocol);
    if (fd < 0) {
        Err = errno;
        return -1;
    }
    if (::connect(fd, Ai.ai_addr, Ai.ai_addrlen) != 0 && errno != EINPROGRESS) {
        Err = errno;
        ::close(fd);
        return -1;
    }
    for (;;) {
        pollfd p{fd, POLLOUT, 0};
        const Nanos left = Deadline - MonotonicNow();
        const int r = left > 0 ? ::poll(&p, 1, PollMs(left)) : 0;
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0) {
            Err = r == 0 ? ETIMEDOUT : errno;
            ::close(fd);
            return -1;
        }
        break;
    }
    int soError = 0;
    socklen_t len = sizeof soError;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0)
        soError = errno;
    if (soError != 0) {
        Err = soError;
        ::close(fd);
        return -1;
    }
    return fd;
}

// Connects to the first address of the host that answers; the socket or -1 with Err set.
int Connect(const NetPortName& Name, int& Err)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* found = nullptr;
    const QByteArray host = Name.Host.toUtf8();
    const QByteArray service = QByteArray::number(Name.Port);
    const int gai = ::getaddrinfo(host.constData(), service.constData(), &hints, &found);
    if (gai != 0) {
        Err = gai == EAI_SYSTEM ? errno : gai == EAI_MEMORY ? ENOMEM : ENOENT;
        return -1;
    }
    const Nanos deadline = MonotonicNow() + Nanos(PosixNetComDevice::kConnectMs) * kMs;
    int fd = -1;
    Err = ENOENT;
    for (const addrinfo* ai = found; ai && fd < 0; ai = ai->ai_next)
        fd = ConnectOne(*ai, deadline, Err);
    ::freeaddrinfo(found);
    if (fd < 0)
        return -1;
    // Every write leaves at once, so that the pauses between the bytes of a sequence stay
    // on the line instead of being closed up in one segment.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    return fd;
}

// The modem state's bits have the values of the MS_ bits; the event wait compares TIOCM_ bits.
int ModemLines(uint8_t State)
{
    int lines = 0;
    if (State & MS_CTS_ON)
        lines |= TIOCM_CTS;
    if (State & MS_DSR_ON)
        lines |= TIOCM_DSR;
    if (State & MS_RING_ON)
        lines |= TIOCM_RNG;
    if (State & MS_RLSD_ON)
        lines |= TIOCM_CAR;
    return lines;
}

// Of the data bytes whose escaped form begins the stream, how many went whole in Sent bytes.
int WholeDataBytes(const char* Data, int Count, size_t Sent, bool Telnet, bool Binary)
{
    size_t at = 0;
    int whole = 0;
    for (; whole < Count; ++whole) {
        const uint8_t b = static_cast<uint8_t>(Data[whole]);
        const size_t size = Telnet && (b == telnet::IAC || (b == '\r' && !Binary)) ? 2 : 1;
        if (at + size > Sent)
            break;
        at += size;
    }
    return whole;
}

} // namespace

PosixNetComDevice::~PosixNetComDevice()
{
    Close();
}

int PosixNetComDevice::Open(const QString& Port)
{
    const std::optional<NetPortName> name = ParseNetPortName(Port);
    if (!name)
        return EINVAL;
    {
        std::lock_guard lock(FMutex);
        if (FFd >= 0)
            return EBUSY;
    }
    int err = 0;
    const int fd = Connect(*name, err);
    if (fd < 0)
        return err;
    {
        std::lock_guard lock(FMutex);
        FFd = fd;
        FTelnet = name->Protocol == NetProtocol::Rfc2217;
        FTelnetClient = TelnetClient();
        FControl = FTelnet ? FTelnetClient.Start() : std::string();
        FPeerClosed = false;
        FSocketError = 0;
        FInbox.clear();
        FArrived = 0;
        ResetRequests();
        FFlagSeen = false;
        FLine.reset();
        FModemState = 0;
        FCounts = FErrorsTaken = FLastLook = LineLook{};
    }
    if (!FTelnet)
        return 0;
    // A server that does not answer the COM port option in time is taken as one that
    // refused it: the line stays as the server has it, like a raw connection's.
    size_t sent = 0;
    err = Send({}, sent, MonotonicNow() + Nanos(kAnswerMs) * kMs, nullptr);
    if (!err)
        err = AwaitServer([this] { return FTelnetClient.ComPortAnswer() != TelnetClient::Answer::Pending; });
    if (err == ETIMEDOUT)
        err = 0;
    if (!err && ControlsLine()) {
        // Every modem line change and every line error the server sees is to be told.
        using namespace comport;
        const char lineMask = LINE_BREAK | LINE_FRAME | LINE_PARITY | LINE_OVERRUN;
        const char modemMask = static_cast<char>(0xFF);
        const std::string masks = ComPortCommand(SET_LINESTATE_MASK, std::string_view(&lineMask, 1))
                                  + ComPortCommand(SET_MODEMSTATE_MASK, std::string_view(&modemMask, 1));
        err = Send(masks, sent, MonotonicNow() + Nanos(kAnswerMs) * kMs, nullptr);
    }
    if (err) {
        Close();
        return err;
    }
    return 0;
}

void PosixNetComDevice::Close()
{
    {
        std::lock_guard lock(FMutex);
        if (FFd < 0 || FClosing)
            return;
        StopRequests();
    }
    // Every waiting request has been woken and leaves; none starts waiting any more. What
    // was written still reaches the server: closing a TCP socket sends what it holds.
    std::unique_lock use(FUse);
    std::lock_guard send(FSendMutex);
    std::lock_guard lock(FMutex);
    ::close(FFd);
    FFd = -1;
    FInbox.clear();
    FControl.clear();
    FClosing = false;
}

bool PosixNetComDevice::ControlsLine() const
{
    std::lock_guard lock(FMutex);
    return FFd >= 0 && FTelnet && FTelnetClient.ComPortAnswer() == TelnetClient::Answer::Accepted;
}

void PosixNetComDevice::OnData(const char* Bytes, size_t Count)
{
    // Discarded NULs go on arrival, so that the queue count is what a read will get.
    if (FDiscardNull)
        std::remove_copy(Bytes, Bytes + Count, std::back_inserter(FInbox), '\0');
    else
        FInbox.append(Bytes, Count);
    FArrived += Count;
    if ((FEventMask & EV_RXFLAG) && std::memchr(Bytes, static_cast<unsigned char>(FEventChar), Count))
        FFlagSeen = true;
}

void PosixNetComDevice::OnComPort(uint8_t Command, std::string_view Value)
{
    using namespace comport;
    if (Command < kServerOffset || Value.empty())
        return;
    const auto first = static_cast<uint8_t>(Value[0]);
    switch (Command - kServerOffset) {
    case SET_BAUDRATE:
        if (Value.size() >= 4) {
            FTaken.Baud = uint32_t(uint8_t(Value[0])) << 24 | uint32_t(uint8_t(Value[1])) << 16
                          | uint32_t(uint8_t(Value[2])) << 8 | uint8_t(Value[3]);
            FAnswered |= 1u << SET_BAUDRATE;
        }
        break;
    case SET_DATASIZE:
        FTaken.DataSize = first;
        FAnswered |= 1u << SET_DATASIZE;
        break;
    case SET_PARITY:
        FTaken.Parity = first;
        FAnswered |= 1u << SET_PARITY;
        break;
    case SET_STOPSIZE:
        FTaken.StopSize = first;
        FAnswered |= 1u << SET_STOPSIZE;
        break;
    case NOTIFY_LINESTATE:
        FCounts.Brk += (first & LINE_BREAK) != 0;
        FCounts.Frame += (first & LINE_FRAME) != 0;
        FCounts.Parity += (first & LINE_PARITY) != 0;
        FCounts.Overrun += (first & LINE_OVERRUN) != 0;
        break;
    case NOTIFY_MODEMSTATE:
        FModemState = first & 0xF0;
        FCounts.ModemLines = ModemLines(FModemState);
        FCounts.Cts += (first & MODEM_DELTA_CTS) != 0;
        FCounts.Dsr += (first & MODEM_DELTA_DSR) != 0;
        FCounts.Rng += (first & MODEM_RING_END) != 0;
        FCounts.Dcd += (first & MODEM_DELTA_CD) != 0;
        break;
    case PURGE_DATA:
        // Whatever came before the answer was received before the purge.
        if (first & PURGE_RECEIVED)
            FInbox.clear();
        ++FPurgeAnswers;
        break;
    default:
        break;
    }
}

void PosixNetComDevice::Pump()
{
    if (FFd < 0 || FClosing || Gone())
        return;
    const uint64_t arrived = FArrived;
    const LineLook counts = FCounts;
    char chunk[4096];
    while (FInbox.size() < kInboxLimit) {
        const ssize_t n = ::recv(FFd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (n <= 0) {
            FPeerClosed = n == 0;
            FSocketError = n < 0 ? errno : 0;
            break;
        }
        if (FTelnet)
            FTelnetClient.Receive(chunk, size_t(n), *this, FControl);
        else
            OnData(chunk, size_t(n));
    }
    // A request or event wait that sleeps on the socket would not see what this took.
    if (FArrived != arrived || Gone() || FCounts.ModemLines != counts.ModemLines || FCounts.Cts != counts.Cts
        || FCounts.Dsr != counts.Dsr || FCounts.Dcd != counts.Dcd || FCounts.Rng != counts.Rng
        || FCounts.Brk != counts.Brk || FCounts.Frame != counts.Frame || FCounts.Parity != counts.Parity
        || FCounts.Overrun != counts.Overrun) {
        WakeWaiting(true, false);
        FEventWake.Signal();
    }
}

int PosixNetComDevice::Send(const std::string& Bytes, size_t& Sent, std::optional<Nanos> Deadline,
                             Overlapped* Ovl, bool WithControl)
{
    Sent = 0;
    std::lock_guard sending(FSendMutex);
    std::string control;
    int fd = -1;
    {
        std::lock_guard lock(FMutex);
        if (FFd < 0 || FClosing)
            return EBADF;
        if (Gone())
            return GoneError();
        fd = FFd;
        if (WithControl)
            control.swap(FControl);
    }
    const std::string& first = control;
    size_t firstSent = 0;
    for (;;) {
        const bool inControl = firstSent < first.size();
        const std::string& now = inControl ? first : Bytes;
        size_t& at = inControl ? firstSent : Sent;
        if (at >= now.size())
            return 0;
        const ssize_t n = ::send(fd, now.data() + at, now.size() - at, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            at += size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            const int err = errno;
            std::lock_guard lock(FMutex);
            FSocketError = err;
            return err;
        }
        const std::optional<Nanos> left = Deadline ? std::optional(*Deadline - MonotonicNow()) : std::nullopt;
        if (left && *left <= 0)
            return ETIMEDOUT;
        pollfd fds[2] = {{fd, POLLOUT, 0}, {Ovl ? Ovl->hEvent : -1, POLLIN, 0}};
        if (::poll(fds, 2, left ? PollMs(*left) : -1) < 0 && errno != EINTR)
            return errno;
        if (Ovl && fds[1].revents) {
            std::lock_guard lock(FMutex);
            if (IsCancelled(*Ovl))
                return ECANCELED;
            DrainWake(Ovl->hEvent);
        }
    }
}

template <typename Pred>
int PosixNetComDevice::AwaitServer(Pred Done)
{
    std::shared_lock use(FUse);
    const Nanos deadline = MonotonicNow() + Nanos(kAnswerMs) * kMs;
    for (;;) {
        int fd = -1;
        bool reply = false;
        {
            std::lock_guard lock(FMutex);
            if (FFd < 0 || FClosing)
                return EBADF;
            Pump();
            if (Done())
                return 0;
            if (Gone())
                return GoneError();
            fd = FFd;
            reply = !FControl.empty();
        }
        size_t sent = 0;
        if (reply) {
            if (const int err = Send({}, sent, deadline, nullptr))
                return err;
        }
        const Nanos left = deadline - MonotonicNow();
        if (left <= 0)
            return ETIMEDOUT;
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, std::min(PollMs(left), kAnswerSliceMs));
    }
}

int PosixNetComDevice::SetCommState(const DCB& Dcb)
{
    if (!ValidLine(Dcb))
        return EINVAL;
    if (!IsOpen())
        return EBADF;
    const NetLineState line = NetLineStateFromDCB(Dcb);
    std::string commands;
    uint32_t asked = 0;
    if (ControlsLine()) {
        std::lock_guard lock(FMutex);
        commands = NetLineCommands(line, FLine ? &*FLine : nullptr, asked);
        FAnswered = 0;
    }
    if (!commands.empty()) {
        size_t sent = 0;
        if (const int err = Send(commands, sent, MonotonicNow() + Nanos(kAnswerMs) * kMs, nullptr))
            return err;
        // Trust only what the server took: a line that does not run as asked would not work.
        // A server that does not answer keeps its own, as a raw connection does.
        int err = AwaitServer([&] { return (FAnswered & asked) == asked; });
        if (err && err != ETIMEDOUT)
            return err;
        std::lock_guard lock(FMutex);
        using namespace comport;
        const bool stopOk = FTaken.StopSize == line.StopSize || (line.StopSize == 3 && FTaken.StopSize == 2);
        if (((FAnswered & (1u << SET_BAUDRATE))
             && std::abs(double(FTaken.Baud) - double(line.Baud)) > 0.03 * line.Baud)
            || ((FAnswered & (1u << SET_DATASIZE)) && FTaken.DataSize != line.DataSize)
            || ((FAnswered & (1u << SET_PARITY)) && FTaken.Parity != line.Parity)
            || ((FAnswered & (1u << SET_STOPSIZE)) && !stopOk)) {
            FLine.reset();
            return EINVAL;
        }
        FLine = line;
    }
    std::lock_guard lock(FMutex);
    // The server sends at the line's pace; for a raw connection the port's rate is the best
    // word there is of it.
    TakeLine(Dcb);
    return 0;
}

int PosixNetComDevice::PurgeComm(uint32_t Flags)
{
    const bool in = Flags & PURGE_RXCLEAR;
    const bool out = Flags & PURGE_TXCLEAR;
    uint32_t answers = 0;
    {
        std::lock_guard lock(FMutex);
        if (FFd < 0 || FClosing)
            return EBADF;
        AbortRequests(Flags);
        if (out)
            FLineFreeNs = std::min(FLineFreeNs, MonotonicNow());
        answers = FPurgeAnswers;
    }
    // A write that has returned counts as sent, as on a local line: the server is never asked
    // to empty its transmit buffer, which would throw away bytes the device has not taken yet
    // (the wake-up sequence just before the purge of an upgrade). Received data is dropped up
    // to the server's answer to its own purge, so that nothing received before the purge
    // survives it.
    if (!in)
        return 0;
    if (ControlsLine()) {
        using namespace comport;
        const char what = static_cast<char>(PURGE_RECEIVED);
        size_t sent = 0;
        if (const int err = Send(ComPortCommand(PURGE_DATA, std::string_view(&what, 1)), sent,
                                 MonotonicNow() + Nanos(kAnswerMs) * kMs, nullptr))
            return err;
        const int err = AwaitServer([&] { return FPurgeAnswers != answers; });
        if (err && err != ETIMEDOUT)
            return err;
    }
    std::lock_guard lock(FMutex);
    Pump();
    FInbox.clear();
    return 0;
}

int PosixNetComDevice::ClearCommError(uint32_t& Errors, COMSTAT& Stat)
{
    Errors = 0;
    Stat = COMSTAT{};
    std::lock_guard lock(FMutex);
    if (FFd < 0 || FClosing)
        return EBADF;
    Pump();
    if (FCounts.Frame != FErrorsTaken.Frame)
        Errors |= CE_FRAME;
    if (FCounts.Parity != FErrorsTaken.Parity)
        Errors |= CE_RXPARITY;
    if (FCounts.Overrun != FErrorsTaken.Overrun)
        Errors |= CE_OVERRUN;
    if (FCounts.Brk != FErrorsTaken.Brk)
        Errors |= CE_BREAK;
    FErrorsTaken = FCounts;
    int queued = 0;
    if (::ioctl(FFd, TIOCOUTQ, &queued) != 0)
        queued = 0;
    Stat.cbInQue = static_cast<uint32_t>(FInbox.size());
    Stat.cbOutQue = static_cast<uint32_t>(std::max(queued, 0));
    return 0;
}

int PosixNetComDevice::GetCommModemStatus(uint32_t& Status)
{
    Status = 0;
    std::lock_guard lock(FMutex);
    if (FFd < 0 || FClosing)
        return EBADF;
    Pump();
    Status = FModemState & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON);
    return 0;
}

int PosixNetComDevice::EscapeCommFunction(uint32_t Function)
{
    using namespace comport;
    uint8_t value = 0;
    switch (Function) {
    case SETDTR: value = DTR_ON; break;
    case CLRDTR: value = DTR_OFF; break;
    case SETRTS: value = RTS_ON; break;
    case CLRRTS: value = RTS_OFF; break;
    default: return EINVAL;
    }
    if (!IsOpen())
        return EBADF;
    // A raw connection carries the data only: there are no lines at the far end to drive.
    if (!ControlsLine())
        return ENOTTY;
    const char v = static_cast<char>(value);
    size_t sent = 0;
    return Send(ComPortCommand(SET_CONTROL, std::string_view(&v, 1)), sent, MonotonicNow() + Nanos(kAnswerMs) * kMs,
                nullptr);
}

Nanos PosixNetComDevice::LineQuietAt() const
{
    return std::max(MonotonicNow(), FLineFreeNs);
}

int PosixNetComDevice::RunRead(Overlapped& Ovl, int, bool, int& Transferred)
{
    ReadTimer timer(Ovl.Timeouts, Ovl.Count, Ovl.StartNs);
    int got = 0;
    for (;;) {
        int fd = -1;
        bool gone = false;
        int goneError = 0;
        {
            std::lock_guard lock(FMutex);
            if (IsCancelled(Ovl)) {
                Transferred = got;
                return ECANCELED;
            }
            if (FInbox.size() < size_t(Ovl.Count - got))
                Pump();
            const size_t take = std::min(FInbox.size(), size_t(Ovl.Count - got));
            int kept = static_cast<int>(take);
            if (FDiscardNull)
                kept = static_cast<int>(std::remove_copy(FInbox.begin(), FInbox.begin() + ptrdiff_t(take),
                                                         Ovl.Buffer + got, '\0')
                                        - (Ovl.Buffer + got));
            else
                std::memcpy(Ovl.Buffer + got, FInbox.data(), take);
            FInbox.erase(0, take);
            got += kept;
            if (kept > 0)
                timer.BytesArrived(got, MonotonicNow());
            gone = FInbox.empty() && Gone();
            goneError = GoneError();
            fd = FFd;
        }
        // Bytes already received complete this read; the next one fails.
        if (got < Ovl.Count && gone) {
            Transferred = got;
            return got > 0 ? 0 : goneError;
        }
        const Nanos now = MonotonicNow();
        if (got >= Ovl.Count || timer.Done(got, now)) {
            Transferred = got;
            return 0;
        }
        const std::optional<Nanos> left = timer.Remaining(now);
        pollfd fds[2] = {{fd, POLLIN, 0}, {Ovl.hEvent, POLLIN, 0}};
        if (::poll(fds, 2, left ? PollMs(*left) : -1) < 0 && errno != EINTR) {
            Transferred = got;
            return errno;
        }
        if (fds[1].revents)
            DrainWake(Ovl.hEvent);
    }
}

int PosixNetComDevice::RunWrite(Overlapped& Ovl, int, int& Transferred)
{
    std::string wire;
    bool binary = true;
    bool telnet = false;
    {
        std::lock_guard lock(FMutex);
        telnet = FTelnet;
        binary = !FTelnet || FTelnetClient.BinaryOut();
        if (FTelnet)
            EscapeData(Ovl.Buffer, size_t(Ovl.Count), binary, wire);
        else
            wire.assign(Ovl.Buffer, size_t(Ovl.Count));
    }
    WriteTimer timer(Ovl.Timeouts, Ovl.Count, Ovl.StartNs);
    const std::optional<Nanos> left = timer.Remaining(Ovl.StartNs);
    size_t sent = 0;
    int err = Send(wire, sent, left ? std::optional(Ovl.StartNs + *left) : std::nullopt, &Ovl);
    Transferred = WholeDataBytes(Ovl.Buffer, Ovl.Count, sent, telnet, binary);
    if (sent > 0 && (FEventMask & EV_TXEMPTY) && !FTxSent.exchange(true))
        FEventWake.Signal();
    if (err == ETIMEDOUT) {
        // The write time-out gives a short count, not an error. Half an escape would garble
        // the stream: its second byte follows.
        if (sent > 0 && WholeDataBytes(Ovl.Buffer, Ovl.Count, sent - 1, telnet, binary) == Transferred
            && sent < wire.size()) {
            const std::string rest(1, wire[sent]);
            size_t more = 0;
            if (Send(rest, more, MonotonicNow() + Nanos(kAnswerMs) * kMs, nullptr, false) == 0)
                ++Transferred;
        }
        return 0;
    }
    return err;
}

LineLook PosixNetComDevice::Look() const
{
    LineLook look = FCounts;
    look.InQueue = static_cast<int>(FInbox.size());
    look.Held = look.InQueue;
    look.Arrived = FArrived;
    if (::ioctl(FFd, TIOCOUTQ, &look.OutQueue) != 0)
        look.OutQueue = 0;
    return look;
}

int PosixNetComDevice::SetCommMask(uint32_t Mask)
{
    std::lock_guard lock(FMutex);
    if (FFd < 0 || FClosing)
        return EBADF;
    FEventMask = Mask;
    FTxSent = false;
    // What happens from now on is reported; what came before is not.
    Pump();
    FFlagSeen = false;
    FLastLook = Look();
    FEventWake.Signal();
    return 0;
}

int PosixNetComDevice::WaitCommEvent(uint32_t& Events, const StopEvent& Stop)
{
    Events = 0;
    if (!Stop.Valid())
        return EINVAL;
    std::shared_lock use(FUse);
    LineLook last;
    {
        std::lock_guard lock(FMutex);
        if (FFd < 0 || FClosing)
            return EBADF;
        last = FLastLook;
    }
    // The last look is kept for the next wait, so that what happens while the events are
    // delivered is reported then.
    auto finish = [&](int Result) {
        std::lock_guard lock(FMutex);
        FLastLook = last;
        return Result;
    };
    for (;;) {
        const uint32_t mask = FEventMask;
        int fd = -1;
        bool gone = false;
        bool flagged = false;
        LineLook now;
        int rx80Full = 0;
        {
            std::lock_guard lock(FMutex);
            if (FClosing)
                return finish(EBADF);
            Pump();
            now = Look();
            rx80Full = Rx80FullBytes(FInputSize);
            flagged = std::exchange(FFlagSeen, false);
            gone = Gone();
            fd = FFd;
        }
        Events = LineEvents(last, now, mask, rx80Full) | (flagged ? EV_RXFLAG & mask : 0u);
        const bool draining = FTxSent && (mask & EV_TXEMPTY);
        if (draining && now.OutQueue == 0) {
            FTxSent = false;
            Events |= EV_TXEMPTY;
        }
        now.Arrived = std::max(now.Arrived, last.Arrived);
        last = now;
        if (Events)
            return finish(0);
        // A server that closed the connection and has nothing more to tell is gone.
        if (gone)
            return finish(EIO);
        short revents = 0;
        if (const int err = SleepForEvent(Stop, fd, POLLIN, draining ? kLookIntervalMs : -1, revents)) {
            if (err == EINTR)
                continue;
            return finish(err);
        }
    }
}

} // namespace zentrop
