// The misbehaving network serial server: one connection at a time on a thread of its own, a
// small Telnet server side with the COM port option, and the simulated bootloader behind it.
#include "testsupport/HostileServer.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace zentrop {

namespace hostile {

namespace {

constexpr uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, NOP = 241, SE = 240;
constexpr uint8_t BINARY = 0, SGA = 3, COM_PORT = 44, SET_BAUDRATE = 1;
constexpr uint32_t kGarbageBaud = 57600;

void Put(std::string& out, std::initializer_list<uint8_t> bytes)
{
    for (uint8_t b : bytes)
        out += static_cast<char>(b);
}

// What a flood repeats, a few kilobytes at a time.
std::string FloodBlock(Behaviour what)
{
    std::string unit;
    if (what == Behaviour::NegotiationFlood)
        Put(unit, {IAC, WILL, 1, IAC, DO, 24});
    else if (what == Behaviour::NopFlood)
        Put(unit, {IAC, NOP});
    else
        unit = "z";
    std::string block;
    while (block.size() < 8192)
        block += unit;
    return block;
}

} // namespace

Server::Server(Options options) : FOptions(std::move(options)) {}

Server::~Server()
{
    Stop();
}

QString Server::Url() const
{
    return QStringLiteral("%1://127.0.0.1:%2").arg(FOptions.Telnet ? "rfc2217" : "socket").arg(FPort);
}

bool Server::Start(QString* Error)
{
    FListen.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    const bool noAccept = FOptions.What == Behaviour::NoAccept;
    if (!FListen || ::bind(FListen.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0
        || ::listen(FListen.Get(), noAccept ? 0 : 4) != 0
        || ::getsockname(FListen.Get(), reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        *Error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    FPort = ntohs(a.sin_port);
    if (noAccept) {
        // A full accept queue: the kernel drops further handshakes, and a connect waits.
        for (UniqueFd& f : FFillers) {
            f.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
            ::connect(f.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a);
        }
        return true;
    }
    FThread = std::thread([this] { Loop(); });
    return true;
}

void Server::Stop()
{
    if (FThread.joinable()) {
        FStop.Signal();
        FThread.join();
    }
    for (UniqueFd& fd : FFillers)
        fd.Reset();
    FListen.Reset();
}

bootsim::DeviceRecord Server::Record() const
{
    std::lock_guard lock(FMutex);
    return FRecord;
}

void Server::Loop()
{
    for (;;) {
        pollfd p[2] = {{FListen.Get(), POLLIN, 0}, {FStop.Fd(), POLLIN, 0}};
        if (::poll(p, 2, -1) < 0 && errno != EINTR)
            return;
        if (p[1].revents)
            return;
        if (!p[0].revents)
            continue;
        UniqueFd client(::accept4(FListen.Get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK));
        if (!client)
            continue;
        ++FAccepted;
        Serve(std::move(client));
    }
}

void Server::Serve(UniqueFd client)
{
    const Options& o = FOptions;
    const int c = client.Get();
    bool open = true;
    auto hangUp = [&] {
        if (o.How == HowHangUp::Reset) {
            const linger l{1, 0};
            ::setsockopt(c, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        }
        client.Reset();
        open = false;
    };
    if (o.When == HangUp::AtConnect) {
        hangUp();
        return;
    }
    bootsim::DeviceOptions deviceOptions = o.Device;
    if (o.AnswerAtData)
        deviceOptions.IdleGapMs = 1;   // only to learn when a page's data begins
    bootsim::Device device(deviceOptions);
    const bool flood = o.What == Behaviour::NegotiationFlood || o.What == Behaviour::NopFlood
                       || o.What == Behaviour::EndlessSub;
    const std::string block = FloodBlock(o.What);
    std::string out;
    if (o.Telnet && o.What != Behaviour::Silent)
        Put(out, {IAC, WILL, BINARY, IAC, DO, BINARY, IAC, WILL, SGA, IAC, DO, SGA});
    if (o.What == Behaviour::InUse)
        out += "Port already in use\r\n";
    if (o.What == Behaviour::EndlessSub)
        Put(out, {IAC, SB, COM_PORT, 101});
    bool said[2][256] = {};
    bool negotiated = false;
    // The client's stream: data, or a command being taken.
    enum class In { Data, Iac, Verb, Sub, SubIac } in = In::Data;
    uint8_t verb = 0;
    std::string sub;

    auto toClient = [&](const std::string& bytes) {
        if (!o.Telnet) {
            out += bytes;
            return;
        }
        for (char ch : bytes) {
            out += ch;
            if (static_cast<uint8_t>(ch) == IAC)
                out += ch;
        }
    };
    auto deviceByte = [&](uint8_t b) {
        bootsim::Reaction r = device.Receive(b);
        if (o.AnswerAtData && device.WaitsForIdleGap())
            r.Reply += device.IdleGapPassed().Reply;
        {
            std::lock_guard lock(FMutex);
            FRecord = device.Record();
        }
        if (r.HangUp && o.When == HangUp::AtDeviceFault)
            return false;
        toClient(o.DeviceAnswersTwice ? std::string(r.Reply.repeated(2).constData(), size_t(r.Reply.size() * 2))
                                      : std::string(r.Reply.constData(), size_t(r.Reply.size())));
        return true;
    };
    auto endSub = [&] {
        if (sub.size() < 2 || static_cast<uint8_t>(sub[0]) != COM_PORT)
            return;
        const uint8_t command = static_cast<uint8_t>(sub[1]);
        std::string value = sub.substr(2);
        if (command == SET_BAUDRATE && o.What == Behaviour::GarbageBaud && value.size() == 4)
            value = {char(kGarbageBaud >> 24), char(kGarbageBaud >> 16), char(kGarbageBaud >> 8), char(kGarbageBaud)};
        std::string answer;
        Put(answer, {IAC, SB, COM_PORT, static_cast<uint8_t>(command + 100)});
        for (char ch : value) {
            answer += ch;
            if (static_cast<uint8_t>(ch) == IAC)
                answer += ch;
        }
        Put(answer, {IAC, SE});
        out += answer;
        if (o.What == Behaviour::DoubledAnswers)
            out += answer;
    };
    auto negotiate = [&](uint8_t v, uint8_t option) {
        const bool theirs = v == WILL || v == WONT;
        const bool agree = option == BINARY || option == SGA || (theirs && option == COM_PORT);
        if (v == WILL || v == DO) {
            if (!said[theirs][option]) {
                said[theirs][option] = true;
                Put(out, {IAC, static_cast<uint8_t>(theirs ? (agree ? DO : DONT) : (agree ? WILL : WONT)), option});
            }
        }
        if (theirs && option == COM_PORT)
            negotiated = true;
    };

    char buf[4096];
    while (open) {
        if (flood && out.size() < block.size())
            out += block;
        pollfd p[2] = {{c, static_cast<short>(POLLIN | (out.empty() ? 0 : POLLOUT)), 0}, {FStop.Fd(), POLLIN, 0}};
        if (::poll(p, 2, -1) < 0 && errno != EINTR)
            break;
        if (p[1].revents)
            break;
        if (p[0].revents & POLLOUT) {
            const ssize_t n = ::send(c, out.data(), out.size(), MSG_NOSIGNAL);
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                break;
            if (n > 0)
                out.erase(0, size_t(n));
            if (o.What == Behaviour::InUse && out.empty()) {
                hangUp();
                return;
            }
        }
        if (!(p[0].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        const ssize_t n = ::recv(c, buf, sizeof buf, 0);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            break;
        FTaken += n;
        if (o.What == Behaviour::Silent || flood)
            continue;
        for (ssize_t i = 0; i < n && open; ++i) {
            const uint8_t b = static_cast<uint8_t>(buf[i]);
            if (!o.Telnet) {
                negotiated = true;
                if (!deviceByte(b))
                    hangUp();
                continue;
            }
            switch (in) {
            case In::Data:
                if (b == IAC)
                    in = In::Iac;
                else if (!deviceByte(b))
                    hangUp();
                break;
            case In::Iac:
                if (b == IAC) {
                    in = In::Data;
                    if (!deviceByte(b))
                        hangUp();
                } else if (b >= WILL) {
                    verb = b;
                    in = In::Verb;
                } else if (b == SB) {
                    sub.clear();
                    in = In::Sub;
                } else {
                    in = In::Data;
                }
                break;
            case In::Verb:
                negotiate(verb, b);
                in = In::Data;
                break;
            case In::Sub:
                if (b == IAC)
                    in = In::SubIac;
                else
                    sub += static_cast<char>(b);
                break;
            case In::SubIac:
                if (b == IAC) {
                    sub += static_cast<char>(b);
                    in = In::Sub;
                } else {
                    endSub();
                    in = In::Data;
                }
                break;
            }
        }
        if (open && negotiated && o.When == HangUp::AfterNegotiation) {
            // The answer to the option goes first, then the connection ends.
            [[maybe_unused]] const ssize_t sent = ::send(c, out.data(), out.size(), MSG_NOSIGNAL);
            hangUp();
        }
    }
}

} // namespace hostile

} // namespace zentrop
