// Layout of the port setup dialog and its run against a port.
#include "cportctl/ComSetup.h"

#include "forms/Buttons.h"
#include "forms/Controls.h"

#include <QPointer>

#include <memory>

namespace zentrop {

namespace {

constexpr int kComboLeft = 80;
constexpr int kComboWidth = 129;
constexpr int kComboHeight = 21;
constexpr int kLabelLeft = 8;
constexpr int kRowPitch = 24;
constexpr int kFirstComboTop = 16;
constexpr int kFirstLabelTop = 24;

} // namespace

TComSetupFrm::TComSetupFrm(QWidget* parent)
    : TForm(parent)
{
    setObjectName(QStringLiteral("ComSetupFrm"));
    SetCaption(QStringLiteral("Setup"));
    Font()->SetName(QStringLiteral("MS Sans Serif"));
    Font()->SetHeight(-11);
    SetBorderStyle(TFormBorderStyle::bsDialog);
    SetPosition(TPosition::poScreenCenter);
    SetClientSize(231, 216);

    GroupBox1 = Own(new TGroupBox(Client()), QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 8, 217, 169);
    GroupBox1->SetCaption(QStringLiteral(" Settings "));

    const QString captions[] = {
        QStringLiteral("Port"), QStringLiteral("Baud rate"), QStringLiteral("Data bits"),
        QStringLiteral("Stop bits"), QStringLiteral("Parity"), QStringLiteral("Flow control"),
    };
    TLabel** labels[] = {&Label1, &Label2, &Label3, &Label4, &Label5, &Label6};
    TComComboBox** combos[] = {&Combo1, &Combo2, &Combo3, &Combo4, &Combo5, &Combo6};
    for (int row = 0; row < 6; ++row) {
        TLabel* label = Own(new TLabel(GroupBox1), QStringLiteral("Label%1").arg(row + 1));
        label->move(kLabelLeft, kFirstLabelTop + row * kRowPitch);
        label->SetCaption(captions[row]);
        *labels[row] = label;

        TComComboBox* combo = Own(new TComComboBox(GroupBox1), QStringLiteral("Combo%1").arg(row + 1));
        combo->setGeometry(kComboLeft, kFirstComboTop + row * kRowPitch, kComboWidth, kComboHeight);
        // cpPort .. cpFlowControl, one per row.
        combo->SetComProperty(static_cast<TComProperty>(row + 1));
        *combos[row] = combo;
    }

    // The port is picked from the local ports or typed in: a network port
    // ("rfc2217://HOST:PORT") is in no list.
    Combo1->SetStyle(TCustomComboBox::TComboBoxStyle::csDropDown);
    Combo1->setInsertPolicy(QComboBox::NoInsert);

    Button1 = Own(new TButton(Client()), QStringLiteral("Button1"));
    Button1->setGeometry(70, 184, 75, 25);
    Button1->SetCaption(QStringLiteral("OK"));
    Button1->SetDefault(true);
    Button1->SetModalResult(mrOk);

    Button2 = Own(new TButton(Client()), QStringLiteral("Button2"));
    Button2->setGeometry(150, 184, 75, 25);
    Button2->SetCaption(QStringLiteral("Cancel"));
    Button2->SetModalResult(mrCancel);
    // Escape cancels, as in every desktop dialog.
    Button2->SetCancel(true);

    // The selectors in row order, then OK and Cancel.
    QWidget* previous = Combo1;
    for (QWidget* next : std::initializer_list<QWidget*>{Combo2, Combo3, Combo4, Combo5, Combo6, Button1, Button2}) {
        setTabOrder(previous, next);
        previous = next;
    }
}

void ExecuteComSetup(TCustomComPort* ComPort)
{
    // The port may be destroyed while the dialog runs; then nothing is written.
    const QPointer<TCustomComPort> port(ComPort);
    const auto form = std::make_unique<TComSetupFrm>();
    const QList<TComComboBox*> combos = form->Combos();
    for (TComComboBox* combo : combos)
        combo->SetComPort(ComPort);
    for (TComComboBox* combo : combos)
        combo->SelectFromPort();

    if (form->ShowModal() != mrOk || !port)
        return;
    port->BeginUpdate();
    try {
        for (TComComboBox* combo : combos) {
            // A port list without a choice or a typed name (the port's name is not among the
            // installed ports: a pseudo-terminal, a by-id name, an adapter unplugged for a
            // moment) keeps the port's name rather than writing the empty one, which could
            // not be opened.
            if (combo == form->Combo1 && combo->ItemIndex() < 0 && combo->Text().trimmed().isEmpty())
                continue;
            combo->ApplyToPort();
        }
    } catch (...) {
        // The bracket is closed even so; the first error is the one the caller hears of.
        try {
            port->EndUpdate();
        } catch (...) {
        }
        throw;
    }
    port->EndUpdate();
}

void InstallComSetupDialog()
{
    TCustomComPort::SetSetupDialogProc([](TCustomComPort& Port) { ExecuteComSetup(&Port); });
}

} // namespace zentrop
