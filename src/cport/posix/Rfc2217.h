// Telnet as a network serial server speaks it: option negotiation, the escaping of the byte
// 0xFF (and of CR while a direction is not binary), and the COM port option's commands
// that set the line and tell of its modem and line state. No sockets here: bytes in, bytes
// out, so that every rule is tested without a server.
#pragma once

#include "cport/ComDevice.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zentrop {

namespace telnet {
inline constexpr uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240;
inline constexpr uint8_t BINARY = 0, SGA = 3, COM_PORT = 44;
} // namespace telnet

// Commands of the COM port option as the client sends them; the server answers each with
// the same command plus kServerOffset.
namespace comport {
inline constexpr uint8_t SET_BAUDRATE = 1, SET_DATASIZE = 2, SET_PARITY = 3, SET_STOPSIZE = 4, SET_CONTROL = 5,
                         NOTIFY_LINESTATE = 6, NOTIFY_MODEMSTATE = 7, SET_LINESTATE_MASK = 10,
                         SET_MODEMSTATE_MASK = 11, PURGE_DATA = 12;
inline constexpr uint8_t kServerOffset = 100;
// Values of SET-CONTROL.
inline constexpr uint8_t FLOW_NONE = 1, FLOW_XONXOFF = 2, FLOW_HARDWARE = 3, BREAK_ON = 5, BREAK_OFF = 6,
                         DTR_ON = 8, DTR_OFF = 9, RTS_ON = 11, RTS_OFF = 12, INFLOW_NONE = 14, INFLOW_XONXOFF = 15,
                         INFLOW_HARDWARE = 16;
// Bits of NOTIFY-LINESTATE.
inline constexpr uint8_t LINE_BREAK = 16, LINE_FRAME = 8, LINE_PARITY = 4, LINE_OVERRUN = 2;
// Bits of NOTIFY-MODEMSTATE: the states have the values of the MS_ bits, the deltas below them.
inline constexpr uint8_t MODEM_DELTA_CTS = 1, MODEM_DELTA_DSR = 2, MODEM_RING_END = 4, MODEM_DELTA_CD = 8;
// PURGE-DATA's value for the data the server received from the line.
inline constexpr uint8_t PURGE_RECEIVED = 1;
} // namespace comport

// The line settings of a line state record in the COM port option's values.
struct NetLineState {
    uint32_t Baud = 0;
    uint8_t DataSize = 8;
    uint8_t Parity = 1;      // 1 none, 2 odd, 3 even, 4 mark, 5 space
    uint8_t StopSize = 1;    // 1 one, 2 two, 3 one and a half
    uint8_t OutFlow = comport::FLOW_NONE;
    uint8_t InFlow = comport::INFLOW_NONE;
    uint8_t Dtr = comport::DTR_OFF;
    uint8_t Rts = comport::RTS_OFF;   // 0 while the hardware handshake drives RTS

    bool operator==(const NetLineState&) const = default;
};
NetLineState NetLineStateFromDCB(const DCB& Dcb);

// One command of the COM port option, its value escaped.
std::string ComPortCommand(uint8_t Command, std::string_view Value);
// The commands that give the server's line these settings, in the order the line takes them:
// all of them, or those that differ from Before. Answered gets the bits (1 << command) of the
// line settings among them, which the server answers with the value it took.
std::string NetLineCommands(const NetLineState& Line, const NetLineState* Before, uint32_t& Answered);
// Data bytes as they go over the connection: 0xFF doubled, and CR followed by NUL while the
// direction is not binary.
void EscapeData(const char* Bytes, size_t Count, bool Binary, std::string& Out);

// Hears what the decoder finds in the received stream, in the order it came.
class TelnetSink {
public:
    virtual ~TelnetSink() = default;
    virtual void OnData(const char* Bytes, size_t Count) = 0;
    // An answer or notification of the COM port option, by the server's command code.
    virtual void OnComPort(uint8_t Command, std::string_view Value) = 0;
};

// The client's side of one Telnet connection: bytes in, data and the COM port option's
// commands out to the sink, and the answers the negotiation calls for kept until taken.
// Whatever a server sends, what the client keeps stays bounded: one answer waits per option
// and direction, a subnegotiation has a size limit, and a server that keeps negotiating an
// option past a small count is taken as broken.
class TelnetClient {
public:
    enum class Answer { Pending, Accepted, Refused };

    // How often a server may negotiate one option, and how long a subnegotiation may be,
    // before the connection counts as broken.
    static constexpr int kNegotiationLimit = 16;
    static constexpr size_t kSubLimit = 1024;

    // What the client opens with: it offers the COM port option and binary transmission in
    // both directions, and asks the server not to send go-aheads.
    std::string Start();
    // Takes received bytes, up to the first fault of the server.
    void Receive(const char* Bytes, size_t Count, TelnetSink& Sink);
    // The answers to the server's negotiation that wait to be sent, in the order they arose;
    // taking them lets the same options be answered again.
    bool HasReplies() const { return !FReplyOrder.empty(); }
    std::string TakeReplies();
    // 0, or why the server broke the protocol: EPROTO for endless negotiation, EMSGSIZE for a
    // subnegotiation without end. Nothing more is taken after it.
    int Error() const { return FError; }

    // Whether the server took the COM port option; a refusal leaves a raw byte stream.
    Answer ComPortAnswer() const;
    bool BinaryOut() const { return FUs[telnet::BINARY] == State::Yes; }
    bool BinaryIn() const { return FHim[telnet::BINARY] == State::Yes; }

private:
    enum class State : uint8_t { No, WantYes, Yes };
    enum class Parse : uint8_t { Data, DataCr, Iac, Option, Sub, SubIac };

    void Negotiate(uint8_t Verb, uint8_t Option);
    // Queues the answer Verb for Option, replacing one of the same direction not yet taken.
    void Reply(uint8_t Verb, uint8_t Option);
    void EndSub(TelnetSink& Sink);
    void AddSub(char Byte);
    // The command byte after an IAC (other than a doubled IAC).
    void Command(uint8_t Byte);

    std::array<State, 256> FUs{};    // options this side performs (WILL/WONT)
    std::array<State, 256> FHim{};   // options the server performs (DO/DONT)
    std::array<uint8_t, 256> FNegotiations{};   // the server's negotiations per option, up to the limit
    // The answers not yet taken: the verb per option and direction (0 for none), and their order.
    std::array<uint8_t, 512> FReplyVerb{};
    std::vector<uint16_t> FReplyOrder;
    int FError = 0;
    Parse FParse = Parse::Data;
    uint8_t FVerb = 0;
    std::string FSub;                // the subnegotiation being received, bounded
    std::string FData;               // data not yet handed to the sink
};

} // namespace zentrop
