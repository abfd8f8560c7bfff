// The main window: choosing and preparing an upgrade file, the port it is sent through, the
// commands of the menu and the buttons, and the settings it keeps in the settings file.
#pragma once

#include "upgrade/UpgradeFile.h"
#include "forms/Form.h"

#include <QByteArray>
#include <QPointer>
#include <QString>

#include <memory>

class QCloseEvent;

namespace zentrop {

// The upgrade files as the settings file keeps them: comma text of whole names only. A value
// is read back cut to the settings file's limit, so the names that would reach past it are
// left out from the end of the list, never cut in the middle.
QString StoredFileList(QStringList files);
class PortUpgrade;
class TAction;
class TButton;
class TCheckBox;
class TComPort;
class TComboBox;
class TGroupBox;
class TIniFile;
class TLabel;
class TMainMenu;
class TMenuItem;
class TOpenDialog;
class TPanel;
class TProgressBar;
class TRadioGroup;
class TSpeedButton;
class TwTerminal;

class TwMain : public TForm {
    Q_OBJECT

public:
    // Language identifier of the texts the language file is asked for.
    static constexpr int LanguageId = 1038;


    // Builds the window and runs FormCreate. The settings file is the program's; the window
    // reads it at once and writes it when a file is chosen and when it closes.
    explicit TwMain(TIniFile& settings, QWidget* parent = nullptr);
    ~TwMain() override;

    // Components.
    TPanel* Panel1;
    TLabel* Label1;
    TComboBox* cbFile;
    TSpeedButton* SpeedButton1;
    TGroupBox* GroupBox1;
    TLabel* lbUpgradeFlashName;
    TLabel* lbUpgradeFlashVersion;
    TLabel* lbUser;
    TRadioGroup* rgUpgradeMode;
    TProgressBar* pbar;
    TLabel* lbPageInfo;
    TCheckBox* chkAutoExit;
    TPanel* Panel2;
    TButton* Button1;
    TButton* Button2;
    TButton* Button4;
    TButton* Button3;
    TMainMenu* MainMenu1;
    TMenuItem* Program1;
    TMenuItem* Exit1;
    TMenuItem* Setup1;
    TMenuItem* ComSetup1;
    TMenuItem* Terminal1;
    TMenuItem* Exit2;
    TAction* aSelectUpgradeFile;
    TAction* aWriteToDevice;
    TAction* aReadFromDevice;
    TAction* aComSetup;
    TAction* aExit;
    TAction* aPrepareUpgrade;
    TAction* aGetFirmwareID;
    TAction* aTerminal;
    TComPort* pPort;
    TOpenDialog* OpenDialog1;

    // The one-line status text below the progress bar; empty clears it.
    void SetStatus(const QString& text);

    // The page images of the prepared file; empty until "Prepare Flash" succeeds.
    const PageList& FlashPages() const { return FFlashPages; }
    const PageList& EEPromPages() const { return FEEPromPages; }
    // The firmware values of the files read so far: each keeps its value until a file
    // carries a new one.
    QByteArray FirmwareName() const { return FUpgradeFile.Firmware().FFirmwareName; }
    QByteArray FirmwareVersion() const { return FUpgradeFile.Firmware().FFirmwareVersion; }
    int32_t UserNumber() const { return FUpgradeFile.Firmware().FUserNumber; }
    int32_t UserFlag() const { return FUpgradeFile.Firmware().FUserFlag; }

    // The terminal window that aTerminal shows; the program entry makes it after this window.
    TwTerminal* TerminalWindow() const;
    void SetTerminalWindow(TwTerminal* window);

    // True while "Do Upgrade" runs, from the cleared status line to its last message.
    bool UpgradeRunning() const { return FUpgradeRunning; }

    // Empties the page lists, then reads and checks the file. False after a CRC mismatch,
    // which has been shown; an unreadable or damaged file raises.
    bool LoadUpgradeFile(const QString& fileName);

public slots:
    void aSelectUpgradeFileExecute();
    void aPrepareUpgradeExecute();
    // Only turns "Do Upgrade" off; nothing calls it.
    void aPrepareEEPromExecute();
    void aWriteToDeviceExecute();
    void aComSetupExecute();
    // Shows the terminal window (made first when there is none) with its port opened.
    void aTerminalExecute();
    void aExitExecute();

    // A signal that asks the program to end: the window ends as "Exit" ends it. A run in
    // progress is stopped first, as the command line stops one, and its end is not reported.
    void ExitOnSignal();

protected:
    void DoClose() override;
    // Closing during an upgrade run is put off until the run has ended.
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateComponents();
    void CreateActions();
    void CreateMenu();
    void CreatePort();
    void FormCreate();
    void FormClose();
    void RunUpgrade();

    TIniFile& FSettings;
    UpgradeFile FUpgradeFile;
    PageList FFlashPages;
    PageList FEEPromPages;
    bool FUpgradeRunning = false;
    // The window was asked to close while a run was in progress.
    bool FClosePending = false;
    // A signal asked the program to end; the run in progress, if any, is stopping.
    bool FExitRequested = false;
    PortUpgrade* FRunningUpgrade = nullptr;
    QPointer<TwTerminal> FTerminalWindow;
    // A terminal window this window had to make itself; it goes before the port does.
    std::unique_ptr<TwTerminal> FOwnTerminalWindow;
};

} // namespace zentrop
