// The widget classes: properties reachable by name, action links, dialog keys and
// modal results, combo box and radio group lists, and the standard error report.
#include "forms/Actions.h"
#include "forms/Application.h"
#include "forms/Buttons.h"
#include "forms/ComboBox.h"
#include "forms/Controls.h"
#include "forms/Dialogs.h"
#include "forms/Font.h"
#include "forms/Form.h"
#include "forms/Menus.h"
#include "forms/MessageBox.h"
#include "forms/RadioGroup.h"
#include "base/Exception.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMetaProperty>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <stdexcept>
#include <unistd.h>
#include <vector>

using namespace zentrop;

namespace {

// Records the message boxes that would have been shown.
struct BoxRecorder {
    std::vector<MessageBoxCall> calls;
    ScopedMessageBoxHook hook{[this](const MessageBoxCall& c) { calls.push_back(c); }};
};

// A combo box whose change notification is counted, as a subclass would see it.
class CountingCombo : public TCustomComboBox {
public:
    using TCustomComboBox::TCustomComboBox;
    int changes = 0;

protected:
    void Change() override
    {
        ++changes;
        TCustomComboBox::Change();
    }
};

} // namespace

class FormsTest : public QObject {
    Q_OBJECT

private slots:
    void propertiesAreReachableByName();
    void actionWithoutHandlerIsShownDisabled();
    void linkedControlFollowsActionUnlessCaptionWasChanged();
    void handlerExceptionsReachTheErrorReport();
    void eventLoopExceptionsReachTheErrorReport();
    void enterAndEscapePressDefaultAndCancelButtons();
    void modalRunEnds_data();
    void modalRunEnds();
    void applicationExitEndsAModalRun();
    void menuEntriesRunTheirActions();
    void comboListChangesKeepEditTextAndSelection();
    void comboChangeFiresOnlyForTheUser();
    void dropDownListTextSelectsMatchingItem();
    void radioGroupItemsAreItsButtons();
    void progressBarStaysInRangeAndStartsOver();
    void panelsAlignToTheEdges();
    void labelSizesItselfToItsText();
    void openDialogFilters_data();
    void openDialogFilters();
    void openDialogHookAnswersInsteadOfTheUser();
};

void FormsTest::propertiesAreReachableByName()
{
    // Form translation knows no classes: it writes string properties by name and follows
    // object references (a font, an item list) to their own properties.
    TForm form;
    form.setFont(DesignFont(QStringLiteral("MS Sans Serif"), 11));
    auto* label = new TLabel(form.Client());
    auto* group = new TRadioGroup(form.Client());
    for (QObject* o : {static_cast<QObject*>(&form), static_cast<QObject*>(label)}) {
        const QMetaProperty caption = o->metaObject()->property(o->metaObject()->indexOfProperty("Caption"));
        QCOMPARE(caption.metaType().id(), QMetaType::QString);
        QVERIFY(caption.isWritable());
        QVERIFY(caption.write(o, QStringLiteral("Fordított")));
    }
    QCOMPARE(form.Caption(), QStringLiteral("Fordított"));
    QCOMPARE(label->Caption(), QStringLiteral("Fordított"));

    QObject* items = group->property("Items").value<QObject*>();
    QVERIFY(items && items->setProperty("CommaText", QStringLiteral("Flash,EEProm")));
    QCOMPARE(group->Buttons().size(), 2);
    QCOMPARE(group->Buttons()[1]->text(), QStringLiteral("EEProm"));

    QObject* font = label->property("Font").value<QObject*>();
    QCOMPARE(font->property("Name").toString(), QStringLiteral("MS Sans Serif"));
    QVERIFY(font->setProperty("Name", QStringLiteral("Serif Test")));
    QCOMPARE(label->font().family(), QStringLiteral("Serif Test"));
    // The form keeps its own font: only the label changed.
    QCOMPARE(form.Font()->Name(), QStringLiteral("MS Sans Serif"));
}

