// zentrop-term's window: menus, status bar, the port's events, the log, sending a file and
// waiting for a device that went away.
#include "termapp/TermWindow.h"

#include "PortWriter.h"
#include "TermSettings.h"
#include "termapp/TermSetupDialog.h"
#include "base/IniFile.h"
#include "cportctl/ComTrmSet.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QInputDialog>
#include <QLineEdit>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QProgressBar>
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
// A file goes to the write queue in pieces, as the device takes them, so that cancelling
// stops it soon and typed keys do not wait behind the whole file.
constexpr qsizetype kFileWindow = 4096;
// Larger files are refused rather than read into memory.
constexpr qint64 kMaxSendFile = 64 * 1024 * 1024;
constexpr int kBreakMs = 250;

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
    if (OnWrite)
        OnWrite(Str);
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
    else if (!stored)
        FPort->SetPort(QString());   // not the engine's default, which may be the console
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
    // F10 stays the device's (full-screen programs quit with it); Shift+F10 opens the menus.
    FTerminal->SetMenuKey(QKeySequence(Qt::SHIFT | Qt::Key_F10));
    termsettings::LoadTerminal(*FIni, *FTerminal);
    FTerminal->Loaded();
    FTerminal->SetComPort(FPort);
    FTerminal->SetKeysToDevice(true);
    FTerminal->SetMouseSelection(true);
    FTerminal->SetGridFollowsWindow(true);
    FTerminal->SetWantTab(true);
    FTerminal->OnWrite = [this](const QByteArray& Bytes) { Write(Bytes); };
    setCentralWidget(FTerminal);

    FWriter = new PortWriter(FPort, this);
    connect(FWriter, &PortWriter::Progress, this, [this] { TopUpFile(); });
    connect(FWriter, &PortWriter::Failed, this, [this](const QString& Why) {
        if (FConnection == ConnectionState::Connected)
            DeviceGone(Why);
    });

    BuildMenus();
    BuildStatusBar();
    // The grid fits, unless the screen is smaller: then the scroll bars show the rest. The
    // status bar's fields are not cut either.
    FTerminal->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContentsOnFirstShow);
    UpdateActions();
    QSize size = sizeHint();
    // The message field does not count in the bar's hint (a long message is cut, not widening
    // the window), so it is added.
    // The bar lays its fields out only when shown, so they are summed here: each with its
    // frame and spacing, and the size grip.
    int fields = 24;
    for (QWidget* field : statusBar()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!field->isHidden() && field != lbSignals)
            fields += field->sizeHint().width() + 12;
    size.setWidth(std::max(size.width(), fields));
    resize(size.boundedTo(screen()->availableSize()));

    FWatch = new QTimer(this);
    FWatch->setInterval(kWatchMs);
    connect(FWatch, &QTimer::timeout, this, [this] { WatchConnection(); });
    FWatch->start();

    if (HasPort())
        Open(false);
    else
        SetMessage(QStringLiteral("No port chosen: Port > Setup"));
    FTerminal->setFocus();
}

TermWindow::~TermWindow()
{
    FWatch->stop();
    FWriter->Stop(true);
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
    aCancelSend = port->addAction(QStringLiteral("&Cancel Sending"), this, [this] { CancelSendFile(); });
    port->addSeparator();
    // No shortcut: Ctrl+Q is XON and belongs to the device. Closing asks first while connected.
    port->addAction(QStringLiteral("E&xit"), this, &QWidget::close);

    QMenu* term = menuBar()->addMenu(QStringLiteral("&Terminal"));
    term->addAction(QStringLiteral("&Settings..."), this, [this] { TerminalSetup(); });
    term->addAction(QStringLiteral("&Clear"), this, [this] { ClearScreen(); });
    term->addAction(QStringLiteral("Clear Scroll&back"), this, [this] { FTerminal->Buffer().ClearHistory(); FTerminal->ScrollBack(0); FTerminal->UpdateScrollRange(); });
    term->addAction(QStringLiteral("&Find in Scrollback..."), this, [this] {
        bool ok = false;
        const QString text = QInputDialog::getText(this, QStringLiteral("Find"), QStringLiteral("Find (upward):"),
                                                   QLineEdit::Normal, FFind, &ok);
        if (!ok || text.isEmpty())
            return;
        FFind = text;
        SetMessage(FTerminal->FindText(text) ? QString() : QStringLiteral("\"%1\" not found").arg(text));
    });
    term->addSeparator();
    // The keys are the terminal's own (Ctrl+Shift+C, Ctrl+Shift+V): these are for the mouse.
    term->addAction(QStringLiteral("C&opy"), this, [this] { FTerminal->CopySelection(); });
    term->addAction(QStringLiteral("&Paste"), this, [this] { FTerminal->PasteText(QApplication::clipboard()->text()); });
    term->addSeparator();
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

    // The menus open with the menu key; the terminal leaves every other key to the device.
    aMenuKey = new QAction(this);
    aMenuKey->setShortcutContext(Qt::WindowShortcut);
    connect(aMenuKey, &QAction::triggered, this, [this] {
        const QList<QAction*> menus = menuBar()->actions();
        if (!menus.isEmpty()) {
            menuBar()->setFocus(Qt::ShortcutFocusReason);
            menuBar()->setActiveAction(menus.first());
        }
    });
    addAction(aMenuKey);
    SetMenuKey(FTerminal->MenuKey());
}

