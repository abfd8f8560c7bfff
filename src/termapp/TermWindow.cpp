// zentrop-term's window: menus, status bar, the port's events, the log, sending a file and
// waiting for a device that went away.
#include "termapp/TermWindow.h"

#include "TermSettings.h"
#include "base/IniFile.h"
#include "cportctl/ComTrmSet.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

#include <cerrno>

namespace zentrop {

namespace {

// How often the window looks whether the device is still there, and how often it tries to
// open one that is not (in ticks of the first).
constexpr int kWatchMs = 200;
constexpr int kRetryTicks = 3;
// A file is sent in pieces of this size, one per turn of the event loop: at 115200 baud a
// piece takes about 22 ms, so the window stays responsive.
constexpr int kSendPiece = 256;
// Larger files are refused rather than read into memory.
constexpr qint64 kMaxSendFile = 64 * 1024 * 1024;
constexpr int kBreakMs = 250;
// A write that the device does not take within this time returns short rather than
// holding the window.
constexpr int kWriteTimeoutMs = 1000;

// The errors that mean the device is not there (unplugged, not yet plugged in, or not yet
// given to the user by the system) rather than wrong.
bool DeviceAbsent(const Exception& e)
{
    const auto* ext = dynamic_cast<const EComPortExt*>(&e);
    if (!ext)
        return false;
    switch (ext->SystemCode()) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
    case EIO:
        return true;
    default:
        return false;
    }
}

QString LineText(const TCustomComPort& p)
{
    static const char kParity[] = {'N', 'O', 'E', 'M', 'S'};
    const int rate = p.BaudRate() == TBaudRate::brCustom ? p.CustomBaudRate() : BaudRateValue(p.BaudRate());
    return QStringLiteral("%1 %2%3%4 %5")
        .arg(rate)
        .arg(DataBitsToText(p.DataBits()))
        .arg(QChar::fromLatin1(kParity[static_cast<int>(p.Parity()->Bits())]))
        .arg(StopBitsToText(p.StopBits()))
        .arg(FlowControlToText(p.FlowControl()->FlowControl()).toLower());
}

} // namespace

void TermControl::WriteStr(const QByteArray& Str)
{
    if (!ComPort())
        return;
    try {
        const int sent = ComPort()->WriteStr(Str);
        if (OnSent)
            OnSent(sent);
    } catch (const Exception& e) {
        if (!OnWriteFailed)
            throw;
        OnWriteFailed(e);
    }
}

TermWindow::TermWindow(const QString& SettingsFile, const StartOptions& Options, QWidget* Parent)
    : QMainWindow(Parent), FIni(std::make_unique<TIniFile>(SettingsFile))
{
    setObjectName(QStringLiteral("wTermApp"));
    setWindowTitle(QStringLiteral("Zentrop Terminal"));

    FPort = new TComPort(this);
    FPort->setObjectName(termsettings::PortSection);
    // Received bytes come through the event thread onto this thread, with the modem lines.
    FPort->SetEvents({TComEvent::evRxChar, TComEvent::evCTS, TComEvent::evDSR, TComEvent::evRing, TComEvent::evRLSD});
    FPort->SetSyncMethod(TSyncMethod::smThreadSync);
    FPort->Timeouts()->SetWriteTotalConstant(kWriteTimeoutMs);
    FPort->OnRxBuf = [this](QObject*, const char* Buffer, int Count) { Received(Buffer, Count); };
    const auto lines = [this](QObject*, bool) { UpdateStatus(); };
    FPort->OnCTSChange = lines;
    FPort->OnDSRChange = lines;
    FPort->OnRLSDChange = lines;
    FPort->OnRing = [this](QObject*) { UpdateStatus(); };
    // The port closes itself when its device hangs up, and says so.
    FPort->OnDeviceLost = [this](QObject*) { DeviceGone(QStringLiteral("hung up")); };
    const bool stored = termsettings::HasStoredPort(*FIni);
    FPort->LoadFromIniFile(*FIni);
    if (!Options.Port.isEmpty())
        FPort->SetPort(Options.Port);
    if (Options.Baud > 0) {
        const TBaudRate rate = BaudRateOf(Options.Baud);
        if (rate == TBaudRate::brCustom)
            FPort->SetCustomBaudRate(Options.Baud);
        FPort->SetBaudRate(rate);
    }

    FTerminal = new TermControl(this);
    FTerminal->setObjectName(QStringLiteral("ComTerminal1"));
    FTerminal->BeginLoading();
    // Programs on a device's console expect a VT102 that wraps at the margin, as the real one does.
    FTerminal->SetEmulation(TTermEmulation::teVT102);
    FTerminal->SetWrapLines(true);
    termsettings::LoadTerminal(*FIni, *FTerminal);
    FTerminal->Loaded();
    FTerminal->SetComPort(FPort);
    FTerminal->OnSent = [this](int Count) { FSent += Count; };
    FTerminal->OnWriteFailed = [this](const Exception& e) { DeviceGone(e.Message()); };
    setCentralWidget(FTerminal);

    BuildMenus();
    BuildStatusBar();
    // The grid fits, unless the screen is smaller: then the scroll bars show the rest.
    FTerminal->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContentsOnFirstShow);
    resize(sizeHint().boundedTo(screen()->availableSize()));

    FWatch = new QTimer(this);
    FWatch->setInterval(kWatchMs);
    connect(FWatch, &QTimer::timeout, this, [this] { WatchConnection(); });
    FWatch->start();
    FSender = new QTimer(this);
    FSender->setInterval(0);
    connect(FSender, &QTimer::timeout, this, [this] { SendNextPiece(); });

    if (stored || !Options.Port.isEmpty())
        Open(false);
    else
        SetMessage(QStringLiteral("No port chosen: Port > Setup chooses one."));
    FTerminal->setFocus();
}

