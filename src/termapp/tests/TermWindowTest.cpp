// zentrop-term's window against devices on pseudo-terminals: every byte value both ways, the
// log equal to what arrived, a device that goes away and comes back under the same name, the
// settings read back by the next start, keys that reach the device instead of the window, a
// device that takes nothing while the window goes on, and the first start without a port.
#include "termapp/TermWindow.h"

#include "PortWriter.h"
#include "base/IniFile.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QFile>
#include <QMenu>
#include <QLabel>
#include <QMenuBar>
#include <QStatusBar>
#include <QSignalSpy>
#include <QStyle>
#include <QTimer>
#include <QWheelEvent>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

using namespace zentrop;

namespace {

// The device's end of a pseudo-terminal; the window opens the other end by its path.
struct Device {
    int master = -1;
    QString path;

    Device()
    {
        int slave = -1;
        char name[256] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return;
        ::close(slave);
        path = QString::fromLocal8Bit(name);
    }
    ~Device() { Close(); }
    void Close()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }
    void Write(const QByteArray& bytes) const { QCOMPARE(::write(master, bytes.constData(), bytes.size()), bytes.size()); }
    // What the window sent within the time, until Want bytes have come.
    QByteArray Read(qsizetype want, int timeoutMs) const
    {
        QByteArray got;
        QElapsedTimer clock;
        clock.start();
        while (got.size() < want && clock.elapsed() < timeoutMs) {
            QCoreApplication::processEvents();
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 10) == 1 && (p.revents & POLLIN)) {
                char buf[4096];
                const ssize_t n = ::read(master, buf, sizeof buf);
                if (n > 0)
                    got.append(buf, n);
            }
        }
        return got;
    }
};

QByteArray AllByteValues()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(static_cast<char>(i));
    return bytes;
}

void Type(TermWindow& w, const QString& text)
{
    QTest::keyClicks(w.Terminal(), text);
}

// Sends a key as the window system does: the shortcut check first, then the key to the
// focused widget, so that a shortcut of the window would take it.
void Press(QWidget* target, int key, Qt::KeyboardModifiers mods, const QString& text = QString())
{
    QKeyEvent override(QEvent::ShortcutOverride, key, mods, text);
    QApplication::sendEvent(target, &override);
    if (override.isAccepted()) {
        QKeyEvent press(QEvent::KeyPress, key, mods, text);
        QApplication::sendEvent(target, &press);
    } else {
        // Not taken by the widget: the window's shortcuts see it, as the toolkit does.
        QTest::keyClick(target, static_cast<Qt::Key>(key), mods);
    }
}

int gSetupShown = 0;

} // namespace

class TermWindowTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString Settings() const { return dir.filePath(QStringLiteral("zentrop-term.ini")); }

