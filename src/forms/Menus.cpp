// Menu bar entries and drop-down menus built on the toolkit's actions.
#include "forms/Menus.h"

#include "forms/Application.h"
#include "forms/Form.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace zentrop {

TMenuItem::TMenuItem(QObject* owner)
    : QObject(owner),
      FQtAction(new QAction(this)),
      FLink({
          [this] { return Caption(); },
          [this](const QString& s) { SetCaption(s); },
          [this] { return Hint(); },
          [this](const QString& s) { SetHint(s); },
          [this](bool on) { SetEnabled(on); },
          [this](bool on) { SetVisible(on); },
      })
{
    connect(FQtAction, &QAction::triggered, this, [this] { Click(); });
}

TMenuItem::~TMenuItem()
{
    delete FMenu;
}

QString TMenuItem::Caption() const
{
    return FQtAction->text();
}

void TMenuItem::SetCaption(const QString& caption)
{
    FQtAction->setText(caption);
}

QString TMenuItem::Hint() const
{
    return FQtAction->statusTip();
}

void TMenuItem::SetHint(const QString& hint)
{
    FQtAction->setStatusTip(hint);
}

bool TMenuItem::Enabled() const
{
    return FQtAction->isEnabled();
}

void TMenuItem::SetEnabled(bool enabled)
{
    FQtAction->setEnabled(enabled);
}

bool TMenuItem::Visible() const
{
    return FQtAction->isVisible();
}

void TMenuItem::SetVisible(bool visible)
{
    FQtAction->setVisible(visible);
}

void TMenuItem::Add(TMenuItem* item)
{
    if (!FMenu) {
        // A popup window with no widget parent: the entry deletes it.
        FMenu = new QMenu();
        FQtAction->setMenu(FMenu);
    }
    FMenu->addAction(item->QtAction());
    FItems.append(item);
}

void TMenuItem::Click()
{
    if (!Enabled() || FMenu)
        return;
    if (OnClick)
        Guarded(OnClick);
    else
        FLink.Execute();
}

TMainMenu::TMainMenu(TForm* form)
    : QObject(form), FBar(new QMenuBar(form))
{
    form->SetMenuBar(FBar);
}

void TMainMenu::Add(TMenuItem* item)
{
    FBar->addAction(item->QtAction());
    FItems.append(item);
}

} // namespace zentrop
