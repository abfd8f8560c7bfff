// The network serial device: a name lookup and connect bounded in time and ended by a cancel,
// the Telnet negotiation and COM port option on top of a non-blocking TCP socket, reads and
// writes under the system's time-out rules, written bytes gathered into segments, and an
// event wait that reports arrived bytes and the server's modem and line notifications.
#include "PosixNetComDevice.h"

#include "base/UniqueFd.h"

#include "cport/ComConvert.h"

#include <QByteArray>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace zentrop {

using namespace EventMask;

namespace {

// The most received data kept before the socket is left to hold the rest, so that TCP's own
// flow control stops a server that sends faster than the port reads.
constexpr size_t kInboxLimit = 1024 * 1024;
// What one turn of the receive pump takes from the socket at most: a server that floods
// (data or commands) never holds the device's lock, nor keeps a wait from its deadline.
constexpr size_t kPumpBytes = 16 * 1024;
// The most written bytes gathered before a write waits for the socket to take them.
constexpr size_t kOutLimit = 64 * 1024;
// Written bytes leave once the writer paused this long: a page's bytes, written one by one,
// go in one segment, while the pauses of a sequence written with pauses stay on the line.
constexpr Nanos kCoalesceNs = 500000;
// How often the wait for the server's answers looks again, in case another thread took them
// from the socket; how often the event wait looks at a draining send queue; and the longest
// sleep of any wait before it looks at its cancel and deadline again.
constexpr int kAnswerSliceMs = 5;
constexpr int kLookIntervalMs = 20;
constexpr int kSliceMs = 50;
// What a network serial server sends before it hangs up on a second client.
constexpr std::string_view kInUse = "Port already in use";
constexpr std::string_view kInUseLine = "Port already in use\r\n";
constexpr size_t kFirstDataBytes = 64;
// It comes at once after the connect; bytes that look like it are held back this long at most.
constexpr Nanos kInUseWaitNs = 200 * 1000000LL;

constexpr Nanos kMs = 1000000;

int PollMs(Nanos Left)
{
    return static_cast<int>(std::clamp<Nanos>((Left + kMs - 1) / kMs, 0, 1 << 30));
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

// The system's answer to a name lookup as an error of the device: a name server that does
// not answer is a time-out, not an unknown name.
int LookupError(int Gai, int SystemError)
{
    switch (Gai) {
    case EAI_SYSTEM: return SystemError ? SystemError : EIO;
    case EAI_MEMORY: return ENOMEM;
    case EAI_AGAIN: return ETIME;
    default: return ENOENT;
    }
}

// A name lookup on a thread of its own, which the device can leave behind when its time is up
// or it is cancelled: whoever comes last of the two frees what the lookup found.
struct Lookup {
    std::mutex Mutex;
    bool Done = false;
    bool Abandoned = false;
    int Gai = 0;
    int SystemError = 0;
    addrinfo* Found = nullptr;
    WakeUp Finished;
};

addrinfo LookupHints()
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    return hints;
}

} // namespace

PosixNetComDevice::~PosixNetComDevice()
{
    Close();
}

int PosixNetComDevice::Stopped(std::optional<uint64_t> Generation, const Overlapped* Ovl) const
{
    if (FClosing || (Generation && *Generation != FCancelGeneration) || (Ovl && IsCancelled(*Ovl)))
        return ECANCELED;
    return 0;
}

void PosixNetComDevice::Nap(int Fd, short Events, std::optional<Nanos> Deadline, const Overlapped* Ovl, int Extra)
{
    int ms = kSliceMs;
    if (Deadline)
        ms = std::min(ms, PollMs(*Deadline - MonotonicNow()));
    pollfd fds[4] = {{Fd, Events, 0}, {FCancelWake.Fd(), POLLIN, 0}, {Ovl ? Ovl->hEvent : -1, POLLIN, 0}, {Extra, POLLIN, 0}};
    if (::poll(fds, 4, ms) <= 0)
        return;
    // Whoever wakes takes the wake-up and looks at the cancel generation: a wait that did not
    // see it still looks within a slice.
    if (fds[1].revents)
        FCancelWake.Drain();
    if (fds[2].revents)
        DrainWake(Ovl->hEvent);
}

