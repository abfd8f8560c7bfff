// The form's menu bar and its entries; an entry runs its action (or click handler), and an
// entry that has entries of its own opens them as a drop-down menu.
#pragma once

#include "forms/Actions.h"

#include <QObject>
#include <QString>

#include <functional>

class QAction;
class QMenu;
class QMenuBar;

namespace zentrop {

class TForm;

class TMenuItem : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
    Q_PROPERTY(bool Enabled READ Enabled WRITE SetEnabled)
    Q_PROPERTY(bool Visible READ Visible WRITE SetVisible)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)
    Q_PROPERTY(TAction* Action READ Action WRITE SetAction)

public:
    explicit TMenuItem(QObject* owner);
    ~TMenuItem() override;

    QString Caption() const;
    void SetCaption(const QString& caption);
    QString Hint() const;
    void SetHint(const QString& hint);
    bool Enabled() const;
    void SetEnabled(bool enabled);
    bool Visible() const;
    void SetVisible(bool visible);
    int Tag() const { return FTag; }
    void SetTag(int tag) { FTag = tag; }
    TAction* Action() const { return FLink.Action(); }
    void SetAction(TAction* action) { FLink.SetAction(action); }

    // Appends an entry to this entry's drop-down menu.
    void Add(TMenuItem* item);
    int Count() const { return static_cast<int>(FItems.size()); }
    TMenuItem* Items(int index) const { return FItems.at(index); }

    // Chooses the entry as the user would.
    void Click();

    // The toolkit's entry, as placed in the bar or in a drop-down menu.
    QAction* QtAction() const { return FQtAction; }

    std::function<void()> OnClick;

private:
    QAction* FQtAction;
    QMenu* FMenu = nullptr;
    QList<TMenuItem*> FItems;
    int FTag = 0;
    TActionLink FLink;
};

class TMainMenu : public QObject {
    Q_OBJECT

public:
    // Creates the menu bar and puts it above the form's client area.
    explicit TMainMenu(TForm* form);

    // Appends an entry to the bar.
    void Add(TMenuItem* item);
    int Count() const { return static_cast<int>(FItems.size()); }
    TMenuItem* Items(int index) const { return FItems.at(index); }

    QMenuBar* Bar() const { return FBar; }

private:
    QMenuBar* FBar;
    QList<TMenuItem*> FItems;
};

} // namespace zentrop
