// How the POSIX device reads port names, turns line state records into terminal flags and
// tells events from two looks at a line.
#include "cport/ComConvert.h"
#include "posix/PosixComDevice.h"

#include <sys/ioctl.h>

#include <gtest/gtest.h>

using namespace zentrop;

TEST(PosixDevice, PortNamesMapToDevicePaths)
{
    const std::pair<const char*, const char*> cases[] = {
        {"COM1", "/dev/ttyS0"},
        {"COM6", "/dev/ttyS5"},
        {"com12", "/dev/ttyS11"},
        {"COM0", "/dev/COM0"},
        {"COM", "/dev/COM"},
        {"COM1x", "/dev/COM1x"},
        {"ttyUSB0", "/dev/ttyUSB0"},
        {"pts/3", "/dev/pts/3"},
        {"/dev/ttyACM0", "/dev/ttyACM0"},
        {"/tmp/vport", "/tmp/vport"},
    };
    for (const auto& [name, path] : cases)
        EXPECT_EQ(PosixComDevice::DevicePath(QString::fromLatin1(name)), QString::fromLatin1(path))
            << name;
}

TEST(PosixDevice, LineStateRecordBecomesTerminalFlags)
{
    struct Case {
        const char* name;
        uint8_t byteSize, parity, stopBits;
        uint32_t flags;
        tcflag_t cflags;   // of CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS
        tcflag_t iflags;   // of IXON | IXOFF | INPCK | IGNPAR | PARMRK
    };
    const Case cases[] = {
        {"8N1", 8, DCB::NOPARITY, DCB::ONESTOPBIT, DCB::fBinary, CS8, 0},
        // A checked byte that fails is kept unless it is to be replaced; the terminal then
        // gives NUL for it.
        {"7E1 checked", 7, DCB::EVENPARITY, DCB::ONESTOPBIT, DCB::fParity, CS7 | PARENB, 0},
        {"7E1 checked, replaced", 7, DCB::EVENPARITY, DCB::ONESTOPBIT, DCB::fParity | DCB::fErrorChar,
         CS7 | PARENB, INPCK},
        {"replacement unchecked", 8, DCB::NOPARITY, DCB::ONESTOPBIT, DCB::fErrorChar, CS8, 0},
        {"6O2", 6, DCB::ODDPARITY, DCB::TWOSTOPBITS, 0, CS6 | PARENB | PARODD | CSTOPB, 0},
        {"5M1.5", 5, DCB::MARKPARITY, DCB::ONE5STOPBITS, 0, CS5 | PARENB | PARODD | CMSPAR | CSTOPB, 0},
        {"8S1", 8, DCB::SPACEPARITY, DCB::ONESTOPBIT, 0, CS8 | PARENB | CMSPAR, 0},
        {"CTS flow", 8, 0, 0, DCB::fOutxCtsFlow, CS8 | CRTSCTS, 0},
        {"DSR flow and sensitivity", 8, 0, 0, DCB::fOutxDsrFlow | DCB::fDsrSensitivity, CS8, 0},
        {"RTS handshake", 8, 0, 0, DCB::fRtsControlHandshake, CS8 | CRTSCTS, 0},
        {"RTS enabled", 8, 0, 0, DCB::fRtsControlEnable, CS8, 0},
        {"Xon/Xoff", 8, 0, 0, DCB::fOutX | DCB::fInX, CS8, IXON | IXOFF},
        {"Xon/Xoff out only", 8, 0, 0, DCB::fOutX, CS8, IXON},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        termios t{};
        cfmakeraw(&t);
        t.c_cflag |= CRTSCTS | CMSPAR | PARENB;   // left over from an earlier setting
        t.c_iflag |= IXON | IXOFF | INPCK | IGNPAR | PARMRK;
        DCB d;
        d.ByteSize = c.byteSize;
        d.Parity = c.parity;
        d.StopBits = c.stopBits;
        d.Flags = c.flags;
        d.XonChar = 17;
        d.XoffChar = 19;
        TermiosFromDCB(d, t);
        EXPECT_EQ(t.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS), c.cflags);
        EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK | IGNPAR | PARMRK), c.iflags);
        EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
        EXPECT_EQ(t.c_cc[VSTART], 17);
        EXPECT_EQ(t.c_cc[VSTOP], 19);
    }
}

