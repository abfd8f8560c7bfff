// A port driving the recording device, with a log shared by the device, the port's
// handlers and a link, so that tests can check the order of everything.
#pragma once

#include "RecordingComDevice.h"
#include "cport/ComPort.h"

#include <gtest/gtest.h>

class PortFixture : public ::testing::Test {
protected:
    PortFixture()
    {
        auto device = std::make_unique<RecordingComDevice>();
        dev = device.get();
        port.SetDevice(std::move(device));
        port.SetPort(QStringLiteral("COM6"));
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

    TComPort port;
    RecordingComDevice* dev = nullptr;
    TComLink link;
};
