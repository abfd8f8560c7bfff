// The modal OK message box, with resource-string button caption, and its test hook.
#include "forms/MessageBox.h"

#include "base/ResStrings.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <utility>

namespace zentrop {

namespace {

MessageBoxHook& Hook()
{
    static MessageBoxHook hook;
    return hook;
}

QMessageBox::Icon IconOf(TMsgDlgType type)
{
    switch (type) {
    case TMsgDlgType::mtWarning:
        return QMessageBox::Warning;
    case TMsgDlgType::mtError:
        return QMessageBox::Critical;
    case TMsgDlgType::mtInformation:
        return QMessageBox::Information;
    case TMsgDlgType::mtConfirmation:
        return QMessageBox::Question;
    case TMsgDlgType::mtCustom:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

MessageBoxHook SetMessageBoxHook(MessageBoxHook hook)
{
    return std::exchange(Hook(), std::move(hook));
}

void MessageBoxOk(TMsgDlgType type, const QString& title, const QString& text)
{
    if (Hook()) {
        // A copy, so that a hook that replaces itself is not destroyed while it runs.
        const MessageBoxHook hook = Hook();
        hook({type, title, text});
        return;
    }
    QMessageBox box(IconOf(type), title, text, QMessageBox::NoButton, QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    QPushButton* ok = box.addButton(LoadResString(res::SMsgDlgOK), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
}

void ShowMessage(const QString& text)
{
    MessageBoxOk(TMsgDlgType::mtCustom, QCoreApplication::applicationName(), text);
}

} // namespace zentrop