int PosixNetComDevice::Resolve(const NetPortName& Name, Nanos Deadline, uint64_t Generation, addrinfo*& Found)
{
    Found = nullptr;
    const QByteArray host = Name.Host.toUtf8();
    const QByteArray service = QByteArray::number(Name.Port);
    // An address needs no lookup, and no thread.
    addrinfo hints = LookupHints();
    hints.ai_flags |= AI_NUMERICHOST | AI_NUMERICSERV;
    const int numeric = ::getaddrinfo(host.constData(), service.constData(), &hints, &Found);
    if (numeric == 0)
        return 0;
    if (numeric != EAI_NONAME)
        return LookupError(numeric, errno);
    auto lookup = std::make_shared<Lookup>();
    try {
        std::thread([lookup, host, service] {
            const addrinfo hints = LookupHints();
            addrinfo* found = nullptr;
            const int gai = ::getaddrinfo(host.constData(), service.constData(), &hints, &found);
            const int systemError = errno;
            std::lock_guard lock(lookup->Mutex);
            if (lookup->Abandoned) {
                if (gai == 0)
                    ::freeaddrinfo(found);
                return;
            }
            lookup->Gai = gai;
            lookup->SystemError = systemError;
            lookup->Found = gai == 0 ? found : nullptr;
            lookup->Done = true;
            lookup->Finished.Signal();
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the lookup runs here, as long as the system takes.
        hints = LookupHints();
        const int gai = ::getaddrinfo(host.constData(), service.constData(), &hints, &Found);
        return gai == 0 ? 0 : LookupError(gai, errno);
    }
    for (;;) {
        {
            std::lock_guard lock(lookup->Mutex);
            if (lookup->Done) {
                Found = lookup->Found;
                return lookup->Gai == 0 ? 0 : LookupError(lookup->Gai, lookup->SystemError);
            }
            int stop = 0;
            {
                std::lock_guard deviceLock(FMutex);
                stop = Stopped(Generation, nullptr);
            }
            if (stop || MonotonicNow() >= Deadline) {
                lookup->Abandoned = true;
                return stop ? stop : ETIME;
            }
        }
        Nap(-1, 0, Deadline, nullptr, lookup->Finished.Fd());
    }
}

int PosixNetComDevice::ConnectOne(const addrinfo& Ai, Nanos Deadline, uint64_t Generation, int& Err)
{
    UniqueFd socket(::socket(Ai.ai_family, Ai.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, Ai.ai_protocol));
    const int fd = socket.Get();
    if (fd < 0) {
        Err = errno;
        return -1;
    }
    if (::connect(fd, Ai.ai_addr, Ai.ai_addrlen) != 0 && errno != EINPROGRESS) {
        Err = errno;
        return -1;
    }
    for (;;) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, 0) > 0)
            break;
        int stop = 0;
        {
            std::lock_guard lock(FMutex);
            stop = Stopped(Generation, nullptr);
        }
        if (stop || MonotonicNow() >= Deadline) {
            Err = stop ? stop : ETIMEDOUT;
            return -1;
        }
        Nap(fd, POLLOUT, Deadline, nullptr);
    }
    int soError = 0;
    socklen_t len = sizeof soError;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0)
        soError = errno;
    if (soError != 0) {
        Err = soError;
        return -1;
    }
    return socket.Release();
}

int PosixNetComDevice::Connect(const NetPortName& Name, Nanos Deadline, uint64_t Generation, int& Err)
{
    addrinfo* found = nullptr;
    Err = Resolve(Name, Deadline, Generation, found);
    if (Err)
        return -1;
    int fd = -1;
    Err = ENOENT;
    for (const addrinfo* ai = found; ai && fd < 0 && Err != ECANCELED; ai = ai->ai_next)
        fd = ConnectOne(*ai, Deadline, Generation, Err);
    ::freeaddrinfo(found);
    if (fd < 0)
        return -1;
    // Written bytes are gathered by the device itself, which sends them when the writer
    // pauses; what it sends must leave at once.
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
    return fd;
}

