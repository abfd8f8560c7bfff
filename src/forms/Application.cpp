// The application object's exception guard and the standard error report.
#include "forms/Application.h"

#include "forms/MessageBox.h"
#include "base/Exception.h"
#include "base/ResStrings.h"

namespace zentrop {

TApplication::TApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
}

bool TApplication::notify(QObject* receiver, QEvent* event)
{
    bool result = false;
    Guarded([&] { result = QApplication::notify(receiver, event); });
    return result;
}

QString ExceptionMessage(const std::exception& e)
{
    if (const auto* own = dynamic_cast<const Exception*>(&e))
        return own->Message();
    return QString::fromLocal8Bit(e.what());
}

void ShowException(const std::exception& e)
{
    MessageBoxOk(TMsgDlgType::mtError, LoadResString(res::SMsgDlgError), ExceptionMessage(e));
}

} // namespace zentrop