TermWindow::~TermWindow()
{
    FWatch->stop();
    FTerminal->SetComPort(nullptr);
    try {
        FPort->Close();
    } catch (const Exception&) {
    }
}

void TermWindow::BuildMenus()
{
    QMenu* port = menuBar()->addMenu(QStringLiteral("&Port"));
    aConnect = port->addAction(QStringLiteral("&Connect"), this, [this] { ConnectPort(); });
    aDisconnect = port->addAction(QStringLiteral("&Disconnect"), this, [this] { DisconnectPort(); });
    aSetup = port->addAction(QStringLiteral("&Setup..."), this, [this] { PortSetup(); });
    port->addSeparator();
    aBreak = port->addAction(QStringLiteral("Send &Break"), this, [this] { SendBreak(); });
    aDTR = port->addAction(QStringLiteral("D&TR"));
    aDTR->setCheckable(true);
    connect(aDTR, &QAction::triggered, this, [this](bool on) { SetDTR(on); });
    aRTS = port->addAction(QStringLiteral("&RTS"));
    aRTS->setCheckable(true);
    connect(aRTS, &QAction::triggered, this, [this](bool on) { SetRTS(on); });
    aSendFile = port->addAction(QStringLiteral("Send &File..."), this, [this] {
        const QString name = QFileDialog::getOpenFileName(this, QStringLiteral("Send File"));
        if (!name.isEmpty())
            SendFile(name);
    });

    QMenu* term = menuBar()->addMenu(QStringLiteral("&Terminal"));
    term->addAction(QStringLiteral("&Settings..."), this, [this] { TerminalSetup(); });
    term->addAction(QStringLiteral("&Clear"), this, [this] { ClearScreen(); });
    aLocalEcho = term->addAction(QStringLiteral("Local &echo"));
    aLocalEcho->setCheckable(true);
    connect(aLocalEcho, &QAction::triggered, this, [this](bool on) { SetLocalEcho(on); });
    aLog = term->addAction(QStringLiteral("&Log to File..."));
    aLog->setCheckable(true);
    connect(aLog, &QAction::triggered, this, [this](bool on) {
        if (!on) {
            LogTo(QString());
            return;
        }
        const QString name = QFileDialog::getSaveFileName(this, QStringLiteral("Log to File"));
        LogTo(name);
    });

    QAction* exit = menuBar()->addAction(QStringLiteral("E&xit"), this, &QWidget::close);
    exit->setShortcut(QKeySequence::Quit);
}

void TermWindow::BuildStatusBar()
{
    lbPort = new QLabel(this);
    lbLine = new QLabel(this);
    lbState = new QLabel(this);
    lbSignals = new QLabel(this);
    lbCounts = new QLabel(this);
    statusBar()->addWidget(lbPort);
    statusBar()->addWidget(lbLine);
    statusBar()->addWidget(lbState, 1);
    statusBar()->addPermanentWidget(lbSignals);
    statusBar()->addPermanentWidget(lbCounts);
}

QString TermWindow::StatusText() const
{
    return QStringList{lbPort->text(), lbLine->text(), lbState->text(), lbSignals->text(), lbCounts->text()}.join(
        QStringLiteral(" | "));
}