int PosixNetComDevice::Open(const QString& Port)
{
    const std::optional<NetPortName> name = ParseNetPortName(Port);
    if (!name)
        return EINVAL;
    uint64_t generation = 0;
    {
        std::lock_guard lock(FMutex);
        if (FFd >= 0 || FOpening)
            return EBUSY;
        FOpening = true;
        generation = FCancelGeneration;
    }
    NoteNetPortProblem(Port, 0, QString());
    int err = 0;
    const int fd = Connect(*name, MonotonicNow() + Nanos(kConnectMs) * kMs, generation, err);
    {
        std::lock_guard lock(FMutex);
        FOpening = false;
        if (fd >= 0 && generation != FCancelGeneration) {
            UniqueFd abandoned(fd);
            return ECANCELED;
        }
        if (fd < 0)
            return err;
        err = 0;
        FFd = fd;
        FName = Port;
        FTelnet = name->Protocol == NetProtocol::Rfc2217;
        FTelnetClient = TelnetClient();
        FOut = FTelnet ? FTelnetClient.Start() : std::string();
        FLastWriteNs = 0;
        FFlushDue = false;
        FFlusherStop = false;
        FPeerClosed = false;
        FSocketError = 0;
        FInbox.clear();
        FFirstData.clear();
        FArrived = 0;
        FDataTotal = 0;
        FHeld.clear();
        FHoldUntil = MonotonicNow() + kInUseWaitNs;
        ResetRequests();
        FFlagSeen = false;
        FLine.reset();
        FModemState = 0;
        FCounts = FErrorsTaken = FLastLook = LineLook{};
        if (FFlusher.joinable())
            FFlusher.join();   // the last opening's, which has ended
        try {
            FFlusher = std::thread([this] { FlushLoop(); });
        } catch (const std::system_error& e) {
            err = e.code().value() ? e.code().value() : EAGAIN;
        }
    }
    if (err) {
        Close();
        return err;
    }
    if (!FTelnet)
        return 0;
    // A server that does not answer the COM port option in time is taken as one that
    // refused it: the line stays as the server has it, like a raw connection's.
    err = Drain(MonotonicNow() + Nanos(kAnswerMs) * kMs, nullptr, generation);
    if (!err)
        err = AwaitServer([this] { return FTelnetClient.ComPortAnswer() != TelnetClient::Answer::Pending; },
                          generation);
    if (err == ETIMEDOUT)
        err = 0;
    if (!err && ControlsLine()) {
        // Every modem line change and every line error the server sees is to be told.
        using namespace comport;
        const char lineMask = LINE_BREAK | LINE_FRAME | LINE_PARITY | LINE_OVERRUN;
        const char modemMask = static_cast<char>(0xFF);
        err = SendCommand(ComPortCommand(SET_LINESTATE_MASK, std::string_view(&lineMask, 1))
                              + ComPortCommand(SET_MODEMSTATE_MASK, std::string_view(&modemMask, 1)),
                          generation);
    }
    if (!err) {
        // A server that hung up on the client at once tells why with its first words.
        std::lock_guard lock(FMutex);
        Pump();
        if (Gone() && RefusedInUse())
            err = EBUSY;
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
        ++FCancelGeneration;
        FCancelWake.Signal();
        if (FFd < 0 || FClosing)
            return;
        StopRequests();
        FFlusherStop = true;
        FFlushCv.notify_all();
    }
    if (FFlusher.joinable())
        FFlusher.join();
    // Every waiting request has been woken and leaves; none starts waiting any more. What
    // was written still reaches the server as far as the socket takes it now: closing a TCP
    // socket sends what it holds.
    std::unique_lock use(FUse);
    std::lock_guard send(FSendMutex);
    std::lock_guard lock(FMutex);
    if (FTelnet && !Gone())
        FOut += FTelnetClient.TakeReplies();
    size_t at = 0;
    while (at < FOut.size() && !Gone()) {
        const ssize_t n = ::send(FFd, FOut.data() + at, FOut.size() - at, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0)
            at += size_t(n);
        else if (!(n < 0 && errno == EINTR))
            break;
    }
    UniqueFd closing(std::exchange(FFd, -1));
    closing.Reset();
    FInbox.clear();
    FOut.clear();
    FOut.shrink_to_fit();
    FClosing = false;
}

