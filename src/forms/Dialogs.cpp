// The file-open dialog: filter conversion, the real dialog and its test hook.
#include "forms/Dialogs.h"

#include "base/ResStrings.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>

#include <algorithm>

#include <utility>

namespace zentrop {

namespace {

TOpenDialog::ExecuteHook& Hook()
{
    static TOpenDialog::ExecuteHook hook;
    return hook;
}

} // namespace

TOpenDialog::ExecuteHook TOpenDialog::SetExecuteHook(ExecuteHook hook)
{
    return std::exchange(Hook(), std::move(hook));
}

TOpenDialog::TOpenDialog(QObject* owner)
    : QObject(owner)
{
}

QStringList TOpenDialog::NameFilters(const QString& filter)
{
    QStringList out;
    const QStringList parts = filter.split(u'|');
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        const QString patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts).join(u' ');
        out.append(description.endsWith(u'(' + patterns + u')') ? description
                                                                : description + QStringLiteral(" (") + patterns + u')');
    }
    return out;
}

bool TOpenDialog::Execute()
{
    if (Hook()) {
        const ExecuteHook hook = Hook();
        return hook(*this);
    }
    QFileDialog dialog(QApplication::activeWindow(), FTitle.isEmpty() ? LoadResString(res::SOpenDialogTitle) : FTitle);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // As with the platform's dialog, a name may be typed that does not exist (yet).
    dialog.setFileMode(QFileDialog::AnyFile);
    const QStringList filters = NameFilters(FFilter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        dialog.selectNameFilter(filters.value(std::max(0, FFilterIndex - 1), filters.front()));
    }
    if (!FInitialDir.isEmpty())
        dialog.setDirectory(FInitialDir);
    if (!FFileName.isEmpty()) {
        const QFileInfo start(FFileName);
        if (start.absoluteDir().exists())
            dialog.setDirectory(start.absolutePath());
        dialog.selectFile(start.fileName());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    FFileName = dialog.selectedFiles().front();
    FFilterIndex = static_cast<int>(filters.indexOf(dialog.selectedNameFilter())) + 1;
    return true;
}

} // namespace zentrop
