// Shows the terminal window and the terminal settings dialog with sample contents, the VT102
// terminal after recorded program output, and zentrop-term on a device, and saves what the
// display shows of each as a PNG, for looking at them under a virtual display.
#include "gui/Terminal.h"
#include "cportctl/ComTerminal.h"
#include "cportctl/ComTrmSet.h"
#include "forms/Application.h"
#include "forms/Buttons.h"
#include "forms/ComboBox.h"
#include "forms/Edit.h"
#include "termapp/TermSetupDialog.h"
#include "termapp/TermWindow.h"

#include <QDir>
#include <QFile>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <pty.h>
#include <unistd.h>

using namespace zentrop;

namespace {

// Waits until the window is on the display and everything it asked to paint is painted, then
// saves the screen's pixels of the window, frame excluded.
bool Save(QWidget& window, const QString& dir, const QString& name)
{
    window.show();
    window.activateWindow();
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

// Shows the window and gives it the keyboard, as a click on it would.
bool ShowActive(QWidget& window)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
}

void Receive(TComTerminal* terminal, const QByteArray& text)
{
    terminal->ComLink()->OnRxData(nullptr, text.constData(), static_cast<int>(text.size()));
}

// The window as the program makes it, after the user typed two lines.
bool TerminalWindow(const QString& dir)
{
    TwTerminal window(nullptr);
    if (!ShowActive(window))
        return false;
    QTest::keyClicks(window.ComTerminal1, QStringLiteral("Typed text is echoed"));
    QTest::keyClick(window.ComTerminal1, Qt::Key_Return);
    Receive(window.ComTerminal1, "\nsecond line");
    return Save(window, dir, QStringLiteral("terminal-window"));
}

// A VT100 terminal with bold, inverse and underlined text, in a window smaller than its grid,
// scrolled a little both ways, with its caret in view.
bool TerminalAttributes(const QString& dir)
{
    TwTerminal window(nullptr);
    TComTerminal* t = window.ComTerminal1;
    t->SetEmulation(TTermEmulation::teVT100orANSI);
    window.SetClientSize(420, 240);
    if (!ShowActive(window))
        return false;
    for (int i = 1; i <= 24; ++i)
        Receive(t, QByteArray("line ") + QByteArray::number(i) + "\tcolumn 9\tcolumn 17\x1b[" + QByteArray::number(i)
                       + ";75Hend" + (i < 24 ? "\r\n" : ""));
    Receive(t, "\x1b[8;3H\x1b[KPlain, \x1b[1mbold\x1b[0m, \x1b[7minverse\x1b[0m, \x1b[4munderline\x1b[0m,\r\n"
               "\x1b[K  \x1b[1;7mbold and inverse\x1b[0m, \x1b[4;7minverse underline\x1b[0m, plain.\x1b[12;20H");
    t->verticalScrollBar()->setValue(4);
    t->horizontalScrollBar()->setValue(2);
    return Save(window, dir, QStringLiteral("terminal-attributes"));
}

// A VT102 terminal after a recorded program's output (a full-screen program, colours, a
// dialog box drawn with the line-drawing set).
bool TerminalCapture(const QString& dir, const QString& capture)
{
    QFile f(QStringLiteral(ZENTROP_CAPTURES_DIR "/") + capture + QStringLiteral(".vt"));
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = f.readAll();
    TwTerminal window(nullptr);
    TComTerminal* t = window.ComTerminal1;
    t->SetEmulation(TTermEmulation::teVT102);
    t->SetWrapLines(true);
    // A small fixed-pitch font, so that the whole screen fits the shot.
    QFont font(QStringLiteral("DejaVu Sans Mono"), 8);
    font.setStyleHint(QFont::TypeWriter);
    t->setFont(font);
    window.SetClientSize(1000, 440);
    if (!ShowActive(window))
        return false;
    for (qsizetype at = 0; at < bytes.size(); at += ComTermCore::MaxChunk)
        Receive(t, bytes.mid(at, ComTermCore::MaxChunk));
    return Save(window, dir, QStringLiteral("terminal-vt102-") + capture);
}

bool TerminalSetupDialog(const QString& dir)
{
    TComTrmSetForm form;
    form.chkLocalEcho->SetChecked(true);
    form.cbCaret->SetItemIndex(0);
    form.cbEmulation->SetItemIndex(3);
    form.edColumns->SetText(QStringLiteral("80"));
    form.edRows->SetText(QStringLiteral("24"));
    form.cbArrowKeys->SetItemIndex(0);
    return Save(form, dir, QStringLiteral("terminal-setup"));
}

// zentrop-term's terminal settings, with the group the program adds.
bool TermAppSetupDialog(const QString& dir)
{
    TermSetupForm form;
    TComTerminal t;
    t.SetEmulation(TTermEmulation::teVT102);
    t.SetMenuKey(QKeySequence(Qt::SHIFT | Qt::Key_F10));
    form.Load(t);
    return Save(form, dir, QStringLiteral("zentrop-term-setup"));
}

// zentrop-term on a device that printed a coloured log, on a pseudo-terminal.
bool TermApp(const QString& dir)
{
    int master = -1, slave = -1;
    char name[256] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return false;
    ::close(slave);
    QTemporaryDir settings;
    TermWindow window(settings.filePath(QStringLiteral("zentrop-term.ini")), {QString::fromLocal8Bit(name), 115200});
    if (!ShowActive(window))
        return false;
    window.ConfirmExit = [] { return true; };
    const QByteArray log = "boot: device 4711 ready\r\n"
                           "\x1b[1mwarn\x1b[0m: sensor 2 not found\r\n"
                           "temperature 21.5 C, \x1b[7mfan off\x1b[0m\r\n"
                           "UTF-8: h\xc3\xa9llo w\xc3\xb6rld, 20 \xe2\x82\xac, \xe6\xbc\xa2\xe5\xad\x97 wide\r\n"
                           "> ";
    const bool wrote = ::write(master, log.constData(), log.size()) == log.size();
    QTest::qWait(300);
    QTest::keyClicks(window.Terminal(), QStringLiteral("status"));
    // A selection, as the mouse leaves it.
    window.Terminal()->Select(QPoint(1, 2), QPoint(4, 2));
    bool saved = wrote && Save(window, dir, QStringLiteral("zentrop-term"));
    // The same log scrolled back, after enough lines that it left the screen.
    QByteArray more;
    for (int i = 1; i <= 80; ++i)
        more += "line " + QByteArray::number(i) + (i % 10 == 0 ? " \x1b[1;31mten\x1b[0m\r\n" : "\r\n");
    saved = saved && ::write(master, more.constData(), more.size()) == more.size();
    QTest::qWait(300);
    window.Terminal()->ScrollBack(window.Terminal()->Buffer().HistoryCount() - 2);
    saved = saved && Save(window, dir, QStringLiteral("zentrop-term-scrollback"));
    ::close(master);
    return saved;
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
    const bool ok = TerminalWindow(dir) && TerminalAttributes(dir) && TerminalSetupDialog(dir)
        && TerminalCapture(dir, QStringLiteral("vim")) && TerminalCapture(dir, QStringLiteral("top"))
        && TerminalCapture(dir, QStringLiteral("dialog-menu")) && TerminalCapture(dir, QStringLiteral("colours"))
        && TermApp(dir) && TermAppSetupDialog(dir);
    return ok ? 0 : 1;
}
