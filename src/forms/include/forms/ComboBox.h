// The combo box: an item list held as a TStrings object, the selected index, the style
// (editable drop-down or pick-only list), and a change notification for the user's edits.
#pragma once

#include "forms/Font.h"
#include "base/Strings.h"

#include <QComboBox>

#include <functional>

namespace zentrop {

class TCustomComboBox;

// The items of a combo box as a string list. Changing the list never changes what an
// editable box shows in its edit field, and filling an empty list selects nothing.
class TComboBoxStrings : public TStrings {
    Q_OBJECT

public:
    explicit TComboBoxStrings(TCustomComboBox* box);

    int Count() const override;
    QString Get(int index) const override;
    void Put(int index, const QString& s) override;
    void Insert(int index, const QString& s) override;
    void Delete(int index) override;
    void Clear() override;

private:
    template <typename F>
    void KeepingSelection(F&& change);

    TCustomComboBox* FBox;
};

class TCustomComboBox : public QComboBox {
    Q_OBJECT
    Q_PROPERTY(QString Text READ Text WRITE SetText)
    Q_PROPERTY(QString Hint READ Hint WRITE SetHint)
    Q_PROPERTY(int Tag READ Tag WRITE SetTag)
    Q_PROPERTY(TFont* Font READ Font)
    Q_PROPERTY(TStrings* Items READ Items)
    Q_PROPERTY(int ItemIndex READ ItemIndex WRITE SetItemIndex)
    Q_PROPERTY(TComboBoxStyle Style READ Style WRITE SetStyle)

public:
    enum class TComboBoxStyle { csDropDown, csSimple, csDropDownList };
    Q_ENUM(TComboBoxStyle)

    explicit TCustomComboBox(QWidget* parent);

    TStrings* Items() const { return FItems; }
    // The selected item, -1 when none; setting it shows the item in the edit field too.
    int ItemIndex() const { return currentIndex(); }
    void SetItemIndex(int index) { setCurrentIndex(index); }
    // Editable styles: the edit field. csDropDownList: the selected item's text (empty when
    // none); setting it selects the first item of that text, ignoring letter case, if any.
    virtual QString Text() const;
    virtual void SetText(const QString& text);
    TComboBoxStyle Style() const { return FStyle; }
    void SetStyle(TComboBoxStyle style);
    QString Hint() const { return toolTip(); }
    void SetHint(const QString& hint) { setToolTip(hint); }
    int Tag() const { return FTag; }
    void SetTag(int tag) { FTag = tag; }
    TFont* Font() const { return FFont; }

    // Called when the user (not the program) changes the selection or edits the text.
    std::function<void()> OnChange;

protected:
    // The user changed the selection or the text. Fires OnChange; an override that keeps
    // OnChange working calls this one.
    virtual void Change();

private:
    void ConnectEditField();

    TComboBoxStrings* FItems;
    TFont* FFont;
    TComboBoxStyle FStyle = TComboBoxStyle::csDropDown;
    int FTag = 0;
};

class TComboBox : public TCustomComboBox {
    Q_OBJECT

public:
    using TCustomComboBox::TCustomComboBox;
};

} // namespace zentrop
