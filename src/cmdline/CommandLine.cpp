// Usage errors and the look at command files.
#include "cmdline/CommandLine.h"
#include "cmdline/Console.h"

#include "base/FileName.h"

#include <QCoreApplication>

#include <cerrno>
#include <mutex>
#include <cstring>
#include <sys/stat.h>

namespace zentrop {

namespace cli {

namespace {

std::mutex gCaptureMutex;
QStringList* gCaptured = nullptr;

void Capture(FILE* out, const QString& text)
{
    if (out != stderr)
        return;
    std::lock_guard lock(gCaptureMutex);
    if (gCaptured)
        *gCaptured << text;
}

} // namespace

ErrorCapture::ErrorCapture()
{
    std::lock_guard lock(gCaptureMutex);
    gCaptured = new QStringList;
}

ErrorCapture::~ErrorCapture()
{
    std::lock_guard lock(gCaptureMutex);
    delete gCaptured;
    gCaptured = nullptr;
}

QStringList ErrorCapture::Lines() const
{
    std::lock_guard lock(gCaptureMutex);
    return gCaptured ? *gCaptured : QStringList();
}

void PrintLine(FILE* out, const QString& text)
{
    Capture(out, text);
    ConsolePrintf(out, "%s\n", text.toLocal8Bit().constData());
}

int UsageError(const QString& error, const CommandSyntax& command)
{
    Capture(stderr, error);
    const QByteArray program = QCoreApplication::applicationName().toLocal8Bit();
    const QByteArray name = command.Name.toLocal8Bit();
    std::fprintf(stderr, "%s %s: %s\nusage: %s %s %s\nTry \"%s %s --help\" for more.\n", program.constData(),
                 name.constData(), error.toLocal8Bit().constData(), program.constData(), name.constData(),
                 command.Synopsis.toLocal8Bit().constData(), program.constData(), name.constData());
    return ExitUsage;
}

QString InputFileProblem(const QString& path)
{
    struct stat st {};
    if (::stat(EncodeFileName(path).constData(), &st) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    return S_ISREG(st.st_mode) ? QString() : QStringLiteral("not a regular file");
}

QString OutputFileProblem(const QString& path)
{
    struct stat st {};
    if (::stat(EncodeFileName(path).constData(), &st) != 0 || S_ISREG(st.st_mode))
        return QString();
    return QStringLiteral("not a regular file, which is never replaced");
}

} // namespace cli

} // namespace zentrop
