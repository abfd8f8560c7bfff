// Layout of zentrop-term's additions to the terminal settings dialog and their run.
#include "termapp/TermSetupDialog.h"

#include "cportctl/ComTerminal.h"
#include "forms/Buttons.h"
#include "forms/ComboBox.h"
#include "forms/Controls.h"

#include <QComboBox>
#include <QFontComboBox>
#include <QLabel>
#include <QPointer>
#include <QSpinBox>

#include <memory>

namespace zentrop {

namespace {

constexpr int kGroupTop = 248;
constexpr int kRowTop = 20;
constexpr int kRowPitch = 28;
constexpr int kLabelLeft = 8;
constexpr int kFieldLeft = 112;
constexpr int kFieldWidth = 163;
constexpr int kFieldHeight = 22;
constexpr int kRows = 6;

using Charset = TCustomComTerminal::CharacterSet;

} // namespace

QStringList TermSetupForm::MenuKeys()
{
    // F10 is the device's by default: full-screen programs (htop, mc) quit with it.
    return {QStringLiteral("Shift+F10"), QStringLiteral("F10"), QStringLiteral("Ctrl+F10"), QString()};
}

TermSetupForm::TermSetupForm(QWidget* Parent)
    : TComTrmSetForm(Parent)
{
    const int groupHeight = kRowTop + kRows * kRowPitch;
    gbWindow = Own(new TGroupBox(Client()), QStringLiteral("gbWindow"));
    gbWindow->setGeometry(6, kGroupTop, 283, groupHeight);
    gbWindow->SetCaption(QStringLiteral(" Window and Keyboard "));
    int row = 0;
    const auto label = [this, &row](const QString& text) {
        auto* l = new QLabel(text, gbWindow);
        l->move(kLabelLeft, kRowTop + row * kRowPitch + 4);
    };
    const auto place = [&row](QWidget* w, int width = kFieldWidth) {
        w->setGeometry(kFieldLeft, kRowTop + row * kRowPitch, width, kFieldHeight);
        ++row;
    };

    label(QStringLiteral("Font"));
    cbFont = new QFontComboBox(gbWindow);
    cbFont->setFontFilters(QFontComboBox::MonospacedFonts);
    place(cbFont);

    label(QStringLiteral("Font size"));
    seFontSize = new QSpinBox(gbWindow);
    seFontSize->setRange(4, 72);
    place(seFontSize, 60);

    label(QStringLiteral("Character set"));
    cbCharset = new QComboBox(gbWindow);
    cbCharset->addItems({QStringLiteral("The emulation's"), QStringLiteral("UTF-8"), QStringLiteral("Windows-1252")});
    place(cbCharset);

    label(QStringLiteral("Backspace sends"));
    cbBackspace = new QComboBox(gbWindow);
    cbBackspace->addItems({QStringLiteral("DEL (127)"), QStringLiteral("BS (8)")});
    place(cbBackspace);

    label(QStringLiteral("Scrollback lines"));
    seScrollback = new QSpinBox(gbWindow);
    seScrollback->setRange(0, 1000000);
    seScrollback->setSingleStep(1000);
    place(seScrollback, 90);

    label(QStringLiteral("Menu key"));
    cbMenuKey = new QComboBox(gbWindow);
    for (const QString& key : MenuKeys())
        cbMenuKey->addItem(key.isEmpty() ? QStringLiteral("None (mouse only)") : key);
    place(cbMenuKey);

    // The buttons go below the new group.
    const int buttons = kGroupTop + groupHeight + 8;
    Button1->move(Button1->x(), buttons);
    Button2->move(Button2->x(), buttons);
    SetClientSize(295, buttons + Button1->height() + 8);
    setTabOrder(cbArrowKeys, cbFont);
    setTabOrder(cbFont, seFontSize);
    setTabOrder(seFontSize, cbCharset);
    setTabOrder(cbCharset, cbBackspace);
    setTabOrder(cbBackspace, seScrollback);
    setTabOrder(seScrollback, cbMenuKey);
    setTabOrder(cbMenuKey, Button1);
}

void TermSetupForm::Load(const TCustomComTerminal& Terminal)
{
    LoadTerminalSetup(*this, Terminal);
    cbFont->setCurrentFont(Terminal.font());
    seFontSize->setValue(Terminal.Font()->Size());
    cbCharset->setCurrentIndex(static_cast<int>(Terminal.Charset()));
    cbBackspace->setCurrentIndex(Terminal.BackspaceSendsBS() ? 1 : 0);
    seScrollback->setValue(Terminal.ScrollbackLines());
    const qsizetype key = MenuKeys().indexOf(Terminal.MenuKey().toString(QKeySequence::PortableText));
    cbMenuKey->setCurrentIndex(key >= 0 ? static_cast<int>(key) : 0);
}

void TermSetupForm::Apply(TCustomComTerminal& Terminal) const
{
    ApplyTerminalSetup(*this, Terminal);
    Terminal.Font()->SetName(cbFont->currentFont().family());
    Terminal.Font()->SetSize(seFontSize->value());
    Terminal.SetCharset(static_cast<Charset>(cbCharset->currentIndex()));
    Terminal.SetBackspaceSendsBS(cbBackspace->currentIndex() == 1);
    Terminal.SetScrollbackLines(seScrollback->value());
    Terminal.SetMenuKey(QKeySequence::fromString(MenuKeys().value(cbMenuKey->currentIndex()), QKeySequence::PortableText));
}

bool ExecuteTermSetup(TCustomComTerminal* Terminal)
{
    const QPointer<TCustomComTerminal> terminal(Terminal);
    const auto form = std::make_unique<TermSetupForm>();
    form->Load(*Terminal);
    if (form->ShowModal() != mrOk || !terminal)
        return false;
    form->Apply(*terminal);
    return true;
}

} // namespace zentrop
