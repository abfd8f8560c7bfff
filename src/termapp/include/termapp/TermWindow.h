// zentrop-term's window: a terminal control bound to a port of its own, menus for the port
// and the terminal, a status bar with the line and its modem signals, a log of what was
// received, sending a file, and coming back by itself when a device that went away returns.
// What the window sends is queued and written by a thread of its own, so it never waits
// for the device.
#pragma once

#include "cport/ComPort.h"
#include "cportctl/ComTerminal.h"

#include <QFile>
#include <QMainWindow>
#include <QPointer>

#include <memory>

class QAction;
class QLabel;
class QProgressBar;
class QTimer;

namespace zentrop {

class PortWriter;
class TIniFile;

// The terminal control of the window: what it sends (keys, paste, replies to the device's
// queries) goes to the window's write queue instead of waiting for the port.
class TermControl : public TComTerminal {
    Q_OBJECT

public:
    using TComTerminal::TComTerminal;

    void WriteStr(const QByteArray& Str) override;

    // Takes the bytes for the port.
    std::function<void(const QByteArray&)> OnWrite;

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
    // Bytes the device has taken.
    qint64 SentBytes() const;
    // Bytes queued for the device and not yet taken.
    qsizetype PendingBytes() const;
    // The device has not taken queued bytes for a while.
    bool DeviceStalled() const;
    // The status bar's texts, for the user and for tests.
    QString StatusText() const;

    // The menu commands.
    void ConnectPort();
    void DisconnectPort();
    void PortSetup();
    void SendBreak();
    void SetDTR(bool On);
    void SetRTS(bool On);
    // Queues the file's bytes piece by piece as the device takes them; the status bar shows
    // how far it got.
    void SendFile(const QString& FileName);
    bool SendingFile() const { return !FSendData.isEmpty(); }
    // Bytes of the file the device has taken.
    qint64 FileBytesSent() const;
    // Stops sending the file; what is already queued still goes out.
    void CancelSendFile();
    void TerminalSetup();
    void ClearScreen();
    void SetLocalEcho(bool On);
    // Writes every byte received from now on to the file, replacing it; an empty name stops.
    void LogTo(const QString& FileName);
    QString LogFile() const { return FLog.isOpen() ? FLog.fileName() : QString(); }

    // Writes the port's and the terminal's settings to the settings file.
    void SaveSettings();

    // Asked before the window closes while a port is open; true lets it close. By default
    // a question box; tests replace it.
    std::function<bool()> ConfirmExit;
    // Closes the window without asking: a signal to end the program may come when nobody is
    // there to answer (a logout, a shutdown).
    void CloseWithoutAsking();
    // The key that opens the menus (the terminal passes every other key to the device).
    QKeySequence MenuKey() const;
    void SetMenuKey(const QKeySequence& Key);

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
    void TopUpFile();
    void StopSending(const QString& Why);
    // Queues bytes for the device; a refusal is told in the status bar.
    void Write(const QByteArray& Bytes);
    void StartWriter();
    bool HasPort() const { return !FPort->Port().isEmpty(); }
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
    QFile FLog;
    PortWriter* FWriter = nullptr;
    QByteArray FSendData;
    qsizetype FSendQueued = 0;     // bytes of the file handed to the queue
    qint64 FSendStart = 0;         // the writer's count when the file began
    qint64 FSendOthers = 0;        // bytes of other writes queued while the file went
    QTimer* FWatch = nullptr;
    int FWaitTicks = 0;
    bool FCloseWithoutAsking = false;
    QAction* aMenuKey = nullptr;
    QString FFind;

    QAction* aConnect = nullptr;
    QAction* aDisconnect = nullptr;
    QAction* aSetup = nullptr;
    QAction* aBreak = nullptr;
    QAction* aDTR = nullptr;
    QAction* aRTS = nullptr;
    QAction* aSendFile = nullptr;
    QAction* aCancelSend = nullptr;
    QAction* aLocalEcho = nullptr;
    QAction* aLog = nullptr;
    QLabel* lbPort = nullptr;
    QLabel* lbLine = nullptr;
    QLabel* lbState = nullptr;
    QLabel* lbSignals = nullptr;
    QLabel* lbCounts = nullptr;
    QLabel* lbSize = nullptr;
    QList<QLabel*> FLineLabels;
    QProgressBar* pbSend = nullptr;
};

} // namespace zentrop
