// The main window's components, its start-up and closing, and its commands, the upgrade run
// among them.
#include "gui/MainWindow.h"

#include "upgrade/BootComPort.h"
#include "upgrade/Bootloader.h"
#include "ProgramEntry.h"
#include "base/SettingsFile.h"
#include "gui/Terminal.h"
#include "base/Ansi.h"
#include "base/Format.h"
#include "base/IniFile.h"
#include "base/Strings.h"
#include "cport/ComPort.h"
#include "cportctl/ComTerminal.h"
#include "forms/Actions.h"
#include "forms/Application.h"
#include "forms/Buttons.h"
#include "forms/ComboBox.h"
#include "forms/Controls.h"
#include "forms/Dialogs.h"
#include "forms/Font.h"
#include "forms/Menus.h"
#include "forms/MessageBox.h"
#include "forms/RadioGroup.h"
#include "lcforms/FormTranslation.h"
#include "lc/LcUnit.h"

#include <QApplication>
#include <QCloseEvent>
#include <QPointer>
#include <QCoreApplication>
#include <QFileInfo>

#include <utility>
#include <vector>

namespace zentrop {

namespace {

const QString kUpgradeFilter = QStringLiteral("Upgrade (*.upg)|*.upg|All files (*.*)|*.*");

// Kept as the 8-bit text it is stored as; each 0xE1 byte is an "á".
const QByteArray kPortOpenError = QByteArrayLiteral("Hiba a %s port megnyit\xE1s\xE1n\xE1l!");

template <typename T>
T* Placed(T* control, int left, int top, int width, int height)
{
    control->setGeometry(left, top, width, height);
    return control;
}

// The status line of a page of each memory; the address shows in upper-case hexadecimal,
// right-aligned with blanks in four places ("0x 1A0").
QString PageStatus(Memory memory, int32_t address)
{
    return Format(memory == Memory::Flash ? QStringLiteral("Write Flash Page at 0x%04x")
                                          : QStringLiteral("Write EEProm Page at 0x%04x"),
                  {address});
}

// The window as the upgrade run sees it: the status line and the progress bar follow the
// run's events, a failure is shown in a message box, and the window's messages are processed
// as the run paces them, so that it stays responsive.
class WindowObserver : public UpgradeObserver {
public:
    explicit WindowObserver(TwMain& window) : FWindow(window) {}

    void RunStarted(const RunPlan&) override
    {
        SetStatus(QString());
        if (FPacer.DueBeforeAnswer())
            QCoreApplication::processEvents();
    }
    void MemoryStarted(Memory memory, int pages) override
    {
        FWindow.pbar->SetMax(pages);
        FWindow.pbar->SetPosition(0);
        SetStatus(memory == Memory::Flash ? QStringLiteral("Send Flash mode") : QStringLiteral("Send EEProm mode"));
    }
    void PageStarted(const PageProgress& page) override
    {
        SetStatus(PageStatus(page.Where, page.Address));
        FWindow.pbar->StepIt();
    }
    void ApplicationStarting() override
    {
        // The jump is never answered: no wait for an answer would show the line.
        SetStatus(QStringLiteral("Jump to Application!"));
        if (FPacer.DueBeforeAnswer())
            QCoreApplication::processEvents();
    }
    void RunEnded(const RunEnd& end) override
    {
        // A port error is not the run's to report: it reaches the application's error report.
        if (end.Result == UpgradeResult::CommunicationError)
            zentrop::ShowMessage(end.Message);
    }
    void ByteSent() override
    {
        if (FPacer.DueWhileSending())
            QCoreApplication::processEvents();
    }
    void AnswerAwaited() override
    {
        if (FPacer.DueBeforeAnswer())
            QCoreApplication::processEvents();
    }

private:
    void SetStatus(const QString& text)
    {
        FWindow.SetStatus(text);
        FPacer.StatusChanged();
    }

