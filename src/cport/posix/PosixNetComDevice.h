// A serial line on a network serial server, as a device of the port engine: a TCP
// connection that carries the line's bytes as they are ("socket://"), or Telnet with the COM
// port option ("rfc2217://"), through which the line settings, DTR and RTS, purges and the
// server's modem and line state travel as well.
#pragma once

#include "PosixRequestDevice.h"
#include "Rfc2217.h"

#include <mutex>
#include <optional>
#include <string>

namespace zentrop {

class PosixNetComDevice : public PosixRequestDevice, private TelnetSink {
public:
    // Connecting to the server, and each answer of the server the device waits for (to the
    // COM port option, to line settings, to a purge), never take longer.
    static constexpr int kConnectMs = 5000;
    static constexpr int kAnswerMs = 2000;

    PosixNetComDevice() = default;
    ~PosixNetComDevice() override;

    QString DeviceName(const QString& Port) const override { return Port; }
    int Open(const QString& Port) override;
    void Close() override;

    int SetCommState(const DCB& Dcb) override;
    int PurgeComm(uint32_t Flags) override;
    int ClearCommError(uint32_t& Errors, COMSTAT& Stat) override;
    int GetCommModemStatus(uint32_t& Status) override;
    int EscapeCommFunction(uint32_t Function) override;

    int SetCommMask(uint32_t Mask) override;
    int WaitCommEvent(uint32_t& Events, const StopEvent& Stop) override;

    // Whether the server controls the line for this device (it took the COM port option).
    bool ControlsLine() const;

private:
    void OnData(const char* Bytes, size_t Count) override;
    void OnComPort(uint8_t Command, std::string_view Value) override;

    // All with FMutex held.
    // Takes what the socket holds: data into the inbox, the server's commands handled.
    void Pump();
    bool Gone() const { return FPeerClosed || FSocketError != 0; }
    int GoneError() const { return FSocketError ? FSocketError : EIO; }
    LineLook Look() const;
    Nanos LineQuietAt() const override;

    // Sends the pending control bytes (unless told not to, in the middle of an escape) and
    // then Bytes, all of them or until the deadline or a cancel of Ovl; Sent counts the bytes
    // of Bytes that went. Holds FSendMutex.
    int Send(const std::string& Bytes, size_t& Sent, std::optional<Nanos> Deadline, Overlapped* Ovl,
             bool WithControl = true);
    // Waits until Done (called with FMutex held) holds, the server is gone, or kAnswerMs
    // passed: 0, the error of a server that went away, or ETIMEDOUT.
    template <typename Pred>
    int AwaitServer(Pred Done);
    // Both look at the descriptor and the NUL setting afresh at each step, under FMutex.
    int RunRead(Overlapped& Ovl, int Fd, bool DiscardNull, int& Transferred) override;
    int RunWrite(Overlapped& Ovl, int Fd, int& Transferred) override;

    std::mutex FSendMutex;       // one sender at a time, so that escapes are never split
    // With FMutex held.
    bool FTelnet = false;
    TelnetClient FTelnetClient;
    std::string FControl;        // answers and commands not yet sent
    bool FPeerClosed = false;
    int FSocketError = 0;
    std::string FInbox;          // received data the port has not taken
    uint64_t FArrived = 0;       // data bytes ever received
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
