// The file-open dialog component, with filters in the "description|patterns" form, and the
// hook through which tests answer it without a real dialog.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace zentrop {

class TOpenDialog : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Title READ Title WRITE SetTitle)
    Q_PROPERTY(QString Filter READ Filter WRITE SetFilter)
    Q_PROPERTY(int FilterIndex READ FilterIndex WRITE SetFilterIndex)
    Q_PROPERTY(QString FileName READ FileName WRITE SetFileName)
    Q_PROPERTY(QString InitialDir READ InitialDir WRITE SetInitialDir)

public:
    // A hook runs in place of the real dialog: it sees the dialog's settings, sets FileName
    // (and FilterIndex) as the user's choice would, and returns false for "cancelled".
    using ExecuteHook = std::function<bool(TOpenDialog&)>;
    static ExecuteHook SetExecuteHook(ExecuteHook hook);

    explicit TOpenDialog(QObject* owner = nullptr);

    // Empty: the resource string of "Open".
    QString Title() const { return FTitle; }
    void SetTitle(const QString& title) { FTitle = title; }
    // Pairs of description and patterns, all separated by "|"; patterns by ";".
    QString Filter() const { return FFilter; }
    void SetFilter(const QString& filter) { FFilter = filter; }
    // The filter shown first, counted from 1.
    int FilterIndex() const { return FFilterIndex; }
    void SetFilterIndex(int index) { FFilterIndex = index; }
    // The file the dialog starts on; after Execute, the chosen file.
    QString FileName() const { return FFileName; }
    void SetFileName(const QString& name) { FFileName = name; }
    QString InitialDir() const { return FInitialDir; }
    void SetInitialDir(const QString& dir) { FInitialDir = dir; }

    // Runs the dialog modally; true when the user chose a file.
    bool Execute();

    // The toolkit's name filters for a filter text: "Upgrade (*.upg)|*.upg|All files (*.*)|*.*"
    // gives "Upgrade (*.upg)" and "All files (*.*)"; a description that does not end with
    // its patterns in brackets gets them appended.
    static QStringList NameFilters(const QString& filter);

private:
    QString FTitle;
    QString FFilter;
    int FFilterIndex = 1;
    QString FFileName;
    QString FInitialDir;
};

} // namespace zentrop