    TwMain& FWindow;
    EventPacer FPacer;
};

// While a run lasts, the commands that could free its pages, close or reconfigure its port,
// change its mode or start a second run are off; afterwards each gets back the state it had,
// however the run ended, and the keyboard focus goes back where it was.
class RunLock {
public:
    RunLock(TwMain& window, bool& running)
        : FRunning(running), FWindow(&window), FModeGroup(window.rgUpgradeMode), FFocus(QApplication::focusWidget())
    {
        // The window holds the focus meanwhile: a disabled button would hand it on to the
        // next control, the file box, with its text selected for the next stray key.
        if (FFocus && FFocus->window() == FWindow)
            FWindow->setFocus(Qt::OtherFocusReason);
        for (TAction* action : {window.aPrepareUpgrade, window.aWriteToDevice, window.aSelectUpgradeFile,
                                window.aComSetup, window.aExit})
            FActions.emplace_back(action, action->Enabled());
        FModeGroupEnabled = !FModeGroup->testAttribute(Qt::WA_Disabled);
        for (const auto& [action, enabled] : FActions)
            action->SetEnabled(false);
        FModeGroup->setEnabled(false);
        FRunning = true;
    }
    ~RunLock()
    {
        FRunning = false;
        for (const auto& [action, enabled] : FActions)
            action->SetEnabled(enabled);
        FModeGroup->setEnabled(FModeGroupEnabled);
        if (FFocus && FFocus->window() == FWindow && FWindow->focusWidget() == FWindow && FFocus->isEnabled())
            FFocus->setFocus(Qt::OtherFocusReason);
    }
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

private:
    bool& FRunning;
    QPointer<TwMain> FWindow;
    std::vector<std::pair<TAction*, bool>> FActions;
    TRadioGroup* FModeGroup;
    QPointer<QWidget> FFocus;
    bool FModeGroupEnabled = true;
};

} // namespace

TwMain::TwMain(TIniFile& settings, QWidget* parent)
    : TForm(parent), FSettings(settings)
{
    CreateActions();
    CreateComponents();
    CreateMenu();
    CreatePort();
    FormCreate();
}

TwMain::~TwMain() = default;

void TwMain::CreateActions()
{
    auto action = [this](const char* name, const char* caption) {
        auto* a = Own(new TAction(this), QString::fromLatin1(name));
        a->SetCaption(QString::fromLatin1(caption));
        return a;
    };
    aSelectUpgradeFile = action("aSelectUpgradeFile", "FlashFile");
    aSelectUpgradeFile->SetOnExecute([this] { aSelectUpgradeFileExecute(); });
    aWriteToDevice = action("aWriteToDevice", "Do Upgrade");
    aWriteToDevice->SetOnExecute([this] { aWriteToDeviceExecute(); });
    // No operation: without a handler the action shows disabled.
    aReadFromDevice = action("aReadFromDevice", "ReadFromDevice");
    aComSetup = action("aComSetup", "ComSetup");
    aComSetup->SetOnExecute([this] { aComSetupExecute(); });
    aExit = action("aExit", "Exit");
    aExit->SetOnExecute([this] { aExitExecute(); });
    aPrepareUpgrade = action("aPrepareUpgrade", "Prepare Flash");
    aPrepareUpgrade->SetOnExecute([this] { aPrepareUpgradeExecute(); });
    // No operation: the button "Get FirmwareID" is always greyed.
    aGetFirmwareID = action("aGetFirmwareID", "Get FirmwareID");
    // The terminal window is not reachable: the command stays off.
    aTerminal = action("aTerminal", "Terminal");
    aTerminal->SetOnExecute([this] { aTerminalExecute(); });
    aTerminal->SetEnabled(false);
}

void TwMain::CreateComponents()
{
    setObjectName(QStringLiteral("wMain"));
    SetCaption(QStringLiteral("Zentrop"));
    setFont(DesignFont(QStringLiteral("MS Sans Serif"), 11));
    SetBorderStyle(TFormBorderStyle::bsSingle);
    SetClientSize(522, 241);
    move(426, 469);
    QWidget* client = Client();

    Panel1 = Own(new TPanel(client), QStringLiteral("Panel1"));
    Panel1->resize(522, 137);
    Panel1->SetAlign(TPanel::TAlign::alTop);

    Label1 = Own(new TLabel(Panel1), QStringLiteral("Label1"));
    Label1->move(8, 16);
    Label1->SetCaption(QStringLiteral("Upgrade file:"));

    cbFile = Own(Placed(new TComboBox(Panel1), 80, 16, 400, 21), QStringLiteral("cbFile"));

    SpeedButton1 = Own(Placed(new TSpeedButton(Panel1), 480, 16, 23, 19), QStringLiteral("SpeedButton1"));
    SpeedButton1->SetAction(aSelectUpgradeFile);
    // The button's own caption, not the action's.
    SpeedButton1->SetCaption(QStringLiteral("..."));

    GroupBox1 = Own(Placed(new TGroupBox(Panel1), 16, 48, 369, 81), QStringLiteral("GroupBox1"));
    GroupBox1->SetCaption(QStringLiteral("Upgrade info "));

    lbUpgradeFlashName = Own(new TLabel(GroupBox1), QStringLiteral("lbUpgradeFlashName"));
    lbUpgradeFlashName->move(16, 24);
    lbUpgradeFlashName->SetCaption(QStringLiteral("Name:"));
    lbUpgradeFlashVersion = Own(new TLabel(GroupBox1), QStringLiteral("lbUpgradeFlashVersion"));
    lbUpgradeFlashVersion->move(232, 24);
    lbUpgradeFlashVersion->SetCaption(QStringLiteral("Version:"));
    lbUser = Own(new TLabel(GroupBox1), QStringLiteral("lbUser"));
    lbUser->move(16, 48);
    lbUser->SetCaption(QStringLiteral("User:"));

    rgUpgradeMode = Own(Placed(new TRadioGroup(Panel1), 392, 56, 113, 73), QStringLiteral("rgUpgradeMode"));
    rgUpgradeMode->SetCaption(QStringLiteral(" Upgrade mode "));
    rgUpgradeMode->Items()->Assign({QStringLiteral("Flash"), QStringLiteral("EEProm"), QStringLiteral("Flash+EEProm")});
    rgUpgradeMode->SetItemIndex(0);

    pbar = Own(Placed(new TProgressBar(client), 48, 152, 425, 17), QStringLiteral("pbar"));
    pbar->SetMin(0);
    pbar->SetMax(100);
    pbar->SetStep(1);

    lbPageInfo = Own(new TLabel(client), QStringLiteral("lbPageInfo"));
    lbPageInfo->SetAutoSize(false);
    lbPageInfo->setGeometry(48, 176, 345, 13);

    chkAutoExit = Own(Placed(new TCheckBox(client), 408, 176, 97, 17), QStringLiteral("chkAutoExit"));
    chkAutoExit->SetCaption(QStringLiteral("Exit on finish"));

    Panel2 = Own(new TPanel(client), QStringLiteral("Panel2"));
    Panel2->resize(522, 41);
    Panel2->SetAlign(TPanel::TAlign::alBottom);

    auto button = [this](const char* name, int left, TAction* action) {
        auto* b = Own(Placed(new TButton(Panel2), left, 8, 100, 25), QString::fromLatin1(name));
        b->SetAction(action);
        return b;
    };
    Button1 = button("Button1", 32, aPrepareUpgrade);
    Button1->SetDefault(true);
    Button2 = button("Button2", 144, aWriteToDevice);
    Button4 = button("Button4", 256, aGetFirmwareID);
    Button3 = button("Button3", 392, aExit);
    Button3->SetCancel(true);

    OpenDialog1 = Own(new TOpenDialog(this), QStringLiteral("OpenDialog1"));
}

void TwMain::CreateMenu()
{
    MainMenu1 = Own(new TMainMenu(this), QStringLiteral("MainMenu1"));
    auto item = [this](const char* name, TAction* action) {
        auto* i = Own(new TMenuItem(this), QString::fromLatin1(name));
        i->SetAction(action);
        return i;
    };
    Program1 = Own(new TMenuItem(this), QStringLiteral("Program1"));
    Program1->SetCaption(QStringLiteral("Program"));
    Exit1 = item("Exit1", aExit);
    Program1->Add(Exit1);
    Setup1 = Own(new TMenuItem(this), QStringLiteral("Setup1"));
    Setup1->SetCaption(QStringLiteral("Setup"));
    ComSetup1 = item("ComSetup1", aComSetup);
    Setup1->Add(ComSetup1);
    Terminal1 = item("Terminal1", aTerminal);
    Exit2 = item("Exit2", aExit);
    MainMenu1->Add(Program1);
    MainMenu1->Add(Setup1);
    MainMenu1->Add(Terminal1);
    MainMenu1->Add(Exit2);
}

void TwMain::CreatePort()
{
    // The line settings hold at every start; only the port name comes from the settings file.
    pPort = Own(new TComPort(this), QStringLiteral("pPort"));
    SetUpgradeLineSettings(*pPort);
}

QString StoredFileList(QStringList files)
{
    QString text = JoinCommaText(files);
    while (text.size() > TIniFile::MaxValueLength) {
        files.removeLast();
        text = JoinCommaText(files);
    }
    return text;
}

void TwMain::FormCreate()
{
    // The language file is read before the port opens, so that no other thread can be loading
    // a resource string while the loader is replaced. A form record the framework cannot apply
    // is reported, and the window goes on with the texts it has.
    if (LcLoadLanguage(settings::LanguageFileName(QCoreApplication::applicationFilePath()), LanguageId, nullptr, this) == 1)
        Guarded([this] { LcTranslateForm(this); });
    pPort->SetPort(FSettings.ReadString(settings::Common, settings::ComPort, settings::DefaultPort));
    try {
        pPort->Open();
        pPort->PurgeBuffers(true, true);
    } catch (const std::exception&) {
        // The window opens all the same; the upgrade run opens the port again when it is closed.
        ShowMessage(Format(DecodeAnsi(kPortOpenError), {pPort->Port()}));
    }
    QStringList files = SplitCommaText(FSettings.ReadString(settings::Upgrade, settings::FileList, QString()));
    // A list longer than one value holds (an older version wrote it) is read cut in the middle
    // of its last name; that name is no file and would be written back as one.
    if (FSettings.ValueCut(settings::Upgrade, settings::FileList, u',') && !files.isEmpty())
        files.removeLast();
    cbFile->Items()->Assign(files);
    cbFile->SetText(FSettings.ReadString(settings::Upgrade, settings::UpgradeFile, QString()));
    SetStatus(QString());
    aWriteToDevice->SetEnabled(false);
    FFlashPages.clear();
    FEEPromPages.clear();
}

void TwMain::DoClose()
{
    FormClose();
}

void TwMain::closeEvent(QCloseEvent* event)
{
    if (FUpgradeRunning) {
        // The run needs the port and the pages until it ends; it closes the window then.
        FClosePending = true;
        event->ignore();
        return;
    }
    TForm::closeEvent(event);
}

void TwMain::FormClose()
{
    try {
        pPort->Close();
    } catch (const std::exception&) {
        // Closing goes on: nothing is left to do with a port that cannot be closed.
    }
    // A settings file that cannot be written is reported, and the window still closes.
    Guarded([this] {
        FSettings.WriteString(settings::Upgrade, settings::FileList, StoredFileList(cbFile->Items()->ToStringList()));
    });
    FFlashPages.clear();
    FEEPromPages.clear();
}

TwTerminal* TwMain::TerminalWindow() const
{
    return FTerminalWindow;
}

void TwMain::SetTerminalWindow(TwTerminal* window)
{
    FTerminalWindow = window;
}

void TwMain::aTerminalExecute()
{
    if (!FTerminalWindow) {
        FOwnTerminalWindow = std::make_unique<TwTerminal>(pPort);
        FTerminalWindow = FOwnTerminalWindow.get();
    }
    if (TCustomComPort* port = FTerminalWindow->ComTerminal1->ComPort())
        port->Open();
    FTerminalWindow->show();
}

void TwMain::SetStatus(const QString& text)
{
    lbPageInfo->SetCaption(text);
}

void TwMain::aSelectUpgradeFileExecute()
{
    OpenDialog1->SetFilter(kUpgradeFilter);
    OpenDialog1->SetFilterIndex(1);
    OpenDialog1->SetFileName(cbFile->Text());
    if (!OpenDialog1->Execute())
        return;
    const QString fileName = OpenDialog1->FileName();
    // A file already offered is not offered twice; names differing in letter case are
    // different files.
    if (!cbFile->Items()->ToStringList().contains(fileName))
        cbFile->Items()->Add(fileName);
    cbFile->SetText(fileName);
    FSettings.WriteString(settings::Upgrade, settings::UpgradeFile, fileName);
}

bool TwMain::LoadUpgradeFile(const QString& fileName)
{
    FFlashPages.clear();
    FEEPromPages.clear();
    if (FUpgradeFile.Load(fileName) == UpgradeFile::Result::CrcError) {
        ShowMessage(QStringLiteral("CRC error!"));
        return false;
    }
    // The window keeps the one copy of the pages; the reader keeps only the firmware values.
    FFlashPages = FUpgradeFile.FlashPages();
    FEEPromPages = FUpgradeFile.EEPromPages();
    FUpgradeFile.ClearPages();
    if (FUpgradeFile.HasUser())
        lbUser->SetCaption(QStringLiteral("User: ") + QString::number(UserNumber()));
    return true;
}

void TwMain::aPrepareUpgradeExecute()
{
    SetStatus(QString());
    aWriteToDevice->SetEnabled(false);
    if (!LoadUpgradeFile(cbFile->Text()))
        return;
    lbUpgradeFlashVersion->SetCaption(QStringLiteral("Version: ") + DecodeAnsi(FirmwareVersion()));
    lbUpgradeFlashName->SetCaption(QStringLiteral("Name: ") + DecodeAnsi(FirmwareName()));
    aWriteToDevice->SetEnabled(true);
    SetStatus(Format(QStringLiteral("Ready for Upgrade (Flash: %d pages, EEProm: %d pages"),
                     {static_cast<int>(FFlashPages.size()), static_cast<int>(FEEPromPages.size())}));
}

void TwMain::aPrepareEEPromExecute()
{
    aWriteToDevice->SetEnabled(false);
}

void TwMain::aWriteToDeviceExecute()
{
    // The command is off during a run; a call that still comes in does not start a second one.
    if (FUpgradeRunning)
        return;
    FClosePending = false;
    try {
        RunUpgrade();
    } catch (const std::exception& e) {
        if (FExitRequested) {
            ExitOnSignal();
            return;
        }
        // A port error ends the run without "Exit on finish". A close asked for during the
        // run still happens, after the report that tells why the run stopped.
        if (!std::exchange(FClosePending, false))
            throw;
        ShowException(e);
        close();
        return;
    }
    if (FExitRequested) {
        ExitOnSignal();
        return;
    }
    const bool closePending = std::exchange(FClosePending, false);
    // "Exit on finish" is read now: the user may tick it while the run is going.
    if (chkAutoExit->Checked() && aExit->Execute())
        return;
    if (closePending)
        close();
}

void TwMain::RunUpgrade()
{
    const RunLock lock(*this, FUpgradeRunning);
    WindowObserver observer(*this);
    PortUpgrade upgrade(*pPort, observer);
    FRunningUpgrade = &upgrade;
    struct Forget {
        PortUpgrade*& Running;
        ~Forget() { Running = nullptr; }
    } forget{FRunningUpgrade};
    // The run sends copies (sharing the page data), so nothing done to the window's lists
    // while events are processed can pull its pages away.
    const PageList flashPages = FFlashPages;
    const PageList eepromPages = FEEPromPages;
    upgrade.Run(static_cast<UpgradeMode>(rgUpgradeMode->ItemIndex()), flashPages, eepromPages);
}

void TwMain::aComSetupExecute()
{
    pPort->ShowSetupDialog();
    pPort->SetConnected(true);
}

void TwMain::ExitOnSignal()
{
    // Nobody is there to answer an open dialog or message box: it is closed as cancelled.
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget != this && widget->isModal() && widget->isVisible())
            widget->close();
    FExitRequested = true;
    if (FUpgradeRunning) {
        if (FRunningUpgrade)
            FRunningUpgrade->Interrupt();
        return;
    }
    FExitRequested = false;
    // The command's own handler, so that the window ends the way its "Exit" does.
    if (const TAction::TNotifyEvent exit = aExit->OnExecute())
        exit();
}

void TwMain::aExitExecute()
{
    close();
    QCoreApplication::exit(0);
}

} // namespace zentrop
