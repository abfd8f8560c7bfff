// The terminal settings dialog: what others find in it, texts that fit their places in the
// font the dialog really gets, and its run against a terminal.
#include "cportctl/ComTerminal.h"
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

using namespace zentrop;

class ComTrmSetTest : public QObject {
    Q_OBJECT

private slots:
    void dialogIsLaidOutAsDesigned();
    void dialogTextsFitTheirPlaces();
    void dialogShowsAndAppliesTheTerminalsSettings_data();
    void dialogShowsAndAppliesTheTerminalsSettings();
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
    QCOMPARE(form.cbEmulation->Items()->ToStringList(), (QStringList{"ANSI/VT100", "VT52", "None", "VT102"}));

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

void ComTrmSetTest::dialogShowsAndAppliesTheTerminalsSettings_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("columns");   // typed into the dialog
    QTest::addColumn<int>("newColumns");    // the terminal's afterwards
    QTest::newRow("OK") << int(mrOk) << "132" << 132;
    QTest::newRow("OK, size out of range") << int(mrOk) << "999" << 256;
    QTest::newRow("OK, size not a number") << int(mrOk) << "wide" << 80;
    QTest::newRow("Cancel") << int(mrCancel) << "132" << 80;
}

void ComTrmSetTest::dialogShowsAndAppliesTheTerminalsSettings()
{
    QFETCH(int, result);
    QFETCH(QString, columns);
    QFETCH(int, newColumns);
    TComTerminal t;
    t.SetLocalEcho(true);
    t.SetCaret(TTermCaret::tcNone);
    t.SetEmulation(TTermEmulation::teNone);
    QStringList shown;
    const TForm::ShowModalHook previous = TForm::SetShowModalHook([&](TForm& form) {
        auto& f = static_cast<TComTrmSetForm&>(form);
        shown << QString::number(f.chkLocalEcho->Checked()) << QString::number(f.chkWrapLines->Checked())
              << QString::number(f.cbCaret->ItemIndex()) << f.cbEmulation->Text() << f.edColumns->Text()
              << f.edRows->Text() << f.cbArrowKeys->Text();
        f.chkLocalEcho->SetChecked(false);
        f.chkWrapLines->SetChecked(true);
        f.cbCaret->SetItemIndex(1);
        f.cbEmulation->SetItemIndex(1);
        f.edColumns->SetText(columns);
        f.cbArrowKeys->SetItemIndex(1);
        return result;
    });
    const bool confirmed = ExecuteTerminalSetup(&t);
    TForm::SetShowModalHook(previous);

    QCOMPARE(shown, (QStringList{"1", "0", "-1", "None", "80", "24", "Act as terminal keys"}));
    const bool ok = result == mrOk;
    QCOMPARE(confirmed, ok);
    QCOMPARE(t.LocalEcho(), !ok);
    QCOMPARE(t.WrapLines(), ok);
    QCOMPARE(t.Caret(), ok ? TTermCaret::tcUnderline : TTermCaret::tcNone);
    QCOMPARE(t.Emulation(), ok ? TTermEmulation::teVT52 : TTermEmulation::teNone);
    QCOMPARE(t.ArrowKeys(), ok ? TArrowKeys::akWindows : TArrowKeys::akTerminal);
    QCOMPARE(t.Columns(), newColumns);
    QCOMPARE(t.Rows(), 24);
}

QTEST_MAIN(ComTrmSetTest)
#include "ComTrmSetTest.moc"
