// A serial line on a network serial server, as a device of the port engine: a TCP
// connection that carries the line's bytes as they are ("socket://"), or Telnet with the COM
// port option ("rfc2217://"), through which the line settings, DTR and RTS, purges and the
// server's modem and line state travel as well. Bytes written back to back leave together,
// once the writer pauses or waits for an answer.
#pragma once

#include "PosixRequestDevice.h"
#include "Rfc2217.h"
#include "cport/NetPortName.h"

#include <condition_variable>
#include <netdb.h>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace zentrop {

class PosixNetComDevice : public PosixRequestDevice, private TelnetSink {
public:
    // Looking up the server's name and connecting to it, and each answer of the server the
    // device waits for (to the COM port option, to line settings, to a purge), never take
    // longer.
    static constexpr int kConnectMs = 5000;
    static constexpr int kAnswerMs = 2000;

    PosixNetComDevice() = default;
    ~PosixNetComDevice() override;

    QString DeviceName(const QString& Port) const override { return Port; }
    // A purge that aborts requests, or a close, ends an open in progress (name lookup,
    // connect, the wait for the server's options) with ECANCELED.
    int Open(const QString& Port) override;
    void Close() override;

    int SetCommState(const DCB& Dcb) override;
    int PurgeComm(uint32_t Flags) override;
    int ClearCommError(uint32_t& Errors, COMSTAT& Stat) override;
    int GetCommModemStatus(uint32_t& Status) override;
    int EscapeCommFunction(uint32_t Function) override;
    int SetCommBreak(bool On) override;

    int SetCommMask(uint32_t Mask) override;
    int WaitCommEvent(uint32_t& Events, const StopEvent& Stop) override;

    // Whether the server controls the line for this device (it took the COM port option).
    bool ControlsLine() const;

private:
    void OnData(const char* Bytes, size_t Count) override;
    void OnComPort(uint8_t Command, std::string_view Value) override;
    // Hands held data bytes on, and data to the inbox; with FMutex held.
    void Release();
    void Deliver(const char* Bytes, size_t Count);

    // The name lookup and the connect, both within Deadline and ended by a cancel since
    // Generation: the socket, or -1 with Err set.
    int Connect(const NetPortName& Name, Nanos Deadline, uint64_t Generation, int& Err);
    int Resolve(const NetPortName& Name, Nanos Deadline, uint64_t Generation, addrinfo*& Found);
    int ConnectOne(const addrinfo& Ai, Nanos Deadline, uint64_t Generation, int& Err);
    // Why a wait must end now (ECANCELED), or 0; Generation is the cancel generation the wait
    // began in, none for a wait only a close ends. With FMutex held.
    int Stopped(std::optional<uint64_t> Generation, const Overlapped* Ovl) const;
    // One short sleep of a wait: until Fd reports Events, a cancel, a wake of Ovl or Extra,
    // or Deadline, whichever comes first, and never longer than a slice, so that every
    // wait looks at its cancel and deadline often.
    void Nap(int Fd, short Events, std::optional<Nanos> Deadline, const Overlapped* Ovl, int Extra = -1);

    // All with FMutex held.
    // Takes a bounded share of what the socket holds: data into the inbox, the server's
    // commands handled, its negotiation answered by the flusher.
    void Pump();
    bool Gone() const { return FPeerClosed || FSocketError != 0; }
    int GoneError() const;
    // The server's only words were that another client holds the port.
    bool RefusedInUse() const;
    LineLook Look() const;
    Nanos LineQuietAt() const override;

    // Sends what waits to go (the negotiation's answers, then the written and command bytes
    // in their order) until all went, Deadline passed (ETIMEDOUT; a deadline of now tries
    // once), or the wait is stopped; what did not go stays first in line. DrainLocked with
    // FSendMutex held.
    int Drain(std::optional<Nanos> Deadline, const Overlapped* Ovl, std::optional<uint64_t> Generation);
    int DrainLocked(std::optional<Nanos> Deadline, const Overlapped* Ovl, std::optional<uint64_t> Generation);
    // Sends what waits as far as the socket takes it now, and leaves the rest to the flusher.
    void FlushNow();
    // Queues Bytes after what waits and sends all within the time for an answer.
    int SendCommand(const std::string& Bytes, uint64_t Generation);
    // Sets a line or the break at the far end (a SET-CONTROL value).
    int SendControl(uint8_t Value);
    // Adds escaped data to what waits to go; with FMutex held.
    void Gather(const std::string& Wire);
    // The flusher: sends written bytes once the writer paused, and answers the server.
    void FlushLoop();
    // Waits until Done (called with FMutex held) holds, the server is gone, kAnswerMs passed
    // or a cancel since Generation: 0, the error of a server that went away, ETIMEDOUT or
    // ECANCELED.
    template <typename Pred>
    int AwaitServer(Pred Done, uint64_t Generation);
    // Both look at the descriptor and the NUL setting afresh at each step, under FMutex.
    int RunRead(Overlapped& Ovl, int Fd, bool DiscardNull, int& Transferred) override;
    int RunWrite(Overlapped& Ovl, int Fd, int& Transferred) override;

    std::mutex FSendMutex;       // one sender at a time, so that the bytes keep their order
    // With FMutex held.
    QString FName;
    bool FOpening = false;
    uint64_t FCancelGeneration = 0;   // counts the purges that abort and the closes
    WakeUp FCancelWake;               // wakes the device's own waits on a cancel
    bool FTelnet = false;
    TelnetClient FTelnetClient;
    std::string FOut;            // bytes on their way to the server: escaped data and commands
    Nanos FLastWriteNs = 0;
    bool FFlushDue = false;      // the flusher sends without waiting for a pause
    bool FFlusherStop = false;
    std::condition_variable FFlushCv;
    std::thread FFlusher;
    bool FPeerClosed = false;
    int FSocketError = 0;
    std::string FInbox;          // received data the port has not taken
    std::string FFirstData;      // the first data bytes of the connection, a few of them
    std::string FHeld;           // first bytes that may be the server's refusal
    Nanos FHoldUntil = 0;        // until when they may be held; 0 once they went on
    uint64_t FDataTotal = 0;     // data bytes ever received, held ones too
    uint64_t FArrived = 0;       // data bytes ever handed to the inbox
    bool FFlagSeen = false;
    std::optional<NetLineState> FLine;        // what the server last took
    NetLineState FTaken;                      // the values of the server's answers
    uint32_t FAnswered = 0;                   // bits (1 << command) of the answers in FTaken
    uint32_t FPurgeAnswers = 0;
    // The server's modem state, and its notifications counted as a driver counts them.
    uint8_t FModemState = 0;
    LineLook FCounts;
    LineLook FErrorsTaken;                   // the counts at the last ClearCommError
};

} // namespace zentrop
