// Shows the windows of the serial components with sample contents and saves what the
// display shows of each as a PNG, for looking at them under a virtual display.
#include "cportctl/ComTrmSet.h"
#include "forms/Application.h"
#include "forms/Buttons.h"
#include "forms/ComboBox.h"
#include "forms/Edit.h"

#include <QDir>
#include <QScreen>
#include <QTest>

#include <cstdio>

namespace {

// Waits until the window is on the display and everything it asked to paint is painted, then
// saves the screen's pixels of the window, frame excluded.
bool Save(QWidget& window, const QString& dir, const QString& name)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    QTest::qWait(200);
    const QRect area(window.mapToGlobal(QPoint(0, 0)), window.size());
    const QPixmap shot = window.screen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    const QString path = QDir(dir).filePath(name + QStringLiteral(".png"));
    if (!shot.save(path))
        return false;
    std::printf("%s\n", qPrintable(path));
    return true;
}

bool TerminalSetupDialog(const QString& dir)
{
    TComTrmSetForm form;
    form.chkLocalEcho->SetChecked(true);
    form.cbCaret->SetItemIndex(0);
    form.cbEmulation->SetItemIndex(2);
    form.edColumns->SetText(QStringLiteral("80"));
    form.edRows->SetText(QStringLiteral("24"));
    form.cbArrowKeys->SetItemIndex(0);
    return Save(form, dir, QStringLiteral("terminal-setup"));
}

} // namespace

int main(int argc, char** argv)
{
    QApplication::setStyle(QStringLiteral("Windows"));
    TApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: zentrop-screens OUTPUT_DIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);
    return TerminalSetupDialog(dir) ? 0 : 1;
}
