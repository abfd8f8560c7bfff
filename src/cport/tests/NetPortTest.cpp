// Network port names, and the Telnet client's codec and negotiation as a network serial
// server meets it: escaping in both directions, the server's offers and refusals, and the
// COM port option's commands and notifications.
#include "cport/NetPortName.h"
#include "posix/Rfc2217.h"

#include <cerrno>
#include <vector>

#include <gtest/gtest.h>

using namespace zentrop;

using namespace telnet;

namespace {

std::string Bytes(std::initializer_list<int> b)
{
    std::string s;
    for (int v : b)
        s += static_cast<char>(v);
    return s;
}

struct Heard : TelnetSink {
    void OnData(const char* b, size_t n) override { Data.append(b, n); }
    void OnComPort(uint8_t c, std::string_view v) override { Commands.emplace_back(c, std::string(v)); }
    std::string Data;
    std::vector<std::pair<uint8_t, std::string>> Commands;
};

} // namespace

TEST(NetPortName, FormsAndMistakes)
{
    struct Case {
        const char* name;
        bool network;
        bool valid;
        NetProtocol protocol;
        const char* host;
        int port;
    } cases[] = {
        {"socket://127.0.0.1:4000", true, true, NetProtocol::Raw, "127.0.0.1", 4000},
        {"rfc2217://rack-7.lab:2217", true, true, NetProtocol::Rfc2217, "rack-7.lab", 2217},
        {"RFC2217://[::1]:65535/", true, true, NetProtocol::Rfc2217, "::1", 65535},
        {"net:host:1", true, true, NetProtocol::Raw, "host", 1},
        {"socket://host", true, false, NetProtocol::Raw, "", 0},
        {"socket://host:0", true, false, NetProtocol::Raw, "", 0},
        {"rfc2217://host:65536", true, false, NetProtocol::Raw, "", 0},
        {"socket://::1:4000", true, false, NetProtocol::Raw, "", 0},
        {"ttyUSB0", false, false, NetProtocol::Raw, "", 0},
        {"/dev/net:1", false, false, NetProtocol::Raw, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(IsNetPortName(c.name), c.network);
        const std::optional<NetPortName> n = ParseNetPortName(c.name);
        ASSERT_EQ(n.has_value(), c.valid);
        if (c.valid) {
            EXPECT_EQ(n->Protocol, c.protocol);
            EXPECT_EQ(n->Host, c.host);
            EXPECT_EQ(n->Port, c.port);
        }
    }
    EXPECT_EQ(NetPortProblem("socket://10.0.0.9:4001", ECONNREFUSED),
              "Nothing listens on 10.0.0.9 port 4001 (connection refused).");
    EXPECT_TRUE(NetPortProblem("socket://x", EINVAL).contains("socket://HOST:PORT"));
}

// Every byte value, alone and after CR, survives the way out and back however the stream is
// cut; a direction that is not binary carries CR as CR NUL.
TEST(Telnet, EveryByteSurvivesEscapingInBothModes)
{
    std::string all;
    for (int i = 0; i < 256; ++i)
        all += {static_cast<char>(i), '\r', static_cast<char>(i)};
    for (bool binary : {true, false}) {
        std::string wire;
        EscapeData(all.data(), all.size(), binary, wire);
        EXPECT_EQ(wire.size(), all.size() + 2 + (binary ? 0 : 256 + 2));
        for (size_t cut : {size_t(1), size_t(2), size_t(7), wire.size()}) {
            TelnetClient client;
            Heard heard;
            if (binary)
                client.Receive("\xff\xfb\x00", 3, heard);   // the server sends binary
            for (size_t at = 0; at < wire.size(); at += cut)
                client.Receive(wire.data() + at, std::min(cut, wire.size() - at), heard);
            EXPECT_EQ(heard.Data, all) << "binary " << binary << " cut " << cut;
        }
    }
}

// The offers a server opens with are answered once each; what it refuses is given up without
// a loop of answers.
TEST(Telnet, NegotiationAnswersOnlyChanges)
{
    TelnetClient client;
    EXPECT_EQ(client.Start(), Bytes({IAC, WILL, COM_PORT, IAC, WILL, BINARY, IAC, WILL, SGA, IAC, DO, BINARY, IAC, DO, SGA}));
    EXPECT_EQ(client.ComPortAnswer(), TelnetClient::Answer::Pending);
    Heard heard;
    // What the server opens with: go-aheads suppressed both ways, echo offered, binary both
    // ways, and a request for the COM port option.
    const std::string offers = Bytes({IAC, WILL, SGA, IAC, DO, SGA, IAC, WILL, 1, IAC, DONT, 1, IAC, DO, BINARY,
                                      IAC, WILL, BINARY, IAC, DO, COM_PORT, IAC, DO, 24});
    client.Receive(offers.data(), offers.size(), heard);
    EXPECT_EQ(client.TakeReplies(), Bytes({IAC, DONT, 1, IAC, WONT, 24}));
    EXPECT_EQ(client.ComPortAnswer(), TelnetClient::Answer::Accepted);
    EXPECT_TRUE(client.BinaryIn() && client.BinaryOut());
    client.Receive(offers.data(), offers.size(), heard);
    EXPECT_EQ(client.TakeReplies(), Bytes({IAC, DONT, 1, IAC, WONT, 24}));   // nothing else changed

    TelnetClient refused;
    refused.Start();
    const std::string no = Bytes({IAC, DONT, COM_PORT, IAC, WONT, BINARY, IAC, DONT, BINARY});
    refused.Receive(no.data(), no.size(), heard);
    EXPECT_FALSE(refused.HasReplies());
    EXPECT_EQ(refused.ComPortAnswer(), TelnetClient::Answer::Refused);
    EXPECT_FALSE(refused.BinaryIn() || refused.BinaryOut());
    EXPECT_TRUE(heard.Data.empty());
}

TEST(Telnet, ComPortCommandsAndAnswers)
{
    DCB d;
    d.BaudRate = 0x0001FFFF;   // an 0xFF in the value is doubled inside the subnegotiation
    d.ByteSize = 7;
    d.Parity = DCB::EVENPARITY;
    d.StopBits = DCB::ONE5STOPBITS;
    d.Flags = DCB::fBinary | DCB::fDtrControlEnable | DCB::fRtsControlHandshake | DCB::fInX;
    const NetLineState line = NetLineStateFromDCB(d);
    EXPECT_EQ(line, (NetLineState{0x1FFFF, 7, 3, 3, comport::FLOW_HARDWARE, comport::INFLOW_HARDWARE,
                                  comport::DTR_ON, 0}));
    uint32_t answered = 0;
    EXPECT_EQ(NetLineCommands(line, nullptr, answered),
              Bytes({IAC, SB, 44, 1, 0, 1, IAC, IAC, IAC, IAC, IAC, SE, IAC, SB, 44, 2, 7, IAC, SE, IAC, SB, 44, 3, 3,
                     IAC, SE, IAC, SB, 44, 4, 3, IAC, SE, IAC, SB, 44, 5, 3, IAC, SE, IAC, SB, 44, 5, 16, IAC, SE,
                     IAC, SB, 44, 5, 8, IAC, SE}));
    EXPECT_EQ(answered, 0x1Eu);
    // A reset pulse changes DTR alone, and only DTR goes out.
    NetLineState pulse = line;
    pulse.Dtr = comport::DTR_OFF;
    EXPECT_EQ(NetLineCommands(pulse, &line, answered), Bytes({IAC, SB, 44, 5, 9, IAC, SE}));
    EXPECT_EQ(answered, 0u);

    // Answers and notifications reach the sink in stream order with the data around them,
    // a subnegotiation cut anywhere, an escaped 0xFF inside it.
    TelnetClient client;
    client.Start();
    Heard heard;
    const std::string in = Bytes({'a', IAC, SB, 44, 101, 0, 1, IAC, IAC, IAC, IAC, IAC, SE, 'b', IAC, SB, 44, 107,
                                  0x31, IAC, SE, IAC, IAC});
    for (char c : in)
        client.Receive(&c, 1, heard);
    EXPECT_EQ(heard.Data, "ab\xff");
    ASSERT_EQ(heard.Commands.size(), 2u);
    EXPECT_EQ(heard.Commands[0], (std::pair<uint8_t, std::string>{101, Bytes({0, 1, 0xFF, 0xFF})}));
    EXPECT_EQ(heard.Commands[1], (std::pair<uint8_t, std::string>{107, Bytes({0x31})}));
}

// A server that keeps negotiating gets at most one waiting answer per option and direction,
// the latest, and is taken as broken past a small count; a subnegotiation without end is
// bounded and breaks the connection too. Nothing after the fault is taken.
TEST(Telnet, HostileServersStayBounded)
{
    TelnetClient client;
    client.Start();
    Heard heard;
    std::string flood;
    for (int i = 0; i < TelnetClient::kNegotiationLimit; ++i)
        flood += Bytes({IAC, WILL, 1, IAC, DO, 24});
    client.Receive(flood.data(), flood.size(), heard);
    EXPECT_EQ(client.Error(), 0);
    EXPECT_EQ(client.TakeReplies(), Bytes({IAC, DONT, 1, IAC, WONT, 24}));
    // A change of mind keeps the option's one slot, with the latest answer in it; the other
    // direction has a slot of its own.
    TelnetClient mind;
    mind.Start();
    const std::string change = Bytes({IAC, DO, BINARY, IAC, DONT, BINARY, IAC, WILL, 1, IAC, DO, BINARY});
    mind.Receive(change.data(), change.size(), heard);
    EXPECT_EQ(mind.TakeReplies(), Bytes({IAC, WILL, BINARY, IAC, DONT, 1}));
    EXPECT_FALSE(mind.HasReplies());

    const std::string more = Bytes({IAC, WILL, 1, 'x'});
    client.Receive(more.data(), more.size(), heard);
    EXPECT_EQ(client.Error(), EPROTO);
    EXPECT_EQ(heard.Data, "");

    TelnetClient endless;
    endless.Start();
    Heard quiet;
    const std::string open = Bytes({'a', IAC, SB, COM_PORT, 107});
    endless.Receive(open.data(), open.size(), quiet);
    const std::string body(4096, 'z');
    for (int i = 0; i < 4 && !endless.Error(); ++i)
        endless.Receive(body.data(), body.size(), quiet);
    EXPECT_EQ(endless.Error(), EMSGSIZE);
    EXPECT_EQ(quiet.Data, "a");
    EXPECT_TRUE(quiet.Commands.empty());
}

// Every spelling of one server port is one name; other names stay as they are.
TEST(NetPortName, CanonicalNames)
{
    for (const char* name : {"socket://127.0.0.1:4000", "SOCKET://localhost:4000/", "net:LocalHost.:4000",
                             "socket://[::1]:4000"})
        EXPECT_EQ(CanonicalNetPortName(name), "socket://127.0.0.1:4000") << name;
    EXPECT_EQ(CanonicalNetPortName("RFC2217://Rack-7.Lab:2217/"), "rfc2217://rack-7.lab:2217");
    EXPECT_EQ(CanonicalNetPortName("rfc2217://[FE80::1]:9"), "rfc2217://[fe80::1]:9");
    EXPECT_EQ(CanonicalNetPortName("ttyUSB0"), "ttyUSB0");
    // A device's word about a failure is the hint for that failure only.
    NoteNetPortProblem("rfc2217://localhost:4000", EINVAL, "set 9600 baud");
    EXPECT_EQ(NetPortProblem("RFC2217://127.0.0.1:4000/", EINVAL), "set 9600 baud");
    EXPECT_TRUE(NetPortProblem("rfc2217://127.0.0.1:4000", EBUSY).contains("Another client holds"));
    EXPECT_TRUE(NetPortProblem("rfc2217://ns.example:1", ETIME).contains("timed out"));
}
