// Modal message boxes with one OK button, and the hook through which tests see them instead
// of blocking on a real box.
#pragma once

#include <QString>
#include <functional>

namespace zentrop {

enum class TMsgDlgType { mtWarning, mtError, mtInformation, mtConfirmation, mtCustom };

// One message box as it would be shown.
struct MessageBoxCall {
    TMsgDlgType Type;
    QString Title;
    QString Text;
};

// A hook receives every message box in place of the real one. An empty hook shows real boxes.
using MessageBoxHook = std::function<void(const MessageBoxCall&)>;

// Installs a hook and returns the one it replaces.
MessageBoxHook SetMessageBoxHook(MessageBoxHook hook);

// Shows a modal box with the text, the title and an OK button whose caption is the
// resource string of OK; returns when the user has closed it.
void MessageBoxOk(TMsgDlgType type, const QString& title, const QString& text);

// A plain message: the application's title over the text.
void ShowMessage(const QString& text);

// Installs a hook for the lifetime of the object and puts the previous one back after it.
class ScopedMessageBoxHook {
public:
    explicit ScopedMessageBoxHook(MessageBoxHook hook) : FPrevious(SetMessageBoxHook(std::move(hook))) {}
    ~ScopedMessageBoxHook() { SetMessageBoxHook(std::move(FPrevious)); }
    ScopedMessageBoxHook(const ScopedMessageBoxHook&) = delete;
    ScopedMessageBoxHook& operator=(const ScopedMessageBoxHook&) = delete;

private:
    MessageBoxHook FPrevious;
};

} // namespace zentrop
