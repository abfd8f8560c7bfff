// Radio group items, buttons, their arrangement and the chosen index.
#include "forms/RadioGroup.h"

#include "forms/Application.h"
#include "forms/Font.h"

#include <QEvent>
#include <QFontMetrics>
#include <QRadioButton>

#include <algorithm>

namespace zentrop {

TRadioGroupStrings::TRadioGroupStrings(TRadioGroup* group)
    : TStrings(group), FGroup(group)
{
}

QString TRadioGroupStrings::Get(int index) const
{
    CheckIndex(index, Count());
    return FItems[index];
}

void TRadioGroupStrings::Put(int index, const QString& s)
{
    CheckIndex(index, Count());
    FItems[index] = s;
    FGroup->ItemsChanged(FItems);
    emit Changed();
}

void TRadioGroupStrings::Insert(int index, const QString& s)
{
    CheckIndex(index, Count() + 1);
    FItems.insert(index, s);
    FGroup->ItemsChanged(FItems);
    emit Changed();
}

void TRadioGroupStrings::Delete(int index)
{
    CheckIndex(index, Count());
    FItems.removeAt(index);
    FGroup->ItemsChanged(FItems);
    emit Changed();
}

void TRadioGroupStrings::Clear()
{
    if (FItems.isEmpty())
        return;
    FItems.clear();
    FGroup->ItemsChanged(FItems);
    emit Changed();
}

TRadioGroup::TRadioGroup(QWidget* parent)
    : QGroupBox(parent), FItems(new TRadioGroupStrings(this)), FFont(new TFont(this)), FGroup(new QButtonGroup(this))
{
    // Keys and clicks both check a button; only the user's click is reported.
    connect(FGroup, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked)
            FItemIndex = id;
    });
    connect(FGroup, &QButtonGroup::idClicked, this, [this] {
        if (OnClick)
            Guarded(OnClick);
    });
}

void TRadioGroup::ItemsChanged(const QStringList& items)
{
    while (FButtons.size() > items.size()) {
        QRadioButton* b = FButtons.takeLast();
        FGroup->removeButton(b);
        delete b;
    }
    while (FButtons.size() < items.size()) {
        auto* b = new QRadioButton(this);
        FGroup->addButton(b, static_cast<int>(FButtons.size()));
        b->show();
        FButtons.append(b);
    }
    for (qsizetype i = 0; i < items.size(); ++i)
        FButtons[i]->setText(items[i]);
    FItemIndex = std::min(FItemIndex, static_cast<int>(items.size()) - 1);
    ShowItemIndex();
    ArrangeButtons();
}

void TRadioGroup::SetItemIndex(int index)
{
    FItemIndex = index >= 0 && index < FItems->Count() ? index : -1;
    ShowItemIndex();
}

void TRadioGroup::ShowItemIndex()
{
    if (FItemIndex >= 0) {
        FButtons[FItemIndex]->setChecked(true);
        return;
    }
    // An exclusive group cannot uncheck its last button; lift the rule for a moment.
    FGroup->setExclusive(false);
    for (QRadioButton* b : FButtons)
        b->setChecked(false);
    FGroup->setExclusive(true);
}

void TRadioGroup::SetColumns(int columns)
{
    FColumns = std::clamp(columns, 1, 16);
    ArrangeButtons();
}

void TRadioGroup::ArrangeButtons()
{
    if (FButtons.isEmpty())
        return;
    // Columns of equal width below the caption; the rows share the height that is left,
    // with what does not divide evenly split above and below.
    const int count = static_cast<int>(FButtons.size());
    const int perColumn = (count + FColumns - 1) / FColumns;
    const int buttonWidth = (width() - 10) / FColumns;
    const int textHeight = QFontMetrics(font()).height();
    const int room = height() - textHeight - 5;
    const int buttonHeight = std::max(1, room / perColumn);
    const int topMargin = textHeight + 1 + (room % perColumn) / 2;
    for (int i = 0; i < count; ++i)
        FButtons[i]->setGeometry((i / perColumn) * buttonWidth + 8, (i % perColumn) * buttonHeight + topMargin,
                                 std::max(1, buttonWidth), buttonHeight);
}

void TRadioGroup::changeEvent(QEvent* event)
{
    QGroupBox::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        ArrangeButtons();
}

void TRadioGroup::resizeEvent(QResizeEvent* event)
{
    QGroupBox::resizeEvent(event);
    ArrangeButtons();
}

} // namespace zentrop
