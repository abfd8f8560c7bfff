// zentrop-term as a process: the signals a logout, kill or Ctrl-C send end it as closing its
// window does, with the line's settings put back and its own settings written.
#include "testsupport/PtyPair.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <termios.h>

#include <gtest/gtest.h>

using namespace zentrop;

TEST(TermSignals, EachExitSignalEndsTheWindowAsClosingItDoes)
{
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(signal);
        PtyPair pty(true);
        ASSERT_TRUE(pty.Valid());
        termios before{};
        ASSERT_EQ(::tcgetattr(pty.Slave(), &before), 0);
        ASSERT_TRUE(before.c_lflag & ICANON);
        QTemporaryDir dir;
        const QString settings = dir.filePath("term.ini");

        QProcess term;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        term.setProcessEnvironment(env);
        term.start(ZENTROP_TERM, {pty.SlaveName(), "--settings", settings});
        ASSERT_TRUE(term.waitForStarted());
        // The window has set the line up once the terminal is raw; a hang guard only.
        termios now{};
        for (int i = 0; i < 3000 && ::tcgetattr(pty.Slave(), &now) == 0 && (now.c_lflag & ICANON); ++i)
            QThread::msleep(10);
        ASSERT_FALSE(now.c_lflag & ICANON) << "the window never opened the port";

        ::kill(static_cast<pid_t>(term.processId()), signal);
        ASSERT_TRUE(term.waitForFinished(30000));
        EXPECT_EQ(term.exitStatus(), QProcess::NormalExit) << term.readAllStandardError().toStdString();
        EXPECT_EQ(term.exitCode(), 0);
        ASSERT_EQ(::tcgetattr(pty.Slave(), &now), 0);
        EXPECT_EQ(now.c_lflag, before.c_lflag);
        EXPECT_EQ(now.c_iflag, before.c_iflag);
        QFile written(settings);
        ASSERT_TRUE(written.open(QIODevice::ReadOnly));
        EXPECT_TRUE(written.readAll().contains(pty.SlaveName().toLocal8Bit()));
    }
}
