// Buttons: clicks run the linked action or the click handler, guarded by the error report.
#include "forms/Buttons.h"

#include "forms/Application.h"
#include "forms/Font.h"

namespace zentrop {

namespace {

// The callbacks through which an action link drives a button-like widget.
template <typename W>
TActionLink::TClient ButtonClient(W* w)
{
    return {
        [w] { return w->text(); },
        [w](const QString& s) { w->setText(s); },
        [w] { return w->toolTip(); },
        [w](const QString& s) { w->setToolTip(s); },
        [w](bool on) { w->setEnabled(on); },
        [w](bool on) { w->setVisible(on); },
    };
}

} // namespace

TButton::TButton(QWidget* parent)
    : QPushButton(parent), FFont(new TFont(this)), FLink(ButtonClient(this))
{
    // A focused button takes Enter itself, as in a dialog.
    setAutoDefault(true);
    connect(this, &QPushButton::clicked, this, &TButton::Clicked);
}

void TButton::Clicked()
{
    if (FModalResult != mrNone)
        if (auto* form = qobject_cast<TForm*>(window()))
            form->SetModalResult(FModalResult);
    if (OnClick)
        Guarded(OnClick);
    else
        FLink.Execute();
}

TSpeedButton::TSpeedButton(QWidget* parent)
    : QToolButton(parent), FFont(new TFont(this)), FLink(ButtonClient(this))
{
    // A speed button never takes the focus away from the control being edited.
    setFocusPolicy(Qt::NoFocus);
    setToolButtonStyle(Qt::ToolButtonTextOnly);
    connect(this, &QToolButton::clicked, this, [this] {
        if (OnClick)
            Guarded(OnClick);
        else
            FLink.Execute();
    });
}

TCheckBox::TCheckBox(QWidget* parent)
    : QCheckBox(parent), FFont(new TFont(this))
{
    connect(this, &QCheckBox::clicked, this, [this] {
        if (OnClick)
            Guarded(OnClick);
    });
}

} // namespace zentrop