void TermWindow::SetMessage(const QString& Text)
{
    FMessage = Text;
    UpdateStatus();
}

void TermWindow::UpdateStatus()
{
    lbPort->setText(FPort->Port());
    lbLine->setText(LineText(*FPort));
    QString state;
    switch (FConnection) {
    case ConnectionState::Connected:
        state = QStringLiteral("Connected");
        break;
    case ConnectionState::Closed:
        state = QStringLiteral("Disconnected");
        break;
    case ConnectionState::Waiting:
        state = QStringLiteral("Waiting for the device");
        break;
    }
    if (!FMessage.isEmpty())
        state += QStringLiteral(": ") + FMessage;
    if (SendingFile())
        state += QStringLiteral(" (sending a file: %1 of %2 bytes)").arg(FSendDone).arg(FSendData.size());
    lbState->setText(state);
    TLineSignals on;
    if (FConnection == ConnectionState::Connected) {
        try {
            on = FPort->LineSignals();
        } catch (const Exception&) {
            // The watch finds a device that went away; the lines show off until then.
        }
    }
    const auto line = [&on](const char* name, TLineSignal s) {
        return QStringLiteral("%1 %2").arg(QLatin1String(name), on.Contains(s) ? QStringLiteral("on") : QStringLiteral("off"));
    };
    lbSignals->setText(QStringList{line("CTS", TLineSignal::lsCTS), line("DSR", TLineSignal::lsDSR),
                                   line("RING", TLineSignal::lsRing), line("RLSD", TLineSignal::lsRLSD)}
                           .join(QStringLiteral("  ")));
    lbCounts->setText(QStringLiteral("RX %1  TX %2").arg(FReceived).arg(FSent));
    setWindowTitle(QStringLiteral("%1 - Zentrop Terminal").arg(FPort->Port()));
}

void TermWindow::UpdateActions()
{
    const bool connected = FConnection == ConnectionState::Connected;
    aConnect->setEnabled(!connected);
    aDisconnect->setEnabled(FConnection != ConnectionState::Closed);
    aBreak->setEnabled(connected);
    aDTR->setEnabled(connected);
    aRTS->setEnabled(connected);
    aSendFile->setEnabled(connected && !SendingFile());
    aDTR->setChecked(FPort->FlowControl()->ControlDTR() == TDTRFlowControl::dtrEnable);
    aRTS->setChecked(FPort->FlowControl()->ControlRTS() == TRTSFlowControl::rtsEnable);
    aLocalEcho->setChecked(FTerminal->LocalEcho());
    aLog->setChecked(FLog.isOpen());
    UpdateStatus();
}

void TermWindow::Open(bool Retrying)
{
    try {
        FPort->Open();
        FConnection = ConnectionState::Connected;
        FMessage.clear();
    } catch (const Exception& e) {
        // A device that is not there yet is waited for; any other failure is the user's to
        // resolve, except while waiting, when the system may not yet have given the device
        // its permissions.
        if (Retrying || DeviceAbsent(e))
            FConnection = ConnectionState::Waiting;
        else
            FConnection = ConnectionState::Closed;
        FMessage = e.Message();
    }
    FWaitTicks = 0;
    UpdateActions();
}

void TermWindow::DeviceGone(const QString& Why)
{
    StopSending(QString());
    try {
        FPort->Close();
    } catch (const Exception&) {
    }
    FConnection = ConnectionState::Waiting;
    FMessage = QStringLiteral("the device went away (%1); it is opened again when %2 is back").arg(Why, FPort->Port());
    FWaitTicks = 0;
    UpdateActions();
}

void TermWindow::WatchConnection()
{
    // The byte counts and the modem lines are brought up to date here rather than with every
    // received piece, which at full speed would cost more than the terminal itself.
    UpdateStatus();
    switch (FConnection) {
    case ConnectionState::Connected:
        break;
    case ConnectionState::Waiting:
        if (++FWaitTicks >= kRetryTicks)
            Open(true);
        break;
    case ConnectionState::Closed:
        break;
    }
}

void TermWindow::ConnectPort()
{
    Open(false);
}

void TermWindow::DisconnectPort()
{
    StopSending(QString());
    try {
        FPort->Close();
        FMessage.clear();
    } catch (const Exception& e) {
        FMessage = e.Message();
    }
    FConnection = ConnectionState::Closed;
    UpdateActions();
}

