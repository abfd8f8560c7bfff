// The port's event thread handing received text to the terminal control on a
// pseudo-terminal, by each method that runs the control on its own thread; the sanitizer
// run checks this hand-over for data races. A GoogleTest program, so that no test library
// thread of its own runs beside the port's.
#include "testsupport/PtyPair.h"
#include "cportctl/ComTerminal.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QThread>

#include <gtest/gtest.h>

using namespace zentrop;

namespace {

QString Row(const TComTerminal& t, int y)
{
    QString s;
    for (int x = 1; x <= t.Columns(); ++x)
        s += QChar(t.Buffer().GetChar(x, y).Ch ? t.Buffer().GetChar(x, y).Ch : ' ');
    return s.trimmed();
}

TEST(TerminalDelivery, ReceivedTextReachesTheScreen)
{
    int argc = 1;
    char name[] = "cportctl_delivery_tests";
    char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    for (TSyncMethod method : {TSyncMethod::smThreadSync, TSyncMethod::smWindowSync}) {
        SCOPED_TRACE(static_cast<int>(method));
        PtyPair pty;
        ASSERT_TRUE(pty.Valid());
        TComPort port;
        port.SetPort(pty.SlaveName());
        port.SetEvents(AllComEvents);
        port.SetSyncMethod(method);
        TComTerminal t;
        t.SetComPort(&port);
        port.Open();
        for (int i = 0; i < 60; ++i)
            pty.Send("line " + QByteArray::number(i) + "\r\n");
        pty.Send("end");
        // A bound far above any delivery time; it only keeps a broken build from hanging.
        const QDeadlineTimer deadline(20000);
        while (Row(t, t.Rows()) != QStringLiteral("end") && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
        }
        EXPECT_EQ(Row(t, t.Rows()), QStringLiteral("end"));
        EXPECT_EQ(Row(t, t.Rows() - 1), QStringLiteral("line 59"));
        port.Close();
        t.SetComPort(nullptr);
    }
}

} // namespace