void FormsTest::actionWithoutHandlerIsShownDisabled()
{
    TForm form;
    auto* action = new TAction(&form);
    action->SetCaption(QStringLiteral("Get FirmwareID"));
    auto* button = new TButton(form.Client());
    button->SetAction(action);
    QVERIFY(!action->Enabled());
    QVERIFY(!button->isEnabled());
    QCOMPARE(button->Caption(), QStringLiteral("Get FirmwareID"));

    int runs = 0;
    action->SetOnExecute([&] { ++runs; });
    QVERIFY(action->Enabled());
    QVERIFY(button->isEnabled());
    QVERIFY(action->Execute());
    action->SetEnabled(false);
    QVERIFY(!button->isEnabled());
    QVERIFY(!action->Execute());
    QCOMPARE(runs, 1);
}

void FormsTest::linkedControlFollowsActionUnlessCaptionWasChanged()
{
    TForm form;
    auto* action = new TAction(&form);
    action->SetCaption(QStringLiteral("FlashFile"));
    action->SetOnExecute([] {});
    auto* own = new TSpeedButton(form.Client());
    own->SetAction(action);
    own->SetCaption(QStringLiteral("..."));
    auto* follows = new TButton(form.Client());
    follows->SetAction(action);
    auto* item = new TMenuItem(&form);
    item->SetAction(action);

    action->SetCaption(QStringLiteral("Fájl"));
    QCOMPARE(own->Caption(), QStringLiteral("..."));
    QCOMPARE(follows->Caption(), QStringLiteral("Fájl"));
    QCOMPARE(item->Caption(), QStringLiteral("Fájl"));
    action->SetEnabled(false);
    QVERIFY(!own->isEnabled());
    QVERIFY(!item->Enabled());

    // A control outlives the action it was linked to.
    delete action;
    follows->click();
    QCOMPARE(follows->Caption(), QStringLiteral("Fájl"));
}

void FormsTest::handlerExceptionsReachTheErrorReport()
{
    BoxRecorder boxes;
    TForm form;
    auto* action = new TAction(&form);
    action->SetOnExecute([] { throw EFOpenError(QStringLiteral("Cannot open file \"x\". No such file or directory")); });
    auto* button = new TButton(form.Client());
    button->SetAction(action);
    button->click();
    auto* check = new TCheckBox(form.Client());
    check->OnClick = [] { throw std::runtime_error("plain failure"); };
    check->click();

    QCOMPARE(boxes.calls.size(), size_t(2));
    QCOMPARE(boxes.calls[0].Type, TMsgDlgType::mtError);
    QCOMPARE(boxes.calls[0].Title, QStringLiteral("Error"));
    QCOMPARE(boxes.calls[0].Text, QStringLiteral("Cannot open file \"x\". No such file or directory"));
    QCOMPARE(boxes.calls[1].Text, QStringLiteral("plain failure"));
}

// An object whose event handler throws, as a window's handler might.
class Thrower : public QObject {
public:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User)
            throw Exception(QStringLiteral("Unable to write to /x.ini"));
        return QObject::event(e);
    }
};

void FormsTest::eventLoopExceptionsReachTheErrorReport()
{
    auto* app = qobject_cast<TApplication*>(QCoreApplication::instance());
    QVERIFY(app);
    BoxRecorder boxes;
    Thrower t;
    QCoreApplication::postEvent(&t, new QEvent(QEvent::User));
    QCoreApplication::postEvent(&t, new QEvent(QEvent::User));
    QCoreApplication::sendPostedEvents(&t);
    // Both events were delivered: the loop went on after the first report.
    QCOMPARE(boxes.calls.size(), size_t(2));
    QCOMPARE(boxes.calls[1].Text, QStringLiteral("Unable to write to /x.ini"));
}

