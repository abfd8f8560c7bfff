// Storing the port's settings into, and loading them from, an INI file section named after
// the port or a registry key, group by group, under fixed key names.
#include "cport/ComPort.h"

#include "base/IniFile.h"
#include "base/Registry.h"

#include <functional>
#include <variant>

namespace zentrop {

namespace {

// A key of the store: its name and how its value is taken from, and given to, the port.
// Text keys go through the settings' text forms, integer keys are plain numbers.
struct TextKey {
    const char* Name;
    std::function<QString(const TCustomComPort&)> Get;
    std::function<void(TCustomComPort&, const QString&)> Set;
};
struct IntegerKey {
    const char* Name;
    std::function<int(const TCustomComPort&)> Get;
    std::function<void(TCustomComPort&, int)> Set;
};
using Key = std::variant<TextKey, IntegerKey>;

struct Group {
    TStoredGroup Id;
    std::vector<Key> Keys;
};

using P = TCustomComPort;

TextKey BoolKey(const char* Name, std::function<bool(const P&)> Get,
                std::function<void(P&, bool)> Set)
{
    return {Name, [Get](const P& p) { return BoolToYesNo(Get(p)); },
            [Set](P& p, const QString& t) { Set(p, YesNoToBool(t)); }};
}

TextKey CharKey(const char* Name, std::function<char(const P&)> Get,
                std::function<void(P&, char)> Set)
{
    return {Name, [Get](const P& p) { return CharToText(Get(p)); },
            [Set](P& p, const QString& t) { Set(p, TextToChar(t)); }};
}

// "CustomBaudRate" is handled apart: it is stored and loaded only with a custom rate.
const char* const kCustomBaudRate = "CustomBaudRate";

// Every group in the order it is handled, with its keys in the order they are written.
const std::vector<Group>& Groups()
{
    static const std::vector<Group> groups = {
        {TStoredGroup::sgBasic,
         {TextKey{"Port", [](const P& p) { return p.Port(); },
                  [](P& p, const QString& t) { p.SetPort(t); }},
          TextKey{"BaudRate", [](const P& p) { return BaudRateToText(p.BaudRate()); },
                  [](P& p, const QString& t) { p.SetBaudRate(TextToBaudRate(t)); }},
          IntegerKey{kCustomBaudRate, [](const P& p) { return p.CustomBaudRate(); },
                     [](P& p, int v) { p.SetCustomBaudRate(v); }},
          TextKey{"StopBits", [](const P& p) { return StopBitsToText(p.StopBits()); },
                  [](P& p, const QString& t) { p.SetStopBits(TextToStopBits(t)); }},
          TextKey{"DataBits", [](const P& p) { return DataBitsToText(p.DataBits()); },
                  [](P& p, const QString& t) { p.SetDataBits(TextToDataBits(t)); }},
          TextKey{"Parity", [](const P& p) { return ParityToText(p.Parity()->Bits()); },
                  [](P& p, const QString& t) { p.Parity()->SetBits(TextToParity(t)); }},
          TextKey{"FlowControl",
                  [](const P& p) { return FlowControlToText(p.FlowControl()->FlowControl()); },
                  [](P& p, const QString& t) {
                      p.FlowControl()->SetFlowControl(TextToFlowControl(t));
                  }}}},
        {TStoredGroup::sgOthers,
         {CharKey("EventChar", &P::EventChar, &P::SetEventChar),
          BoolKey("DiscardNull", &P::DiscardNull, &P::SetDiscardNull)}},
        {TStoredGroup::sgParity,
         {BoolKey("Parity.Check", [](const P& p) { return p.Parity()->Check(); },
                  [](P& p, bool v) { p.Parity()->SetCheck(v); }),
          BoolKey("Parity.Replace", [](const P& p) { return p.Parity()->Replace(); },
                  [](P& p, bool v) { p.Parity()->SetReplace(v); }),
          CharKey("Parity.ReplaceChar", [](const P& p) { return p.Parity()->ReplaceChar(); },
                  [](P& p, char v) { p.Parity()->SetReplaceChar(v); })}},
        {TStoredGroup::sgBuffer,
         {IntegerKey{"Buffer.OutputSize", [](const P& p) { return p.Buffer()->OutputSize(); },
                     [](P& p, int v) { p.Buffer()->SetOutputSize(v); }},
          IntegerKey{"Buffer.InputSize", [](const P& p) { return p.Buffer()->InputSize(); },
                     [](P& p, int v) { p.Buffer()->SetInputSize(v); }}}},
        {TStoredGroup::sgTimeouts,
         {IntegerKey{"Timeouts.ReadInterval", [](const P& p) { return p.Timeouts()->ReadInterval(); },
                     [](P& p, int v) { p.Timeouts()->SetReadInterval(v); }},
          IntegerKey{"Timeouts.ReadTotalConstant",
                     [](const P& p) { return p.Timeouts()->ReadTotalConstant(); },
                     [](P& p, int v) { p.Timeouts()->SetReadTotalConstant(v); }},
          IntegerKey{"Timeouts.ReadTotalMultiplier",
                     [](const P& p) { return p.Timeouts()->ReadTotalMultiplier(); },
                     [](P& p, int v) { p.Timeouts()->SetReadTotalMultiplier(v); }},
          IntegerKey{"Timeouts.WriteTotalConstant",
                     [](const P& p) { return p.Timeouts()->WriteTotalConstant(); },
                     [](P& p, int v) { p.Timeouts()->SetWriteTotalConstant(v); }},
          IntegerKey{"Timeouts.WriteTotalMultiplier",
                     [](const P& p) { return p.Timeouts()->WriteTotalMultiplier(); },
                     [](P& p, int v) { p.Timeouts()->SetWriteTotalMultiplier(v); }}}},
        {TStoredGroup::sgFlowControl,
         {TextKey{"FlowControl.ControlRTS",
                  [](const P& p) { return RTSControlToText(p.FlowControl()->ControlRTS()); },
                  [](P& p, const QString& t) { p.FlowControl()->SetControlRTS(TextToRTSControl(t)); }},
          TextKey{"FlowControl.ControlDTR",
                  [](const P& p) { return DTRControlToText(p.FlowControl()->ControlDTR()); },
                  [](P& p, const QString& t) { p.FlowControl()->SetControlDTR(TextToDTRControl(t)); }},
          BoolKey("FlowControl.DSRSensitivity", [](const P& p) { return p.FlowControl()->DSRSensitivity(); },
                  [](P& p, bool v) { p.FlowControl()->SetDSRSensitivity(v); }),
          BoolKey("FlowControl.OutCTSFlow", [](const P& p) { return p.FlowControl()->OutCTSFlow(); },
                  [](P& p, bool v) { p.FlowControl()->SetOutCTSFlow(v); }),
          BoolKey("FlowControl.OutDSRFlow", [](const P& p) { return p.FlowControl()->OutDSRFlow(); },
                  [](P& p, bool v) { p.FlowControl()->SetOutDSRFlow(v); }),
          BoolKey("FlowControl.TxContinueOnXoff",
                  [](const P& p) { return p.FlowControl()->TxContinueOnXoff(); },
                  [](P& p, bool v) { p.FlowControl()->SetTxContinueOnXoff(v); }),
          BoolKey("FlowControl.XonXoffIn", [](const P& p) { return p.FlowControl()->XonXoffIn(); },
                  [](P& p, bool v) { p.FlowControl()->SetXonXoffIn(v); }),
          BoolKey("FlowControl.XonXoffOut", [](const P& p) { return p.FlowControl()->XonXoffOut(); },
                  [](P& p, bool v) { p.FlowControl()->SetXonXoffOut(v); }),
          CharKey("FlowControl.XoffChar", [](const P& p) { return p.FlowControl()->XoffChar(); },
                  [](P& p, char v) { p.FlowControl()->SetXoffChar(v); }),
          CharKey("FlowControl.XonChar", [](const P& p) { return p.FlowControl()->XonChar(); },
                  [](P& p, char v) { p.FlowControl()->SetXonChar(v); })}},
    };
    return groups;
}

// The two stores seen alike. A read is given the value that stands in for a missing key.
class Store {
public:
    virtual ~Store() = default;
    virtual void WriteText(const QString& Name, const QString& Value) = 0;
    virtual void WriteInteger(const QString& Name, int Value) = 0;
    virtual QString ReadText(const QString& Name, const QString& Missing) = 0;
    virtual int ReadInteger(const QString& Name, int Missing) = 0;
};

class IniStore : public Store {
public:
    IniStore(TIniFile& Ini, QString Section) : FIni(Ini), FSection(std::move(Section)) {}
    void WriteText(const QString& Name, const QString& Value) override
    {
        FIni.WriteString(FSection, Name, Value);
    }
    void WriteInteger(const QString& Name, int Value) override
    {
        FIni.WriteInteger(FSection, Name, Value);
    }
    QString ReadText(const QString& Name, const QString& Missing) override
    {
        return FIni.ReadString(FSection, Name, Missing);
    }
    int ReadInteger(const QString& Name, int Missing) override
    {
        return FIni.ReadInteger(FSection, Name, Missing);
    }

private:
    TIniFile& FIni;
    QString FSection;
};

// The registry has no fallbacks of its own: a missing text reads as empty, a missing or
// mistyped integer raises.
class RegistryStore : public Store {
public:
    explicit RegistryStore(TRegistry& Reg) : FReg(Reg) {}
    void WriteText(const QString& Name, const QString& Value) override { FReg.WriteString(Name, Value); }
    void WriteInteger(const QString& Name, int Value) override { FReg.WriteInteger(Name, Value); }
    QString ReadText(const QString& Name, const QString&) override { return FReg.ReadString(Name); }
    int ReadInteger(const QString& Name, int) override { return FReg.ReadInteger(Name); }

private:
    TRegistry& FReg;
};

constexpr int kMissingCustomBaudRate = 9600;

void WriteKeys(const TCustomComPort& Port, Store& S)
{
    for (const Group& g : Groups()) {
        if (!Port.StoredGroups().Contains(g.Id))
            continue;
        for (const Key& k : g.Keys) {
            if (const auto* t = std::get_if<TextKey>(&k)) {
                S.WriteText(QString::fromLatin1(t->Name), t->Get(Port));
                continue;
            }
            const auto& i = std::get<IntegerKey>(k);
            if (i.Name == kCustomBaudRate && Port.BaudRate() != TBaudRate::brCustom)
                continue;
            S.WriteInteger(QString::fromLatin1(i.Name), i.Get(Port));
        }
    }
}

// Each value goes through its setter at once, so an open port is reconfigured value by
// value and a new "Port" reopens the device before the next key is read.
void ReadKeys(TCustomComPort& Port, Store& S)
{
    for (const Group& g : Groups()) {
        if (!Port.StoredGroups().Contains(g.Id))
            continue;
        for (const Key& k : g.Keys) {
            if (const auto* t = std::get_if<TextKey>(&k)) {
                t->Set(Port, S.ReadText(QString::fromLatin1(t->Name), t->Get(Port)));
                continue;
            }
            const auto& i = std::get<IntegerKey>(k);
            const bool custom = i.Name == kCustomBaudRate;
            if (custom && Port.BaudRate() != TBaudRate::brCustom)
                continue;
            i.Set(Port, S.ReadInteger(QString::fromLatin1(i.Name),
                                      custom ? kMissingCustomBaudRate : i.Get(Port)));
        }
    }
}

} // namespace

void TCustomComPort::StoreToIniFile(TIniFile& Ini)
{
    IniStore store(Ini, objectName());
    // One replacement of the file holds every key, or the file stays as it was.
    Ini.BeginBatch();
    try {
        WriteKeys(*this, store);
    } catch (...) {
        Ini.CancelBatch();
        throw;
    }
    Ini.EndBatch();
}

void TCustomComPort::LoadFromIniFile(TIniFile& Ini)
{
    IniStore store(Ini, objectName());
    ReadKeys(*this, store);
}

void TCustomComPort::StoreToRegistry(TRegistry& Reg)
{
    RegistryStore store(Reg);
    WriteKeys(*this, store);
}

void TCustomComPort::LoadFromRegistry(TRegistry& Reg)
{
    RegistryStore store(Reg);
    ReadKeys(*this, store);
}

} // namespace zentrop