bool PosixNetComDevice::ControlsLine() const
{
    std::lock_guard lock(FMutex);
    return FFd >= 0 && FTelnet && FTelnetClient.ComPortAnswer() == TelnetClient::Answer::Accepted;
}

int PosixNetComDevice::GoneError() const
{
    if (RefusedInUse())
        return EBUSY;
    return FSocketError ? FSocketError : EIO;
}

bool PosixNetComDevice::RefusedInUse() const
{
    return Gone() && FDataTotal == FFirstData.size() && std::string_view(FFirstData).starts_with(kInUse);
}

void PosixNetComDevice::OnData(const char* Bytes, size_t Count)
{
    FDataTotal += Count;
    if (FFirstData.size() < kFirstDataBytes)
        FFirstData.append(Bytes, std::min(Count, kFirstDataBytes - FFirstData.size()));
    if (FHoldUntil != 0) {
        // The first bytes wait while they could be a server's refusal, which is no data of
        // the line: until they differ from it, or the time for it is over.
        FHeld.append(Bytes, Count);
        const size_t common = std::min(FHeld.size(), kInUseLine.size());
        if (FHeld.size() > kInUseLine.size() || FHeld.compare(0, common, kInUseLine, 0, common) != 0)
            Release();
        return;
    }
    Deliver(Bytes, Count);
}

void PosixNetComDevice::Release()
{
    FHoldUntil = 0;
    std::string held;
    held.swap(FHeld);
    if (!held.empty())
        Deliver(held.data(), held.size());
}