void FormsTest::enterAndEscapePressDefaultAndCancelButtons()
{
    TForm form;
    form.SetClientSize(200, 100);
    auto* edit = new TComboBox(form.Client());
    auto* check = new TCheckBox(form.Client());
    auto* ok = new TButton(form.Client());
    ok->SetDefault(true);
    auto* cancel = new TButton(form.Client());
    cancel->SetCancel(true);
    auto* other = new TButton(form.Client());
    int okClicks = 0, cancelClicks = 0, otherClicks = 0;
    ok->OnClick = [&] { ++okClicks; };
    cancel->OnClick = [&] { ++cancelClicks; };
    other->OnClick = [&] { ++otherClicks; };
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    for (QWidget* w : {static_cast<QWidget*>(edit), static_cast<QWidget*>(check)}) {
        w->setFocus();
        QTest::keyClick(w->focusWidget() ? w->focusWidget() : w, Qt::Key_Return);
        QTest::keyClick(w->focusWidget() ? w->focusWidget() : w, Qt::Key_Escape);
    }
    QCOMPARE(okClicks, 2);
    QCOMPARE(cancelClicks, 2);

    // A focused button takes Enter itself.
    other->setFocus();
    QTest::keyClick(other, Qt::Key_Return);
    QCOMPARE(otherClicks, 1);
    QCOMPARE(okClicks, 2);

    // A disabled default button is not pressed.
    ok->setEnabled(false);
    check->setFocus();
    QTest::keyClick(check, Qt::Key_Enter);
    QCOMPARE(okClicks, 2);
}

void FormsTest::modalRunEnds_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<int>("result");
    QTest::newRow("button with a modal result") << "click" << mrRetry;
    QTest::newRow("closed") << "close" << mrCancel;
    QTest::newRow("hidden") << "hide" << mrCancel;
}

void FormsTest::modalRunEnds()
{
    QFETCH(QString, how);
    QFETCH(int, result);
    TForm form;
    form.SetBorderStyle(TForm::TFormBorderStyle::bsDialog);
    form.SetClientSize(120, 60);
    auto* button = new TButton(form.Client());
    button->SetModalResult(mrRetry);
    QTimer::singleShot(0, &form, [&] {
        if (how == "click")
            button->click();
        else if (how == "close")
            form.close();
        else
            form.hide();
    });
    QCOMPARE(form.ShowModal(), result);
    QCOMPARE(form.ModalResult(), result);
    QVERIFY(!form.isVisible());
}

void FormsTest::applicationExitEndsAModalRun()
{
    // Once the application is told to end, every new event loop returns at once; the run
    // must end too rather than spin.
    TForm form;
    form.SetClientSize(120, 60);
    TModalResult result = mrNone;
    QTimer::singleShot(0, &form, [&] {
        QTimer::singleShot(0, &form, [] { QCoreApplication::exit(3); });
        result = form.ShowModal();
    });
    ::alarm(30);   // a run that never ends kills the test program instead of hanging it
    const int code = QCoreApplication::exec();
    ::alarm(0);
    QCOMPARE(code, 3);
    QCOMPARE(result, mrCancel);
    QVERIFY(!form.isVisible());
}

void FormsTest::menuEntriesRunTheirActions()
{
    TForm form;
    form.SetBorderStyle(TForm::TFormBorderStyle::bsSingle);
    form.SetClientSize(300, 100);
    auto* menu = new TMainMenu(&form);
    auto* action = new TAction(&form);
    action->SetCaption(QStringLiteral("Exit"));
    int runs = 0;
    action->SetOnExecute([&] { ++runs; });
    auto* program = new TMenuItem(&form);
    program->SetCaption(QStringLiteral("Program"));
    auto* exit = new TMenuItem(&form);
    exit->SetAction(action);
    program->Add(exit);
    auto* barExit = new TMenuItem(&form);
    barExit->SetAction(action);
    menu->Add(program);
    menu->Add(barExit);

    QCOMPARE(menu->Bar()->actions().size(), 2);
    QCOMPARE(menu->Bar()->actions()[0]->text(), QStringLiteral("Program"));
    QVERIFY(menu->Bar()->actions()[0]->menu());
    QCOMPARE(menu->Bar()->actions()[1]->text(), QStringLiteral("Exit"));
    exit->QtAction()->trigger();
    barExit->QtAction()->trigger();
    QCOMPARE(runs, 2);
    // The client area lies below the bar and keeps its size.
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.Client()->geometry(), QRect(0, menu->Bar()->height(), 300, 100));
    QCOMPARE(form.height(), 100 + menu->Bar()->sizeHint().height());
}

