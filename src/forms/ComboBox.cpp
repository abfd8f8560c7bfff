// Combo box items, text, style and the user's change notification.
#include "forms/ComboBox.h"

#include "forms/Application.h"
#include "forms/Font.h"

#include <QLineEdit>

namespace zentrop {

TComboBoxStrings::TComboBoxStrings(TCustomComboBox* box)
    : TStrings(box), FBox(box)
{
}

template <typename F>
void TComboBoxStrings::KeepingSelection(F&& change)
{
    QLineEdit* edit = FBox->lineEdit();
    const QString text = edit ? edit->text() : QString();
    const bool wasSelected = FBox->currentIndex() >= 0;
    change();
    // The toolkit selects the first item put into an empty box; the list alone decides nothing.
    if (!wasSelected && FBox->currentIndex() >= 0)
        FBox->setCurrentIndex(-1);
    if (edit && edit->text() != text)
        edit->setText(text);
    emit Changed();
}

int TComboBoxStrings::Count() const
{
    return FBox->count();
}

QString TComboBoxStrings::Get(int index) const
{
    CheckIndex(index, Count());
    return FBox->itemText(index);
}

void TComboBoxStrings::Put(int index, const QString& s)
{
    CheckIndex(index, Count());
    KeepingSelection([&] { FBox->setItemText(index, s); });
}

void TComboBoxStrings::Insert(int index, const QString& s)
{
    CheckIndex(index, Count() + 1);
    KeepingSelection([&] { FBox->insertItem(index, s); });
}

void TComboBoxStrings::Delete(int index)
{
    CheckIndex(index, Count());
    KeepingSelection([&] { FBox->removeItem(index); });
}

void TComboBoxStrings::Clear()
{
    if (Count() == 0)
        return;
    KeepingSelection([&] { FBox->clear(); });
}

TCustomComboBox::TCustomComboBox(QWidget* parent)
    : QComboBox(parent), FItems(new TComboBoxStrings(this)), FFont(new TFont(this))
{
    // The box keeps the size it was given, however long its items are; its list shows up to
    // eight items at a time.
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMaxVisibleItems(8);
    SetStyle(TComboBoxStyle::csDropDown);
    connect(this, &QComboBox::activated, this, [this] { Guarded([this] { Change(); }); });
}

void TCustomComboBox::SetStyle(TComboBoxStyle style)
{
    FStyle = style;
    const bool editable = style != TComboBoxStyle::csDropDownList;
    if (editable == isEditable())
        return;
    setEditable(editable);
    if (editable)
        ConnectEditField();
}

void TCustomComboBox::ConnectEditField()
{
    // What the user types stays as typed: never added to the list, never completed.
    setInsertPolicy(QComboBox::NoInsert);
    setCompleter(nullptr);
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] { Guarded([this] { Change(); }); });
}

QString TCustomComboBox::Text() const
{
    if (QLineEdit* edit = lineEdit())
        return edit->text();
    return currentIndex() >= 0 ? itemText(currentIndex()) : QString();
}

void TCustomComboBox::SetText(const QString& text)
{
    if (QLineEdit* edit = lineEdit()) {
        edit->setText(text);
        return;
    }
    const int index = FItems->IndexOf(text);
    if (index >= 0)
        setCurrentIndex(index);
}

void TCustomComboBox::Change()
{
    if (OnChange)
        OnChange();
}

} // namespace zentrop
