// zentrop-term's window: a terminal control bound to a port of its own, menus for the port
// and the terminal, a status bar with the line and its modem signals, a log of what was
// received, sending a file, and coming back by itself when a device that went away returns.
#pragma once

#include "cport/ComPort.h"
#include "cportctl/ComTerminal.h"

#include <QFile>
#include <QMainWindow>
#include <QPointer>

#include <memory>

class QAction;
class QLabel;
class QTimer;

namespace zentrop {

class TIniFile;

// The terminal control of the window: port failures while sending are reported instead of
// reaching the application's error box, and what reached the port is counted.
class TermControl : public TComTerminal {
    Q_OBJECT

public:
    using TComTerminal::TComTerminal;

    void WriteStr(const QByteArray& Str) override;

    // Called with the failure when a write to the port fails.
    std::function<void(const Exception&)> OnWriteFailed;
    // Called with the number of bytes the port took.
    std::function<void(int)> OnSent;

protected:
    // Nothing here looks at single printed bytes.
    bool TextInRuns() const override { return true; }
    // The whole grid, so that the window opens large enough to show it.
    QSize viewportSizeHint() const override { return {FontWidth() * Columns(), FontHeight() * Rows()}; }
};

class TermWindow : public QMainWindow {
    Q_OBJECT

public:
    // What the command line asks for; an empty port and a zero rate keep the stored ones.
    struct StartOptions {
        QString Port;
        int Baud = 0;
    };

    enum class ConnectionState {
        Closed,      // not connected: no port chosen, the user disconnected, or it failed to open
        Connected,
        Waiting,     // the device went away or is not there yet: opened again once it is
    };

    // Reads the settings file, applies the options and opens the port named in either.
    TermWindow(const QString& SettingsFile, const StartOptions& Options, QWidget* Parent = nullptr);
    ~TermWindow() override;

    TComPort* Port() const { return FPort; }
    TermControl* Terminal() const { return FTerminal; }
    ConnectionState Connection() const { return FConnection; }
    qint64 ReceivedBytes() const { return FReceived; }
    qint64 SentBytes() const { return FSent; }
    // The status bar's texts, for the user and for tests.
    QString StatusText() const;

    // The menu commands.
    void ConnectPort();
    void DisconnectPort();
    void PortSetup();
    void SendBreak();
    void SetDTR(bool On);
    void SetRTS(bool On);
    // Sends the file's bytes in pieces, so the window keeps working while they go out.
    void SendFile(const QString& FileName);
    bool SendingFile() const { return !FSendData.isEmpty(); }
    void TerminalSetup();
    void ClearScreen();
    void SetLocalEcho(bool On);
    // Writes every byte received from now on to the file, replacing it; an empty name stops.
    void LogTo(const QString& FileName);
    QString LogFile() const { return FLog.isOpen() ? FLog.fileName() : QString(); }

    // Writes the port's and the terminal's settings to the settings file.
    void SaveSettings();

protected:
    void closeEvent(QCloseEvent* Event) override;

private:
    void BuildMenus();
    void BuildStatusBar();
    // Opens the port; a device that is not there puts the window into waiting for it.
    void Open(bool Retrying);
    // The device has gone: the port is closed, so nothing typed meanwhile goes anywhere.
    void DeviceGone(const QString& Why);
    void WatchConnection();
    void SendNextPiece();
    void StopSending(const QString& Why);
    void Received(const char* Buffer, int Count);
    void UpdateActions();
    void UpdateStatus();
    void SetMessage(const QString& Text);

    std::unique_ptr<TIniFile> FIni;
    TComPort* FPort = nullptr;
    TermControl* FTerminal = nullptr;
    ConnectionState FConnection = ConnectionState::Closed;
    QString FMessage;
    qint64 FReceived = 0;
    qint64 FSent = 0;
    QFile FLog;
    QByteArray FSendData;
    qsizetype FSendDone = 0;
    QTimer* FWatch = nullptr;
    QTimer* FSender = nullptr;
    int FWaitTicks = 0;

    QAction* aConnect = nullptr;
    QAction* aDisconnect = nullptr;
    QAction* aSetup = nullptr;
    QAction* aBreak = nullptr;
    QAction* aDTR = nullptr;
    QAction* aRTS = nullptr;
    QAction* aSendFile = nullptr;
    QAction* aLocalEcho = nullptr;
    QAction* aLog = nullptr;
    QLabel* lbPort = nullptr;
    QLabel* lbLine = nullptr;
    QLabel* lbState = nullptr;
    QLabel* lbSignals = nullptr;
    QLabel* lbCounts = nullptr;
};

} // namespace zentrop