void FormsTest::comboListChangesKeepEditTextAndSelection()
{
    TForm form;
    auto* combo = new TComboBox(form.Client());
    combo->SetText(QStringLiteral("typed.upg"));
    combo->Items()->SetCommaText(QStringLiteral("\"/a b/one.upg\",two.upg"));
    QCOMPARE(combo->Items()->Count(), 2);
    QCOMPARE(combo->Items()->Get(0), QStringLiteral("/a b/one.upg"));
    QCOMPARE(combo->ItemIndex(), -1);
    QCOMPARE(combo->Text(), QStringLiteral("typed.upg"));

    combo->SetItemIndex(1);
    QCOMPARE(combo->Text(), QStringLiteral("two.upg"));
    combo->SetText(QStringLiteral("other"));
    combo->Items()->Put(1, QStringLiteral("three.upg"));
    combo->Items()->Add(QStringLiteral("two.upg"));
    QCOMPARE(combo->Text(), QStringLiteral("other"));
    combo->Items()->Clear();
    QCOMPARE(combo->Text(), QStringLiteral("other"));
    QCOMPARE(combo->Items()->CommaText(), QString());
    QVERIFY_THROWS_EXCEPTION(EConvertError, combo->Items()->Get(0));
}

void FormsTest::comboChangeFiresOnlyForTheUser()
{
    TForm form;
    form.SetClientSize(200, 60);
    auto* combo = new CountingCombo(form.Client());
    combo->setGeometry(0, 0, 150, 21);
    int onChange = 0;
    combo->OnChange = [&] { ++onChange; };
    combo->Items()->SetCommaText(QStringLiteral("a,b"));
    combo->SetText(QStringLiteral("x"));
    combo->SetItemIndex(1);
    QCOMPARE(combo->changes, 0);

    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    combo->lineEdit()->setFocus();
    QTest::keyClicks(combo->lineEdit(), QStringLiteral("c"));
    QCOMPARE(combo->changes, 1);
    emit combo->activated(0);
    QCOMPARE(combo->changes, 2);
    QCOMPARE(onChange, 2);
}

void FormsTest::dropDownListTextSelectsMatchingItem()
{
    TForm form;
    auto* combo = new TComboBox(form.Client());
    combo->SetStyle(TCustomComboBox::TComboBoxStyle::csDropDownList);
    QVERIFY(!combo->lineEdit());
    combo->Items()->SetCommaText(QStringLiteral("COM1,COM3"));
    QCOMPARE(combo->ItemIndex(), -1);
    QCOMPARE(combo->Text(), QString());
    combo->SetText(QStringLiteral("com3"));
    QCOMPARE(combo->ItemIndex(), 1);
    QCOMPARE(combo->Text(), QStringLiteral("COM3"));
    combo->SetText(QStringLiteral("COM9"));
    QCOMPARE(combo->ItemIndex(), 1);
    combo->SetItemIndex(-1);
    QCOMPARE(combo->Text(), QString());
}

void FormsTest::radioGroupItemsAreItsButtons()
{
    TForm form;
    auto* group = new TRadioGroup(form.Client());
    group->setGeometry(392, 56, 113, 73);
    group->Items()->SetCommaText(QStringLiteral("Flash,EEProm,Flash+EEProm"));
    QCOMPARE(group->Buttons().size(), 3);
    QCOMPARE(group->ItemIndex(), -1);
    group->SetItemIndex(0);
    QVERIFY(group->Buttons()[0]->isChecked());

    group->Items()->Put(1, QStringLiteral("EEPROM"));
    QCOMPARE(group->Buttons()[1]->text(), QStringLiteral("EEPROM"));
    int clicks = 0;
    group->OnClick = [&] { ++clicks; };
    group->Buttons()[2]->click();
    QCOMPARE(group->ItemIndex(), 2);
    QCOMPARE(clicks, 1);

    group->SetItemIndex(-1);
    for (QRadioButton* b : group->Buttons())
        QVERIFY(!b->isChecked());
    group->SetItemIndex(2);
    group->Items()->Delete(2);
    QCOMPARE(group->Buttons().size(), 2);
    QCOMPARE(group->ItemIndex(), 1);
    QVERIFY(group->Buttons()[1]->isChecked());
}

