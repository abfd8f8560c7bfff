// Fuzzes the Telnet client of the network serial device: whatever a server sends, the data,
// the COM port option's commands, the answers and the verdict on the server do not depend on
// how the stream is cut into reads, the answers waiting stay bounded, and the client's own
// escaping of any data reads back as the same data.
#include "posix/Rfc2217.h"

#include <cstdlib>
#include <string>
#include <vector>

using namespace zentrop;

namespace {

struct Heard : TelnetSink {
    void OnData(const char* b, size_t n) override { Data.append(b, n); }
    void OnComPort(uint8_t c, std::string_view v) override
    {
        Commands += static_cast<char>(c);
        Commands += std::to_string(v.size());
        Commands += ':';
        Commands.append(v);
    }
    std::string Data;
    std::string Commands;
};

// The most the answers can hold: one per option and direction, three bytes each.
constexpr size_t kMostReplies = 2 * 256 * 3;

struct Outcome {
    Heard Sink;
    std::string Replies;
    int Error = 0;
};

Outcome Feed(const uint8_t* data, size_t size, size_t firstCut, size_t cut)
{
    Outcome o;
    TelnetClient client;
    client.Start();
    size_t at = 0;
    size_t next = firstCut;
    while (at < size) {
        const size_t n = std::min(next, size - at);
        client.Receive(reinterpret_cast<const char*>(data) + at, n, o.Sink);
        at += n;
        next = cut;
    }
    o.Replies = client.TakeReplies();
    o.Error = client.Error();
    if (o.Replies.size() > kMostReplies || client.HasReplies())
        std::abort();
    return o;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // The first two bytes choose the cuts; the rest is what the server sent.
    const size_t firstCut = 1 + data[0] % 17;
    const size_t cut = 1 + data[1] % 61;
    data += 2;
    size -= 2;
    const Outcome whole = Feed(data, size, size ? size : 1, size ? size : 1);
    const Outcome pieces = Feed(data, size, firstCut, cut);
    if (whole.Sink.Data != pieces.Sink.Data || whole.Sink.Commands != pieces.Sink.Commands
        || whole.Replies != pieces.Replies || whole.Error != pieces.Error)
        std::abort();
    if (whole.Sink.Data.size() > size)
        std::abort();

    // Data the client escapes comes back whole, binary or not, however it is cut.
    for (bool binary : {true, false}) {
        std::string wire;
        EscapeData(reinterpret_cast<const char*>(data), size, binary, wire);
        TelnetClient client;
        client.Start();
        Heard heard;
        if (binary) {
            const char willBinary[] = {char(telnet::IAC), char(telnet::WILL), char(telnet::BINARY)};
            client.Receive(willBinary, sizeof willBinary, heard);
        }
        for (size_t at = 0; at < wire.size(); at += cut)
            client.Receive(wire.data() + at, std::min(cut, wire.size() - at), heard);
        if (heard.Data != std::string(reinterpret_cast<const char*>(data), size) || client.Error()
            || !heard.Commands.empty())
            std::abort();
    }
    return 0;
}
