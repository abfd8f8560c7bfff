// The serial engine's shared vocabulary: the enumerations of line settings, events, errors
// and signals, the small bit sets over them, and the handler types a port calls.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <initializer_list>

namespace zentrop {

namespace CPortTypes {
Q_NAMESPACE

enum class TBaudRate {
    brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200,
    br38400, br56000, br57600, br115200, br128000, br256000
};
Q_ENUM_NS(TBaudRate)

enum class TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
Q_ENUM_NS(TStopBits)

enum class TDataBits { dbFive, dbSix, dbSeven, dbEight };
Q_ENUM_NS(TDataBits)

enum class TParityBits { prNone, prOdd, prEven, prMark, prSpace };
Q_ENUM_NS(TParityBits)

enum class TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
Q_ENUM_NS(TDTRFlowControl)

enum class TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
Q_ENUM_NS(TRTSFlowControl)

enum class TFlowControl { fcHardware, fcSoftware, fcNone, fcCustom };
Q_ENUM_NS(TFlowControl)

enum class TComEvent {
    evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError, evRLSD, evRx80Full
};
Q_ENUM_NS(TComEvent)

enum class TComError { ceFrame, ceRxParity, ceOverrun, ceBreak, ceIO, ceMode, ceRxOver, ceTxFull };
Q_ENUM_NS(TComError)

enum class TSyncMethod { smThreadSync, smWindowSync, smNone, smDisableEvents };
Q_ENUM_NS(TSyncMethod)

enum class TLineSignal { lsCTS, lsDSR, lsRing, lsRLSD };
Q_ENUM_NS(TLineSignal)

enum class TStoredGroup { sgBasic, sgFlowControl, sgBuffer, sgTimeouts, sgParity, sgOthers };
Q_ENUM_NS(TStoredGroup)

} // namespace CPortTypes

using CPortTypes::TBaudRate;
using CPortTypes::TComError;
using CPortTypes::TComEvent;
using CPortTypes::TDataBits;
using CPortTypes::TDTRFlowControl;
using CPortTypes::TFlowControl;
using CPortTypes::TLineSignal;
using CPortTypes::TParityBits;
using CPortTypes::TRTSFlowControl;
using CPortTypes::TStopBits;
using CPortTypes::TStoredGroup;
using CPortTypes::TSyncMethod;

// A set over an enumeration: bit n stands for the member of ordinal n.
template <typename E, typename Bits>
class TSet {
public:
    constexpr TSet() = default;
    constexpr TSet(std::initializer_list<E> members)
    {
        for (E m : members)
            FBits |= Bit(m);
    }

    static constexpr TSet FromBits(Bits bits)
    {
        TSet s;
        s.FBits = bits;
        return s;
    }
    constexpr Bits ToBits() const { return FBits; }

    constexpr bool Contains(E m) const { return (FBits & Bit(m)) != 0; }
    constexpr bool Empty() const { return FBits == 0; }
    constexpr TSet& Include(E m)
    {
        FBits |= Bit(m);
        return *this;
    }
    constexpr TSet& Exclude(E m)
    {
        FBits &= static_cast<Bits>(~Bit(m));
        return *this;
    }

    constexpr TSet operator|(TSet o) const { return FromBits(FBits | o.FBits); }
    constexpr TSet operator&(TSet o) const { return FromBits(FBits & o.FBits); }
    constexpr TSet operator-(TSet o) const { return FromBits(FBits & static_cast<Bits>(~o.FBits)); }
    constexpr bool operator==(const TSet&) const = default;

private:
    static constexpr Bits Bit(E m) { return static_cast<Bits>(Bits(1) << static_cast<int>(m)); }

    Bits FBits = 0;
};

using TComEvents = TSet<TComEvent, uint16_t>;
using TComErrors = TSet<TComError, uint8_t>;
using TLineSignals = TSet<TLineSignal, uint8_t>;
using TStoredGroups = TSet<TStoredGroup, uint8_t>;

// Every event a port can watch, the initial value of a port's Events.
inline constexpr TComEvents AllComEvents = TComEvents::FromBits(0x03FF);

// Handlers a port calls; Sender is always the port. A handler is assigned when non-empty.
using TNotifyEvent = std::function<void(QObject* Sender)>;
using TRxCharEvent = std::function<void(QObject* Sender, int Count)>;
using TRxBufEvent = std::function<void(QObject* Sender, const char* Buffer, int Count)>;
using TComErrorEvent = std::function<void(QObject* Sender, TComErrors Errors)>;
using TComSignalEvent = std::function<void(QObject* Sender, bool OnOff)>;

} // namespace zentrop