void PosixNetComDevice::Deliver(const char* Bytes, size_t Count)
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
    if (FHoldUntil != 0 && MonotonicNow() >= FHoldUntil && !RefusedInUse())
        Release();
    if (FFd < 0 || FClosing || Gone())
        return;
    const uint64_t arrived = FArrived;
    const LineLook counts = FCounts;
    char chunk[4096];
    for (size_t taken = 0; FInbox.size() < kInboxLimit && taken < kPumpBytes;) {
        const ssize_t n = ::recv(FFd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        if (n <= 0) {
            FPeerClosed = n == 0;
            FSocketError = n < 0 ? errno : 0;
            if (!RefusedInUse())
                Release();
            break;
        }
        taken += size_t(n);
        if (!FTelnet) {
            OnData(chunk, size_t(n));
            continue;
        }
        FTelnetClient.Receive(chunk, size_t(n), *this);
        if (const int err = FTelnetClient.Error()) {
            // A server that breaks the protocol is dropped: nothing it sends can be trusted.
            FSocketError = err;
            ::shutdown(FFd, SHUT_RDWR);
            break;
        }
    }
    if (FTelnet && FTelnetClient.HasReplies() && !Gone()) {
        FFlushDue = true;
        FFlushCv.notify_one();
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

int PosixNetComDevice::Drain(std::optional<Nanos> Deadline, const Overlapped* Ovl, std::optional<uint64_t> Generation)
{
    std::lock_guard sending(FSendMutex);
    return DrainLocked(Deadline, Ovl, Generation);
}

int PosixNetComDevice::DrainLocked(std::optional<Nanos> Deadline, const Overlapped* Ovl,
                                   std::optional<uint64_t> Generation)
{
    std::string piece;
    int fd = -1;
    size_t at = 0;
    // What did not go stays first in line, before what was queued meanwhile.
    auto keepRest = [&] {
        if (at < piece.size())
            FOut.insert(0, piece, at);
    };
    for (;;) {
        if (at >= piece.size()) {
            std::lock_guard lock(FMutex);
            if (FFd < 0)
                return EBADF;
            if (Gone())
                return GoneError();
            if (const int stop = Stopped(Generation, Ovl))
                return stop;
            if (FTelnet && FTelnetClient.HasReplies())
                FOut.insert(0, FTelnetClient.TakeReplies());
            if (FOut.empty())
                return 0;
            piece.clear();
            piece.swap(FOut);
            at = 0;
            fd = FFd;
        }
        const ssize_t n = ::send(fd, piece.data() + at, piece.size() - at, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            at += size_t(n);
            continue;
        }
        const int sendError = n < 0 ? errno : 0;
        if (sendError == EINTR)
            continue;
        std::lock_guard lock(FMutex);
        if (sendError && sendError != EAGAIN && sendError != EWOULDBLOCK) {
            // What the server said before it went may say why.
            Pump();
            if (!Gone())
                FSocketError = sendError;
            return GoneError();
        }
        if (const int stop = Stopped(Generation, Ovl)) {
            keepRest();
            return stop;
        }
        if (Deadline && MonotonicNow() >= *Deadline) {
            keepRest();
            return ETIMEDOUT;
        }
        FMutex.unlock();
        Nap(fd, POLLOUT, Deadline, Ovl);
        FMutex.lock();
    }
}

void PosixNetComDevice::FlushNow()
{
    {
        std::lock_guard lock(FMutex);
        if (FOut.empty() && !(FTelnet && FTelnetClient.HasReplies()))
            return;
    }
    // A sender at work takes these bytes along; otherwise what the socket does not take at
    // once is the flusher's.
    if (FSendMutex.try_lock()) {
        std::lock_guard sending(FSendMutex, std::adopt_lock);
        if (DrainLocked(MonotonicNow(), nullptr, std::nullopt) != ETIMEDOUT)
            return;
    }
    std::lock_guard lock(FMutex);
    FFlushDue = true;
    FFlushCv.notify_one();
}

int PosixNetComDevice::SendCommand(const std::string& Bytes, uint64_t Generation)
{
    {
        std::lock_guard lock(FMutex);
        if (FFd < 0 || FClosing)
            return EBADF;
        if (Gone())
            return GoneError();
        FOut += Bytes;
    }
    return Drain(MonotonicNow() + Nanos(kAnswerMs) * kMs, nullptr, Generation);
}

void PosixNetComDevice::FlushLoop()
{
    std::unique_lock lock(FMutex);
    while (!FFlusherStop) {
        const bool work = !Gone() && (!FOut.empty() || (FTelnet && FTelnetClient.HasReplies()));
        if (!work) {
            FFlushCv.wait(lock);
            continue;
        }
        const Nanos due = FLastWriteNs + kCoalesceNs;
        if (!FFlushDue && MonotonicNow() < due) {
            FFlushCv.wait_for(lock, std::chrono::nanoseconds(due - MonotonicNow()));
            continue;
        }
        FFlushDue = false;
        lock.unlock();
        const int err = Drain(std::nullopt, nullptr, std::nullopt);
        lock.lock();
        // A server that went away takes nothing more; what waited for it is dropped.
        if (err && err != ECANCELED)
            FOut.clear();
    }
}

template <typename Pred>
int PosixNetComDevice::AwaitServer(Pred Done, uint64_t Generation)
{
    std::shared_lock use(FUse);
    const Nanos deadline = MonotonicNow() + Nanos(kAnswerMs) * kMs;
    for (;;) {
        int fd = -1;
        bool reply = false;
        {
            std::lock_guard lock(FMutex);
            if (FFd < 0)
                return EBADF;
            if (const int stop = Stopped(Generation, nullptr))
                return stop;
            Pump();
            if (Done())
                return 0;
            if (Gone())
                return GoneError();
            fd = FFd;
            reply = FTelnet && FTelnetClient.HasReplies();
        }
        if (reply) {
            if (const int err = Drain(deadline, nullptr, Generation))
                return err;
        }
        if (MonotonicNow() >= deadline)
            return ETIMEDOUT;
        pollfd p{fd, POLLIN, 0};
        pollfd c{FCancelWake.Fd(), POLLIN, 0};
        pollfd fds[2] = {p, c};
        const int ms = std::min(PollMs(deadline - MonotonicNow()), kAnswerSliceMs);
        if (::poll(fds, 2, ms) > 0 && fds[1].revents)
            FCancelWake.Drain();
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
    uint64_t generation = 0;
    if (ControlsLine()) {
        std::lock_guard lock(FMutex);
        commands = NetLineCommands(line, FLine ? &*FLine : nullptr, asked);
        FAnswered = 0;
        generation = FCancelGeneration;
    }
    if (!commands.empty()) {
        if (const int err = SendCommand(commands, generation))
            return err;
        // Trust only what the server took: a line that does not run as asked would not work.
        // A server that does not answer keeps its own, as a raw connection does.
        int err = AwaitServer([&] { return (FAnswered & asked) == asked; }, generation);
        if (err && err != ETIMEDOUT)
            return err;
        std::lock_guard lock(FMutex);
        using namespace comport;
        const bool stopOk = FTaken.StopSize == line.StopSize || (line.StopSize == 3 && FTaken.StopSize == 2);
        const bool baudOk = !(FAnswered & (1u << SET_BAUDRATE))
                            || std::abs(double(FTaken.Baud) - double(line.Baud)) <= 0.03 * line.Baud;
        if (!baudOk || ((FAnswered & (1u << SET_DATASIZE)) && FTaken.DataSize != line.DataSize)
            || ((FAnswered & (1u << SET_PARITY)) && FTaken.Parity != line.Parity)
            || ((FAnswered & (1u << SET_STOPSIZE)) && !stopOk)) {
            FLine.reset();
            const std::optional<NetPortName> n = ParseNetPortName(FName);
            const QString where = n ? QStringLiteral("%1 port %2").arg(n->Host).arg(n->Port) : FName;
            NoteNetPortProblem(FName, EINVAL,
                               baudOk ? QStringLiteral("The server at %1 did not set the data bits, parity and stop "
                                                       "bits asked for.")
                                            .arg(where)
                                      : QStringLiteral("The server at %1 set the line to %2 baud instead of the %3 "
                                                       "asked for.")
                                            .arg(where)
                                            .arg(FTaken.Baud)
                                            .arg(line.Baud));
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
    uint64_t generation = 0;
    {
        std::lock_guard lock(FMutex);
        if (Flags & (PURGE_RXABORT | PURGE_TXABORT)) {
            // Also ends what the device itself waits for: an open in progress, an answer.
            ++FCancelGeneration;
            FCancelWake.Signal();
        }
        if (FFd < 0 || FClosing)
            return EBADF;
        AbortRequests(Flags);
        if (out)
            FLineFreeNs = std::min(FLineFreeNs, MonotonicNow());
        answers = FPurgeAnswers;
        generation = FCancelGeneration;
    }
    // A write that has returned counts as sent, as on a local line: what was gathered goes
    // now, and the server is never asked to empty its transmit buffer, which would throw
    // away bytes the device has not taken yet (the wake-up sequence just before the purge of
    // an upgrade). Received data is dropped up to the server's answer to its own purge, so
    // that nothing received before the purge survives it.
    if (!in) {
        FlushNow();
        return 0;
    }
    if (ControlsLine()) {
        using namespace comport;
        const char what = static_cast<char>(PURGE_RECEIVED);
        if (const int err = SendCommand(ComPortCommand(PURGE_DATA, std::string_view(&what, 1)), generation))
            return err;
        const int err = AwaitServer([&] { return FPurgeAnswers != answers; }, generation);
        if (err && err != ETIMEDOUT)
            return err;
    } else {
        FlushNow();
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
    switch (Function) {
    case SETDTR: return SendControl(DTR_ON);
    case CLRDTR: return SendControl(DTR_OFF);
    case SETRTS: return SendControl(RTS_ON);
    case CLRRTS: return SendControl(RTS_OFF);
    default: return EINVAL;
    }
}

int PosixNetComDevice::SetCommBreak(bool On)
{
    // The break follows the bytes written before it, and the line's data resumes after it.
    return SendControl(On ? comport::BREAK_ON : comport::BREAK_OFF);
}

int PosixNetComDevice::SendControl(uint8_t Value)
{
    if (!IsOpen())
        return EBADF;
    // A raw connection carries the data only: there are no lines at the far end to drive.
    if (!ControlsLine())
        return ENOTTY;
    const char v = static_cast<char>(Value);
    uint64_t generation = 0;
    {
        std::lock_guard lock(FMutex);
        generation = FCancelGeneration;
    }
    return SendCommand(ComPortCommand(comport::SET_CONTROL, std::string_view(&v, 1)), generation);
}

Nanos PosixNetComDevice::LineQuietAt() const
{
    return std::max(MonotonicNow(), FLineFreeNs);
}

int PosixNetComDevice::RunRead(Overlapped& Ovl, int, bool, int& Transferred)
{
    // What was written before a read is what the read waits to be answered.
    FlushNow();
    ReadTimer timer(Ovl.Timeouts, Ovl.Count, Ovl.StartNs);
    int got = 0;
    for (;;) {
        int fd = -1;
        bool gone = false;
        int goneError = 0;
        Nanos holdUntil = 0;
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
            holdUntil = FHoldUntil;
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
        std::optional<Nanos> left = timer.Remaining(now);
        if (holdUntil != 0)
            left = std::min(left.value_or(holdUntil - now), holdUntil - now);
        pollfd fds[2] = {{fd, POLLIN, 0}, {Ovl.hEvent, POLLIN, 0}};
        if (::poll(fds, 2, left ? PollMs(*left) : -1) < 0 && errno != EINTR) {
            Transferred = got;
            return errno;
        }
        if (fds[1].revents)
            DrainWake(Ovl.hEvent);
    }
}

void PosixNetComDevice::Gather(const std::string& Wire)
{
    // The flusher sleeps while nothing waits; later bytes only move its deadline.
    if (FOut.empty())
        FFlushCv.notify_one();
    FOut += Wire;
    FLastWriteNs = MonotonicNow();
}

int PosixNetComDevice::RunWrite(Overlapped& Ovl, int, int& Transferred)
{
    Transferred = 0;
    std::string wire;
    {
        std::lock_guard lock(FMutex);
        if (FTelnet)
            EscapeData(Ovl.Buffer, size_t(Ovl.Count), FTelnetClient.BinaryOut(), wire);
        else
            wire.assign(Ovl.Buffer, size_t(Ovl.Count));
        if (IsCancelled(Ovl))
            return ECANCELED;
        if (Gone())
            return GoneError();
        if (FOut.size() + wire.size() <= kOutLimit) {
            Gather(wire);
            wire.clear();
        }
    }
    if (!wire.empty()) {
        // Too much gathered: what waits goes first, within the write's time.
        WriteTimer timer(Ovl.Timeouts, Ovl.Count, Ovl.StartNs);
        const std::optional<Nanos> left = timer.Remaining(Ovl.StartNs);
        const int err = Drain(left ? std::optional(Ovl.StartNs + *left) : std::nullopt, &Ovl, std::nullopt);
        // The write time-out gives a short count, not an error.
        if (err == ETIMEDOUT)
            return 0;
        if (err)
            return err;
        std::lock_guard lock(FMutex);
        if (IsCancelled(Ovl))
            return ECANCELED;
        Gather(wire);
    }
    Transferred = Ovl.Count;
    if (Transferred > 0 && (FEventMask & EV_TXEMPTY) && !FTxSent.exchange(true))
        FEventWake.Signal();
    return 0;
}

LineLook PosixNetComDevice::Look() const
{
    LineLook look = FCounts;
    look.InQueue = static_cast<int>(FInbox.size());
    look.Held = look.InQueue;
    look.Arrived = FArrived;
    if (::ioctl(FFd, TIOCOUTQ, &look.OutQueue) != 0)
        look.OutQueue = 0;
    look.OutQueue += static_cast<int>(FOut.size());
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
    // Whoever waits for what the line does next wants what was written on its way.
    FlushNow();
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
        bool holding = false;
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
            holding = FHoldUntil != 0;
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
        if (const int err = SleepForEvent(Stop, fd, POLLIN, draining || holding ? kLookIntervalMs : -1, revents)) {
            if (err == EINTR)
                continue;
            return finish(err);
        }
    }
}

} // namespace zentrop
