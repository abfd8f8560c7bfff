// What the command line's test programs share: running zentrop-cli to its end, a simulated
// device with small pages on its own thread, and a fixture with a folder for input files.
#pragma once

#include "testsupport/BootSim.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace zentrop::clitest {

struct CliRun {
    int status = -1;   // -1: the program did not exit normally
    QString out;
    QString err;
};

// Runs zentrop-cli with Args and no input; ChildSetup runs in the child before it starts.
inline CliRun Cli(const QStringList& Args, const std::function<void()>& ChildSetup = {})
{
    QProcess p;
    if (ChildSetup)
        p.setChildProcessModifier(ChildSetup);
    p.start(QStringLiteral(ZENTROP_CLI), Args);
    p.closeWriteChannel();
    // A hang guard only: a run against the simulator ends in seconds.
    EXPECT_TRUE(p.waitForFinished(60000));
    CliRun r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

// A simulator with 16-byte Flash and 4-byte EEProm pages, on its own thread; Fault in the
// simulator's fault syntax, Banner the application's first output after the jump, Baud 0 for
// an unpaced line.
struct Device {
    explicit Device(const char* Fault = nullptr, const QByteArray& Banner = QByteArray(), int Baud = 0)
    {
        bootsim::SimOptions o;
        o.Device.FlashPageSize = 16;
        o.Device.EEPromPageSize = 4;
        o.Device.AppBanner = Banner;
        o.Baud = Baud;
        if (Fault) {
            QString error;
            o.Device.Faults.push_back(*bootsim::Fault::Parse(QString::fromLatin1(Fault), &error));
        }
        sim = std::make_unique<bootsim::Simulator>(o);
        path = sim->Open();
        sim->Start();
    }
    std::unique_ptr<bootsim::Simulator> sim;
    QString path;
};

// A test with a folder of its own for the files it hands the program.
class FileTest : public testing::Test {
protected:
    QString Write(const QString& Name, const QByteArray& Bytes)
    {
        const QString path = dir.filePath(Name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(Bytes);
        return path;
    }

    QTemporaryDir dir;
};

} // namespace zentrop::clitest