TEST(PosixDevice, ModemLinesFollowTheLineState)
{
    struct Case {
        const char* name;
        uint32_t flags;
        int set, clear;
    };
    const Case cases[] = {
        {"both disabled", 0, 0, TIOCM_DTR | TIOCM_RTS},
        {"both enabled", DCB::fDtrControlEnable | DCB::fRtsControlEnable, TIOCM_DTR | TIOCM_RTS, 0},
        // No DTR handshake: the line is raised. RTS handshake is the kernel's to drive.
        {"both handshake", DCB::fDtrControlHandshake | DCB::fRtsControlHandshake, TIOCM_DTR, 0},
        // No RTS toggle: the line stays in its idle state.
        {"RTS toggle", DCB::fDtrControlEnable | DCB::fRtsControlToggle, TIOCM_DTR, TIOCM_RTS},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DCB d;
        d.Flags = DCB::fBinary | c.flags;
        int set = -1;
        int clear = -1;
        ModemLinesFromDCB(d, set, clear);
        EXPECT_EQ(set, c.set);
        EXPECT_EQ(clear, c.clear);
    }
}

// Which events two looks at a line amount to, and only those of the mask.
TEST(PosixLineEvents, ChangesBetweenTwoLooksGiveTheirEvents)
{
    using namespace EventMask;
    constexpr int kRx80 = 819;
    const LineLook idle{};
    auto with = [](auto change) {
        LineLook look;
        change(look);
        return look;
    };
    struct Case {
        const char* what;
        LineLook now;
        uint32_t events;
    };
    const Case cases[] = {
        {"nothing", idle, 0},
        {"bytes arrived", with([](LineLook& l) { l.Arrived = 3; l.InQueue = 3; }), EV_RXCHAR},
        {"queue reached 80 %", with([](LineLook& l) { l.Arrived = kRx80; l.InQueue = kRx80; }),
         EV_RXCHAR | EV_RX80FULL},
        {"CTS rose", with([](LineLook& l) { l.ModemLines = TIOCM_CTS; }), EV_CTS},
        {"DSR pulsed between looks", with([](LineLook& l) { l.Dsr = 2; }), EV_DSR},
        {"carrier rose", with([](LineLook& l) { l.ModemLines = TIOCM_CAR; }), EV_RLSD},
        {"ring rose", with([](LineLook& l) { l.ModemLines = TIOCM_RNG; }), EV_RING},
        {"ring counted", with([](LineLook& l) { l.Rng = 1; }), EV_RING},
        {"framing error", with([](LineLook& l) { l.Frame = 1; }), EV_ERR},
        {"overrun", with([](LineLook& l) { l.BufOverrun = 1; }), EV_ERR},
        {"break", with([](LineLook& l) { l.Brk = 1; }), EV_BREAK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(LineEvents(idle, c.now, 0xFFFF, kRx80), c.events);
        EXPECT_EQ(LineEvents(idle, c.now, EV_TXEMPTY, kRx80), 0u);
    }
    // Ring falling is no ring.
    EXPECT_EQ(LineEvents(with([](LineLook& l) { l.ModemLines = TIOCM_RNG; }), idle, 0xFFFF, kRx80), 0u);
}

// 80 % of the input queue the port set, never of more than the line discipline holds.
TEST(PosixLineEvents, TheQueueIsFullAtEightyPercentOfItsSize)
{
    const std::pair<int, int> cases[] = {{1024, 819}, {100, 80}, {1, 1}, {0, 3276}, {-3, 3276}, {65536, 3276}};
    for (const auto& [inputSize, bytes] : cases)
        EXPECT_EQ(Rx80FullBytes(inputSize), bytes) << inputSize;
}
