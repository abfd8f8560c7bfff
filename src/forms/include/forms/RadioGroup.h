// The radio group: a framed column of radio buttons made from a string list of items, with
// the index of the chosen one.
#pragma once

#include "forms/Font.h"
#include "base/Strings.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QList>

#include <functional>

class QRadioButton;

namespace zentrop {

class TRadioGroup;

// The items of a radio group; every change rebuilds or relabels the group's buttons.
class TRadioGroupStrings : public TStrings {
    Q_OBJECT

public:
    explicit TRadioGroupStrings(TRadioGroup* group);

    int Count() const override { return static_cast<int>(FItems.size()); }
    QString Get(int index) const override;
    void Put(int index, const QString& s) override;
    void Insert(int index, const QString& s) override;
    void Delete(int index) override;
    void Clear() override;

private:
    TRadioGroup* FGroup;
    QStringList FItems;
};

class TRadioGroup : public QGroupBox {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
    Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)
    Q_PROPERTY(TFont* Font READ Font)
    Q_PROPERTY(TStrings* Items READ Items)
    Q_PROPERTY(int ItemIndex READ ItemIndex WRITE SetItemIndex)
    Q_PROPERTY(int Columns READ Columns WRITE SetColumns)

public:
    explicit TRadioGroup(QWidget* parent);

    QString Caption() const { return title(); }
    void SetCaption(const QString& caption) { setTitle(caption); }
    QString Hint() const { return toolTip(); }
    void SetHint(const QString& hint) { setToolTip(hint); }
    int Tag() const { return FTag; }
    void SetTag(int tag) { FTag = tag; }
    TFont* Font() const { return FFont; }
    TStrings* Items() const { return FItems; }
    // The chosen item, -1 when none.
    int ItemIndex() const { return FItemIndex; }
    void SetItemIndex(int index);
    int Columns() const { return FColumns; }
    void SetColumns(int columns);

    // The buttons, one per item, in item order.
    const QList<QRadioButton*>& Buttons() const { return FButtons; }

    // The user chose an item.
    std::function<void()> OnClick;

protected:
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    friend class TRadioGroupStrings;
    void ItemsChanged(const QStringList& items);
    void ArrangeButtons();
    void ShowItemIndex();

    TRadioGroupStrings* FItems;
    TFont* FFont;
    QButtonGroup* FGroup;
    QList<QRadioButton*> FButtons;
    int FItemIndex = -1;
    int FColumns = 1;
    int FTag = 0;
};

} // namespace zentrop