QKeySequence TermWindow::MenuKey() const
{
    return FTerminal->MenuKey();
}

void TermWindow::SetMenuKey(const QKeySequence& Key)
{
    FTerminal->SetMenuKey(Key);
    aMenuKey->setShortcut(Key);
}

void TermWindow::BuildStatusBar()
{
    lbPort = new QLabel(this);
    lbLine = new QLabel(this);
    lbState = new QLabel(this);
    // One field per line, greyed while the line is off.
    lbSignals = new QLabel(this);
    lbSignals->hide();
    auto* lines = new QWidget(this);
    auto* layout = new QHBoxLayout(lines);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    for (const char* name : {"DTR", "RTS", "CTS", "DSR", "RING", "RLSD"}) {
        auto* l = new QLabel(QLatin1String(name), lines);
        layout->addWidget(l);
        FLineLabels << l;
    }
    lbCounts = new QLabel(this);
    lbSize = new QLabel(this);
    pbSend = new QProgressBar(this);
    pbSend->setMaximumWidth(120);
    pbSend->setTextVisible(true);
    pbSend->hide();
    // A long message is cut rather than widening the window; the whole of it is its tip.
    lbState->setMinimumWidth(80);
    lbState->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    statusBar()->addWidget(lbPort);
    statusBar()->addWidget(lbLine);
    statusBar()->addWidget(lbState, 1);
    statusBar()->addPermanentWidget(pbSend);
    statusBar()->addPermanentWidget(lines);
    statusBar()->addPermanentWidget(lbSize);
    statusBar()->addPermanentWidget(lbCounts);
}

QString TermWindow::StatusText() const
{
    return QStringList{lbPort->text(), lbLine->text(), lbState->toolTip(), lbSignals->toolTip(), lbSize->text(),
                       lbCounts->text()}
        .join(QStringLiteral(" | "));
}

void TermWindow::SetMessage(const QString& Text)
{
    FMessage = Text;
    UpdateStatus();
}

qint64 TermWindow::SentBytes() const
{
    return FWriter->Written();
}

qsizetype TermWindow::PendingBytes() const
{
    return FWriter->Pending();
}

bool TermWindow::DeviceStalled() const
{
    return FConnection == ConnectionState::Connected && FWriter->Stalled();
}

