// Layout of the terminal settings dialog and its run against a terminal.
#include "cportctl/ComTrmSet.h"

#include "cportctl/ComTerminal.h"
#include "forms/Buttons.h"
#include "forms/ComboBox.h"
#include "forms/Controls.h"
#include "forms/Edit.h"

#include <QPointer>

#include <initializer_list>
#include <memory>

namespace zentrop {

namespace {

constexpr int kCheckLeft = 6;
constexpr int kCheckTop = 20;
constexpr int kCheckPitch = 18;
constexpr int kCheckWidth = 273;
constexpr int kCheckHeight = 17;

constexpr int kFieldTop = 20;
constexpr int kFieldPitch = 30;
constexpr int kFieldHeight = 21;
constexpr int kLabelLeft = 8;
constexpr int kLabelDrop = 4;   // a label's text sits on the line of its field's text
constexpr int kLeftFieldLeft = 74;
constexpr int kLeftFieldWidth = 95;
constexpr int kRightLabelLeft = 176;
constexpr int kRightFieldLeft = 232;
constexpr int kRightFieldWidth = 41;

} // namespace

TComTrmSetForm::TComTrmSetForm(QWidget* parent)
    : TForm(parent)
{
    setObjectName(QStringLiteral("ComTrmSetForm"));
    SetCaption(QStringLiteral("Setup"));
    Font()->SetName(QStringLiteral("MS Sans Serif"));
    Font()->SetHeight(-11);
    SetBorderStyle(TFormBorderStyle::bsDialog);
    SetPosition(TPosition::poScreenCenter);
    SetClientSize(295, 287);

    gbAscii = Own(new TGroupBox(Client()), QStringLiteral("gbAscii"));
    gbAscii->setGeometry(6, 8, 283, 113);
    gbAscii->SetCaption(QStringLiteral(" ASCII Settings "));
    struct TCheck {
        TCheckBox** Field;
        const char* Name;
        const char* Caption;
    };
    const TCheck checks[] = {
        {&chkLocalEcho, "chkLocalEcho", "Echo typed charachters locally"},
        {&chkSendLF, "chkSendLF", "Send line feeds with carriage return"},
        {&chkWrapLines, "chkWrapLines", "Wrap lines that exceed terminal width"},
        {&chkForce7Bit, "chkForce7Bit", "Force incoming data to 7 bit ASCII"},
        {&chkAppendLF, "chkAppendLF", "Append line feeds to incoming carriage return"},
    };
    int row = 0;
    for (const TCheck& c : checks) {
        auto* check = Own(new TCheckBox(gbAscii), QString::fromLatin1(c.Name));
        check->setGeometry(kCheckLeft, kCheckTop + row * kCheckPitch, kCheckWidth, kCheckHeight);
        check->SetCaption(QString::fromLatin1(c.Caption));
        *c.Field = check;
        ++row;
    }

    gbTerminal = Own(new TGroupBox(Client()), QStringLiteral("gbTerminal"));
    gbTerminal->setGeometry(6, 128, 283, 113);
    gbTerminal->SetCaption(QStringLiteral(" Terminal Settings "));

    auto label = [this](const char* name, const char* caption, int left, int fieldRow) {
        auto* l = Own(new TLabel(gbTerminal), QString::fromLatin1(name));
        l->move(left, kFieldTop + fieldRow * kFieldPitch + kLabelDrop);
        l->SetCaption(QString::fromLatin1(caption));
        return l;
    };
    auto list = [this](const char* name, int fieldRow, int width, std::initializer_list<const char*> items) {
        auto* box = Own(new TComboBox(gbTerminal), QString::fromLatin1(name));
        box->SetStyle(TCustomComboBox::TComboBoxStyle::csDropDownList);
        box->setGeometry(kLeftFieldLeft, kFieldTop + fieldRow * kFieldPitch, width, kFieldHeight);
        for (const char* item : items)
            box->Items()->Add(QString::fromLatin1(item));
        return box;
    };
    auto edit = [this](const char* name, int fieldRow) {
        auto* e = Own(new TEdit(gbTerminal), QString::fromLatin1(name));
        e->setGeometry(kRightFieldLeft, kFieldTop + fieldRow * kFieldPitch, kRightFieldWidth, kFieldHeight);
        e->SetMaxLength(3);
        return e;
    };
    lbCaret = label("lbCaret", "Caret", kLabelLeft, 0);
    cbCaret = list("cbCaret", 0, kLeftFieldWidth, {"Block", "Underline"});
    lbEmulation = label("lbEmulation", "Emulation", kLabelLeft, 1);
    cbEmulation = list("cbEmulation", 1, kLeftFieldWidth, {"ANSI/VT100", "VT52", "None", "VT102"});
    lbColumns = label("lbColumns", "Columns", kRightLabelLeft, 0);
    edColumns = edit("edColumns", 0);
    lbRows = label("lbRows", "Rows", kRightLabelLeft, 1);
    edRows = edit("edRows", 1);
    lbArrowKeys = label("lbArrowKeys", "Cursor keys", kLabelLeft, 2);
    cbArrowKeys = list("cbArrowKeys", 2, kRightFieldLeft + kRightFieldWidth - kLeftFieldLeft,
                       {"Act as terminal keys", "Act as windows keys"});

    Button1 = Own(new TButton(Client()), QStringLiteral("Button1"));
    Button1->setGeometry(134, 254, 75, 25);
    Button1->SetCaption(QStringLiteral("OK"));
    Button1->SetDefault(true);
    Button1->SetModalResult(mrOk);

    Button2 = Own(new TButton(Client()), QStringLiteral("Button2"));
    Button2->setGeometry(214, 254, 75, 25);
    Button2->SetCaption(QStringLiteral("Cancel"));
    Button2->SetModalResult(mrCancel);

    // Down the switches, then the terminal settings row by row, then OK and Cancel.
    QWidget* previous = chkLocalEcho;
    for (QWidget* next : std::initializer_list<QWidget*>{chkSendLF, chkWrapLines, chkForce7Bit, chkAppendLF, cbCaret,
                                                         edColumns, cbEmulation, edRows, cbArrowKeys, Button1, Button2}) {
        setTabOrder(previous, next);
        previous = next;
    }
}

void LoadTerminalSetup(TComTrmSetForm& Form, const TCustomComTerminal& Terminal)
{
    Form.chkLocalEcho->SetChecked(Terminal.LocalEcho());
    Form.chkSendLF->SetChecked(Terminal.SendLF());
    Form.chkWrapLines->SetChecked(Terminal.WrapLines());
    Form.chkForce7Bit->SetChecked(Terminal.Force7Bit());
    Form.chkAppendLF->SetChecked(Terminal.AppendLF());
    // A terminal without a caret shows neither choice; it keeps its setting unless one is made.
    Form.cbCaret->SetItemIndex(Terminal.Caret() == TTermCaret::tcNone ? -1 : static_cast<int>(Terminal.Caret()));
    Form.cbEmulation->SetItemIndex(static_cast<int>(Terminal.Emulation()));
    Form.edColumns->SetText(QString::number(Terminal.Columns()));
    Form.edRows->SetText(QString::number(Terminal.Rows()));
    Form.cbArrowKeys->SetItemIndex(static_cast<int>(Terminal.ArrowKeys()));
}

void ApplyTerminalSetup(const TComTrmSetForm& Form, TCustomComTerminal& Terminal)
{
    Terminal.SetLocalEcho(Form.chkLocalEcho->Checked());
    Terminal.SetSendLF(Form.chkSendLF->Checked());
    Terminal.SetWrapLines(Form.chkWrapLines->Checked());
    Terminal.SetForce7Bit(Form.chkForce7Bit->Checked());
    Terminal.SetAppendLF(Form.chkAppendLF->Checked());
    if (Form.cbCaret->ItemIndex() >= 0)
        Terminal.SetCaret(static_cast<TTermCaret>(Form.cbCaret->ItemIndex()));
    Terminal.SetEmulation(static_cast<TTermEmulation>(Form.cbEmulation->ItemIndex()));
    bool ok = false;
    if (const int columns = Form.edColumns->Text().trimmed().toInt(&ok); ok)
        Terminal.SetColumns(columns);
    if (const int rows = Form.edRows->Text().trimmed().toInt(&ok); ok)
        Terminal.SetRows(rows);
    Terminal.SetArrowKeys(static_cast<TArrowKeys>(Form.cbArrowKeys->ItemIndex()));
}

bool ExecuteTerminalSetup(TCustomComTerminal* Terminal)
{
    // The terminal may be destroyed while the dialog runs; then nothing is written.
    const QPointer<TCustomComTerminal> terminal(Terminal);
    const auto form = std::make_unique<TComTrmSetForm>();
    LoadTerminalSetup(*form, *Terminal);
    if (form->ShowModal() != mrOk || !terminal)
        return false;
    ApplyTerminalSetup(*form, *terminal);
    return true;
}

} // namespace zentrop
