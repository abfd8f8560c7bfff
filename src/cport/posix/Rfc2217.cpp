// The Telnet client's negotiation and stream codec, and the COM port option's commands.
#include "Rfc2217.h"

#include <cerrno>
#include <tuple>

namespace zentrop {

using namespace telnet;

namespace {

bool WeDo(uint8_t Option)
{
    return Option == BINARY || Option == SGA || Option == COM_PORT;
}

bool ServerMay(uint8_t Option)
{
    return Option == BINARY || Option == SGA;
}

void Put(std::string& Out, std::initializer_list<uint8_t> Bytes)
{
    for (uint8_t b : Bytes)
        Out += static_cast<char>(b);
}

} // namespace

NetLineState NetLineStateFromDCB(const DCB& Dcb)
{
    using namespace comport;
    NetLineState l;
    l.Baud = Dcb.BaudRate;
    l.DataSize = Dcb.ByteSize;
    static constexpr uint8_t kParity[] = {1, 2, 3, 4, 5};
    l.Parity = Dcb.Parity <= DCB::SPACEPARITY ? kParity[Dcb.Parity] : 1;
    l.StopSize = Dcb.StopBits == DCB::TWOSTOPBITS ? 2 : Dcb.StopBits == DCB::ONE5STOPBITS ? 3 : 1;
    const uint32_t rts = Dcb.Flags & DCB::fRtsControlMask;
    if ((Dcb.Flags & DCB::fOutxCtsFlow) || rts == DCB::fRtsControlHandshake)
        l.OutFlow = FLOW_HARDWARE;
    else if (Dcb.Flags & DCB::fOutX)
        l.OutFlow = FLOW_XONXOFF;
    if (rts == DCB::fRtsControlHandshake)
        l.InFlow = INFLOW_HARDWARE;
    else if (Dcb.Flags & DCB::fInX)
        l.InFlow = INFLOW_XONXOFF;
    // As on a local line: a DTR handshake keeps DTR raised, RTS toggle keeps RTS idle (low).
    l.Dtr = (Dcb.Flags & DCB::fDtrControlMask) == 0 ? DTR_OFF : DTR_ON;
    l.Rts = rts == DCB::fRtsControlEnable ? RTS_ON : rts == DCB::fRtsControlHandshake ? 0 : RTS_OFF;
    return l;
}

std::string ComPortCommand(uint8_t Command, std::string_view Value)
{
    std::string out;
    Put(out, {IAC, SB, COM_PORT, Command});
    EscapeData(Value.data(), Value.size(), true, out);
    Put(out, {IAC, SE});
    return out;
}

std::string NetLineCommands(const NetLineState& Line, const NetLineState* Before, uint32_t& Answered)
{
    using namespace comport;
    Answered = 0;
    std::string out;
    if (!Before || Before->Baud != Line.Baud) {
        const char baud[4] = {char(Line.Baud >> 24), char(Line.Baud >> 16), char(Line.Baud >> 8), char(Line.Baud)};
        out += ComPortCommand(SET_BAUDRATE, std::string_view(baud, 4));
        Answered |= 1u << SET_BAUDRATE;
    }
    const NetLineState none{0, 0, 0, 0, 0, 0, 0, 0};
    const NetLineState& b = Before ? *Before : none;
    for (auto [command, value, before] :
         {std::tuple{SET_DATASIZE, Line.DataSize, b.DataSize}, {SET_PARITY, Line.Parity, b.Parity},
          {SET_STOPSIZE, Line.StopSize, b.StopSize}, {SET_CONTROL, Line.OutFlow, b.OutFlow},
          {SET_CONTROL, Line.InFlow, b.InFlow}, {SET_CONTROL, Line.Dtr, b.Dtr}, {SET_CONTROL, Line.Rts, b.Rts}}) {
        if (value != 0 && value != before) {
            const char v = static_cast<char>(value);
            out += ComPortCommand(command, std::string_view(&v, 1));
            if (command != SET_CONTROL)
                Answered |= 1u << command;
        }
    }
    return out;
}

void EscapeData(const char* Bytes, size_t Count, bool Binary, std::string& Out)
{
    Out.reserve(Out.size() + Count + Count / 8);
    for (size_t i = 0; i < Count; ++i) {
        Out += Bytes[i];
        if (static_cast<uint8_t>(Bytes[i]) == IAC)
            Out += static_cast<char>(IAC);
        else if (Bytes[i] == '\r' && !Binary)
            Out += '\0';
    }
}

std::string TelnetClient::Start()
{
    std::string out;
    for (uint8_t option : {COM_PORT, BINARY, SGA}) {
        FUs[option] = State::WantYes;
        Put(out, {IAC, WILL, option});
    }
    for (uint8_t option : {BINARY, SGA}) {
        FHim[option] = State::WantYes;
        Put(out, {IAC, DO, option});
    }
    return out;
}

TelnetClient::Answer TelnetClient::ComPortAnswer() const
{
    switch (FUs[COM_PORT]) {
    case State::Yes: return Answer::Accepted;
    case State::WantYes: return Answer::Pending;
    default: return Answer::Refused;
    }
}

std::string TelnetClient::TakeReplies()
{
    std::string out;
    out.reserve(FReplyOrder.size() * 3);
    for (uint16_t slot : FReplyOrder) {
        Put(out, {IAC, FReplyVerb[slot], static_cast<uint8_t>(slot & 0xFF)});
        FReplyVerb[slot] = 0;
    }
    FReplyOrder.clear();
    return out;
}

void TelnetClient::Reply(uint8_t Verb, uint8_t Option)
{
    // Our own options are answered with WILL/WONT, the server's with DO/DONT: one slot each,
    // holding the latest answer, which is the state the server is to learn.
    const uint16_t slot = static_cast<uint16_t>(((Verb == WILL || Verb == WONT) ? 0 : 256) + Option);
    if (FReplyVerb[slot] == 0)
        FReplyOrder.push_back(slot);
    FReplyVerb[slot] = Verb;
}

// Answers only what changes a state, so that two sides never answer each other for ever.
void TelnetClient::Negotiate(uint8_t Verb, uint8_t Option)
{
    if (++FNegotiations[Option] > kNegotiationLimit) {
        FError = EPROTO;
        return;
    }
    if (Verb == DO || Verb == DONT) {
        State& s = FUs[Option];
        const bool want = Verb == DO && WeDo(Option);
        if (want && s != State::Yes) {
            if (s == State::No)
                Reply(WILL, Option);
            s = State::Yes;
        } else if (!want) {
            if (s == State::Yes || (Verb == DO && s == State::No))
                Reply(WONT, Option);
            s = State::No;
        }
    } else {
        State& s = FHim[Option];
        const bool want = Verb == WILL && ServerMay(Option);
        if (want && s != State::Yes) {
            if (s == State::No)
                Reply(DO, Option);
            s = State::Yes;
        } else if (!want) {
            if (s == State::Yes || (Verb == WILL && s == State::No))
                Reply(DONT, Option);
            s = State::No;
        }
    }
}

void TelnetClient::EndSub(TelnetSink& Sink)
{
    if (FSub.size() >= 2 && static_cast<uint8_t>(FSub[0]) == COM_PORT) {
        if (!FData.empty()) {
            Sink.OnData(FData.data(), FData.size());
            FData.clear();
        }
        Sink.OnComPort(static_cast<uint8_t>(FSub[1]), std::string_view(FSub).substr(2));
    }
    FSub.clear();
}

void TelnetClient::AddSub(char Byte)
{
    if (FSub.size() >= kSubLimit)
        FError = EMSGSIZE;
    else
        FSub += Byte;
}

void TelnetClient::Command(uint8_t Byte)
{
    if (Byte >= WILL) {
        FVerb = Byte;
        FParse = Parse::Option;
    } else if (Byte == SB) {
        FSub.clear();
        FParse = Parse::Sub;
    } else {
        FParse = Parse::Data;   // NOP, go-ahead, data mark and the like mean nothing here
    }
}

void TelnetClient::Receive(const char* Bytes, size_t Count, TelnetSink& Sink)
{
    for (size_t i = 0; i < Count && !FError; ++i) {
        const uint8_t b = static_cast<uint8_t>(Bytes[i]);
        switch (FParse) {
        case Parse::DataCr:
            FParse = Parse::Data;
            // CR NUL is a bare CR on a direction that is not binary.
            if (b == 0)
                break;
            [[fallthrough]];
        case Parse::Data:
            if (b == IAC) {
                FParse = Parse::Iac;
            } else {
                FData += static_cast<char>(b);
                if (b == '\r' && !BinaryIn())
                    FParse = Parse::DataCr;
            }
            break;
        case Parse::Iac:
            if (b == IAC) {
                FData += static_cast<char>(IAC);
                FParse = Parse::Data;
            } else {
                Command(b);
            }
            break;
        case Parse::Option:
            Negotiate(FVerb, b);
            FParse = Parse::Data;
            break;
        case Parse::Sub:
            if (b == IAC)
                FParse = Parse::SubIac;
            else
                AddSub(static_cast<char>(b));
            break;
        case Parse::SubIac:
            if (b == IAC) {
                AddSub(static_cast<char>(IAC));
                FParse = Parse::Sub;
            } else {
                // SE ends it; any other command ends a subnegotiation that lost its end.
                EndSub(Sink);
                FParse = Parse::Data;
                if (b != SE)
                    Command(b);
            }
            break;
        }
    }
    if (!FData.empty()) {
        Sink.OnData(FData.data(), FData.size());
        FData.clear();
    }
}

} // namespace zentrop