void TermWindow::UpdateStatus()
{
    lbPort->setText(HasPort() ? FPort->Port() : QStringLiteral("no port"));
    lbLine->setText(HasPort() ? LineText(*FPort) : QString());
    QString state;
    switch (FConnection) {
    case ConnectionState::Connected:
        state = QStringLiteral("Connected");
        break;
    case ConnectionState::Closed:
        state = HasPort() ? QStringLiteral("Disconnected") : QString();
        break;
    case ConnectionState::Waiting:
        state = QStringLiteral("Waiting for the device");
        break;
    }
    if (DeviceStalled())
        state += QStringLiteral(": device not taking data (%1 bytes waiting)").arg(FWriter->Pending());
    else if (!FMessage.isEmpty())
        state += (state.isEmpty() ? QString() : QStringLiteral(": ")) + FMessage;
    if (SendingFile()) {
        state += QStringLiteral(" (sending a file: %1 of %2 bytes)").arg(FileBytesSent()).arg(FSendData.size());
        pbSend->setRange(0, 1000);
        pbSend->setValue(static_cast<int>(FileBytesSent() * 1000 / std::max<qsizetype>(1, FSendData.size())));
        pbSend->setFormat(QStringLiteral("%1%").arg(FileBytesSent() * 100 / std::max<qsizetype>(1, FSendData.size())));
    }
    pbSend->setVisible(SendingFile());
    lbState->setText(state);
    lbState->setToolTip(state);
    TLineSignals on;
    const bool connected = FConnection == ConnectionState::Connected;
    if (connected) {
        try {
            on = FPort->LineSignals();
        } catch (const Exception&) {
            // The watch finds a device that went away; the lines show off until then.
        }
    }
    // Lines that are on are shown, those that are off greyed; the tip says it in words.
    QStringList plain;
    const auto line = [&](const char* name, bool state) {
        const QString n = QLatin1String(name);
        QLabel* label = FLineLabels.value(plain.size());
        plain << QStringLiteral("%1 %2").arg(n, state ? QStringLiteral("on") : QStringLiteral("off"));
        if (label) {
            label->setEnabled(state);
            label->setToolTip(plain.last());
        }
    };
    line("DTR", connected && FPort->FlowControl()->ControlDTR() == TDTRFlowControl::dtrEnable);
    line("RTS", connected && FPort->FlowControl()->ControlRTS() == TRTSFlowControl::rtsEnable);
    line("CTS", on.Contains(TLineSignal::lsCTS));
    line("DSR", on.Contains(TLineSignal::lsDSR));
    line("RING", on.Contains(TLineSignal::lsRing));
    line("RLSD", on.Contains(TLineSignal::lsRLSD));
    lbSignals->setToolTip(plain.join(QStringLiteral("  ")));
    lbSize->setText(QStringLiteral("%1x%2").arg(FTerminal->Columns()).arg(FTerminal->Rows()));
    lbCounts->setText(QStringLiteral("RX %1  TX %2").arg(FReceived).arg(SentBytes()));
    setWindowTitle(HasPort() ? QStringLiteral("%1 - Zentrop Terminal").arg(FPort->Port()) : QStringLiteral("Zentrop Terminal"));
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
    aCancelSend->setEnabled(SendingFile());
    aDTR->setChecked(connected && FPort->FlowControl()->ControlDTR() == TDTRFlowControl::dtrEnable);
    aRTS->setChecked(connected && FPort->FlowControl()->ControlRTS() == TRTSFlowControl::rtsEnable);
    aLocalEcho->setChecked(FTerminal->LocalEcho());
    aLog->setChecked(FLog.isOpen());
    UpdateStatus();
}

void TermWindow::StartWriter()
{
    try {
        FWriter->Start();
    } catch (const Exception& e) {
        FMessage = e.Message();
    }
}

void TermWindow::Write(const QByteArray& Bytes)
{
    if (FConnection != ConnectionState::Connected || !FWriter->Running())
        return;
    if (!FWriter->Enqueue(Bytes)) {
        SetMessage(QStringLiteral("%1 bytes not sent: %2 bytes already wait for the device")
                       .arg(Bytes.size())
                       .arg(FWriter->Pending()));
        return;
    }
    if (SendingFile())
        FSendOthers += Bytes.size();
}

