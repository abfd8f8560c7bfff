// The terminal settings dialog: what others find in it, and texts that fit their places in
// the font the dialog really gets.
#include "cportctl/ComTrmSet.h"
#include "forms/Buttons.h"
#include "forms/ComboBox.h"
#include "forms/Controls.h"
#include "forms/Edit.h"

#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QtTest>

#include <algorithm>

class ComTrmSetTest : public QObject {
    Q_OBJECT

private slots:
    void dialogIsLaidOutAsDesigned();
    void dialogTextsFitTheirPlaces();
};

void ComTrmSetTest::dialogIsLaidOutAsDesigned()
{
    TComTrmSetForm form;
    QCOMPARE(form.objectName(), QStringLiteral("ComTrmSetForm"));
    QCOMPARE(form.Client()->size(), QSize(295, 287));
    QCOMPARE(form.DefaultButton(), form.Button1);
    QCOMPARE(form.Button1->ModalResult(), mrOk);
    QCOMPARE(form.Button2->ModalResult(), mrCancel);
    QCOMPARE(form.FindComponent(QStringLiteral("edrows")), form.edRows);
    QCOMPARE(form.cbEmulation->Items()->ToStringList(), (QStringList{"ANSI/VT100", "VT52", "None"}));

    // Tab runs down the switches, across each row of settings, then to OK and Cancel.
    const QList<QWidget*> order{form.chkLocalEcho, form.chkSendLF, form.chkWrapLines, form.chkForce7Bit,
                                form.chkAppendLF, form.cbCaret, form.edColumns, form.cbEmulation,
                                form.edRows, form.cbArrowKeys, form.Button1, form.Button2};
    QList<QWidget*> seen;
    QWidget* w = order.first();
    do {
        if (order.contains(w))
            seen << w;
        w = w->nextInFocusChain();
    } while (w != order.first() && seen.size() < order.size());
    QCOMPARE(seen, order);
}

void ComTrmSetTest::dialogTextsFitTheirPlaces()
{
    TComTrmSetForm form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    for (const TCheckBox* check : form.findChildren<TCheckBox*>()) {
        QStyleOptionButton option;
        option.initFrom(check);
        option.text = check->Caption();
        const QRect text = check->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, check);
        QVERIFY2(check->fontMetrics().horizontalAdvance(check->Caption()) <= text.width(),
                 qPrintable(check->Caption()));
        QVERIFY(check->geometry().right() < form.gbAscii->width());
    }
    // Each label ends before the field to its right begins.
    const QList<QPair<QWidget*, QWidget*>> pairs{
        {form.lbCaret, form.cbCaret},     {form.lbEmulation, form.cbEmulation}, {form.lbColumns, form.edColumns},
        {form.lbRows, form.edRows},       {form.lbArrowKeys, form.cbArrowKeys}, {form.cbCaret, form.lbColumns},
        {form.cbEmulation, form.lbRows},
    };
    for (const auto& [left, right] : pairs) {
        const auto* label = qobject_cast<TLabel*>(left);
        const int width = label ? label->fontMetrics().horizontalAdvance(label->Caption()) : left->width();
        QVERIFY2(left->x() + width < right->x(), qPrintable(left->objectName()));
    }
    for (const TComboBox* combo : {form.cbCaret, form.cbEmulation, form.cbArrowKeys}) {
        QStyleOptionComboBox option;
        option.initFrom(combo);
        option.editable = false;
        const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                           QStyle::SC_ComboBoxEditField, combo);
        int widest = 0;
        for (const QString& text : combo->Items()->ToStringList())
            widest = std::max(widest, combo->fontMetrics().horizontalAdvance(text));
        QVERIFY2(widest <= field.width(), qPrintable(combo->objectName()));
    }
    QVERIFY(form.edColumns->fontMetrics().horizontalAdvance(QStringLiteral("256")) < form.edColumns->width() - 6);
}

QTEST_MAIN(ComTrmSetTest)
#include "ComTrmSetTest.moc"