void TermWindow::PortSetup()
{
    try {
        FPort->ShowSetupDialog();
    } catch (const Exception& e) {
        SetMessage(e.Message());
        return;
    }
    // Like the main window, the port is connected after the dialog; a port it reopened under
    // a new name is connected already.
    if (FPort->Connected())
        FConnection = ConnectionState::Connected;
    else if (!FPort->Port().isEmpty())
        Open(false);
    SaveSettings();
    UpdateActions();
}

void TermWindow::SendBreak()
{
    try {
        FPort->SetBreak(true);
    } catch (const Exception& e) {
        SetMessage(e.Message());
        return;
    }
    const QPointer<TComPort> port(FPort);
    QTimer::singleShot(kBreakMs, this, [this, port] {
        if (!port || !port->Connected())
            return;
        try {
            port->SetBreak(false);
        } catch (const Exception& e) {
            SetMessage(e.Message());
        }
    });
}

void TermWindow::SetDTR(bool On)
{
    try {
        FPort->SetDTR(On);
    } catch (const Exception& e) {
        FMessage = e.Message();
    }
    UpdateActions();
}

void TermWindow::SetRTS(bool On)
{
    try {
        FPort->SetRTS(On);
    } catch (const Exception& e) {
        FMessage = e.Message();
    }
    UpdateActions();
}

void TermWindow::SendFile(const QString& FileName)
{
    if (FConnection != ConnectionState::Connected || SendingFile())
        return;
    QFile file(FileName);
    if (!QFileInfo(FileName).isFile() || QFileInfo(FileName).size() > kMaxSendFile) {
        SetMessage(QStringLiteral("%1: not a regular file of at most 64 MiB").arg(FileName));
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        SetMessage(QStringLiteral("%1: %2").arg(FileName, file.errorString()));
        return;
    }
    FSendData = file.readAll();
    FSendDone = 0;
    FMessage.clear();
    if (FSendData.isEmpty())
        return;
    FSender->start();
    UpdateActions();
}

void TermWindow::SendNextPiece()
{
    if (FConnection != ConnectionState::Connected || !SendingFile()) {
        StopSending(QString());
        return;
    }
    const int count = static_cast<int>(std::min<qsizetype>(kSendPiece, FSendData.size() - FSendDone));
    try {
        const int sent = FPort->Write(FSendData.constData() + FSendDone, count);
        FSendDone += sent;
        FSent += sent;
    } catch (const Exception& e) {
        DeviceGone(e.Message());
        return;
    }
    if (FSendDone >= FSendData.size())
        StopSending(QStringLiteral("file sent"));
}

void TermWindow::StopSending(const QString& Why)
{
    if (!SendingFile())
        return;
    FSender->stop();
    FSendData.clear();
    FSendDone = 0;
    if (!Why.isEmpty())
        FMessage = Why;
    UpdateActions();
}

void TermWindow::TerminalSetup()
{
    if (ExecuteTerminalSetup(FTerminal))
        SaveSettings();
    UpdateActions();
}

void TermWindow::ClearScreen()
{
    FTerminal->FillScreen('\0');
    FTerminal->MoveCaret(1, 1);
}

void TermWindow::SetLocalEcho(bool On)
{
    FTerminal->SetLocalEcho(On);
    UpdateActions();
}

void TermWindow::LogTo(const QString& FileName)
{
    FLog.close();
    FMessage.clear();
    if (!FileName.isEmpty()) {
        FLog.setFileName(FileName);
        if (!FLog.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
            FMessage = QStringLiteral("%1: %2").arg(FileName, FLog.errorString());
    }
    UpdateActions();
}

void TermWindow::Received(const char* Buffer, int Count)
{
    FReceived += Count;
    if (FLog.isOpen() && FLog.write(Buffer, Count) != Count) {
        FMessage = QStringLiteral("the log stopped: %1").arg(FLog.errorString());
        FLog.close();
        UpdateActions();
    }
}

void TermWindow::SaveSettings()
{
    try {
        FIni->BeginBatch();
        try {
            FPort->StoreToIniFile(*FIni);
            termsettings::StoreTerminal(*FIni, *FTerminal);
        } catch (...) {
            FIni->CancelBatch();
            throw;
        }
        FIni->EndBatch();
    } catch (const Exception& e) {
        SetMessage(e.Message());
    }
}

void TermWindow::closeEvent(QCloseEvent* Event)
{
    SaveSettings();
    QMainWindow::closeEvent(Event);
}

} // namespace zentrop