void TermWindow::Open(bool Retrying)
{
    if (!HasPort()) {
        FConnection = ConnectionState::Closed;
        UpdateActions();
        return;
    }
    try {
        FPort->Open();
        FConnection = ConnectionState::Connected;
        FMessage.clear();
        StartWriter();
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
    // What waited for the device is dropped with it: nothing reaches the next device.
    FWriter->Stop(true);
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
    if (!HasPort()) {
        PortSetup();
        return;
    }
    Open(false);
}

void TermWindow::DisconnectPort()
{
    StopSending(QString());
    FWriter->Stop(true);
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
    // The writer stays out of the port while the dialog may reconfigure or reopen it; what
    // waits is written afterwards, to the same device only.
    const QString device = FPort->Port();
    FWriter->Stop(false);
    try {
        FPort->ShowSetupDialog();
    } catch (const Exception& e) {
        SetMessage(e.Message());
    }
    if (FPort->Port() != device) {
        StopSending(QStringLiteral("sending the file stopped: the port changed"));
        FWriter->Stop(true);
    }
    // Like the main window, the port is connected after the dialog; a port it reopened under
    // a new name is connected already.
    if (FPort->Connected()) {
        FConnection = ConnectionState::Connected;
        StartWriter();
    } else if (HasPort()) {
        Open(false);
    }
    if (HasPort())
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
    SetMessage(QStringLiteral("sending a break (%1 ms)").arg(kBreakMs));
    const QPointer<TComPort> port(FPort);
    QTimer::singleShot(kBreakMs, this, [this, port] {
        if (!port || !port->Connected())
            return;
        try {
            port->SetBreak(false);
            SetMessage(QStringLiteral("break sent (%1 ms)").arg(kBreakMs));
        } catch (const Exception& e) {
            SetMessage(e.Message());
        }
    });
}

void TermWindow::SetDTR(bool On)
{
    try {
        FPort->SetDTR(On);
        FMessage = On ? QStringLiteral("DTR set on") : QStringLiteral("DTR set off");
    } catch (const Exception& e) {
        FMessage = e.Message();
    }
    UpdateActions();
}

void TermWindow::SetRTS(bool On)
{
    try {
        FPort->SetRTS(On);
        FMessage = On ? QStringLiteral("RTS set on") : QStringLiteral("RTS set off");
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
    FSendQueued = 0;
    FSendStart = FWriter->Written() + FWriter->Pending();
    FSendOthers = 0;
    FMessage.clear();
    if (FSendData.isEmpty())
        return;
    TopUpFile();
    UpdateActions();
}

qint64 TermWindow::FileBytesSent() const
{
    if (!SendingFile())
        return 0;
    // Bytes written since the file began, less those that were not the file's.
    const qint64 sent = FWriter->Written() - FSendStart - FSendOthers;
    return std::clamp<qint64>(sent, 0, FSendQueued);
}

void TermWindow::TopUpFile()
{
    if (!SendingFile())
        return;
    if (FileBytesSent() >= FSendData.size()) {
        StopSending(QStringLiteral("file sent"));
        return;
    }
    // Keep a window of the file in the queue, no more.
    const qint64 queuedNotSent = FSendQueued - FileBytesSent();
    if (queuedNotSent < kFileWindow / 2 && FSendQueued < FSendData.size()) {
        const qsizetype count = std::min<qsizetype>(kFileWindow, FSendData.size() - FSendQueued);
        if (FWriter->Enqueue(FSendData.mid(FSendQueued, count), true))
            FSendQueued += count;
    }
    UpdateStatus();
}

void TermWindow::CancelSendFile()
{
    StopSending(QStringLiteral("sending the file cancelled"));
}

void TermWindow::StopSending(const QString& Why)
{
    if (!SendingFile())
        return;
    // A send that ended sends nothing more, now or to a device that comes back.
    FWriter->DropFile();
    FSendData.clear();
    FSendQueued = 0;
    if (!Why.isEmpty())
        FMessage = Why;
    UpdateActions();
}

void TermWindow::TerminalSetup()
{
    if (ExecuteTermSetup(FTerminal)) {
        SetMenuKey(FTerminal->MenuKey());
        SaveSettings();
    }
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

void TermWindow::CloseWithoutAsking()
{
    FCloseWithoutAsking = true;
    // Nobody is there to answer an open dialog or question: it is closed as cancelled, so
    // that its own event loop ends and the program with it.
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget != this && widget->isModal() && widget->isVisible())
            widget->close();
    close();
}

void TermWindow::closeEvent(QCloseEvent* Event)
{
    if (FConnection == ConnectionState::Connected && !FCloseWithoutAsking) {
        const bool leave = ConfirmExit ? ConfirmExit()
                                       : QMessageBox::question(this, QStringLiteral("Exit"),
                                                               QStringLiteral("%1 is connected. Disconnect and exit?")
                                                                   .arg(FPort->Port()))
                                             == QMessageBox::Yes;
        if (!leave) {
            Event->ignore();
            return;
        }
    }
    SaveSettings();
    QMainWindow::closeEvent(Event);
}

} // namespace zentrop