void FormsTest::progressBarStaysInRangeAndStartsOver()
{
    TForm form;
    auto* bar = new TProgressBar(form.Client());
    QCOMPARE(bar->Min(), 0);
    QCOMPARE(bar->Max(), 100);
    bar->SetStep(1);
    bar->SetMax(3);
    bar->SetPosition(0);
    bar->StepIt();
    bar->StepIt();
    bar->StepIt();
    QCOMPARE(bar->Position(), 3);
    QCOMPARE(bar->value(), 3);
    bar->StepIt();
    QCOMPARE(bar->Position(), 1);
    bar->SetPosition(50);
    QCOMPARE(bar->Position(), 3);
    // An empty range is an empty bar, not a busy indicator.
    bar->SetMax(0);
    QCOMPARE(bar->Position(), 0);
    QVERIFY(bar->maximum() > bar->minimum());
    QCOMPARE(bar->value(), bar->minimum());
}

void FormsTest::panelsAlignToTheEdges()
{
    TForm form;
    form.SetBorderStyle(TForm::TFormBorderStyle::bsSingle);
    form.SetClientSize(522, 241);
    auto* top = new TPanel(form.Client());
    top->resize(10, 137);
    top->SetAlign(TPanel::TAlign::alTop);
    auto* bottom = new TPanel(form.Client());
    bottom->resize(10, 41);
    bottom->SetAlign(TPanel::TAlign::alBottom);
    QCOMPARE(top->geometry(), QRect(0, 0, 522, 137));
    QCOMPARE(bottom->geometry(), QRect(0, 200, 522, 41));
    form.SetBorderStyle(TForm::TFormBorderStyle::bsSizeable);
    form.SetClientSize(600, 300);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTRY_COMPARE(bottom->geometry(), QRect(0, 259, 600, 41));
    QCOMPARE(top->width(), 600);
}

void FormsTest::labelSizesItselfToItsText()
{
    TForm form;
    auto* label = new TLabel(form.Client());
    label->SetCaption(QStringLiteral("Upgrade file:"));
    const QSize first = label->size();
    label->SetCaption(QStringLiteral("Upgrade file: and much more"));
    QVERIFY(label->width() > first.width());
    // Names are shown as they are, never as markup.
    label->SetCaption(QStringLiteral("<b>x</b>"));
    QCOMPARE(label->textFormat(), Qt::PlainText);
    auto* fixed = new TLabel(form.Client());
    fixed->SetAutoSize(false);
    fixed->setGeometry(48, 176, 345, 13);
    fixed->SetCaption(QStringLiteral("a very long status line that does not fit in the label at all, not at all"));
    QCOMPARE(fixed->size(), QSize(345, 13));
}

void FormsTest::openDialogFilters_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QStringList>("expected");
    QTest::addRow("upgrade") << "Upgrade (*.upg)|*.upg|All files (*.*)|*.*"
                             << QStringList{"Upgrade (*.upg)", "All files (*.*)"};
    QTest::addRow("bare description") << "Text|*.txt;*.log" << QStringList{"Text (*.txt *.log)"};
    QTest::addRow("odd part ignored") << "Text|*.txt|Dangling" << QStringList{"Text (*.txt)"};
    QTest::addRow("empty") << "" << QStringList{};
}

void FormsTest::openDialogFilters()
{
    QFETCH(QString, filter);
    QFETCH(QStringList, expected);
    QCOMPARE(TOpenDialog::NameFilters(filter), expected);
}

void FormsTest::openDialogHookAnswersInsteadOfTheUser()
{
    TOpenDialog dialog;
    dialog.SetFileName(QStringLiteral("/tmp/start.upg"));
    QString seen;
    const auto previous = TOpenDialog::SetExecuteHook([&](TOpenDialog& d) {
        seen = d.FileName();
        d.SetFileName(QStringLiteral("/tmp/chosen.upg"));
        return true;
    });
    QVERIFY(dialog.Execute());
    QCOMPARE(seen, QStringLiteral("/tmp/start.upg"));
    QCOMPARE(dialog.FileName(), QStringLiteral("/tmp/chosen.upg"));
    TOpenDialog::SetExecuteHook([](TOpenDialog&) { return false; });
    QVERIFY(!dialog.Execute());
    TOpenDialog::SetExecuteHook(previous);
}

int main(int argc, char** argv)
{
    TApplication app(argc, argv);
    FormsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "FormsTest.moc"
