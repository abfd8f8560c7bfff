// The application object and the standard error report: every exception that reaches the
// event loop is shown in a modal message box with its text, and the loop goes on.
#pragma once

#include <QApplication>
#include <QString>

#include <exception>
#include <utility>

namespace zentrop {

class TApplication : public QApplication {
    Q_OBJECT

public:
    TApplication(int& argc, char** argv);

    // Title of plain message boxes.
    QString Title() const { return applicationName(); }
    void SetTitle(const QString& title) { setApplicationName(title); }

    bool notify(QObject* receiver, QEvent* event) override;
};

// The text an exception carries: the message of our own exceptions, what() of the others.
QString ExceptionMessage(const std::exception& e);

// The standard error report: a modal message box titled with the resource string of "Error"
// over the exception's text.
void ShowException(const std::exception& e);

// Runs f; an exception it raises is shown by the standard error report instead of leaving
// through the caller (event handlers must not throw into the toolkit). True when f returned.
template <typename F>
bool Guarded(F&& f) noexcept
{
    try {
        std::forward<F>(f)();
        return true;
    } catch (const std::exception& e) {
        ShowException(e);
        return false;
    }
}

} // namespace zentrop
