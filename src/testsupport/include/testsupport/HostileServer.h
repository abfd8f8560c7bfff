// A network serial server that misbehaves on purpose, for tests of the network device and of
// the programs against it: it floods negotiations or NOPs, never ends a subnegotiation,
// stays silent, answers twice or with a rate it was not asked for, refuses a second client,
// or closes or resets the connection at a chosen step. Behind it, unless it floods or stays
// silent, a simulated bootloader answers the upgrade.
#pragma once

#include "base/WakeUp.h"

#include "testsupport/BootDevice.h"

#include <QString>

#include <atomic>
#include <mutex>
#include <thread>

namespace zentrop {

namespace hostile {

enum class Behaviour {
    Fair,               // answers as a good server does
    NegotiationFlood,   // WILL/DO pairs without end
    NopFlood,           // IAC NOP without end
    EndlessSub,         // a subnegotiation that never ends
    Silent,             // accepts and takes bytes, but never negotiates or answers
    DoubledAnswers,     // every answer of the COM port option twice
    GarbageBaud,        // answers every rate asked for with another
    InUse,              // says that another client holds the port and hangs up
    NoAccept,           // never accepts: connects to it stay pending
};

// Where the server ends the connection on its own, and how.
enum class HangUp { Never, AtConnect, AfterNegotiation, AtDeviceFault };
enum class HowHangUp { Close, Reset };

struct Options {
    Behaviour What = Behaviour::Fair;
    bool Telnet = true;            // the COM port option; false: a raw byte stream
    HangUp When = HangUp::Never;
    HowHangUp How = HowHangUp::Close;
    // The device behind the server; a hang-up fault of it ends the connection when When
    // is AtDeviceFault.
    bootsim::DeviceOptions Device;
    // The device answers a page's data command at once, before any of its data.
    bool AnswerAtData = false;
    // The device sends each of its answers twice.
    bool DeviceAnswersTwice = false;
};

class Server {
public:
    explicit Server(Options options);
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Listens on a free loopback port and serves connections one after the other.
    bool Start(QString* Error);
    void Stop();

    int Port() const { return FPort; }
    QString Url() const;
    // Connections accepted so far, and bytes taken from clients.
    int Accepted() const { return FAccepted; }
    long long BytesTaken() const { return FTaken; }
    // What the device behind the server has seen.
    bootsim::DeviceRecord Record() const;

private:
    void Loop();
    void Serve(UniqueFd Client);

    Options FOptions;
    UniqueFd FListen;
    int FPort = 0;
    WakeUp FStop;
    // Connections the listener holds but never accepts (NoAccept), so that its queue is full.
    UniqueFd FFillers[4];
    std::atomic<int> FAccepted{0};
    std::atomic<long long> FTaken{0};
    mutable std::mutex FMutex;
    bootsim::DeviceRecord FRecord;
    std::thread FThread;
};

} // namespace hostile

} // namespace zentrop
