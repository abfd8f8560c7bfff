// A port driving the recording device, with a log shared by the device, the port's
// handlers and a link, so that tests can check the order of everything.
#pragma once

#include "testsupport/RecordingComDevice.h"
#include "cport/ComPort.h"

#include <QStringList>

#include <initializer_list>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

using namespace zentrop;

// The expected log lines of a test, as a list to compare with.
inline QStringList Strings(std::initializer_list<const char*> items)
{
    QStringList out;
    for (const char* s : items)
        out.append(QString::fromLatin1(s));
    return out;
}

class PortFixture : public ::testing::Test {
protected:
    PortFixture()
    {
        auto device = std::make_unique<RecordingComDevice>();
        dev = device.get();
        port.SetDevice(std::move(device));
        port.SetPort(QStringLiteral("COM6"));
        // Event delivery is tested on its own; elsewhere it would only add to the log.
        port.SetEvents({});
    }

    // Handlers and link slots that note themselves in the device's log.
    void LogCallbacks()
    {
        auto note = [this](const char* name) {
            return [this, name](QObject*) { dev->Note(QString::fromLatin1(name)); };
        };
        auto noteOnOff = [this](const char* name) {
            return [this, name](QObject*, bool on) {
                dev->Note(QString::fromLatin1(name) + (on ? " on" : " off"));
            };
        };
        port.OnBeforeOpen = note("BeforeOpen");
        port.OnAfterOpen = note("AfterOpen");
        port.OnBeforeClose = note("BeforeClose");
        port.OnAfterClose = note("AfterClose");
        port.OnCTSChange = noteOnOff("CTSChange");
        port.OnDSRChange = noteOnOff("DSRChange");
        port.OnRLSDChange = noteOnOff("RLSDChange");
        link.OnConnectionChange = noteOnOff("link Connection");
        link.OnCTSSignal = noteOnOff("link CTS");
        link.OnDSRSignal = noteOnOff("link DSR");
        link.OnRLSDSignal = noteOnOff("link RLSD");
        port.AttachLink(&link);
    }

    // A link that notes in seen what it is told of transfers.
    TComLink* NotingLink()
    {
        auto* l = links.emplace_back(std::make_unique<TComLink>()).get();
        l->OnTxBusy = [this](QObject*, bool on) { seen.append(on ? "TxBusy on" : "TxBusy off"); };
        l->OnRxBusy = [this](QObject*, bool on) { seen.append(on ? "RxBusy on" : "RxBusy off"); };
        l->OnTxData = [this](QObject*, const char* b, int n) {
            seen.append("TxData " + QString::fromLatin1(b, n));
        };
        port.AttachLink(l);
        return l;
    }

    // Everything the port may call back into is declared before the port, so that it
    // outlives the port: a port still open when the test ends is closed by its destructor,
    // which tells every attached link. Fixtures derived from this one add no such members,
    // since theirs would be gone before the port.
    QStringList seen;
    std::vector<std::unique_ptr<TComLink>> links;
    TComLink link;
    TComPort port;
    RecordingComDevice* dev = nullptr;
};