private slots:
    void init() { QFile::remove(Settings()); }

    void BytesBothWaysAndLog()
    {
        Device dev;
        QVERIFY(!dev.path.isEmpty());
        TermWindow w(Settings(), {dev.path, 0});
        QCOMPARE(w.Connection(), TermWindow::ConnectionState::Connected);

        const QString log = dir.filePath(QStringLiteral("received.log"));
        w.LogTo(log);
        const QByteArray all = AllByteValues();
        dev.Write(all);
        dev.Write(all);
        QTRY_COMPARE(w.ReceivedBytes(), 512);
        w.LogTo(QString());
        QFile f(log);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), all + all);

        const QString file = dir.filePath(QStringLiteral("send.bin"));
        QFile out(file);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(all);
        out.close();
        w.SendFile(file);
        QCOMPARE(dev.Read(256, 5000), all);
        QTRY_VERIFY(!w.SendingFile());

        Type(w, QStringLiteral("Ab"));
        QCOMPARE(dev.Read(2, 5000), QByteArray("Ab"));
        // The writer counts a write once it has returned, which may be after the device read it.
        QTRY_COMPARE(w.SentBytes(), 258);
    }

    void ReconnectsUnderTheSameName()
    {
        auto first = std::make_unique<Device>();
        const QString link = dir.filePath(QStringLiteral("by-id-adapter"));
        QFile::remove(link);
        QVERIFY(QFile::link(first->path, link));
        TermWindow w(Settings(), {link, 0});
        QCOMPARE(w.Connection(), TermWindow::ConnectionState::Connected);

        first->Close();
        QTRY_COMPARE(w.Connection(), TermWindow::ConnectionState::Waiting);
        QVERIFY(w.StatusText().contains(QStringLiteral("went away")));
        Type(w, QStringLiteral("lost"));

        // A new device appears under the same name, as udev makes the link again.
        Device second;
        const QString next = link + QStringLiteral(".new");
        QVERIFY(QFile::link(second.path, next));
        QVERIFY(::rename(QFile::encodeName(next).constData(), QFile::encodeName(link).constData()) == 0);
        QTRY_COMPARE_WITH_TIMEOUT(w.Connection(), TermWindow::ConnectionState::Connected, 5000);
        // What was typed while it was away went nowhere.
        QCOMPARE(second.Read(1, 300), QByteArray());
        Type(w, QStringLiteral("ok"));
        QCOMPARE(second.Read(2, 5000), QByteArray("ok"));
        second.Write("back");
        QTRY_COMPARE(w.ReceivedBytes(), 4);
        first.reset();
    }

    void SettingsReadBackByTheNextStart()
    {
        Device dev;
        {
            TermWindow w(Settings(), {dev.path, 57600});
            QCOMPARE(w.Connection(), TermWindow::ConnectionState::Connected);
            w.Terminal()->SetColumns(100);
            w.Terminal()->SetEmulation(TTermEmulation::teVT52);
            w.Terminal()->SetCaret(TTermCaret::tcUnderline);
            w.SetLocalEcho(true);
            w.Terminal()->SetCharset(TCustomComTerminal::CharacterSet::CodePage);
            w.Terminal()->SetBackspaceSendsBS(true);
            w.Terminal()->SetScrollbackLines(500);
            w.Terminal()->Font()->SetSize(13);
            w.SetMenuKey(QKeySequence(Qt::Key_F10));
            w.ConfirmExit = [] { return true; };
            w.close();
        }
        TermWindow w(Settings(), {});
        QCOMPARE(w.Port()->Port(), dev.path);
        QCOMPARE(w.Port()->BaudRate(), TBaudRate::br57600);
        QCOMPARE(w.Connection(), TermWindow::ConnectionState::Connected);
        QCOMPARE(w.Terminal()->Columns(), 100);
        QCOMPARE(w.Terminal()->Emulation(), TTermEmulation::teVT52);
        QCOMPARE(w.Terminal()->Caret(), TTermCaret::tcUnderline);
        QVERIFY(w.Terminal()->LocalEcho());
        QCOMPARE(w.Terminal()->Charset(), TCustomComTerminal::CharacterSet::CodePage);
        QVERIFY(!w.Terminal()->CharsetIsUtf8());
        QVERIFY(w.Terminal()->BackspaceSendsBS());
        QCOMPARE(w.Terminal()->ScrollbackLines(), 500);
        QCOMPARE(w.Terminal()->Font()->Size(), 13);
        QCOMPARE(w.MenuKey(), QKeySequence(Qt::Key_F10));
        // A value no member names keeps the default rather than failing the start.
        TIniFile ini(Settings());
        ini.WriteString(QStringLiteral("Terminal"), QStringLiteral("Emulation"), QStringLiteral("teVT999"));
        TermWindow again(Settings(), {});
        QCOMPARE(again.Terminal()->Emulation(), TTermEmulation::teVT102);
    }

    void FirstStartOpensNoPort()
    {
        TermWindow w(Settings(), {});
        QCOMPARE(w.Connection(), TermWindow::ConnectionState::Closed);
        QVERIFY(!w.Port()->Connected());
        QVERIFY(w.StatusText().contains(QStringLiteral("No port chosen")));
        QVERIFY(!w.StatusText().contains(QStringLiteral("COM1")));
        QVERIFY(!w.windowTitle().contains(QStringLiteral("COM1")));
        // What needs an open port is disabled.
        QMenu* port = w.menuBar()->actions().first()->menu();
        for (QAction* a : port->actions()) {
            const QString text = a->text().remove(u'&');
            if (text.startsWith(QLatin1String("Disconnect")) || text.startsWith(QLatin1String("Send"))
                || text == QLatin1String("DTR") || text == QLatin1String("RTS"))
                QVERIFY2(!a->isEnabled(), qPrintable(text));
        }
        // Connect without a port asks for one instead of opening the engine's default.
        gSetupShown = 0;
        const auto previous = TCustomComPort::SetSetupDialogProc([](TCustomComPort&) { ++gSetupShown; });
        w.ConnectPort();
        TCustomComPort::SetSetupDialogProc(previous);
        QCOMPARE(gSetupShown, 1);
        QCOMPARE(w.Connection(), TermWindow::ConnectionState::Closed);
        // The status bar's fields fit the window as it opens.
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        for (QLabel* label : w.statusBar()->findChildren<QLabel*>())
            QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->text()));
    }

    // Keys that are the window's shortcuts or mnemonics elsewhere reach the device, and the
    // window stays open.
    void EveryKeyGoesToTheDevice_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("mods");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("alt_x") << int(Qt::Key_X) << int(Qt::AltModifier) << "x" << QByteArray("\x1bx");
        QTest::newRow("ctrl_q") << int(Qt::Key_Q) << int(Qt::ControlModifier) << "" << QByteArray("\x11");
        QTest::newRow("alt_p") << int(Qt::Key_P) << int(Qt::AltModifier) << "p" << QByteArray("\x1bp");
        QTest::newRow("alt_t") << int(Qt::Key_T) << int(Qt::AltModifier) << "t" << QByteArray("\x1bt");
        QTest::newRow("f10") << int(Qt::Key_F10) << int(Qt::NoModifier) << "" << QByteArray("\x1b[21~");
        QTest::newRow("tab") << int(Qt::Key_Tab) << int(Qt::NoModifier) << "\t" << QByteArray("\t");
        QTest::newRow("shift_tab") << int(Qt::Key_Backtab) << int(Qt::ShiftModifier) << "" << QByteArray("\x1b[Z");
        QTest::newRow("backspace") << int(Qt::Key_Backspace) << int(Qt::NoModifier) << "\b" << QByteArray("\x7f");
        QTest::newRow("pgdn") << int(Qt::Key_PageDown) << int(Qt::NoModifier) << "" << QByteArray("\x1b[6~");
        QTest::newRow("ctrl_left") << int(Qt::Key_Left) << int(Qt::ControlModifier) << "" << QByteArray("\x1b[1;5D");
        QTest::newRow("e_acute") << int(Qt::Key_Eacute) << int(Qt::NoModifier) << QStringLiteral("\u00e9")
                                 << QByteArray("\xc3\xa9");
        QTest::newRow("euro") << int(Qt::Key_unknown) << int(Qt::NoModifier) << QStringLiteral("\u20ac")
                              << QByteArray("\xe2\x82\xac");
    }

    void EveryKeyGoesToTheDevice()
    {
        QFETCH(int, key);
        QFETCH(int, mods);
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        Device dev;
        TermWindow w(Settings(), {dev.path, 0});
        w.ConfirmExit = [] { return true; };
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.Terminal()->setFocus();
        Press(w.Terminal(), key, Qt::KeyboardModifiers(mods), text);
        QCOMPARE(dev.Read(bytes.size(), 5000), bytes);
        QVERIFY(w.isVisible());
        QVERIFY(!w.menuBar()->activeAction());
        QCOMPARE(w.Connection(), TermWindow::ConnectionState::Connected);
    }

    // Alt pressed and let go alone does not take the next keys into the menus, whatever the
    // style says about Alt and menu bars.
    void AltAloneLeavesTheKeysToTheDevice()
    {
        const QString style = QApplication::style()->name();
        QApplication::setStyle(QStringLiteral("Windows"));
        Device dev;
        TermWindow w(Settings(), {dev.path, 0});
        w.ConfirmExit = [] { return true; };
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.Terminal()->setFocus();
        QTest::keyPress(w.Terminal(), Qt::Key_Alt, Qt::AltModifier);
        QTest::keyRelease(w.Terminal(), Qt::Key_Alt, Qt::NoModifier);
        const bool menus = w.menuBar()->activeAction() || w.menuBar()->hasFocus() || !w.Terminal()->hasFocus();
        Press(w.Terminal(), Qt::Key_P, Qt::NoModifier, QStringLiteral("p"));
        const QByteArray got = dev.Read(1, 5000);
        QApplication::setStyle(style);
        QVERIFY(!menus);
        QCOMPARE(got, QByteArray("p"));
        QVERIFY(!w.menuBar()->activeAction());
    }

    // The modes the device sets change what the keys and a paste send.
    void DeviceModesChangeTheKeys()
    {
        Device dev;
        TermWindow w(Settings(), {dev.path, 0});
        w.ConfirmExit = [] { return true; };
        TermControl* t = w.Terminal();
        const QByteArray modes("\x1b[?1h\x1b=\x1b[?2004h");
        dev.Write(modes);
        QTRY_COMPARE(w.ReceivedBytes(), modes.size());
        QTRY_VERIFY(t->BracketedPaste());
        Press(t, Qt::Key_Up, Qt::NoModifier);
        Press(t, Qt::Key_5, Qt::KeypadModifier, QStringLiteral("5"));
        QApplication::clipboard()->setText(QStringLiteral("a\nb"));
        Press(t, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
        const QByteArray want("\x1bOA\x1bOu\x1b[200~a\rb\x1b[201~");
        QCOMPARE(dev.Read(want.size(), 5000), want);
    }

    // The queue refuses what would pass its bound and keeps what it holds; bytes that wait
    // with none taken are a stall.
    void WriteQueueIsBounded()
    {
        TComPort port;
        PortWriter writer(&port);
        QVERIFY(writer.Enqueue(QByteArray(PortWriter::MaxQueued - 1, 'x')));
        QVERIFY(writer.Enqueue("y"));
        QVERIFY(!writer.Enqueue("z"));
        QCOMPARE(writer.Pending(), PortWriter::MaxQueued);
        const auto now = std::chrono::steady_clock::now();
        QVERIFY(!writer.Stalled(now - PortWriter::StallTime));
        QVERIFY(writer.Stalled(now + PortWriter::StallTime));
        writer.Stop(true);
        QCOMPARE(writer.Pending(), 0);
        QVERIFY(!writer.Stalled(now + PortWriter::StallTime));
    }

    // A cancelled file takes its bytes back from the queue; typed bytes between them stay.
    void CancelledFileLeavesTheQueue()
    {
        TComPort port;
        PortWriter writer(&port);
        QVERIFY(writer.Enqueue("a"));
        QVERIFY(writer.Enqueue("file", true));
        QVERIFY(writer.Enqueue("b"));
        QVERIFY(writer.Enqueue("more", true));
        QCOMPARE(writer.DropFile(), 8);
        QCOMPARE(writer.Pending(), 2);
        QCOMPARE(writer.DropFile(), 0);
    }

    void MenuKeyOpensTheMenus()
    {
        Device dev;
        TermWindow w(Settings(), {dev.path, 0});
        w.ConfirmExit = [] { return true; };
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.Terminal()->setFocus();
        Press(w.Terminal(), Qt::Key_F10, Qt::ShiftModifier);
        QVERIFY(w.menuBar()->activeAction());
        QCOMPARE(dev.Read(1, 200), QByteArray());
    }

    void ExitWhileConnectedAsks()
    {
        Device dev;
        TermWindow w(Settings(), {dev.path, 0});
        int asked = 0;
        bool answer = false;
        w.ConfirmExit = [&] { ++asked; return answer; };
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(!w.close());
        QCOMPARE(asked, 1);
        QVERIFY(w.isVisible());
        answer = true;
        QVERIFY(w.close());
        // Disconnected, it closes without asking.
        TermWindow idle(Settings(), {});
        idle.ConfirmExit = [&] { ++asked; return false; };
        idle.show();
        QVERIFY(idle.close());
        QCOMPARE(asked, 2);
    }

    // A device that takes nothing: the window queues what is pasted and sent, says so, keeps
    // working, and the device gets every byte in order once it reads.
    void DeviceThatTakesNothingNeverHoldsTheWindow()
    {
        Device dev;
        TermWindow w(Settings(), {dev.path, 0});
        w.ConfirmExit = [] { return true; };
        QByteArray paste;
        for (int i = 0; paste.size() < 300000; ++i)
            paste += QByteArray::number(i) + ' ';
        QApplication::clipboard()->setText(QString::fromLatin1(paste));
        Press(w.Terminal(), Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
        QByteArray file(200000, '\0');
        for (qsizetype i = 0; i < file.size(); ++i)
            file[i] = static_cast<char>('a' + i % 26);
        const QString name = dir.filePath(QStringLiteral("big.txt"));
        QFile out(name);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(file);
        out.close();
        w.SendFile(name);
        QVERIFY(w.SendingFile());
        Type(w, QStringLiteral("#"));
        // The writes returned at once; the device has stopped taking data.
        QTRY_VERIFY_WITH_TIMEOUT(w.DeviceStalled(), 10000);
        QTRY_VERIFY(w.StatusText().contains(QStringLiteral("device not taking data")));
        QVERIFY(w.FileBytesSent() < file.size());
        // The window still answers: the menus and the terminal work meanwhile.
        w.Terminal()->ProcessText("still here");
        // Now the device reads: everything arrives, in the order it was given.
        const QByteArray got = dev.Read(paste.size() + file.size() + 1, 60000);
        QCOMPARE(got.size(), paste.size() + file.size() + 1);
        QCOMPARE(got.left(paste.size()), paste);
        QByteArray rest = got.mid(paste.size());
        const qsizetype z = rest.indexOf('#');
        QVERIFY(z >= 0);
        rest.remove(z, 1);
        QCOMPARE(rest, file);
        QTRY_VERIFY(!w.SendingFile());
        QTRY_COMPARE(w.SentBytes(), got.size());
        QVERIFY(!w.DeviceStalled());
    }

    // Received UTF-8 shows as its characters; the grid follows the window and keeps what it
    // shows; old lines are scrolled back to, found and copied; typing returns to the screen.
    void ScreenScrollbackAndCopy()
    {
        Device dev;
        TermWindow w(Settings(), {dev.path, 0});
        w.ConfirmExit = [] { return true; };
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        TermControl* t = w.Terminal();
        QByteArray lines;
        for (int i = 1; i <= 200; ++i)
            lines += "line " + QByteArray::number(i).rightJustified(3, '0') + "\r\n";
        const QByteArray tail("h\xc3\xa9llo \xe2\x82\xac");
        dev.Write(lines + tail);
        QTRY_COMPARE(w.ReceivedBytes(), lines.size() + tail.size());
        QTRY_COMPARE(CellCharacter(t->Buffer().GetChar(t->CaretPos().x() - 1, t->CaretPos().y())), U'\u20ac');
        QCOMPARE(CellCharacter(t->Buffer().GetChar(2, t->CaretPos().y())), U'\u00e9');

        // The grid follows the window: fewer rows, the caret's line kept, the rest scrolled back.
        const int columns = t->Columns();
        w.resize(w.width() + 10 * t->FontWidth(), w.height() - 5 * t->FontHeight());
        QTRY_COMPARE(t->Columns(), columns + 10);
        QTRY_VERIFY(w.StatusText().contains(QStringLiteral("%1x%2").arg(t->Columns()).arg(t->Rows())));
        QCOMPARE(CellCharacter(t->Buffer().GetChar(2, t->CaretPos().y())), U'\u00e9');

        // Back through the scrollback with the keyboard, and a line found there.
        t->setFocus();
        Press(t, Qt::Key_PageUp, Qt::ShiftModifier);
        QCOMPARE(t->ScrolledBack(), t->Rows() - 1);
        QVERIFY(t->FindText(QStringLiteral("LINE 017")));
        QVERIFY(t->ScrolledBack() > 150);
        QCOMPARE(t->SelectedText(), QStringLiteral("line 017"));
        Press(t, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("line 017"));
        // The wheel scrolls three lines a notch.
        const int back = t->ScrolledBack();
        QWheelEvent wheel(QPointF(10, 10), t->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(t->viewport(), &wheel);
        QCOMPARE(t->ScrolledBack(), back - 3);
        // The mouse selects whole cells from where it is pressed to where it is let go.
        const int fw = t->FontWidth();
        const int fh = t->FontHeight();
        QTest::mousePress(t->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(fw / 2, fh / 2));
        QMouseEvent move(QEvent::MouseMove, QPointF(3 * fw + fw / 2, fh + fh / 2), t->viewport()->mapToGlobal(QPointF(0, 0)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(t->viewport(), &move);
        QTest::mouseRelease(t->viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(3 * fw + fw / 2, fh + fh / 2));
        QVERIFY(t->HasSelection());
        const QStringList rows = t->SelectedText().split(u'\n');
        QCOMPARE(rows.size(), 2);
        QVERIFY(rows[0].startsWith(QLatin1String("line ")));
        QCOMPARE(rows[1].size(), 4);
        // Nothing of that reached the device; a typed key goes back to the live screen.
        QCOMPARE(dev.Read(1, 200), QByteArray());
        Press(t, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
        QCOMPARE(t->ScrolledBack(), 0);
        QCOMPARE(dev.Read(1, 5000), QByteArray("x"));
    }

    void SendFileCanBeCancelled()
    {
        Device dev;
        TermWindow w(Settings(), {dev.path, 0});
        w.ConfirmExit = [] { return true; };
        const QString name = dir.filePath(QStringLiteral("cancel.bin"));
        QFile out(name);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(QByteArray(1000000, 'x'));
        out.close();
        w.SendFile(name);
        QVERIFY(w.SendingFile());
        w.CancelSendFile();
        QVERIFY(!w.SendingFile());
        // Only what was already queued still goes out: far less than the file.
        const QByteArray got = dev.Read(1000000, 3000);
        QVERIFY(got.size() < 100000);
    }

    // A signal while a dialog waits for an answer ends the dialog and the window.
    void SignalEndsAnOpenDialog()
    {
        Device dev;
        TermWindow w(Settings(), {dev.path, 0});
        w.show();
        QDialog dialog(&w);
        dialog.setModal(true);
        QTimer::singleShot(0, &w, [&w] { w.CloseWithoutAsking(); });
        // Only a guard: without the signal's close the dialog would wait for a user.
        QTimer::singleShot(10000, &dialog, [&dialog] { dialog.done(2); });
        QCOMPARE(dialog.exec(), int(QDialog::Rejected));
        QVERIFY(!w.isVisible());
    }

    void MissingDeviceIsWaitedFor()
    {
        const QString link = dir.filePath(QStringLiteral("not-yet"));
        QFile::remove(link);
        TermWindow w(Settings(), {link, 0});
        QCOMPARE(w.Connection(), TermWindow::ConnectionState::Waiting);
        Device dev;
        QVERIFY(QFile::link(dev.path, link));
        QTRY_COMPARE_WITH_TIMEOUT(w.Connection(), TermWindow::ConnectionState::Connected, 5000);
    }
};

QTEST_MAIN(TermWindowTest)
#include "TermWindowTest.moc"
