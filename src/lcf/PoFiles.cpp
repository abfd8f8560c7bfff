// PO reading and template writing over libgettextpo, whose problems are collected as text.
#include "PoFiles.h"

#include <QFile>
#include <QStringList>

#include <gettext-po.h>

#include <cstdio>
#include <cstdlib>

namespace zentrop {

namespace cli {

namespace {

QStringList gProblems;
bool gFailed = false;

void Collect(int severity, po_message_t, const char* file, size_t line, size_t, int, const char* text)
{
    QString where = file ? QString::fromLocal8Bit(file) : QString();
    if (file && line != size_t(-1))
        where += QStringLiteral(":%1").arg(line);
    const QString problem = (where.isEmpty() ? QString() : where + QStringLiteral(": ")) + QString::fromUtf8(text).trimmed();
    if (severity == PO_SEVERITY_WARNING) {
        std::fprintf(stderr, "zentrop-cli: warning: %s\n", problem.toLocal8Bit().constData());
        return;
    }
    gFailed = true;
    gProblems.append(problem);
    if (severity == PO_SEVERITY_FATAL_ERROR) {
        // The library does not allow a return from a fatal error.
        std::fprintf(stderr, "zentrop-cli: %s\n", gProblems.join(u'\n').toLocal8Bit().constData());
        std::exit(3);
    }
}

void Collect2(int severity, po_message_t m1, const char* f1, size_t l1, size_t c1, int mp1, const char* t1, po_message_t,
              const char* f2, size_t l2, size_t c2, int mp2, const char* t2)
{
    Collect(severity == PO_SEVERITY_FATAL_ERROR ? PO_SEVERITY_ERROR : severity, m1, f1, l1, c1, mp1, t1);
    Collect(severity, nullptr, f2, l2, c2, mp2, t2);
}

const po_xerror_handler kHandler{Collect, Collect2};

QString Utf8(const char* s)
{
    return s ? QString::fromUtf8(s) : QString();
}

} // namespace

bool ReadPo(const QString& path, QList<PoEntry>& entries, QString& error)
{
    gProblems.clear();
    gFailed = false;
    po_file_t file = po_file_read(QFile::encodeName(path).constData(), &kHandler);
    if (!file || gFailed) {
        error = gProblems.isEmpty() ? QStringLiteral("%1: cannot be read").arg(path) : gProblems.join(u'\n');
        if (file)
            po_file_free(file);
        return false;
    }
    po_message_iterator_t it = po_message_iterator(file, nullptr);
    while (po_message_t m = po_next_message(it)) {
        if (po_message_is_obsolete(m) || !*po_message_msgid(m))
            continue;
        PoEntry e;
        e.Context = Utf8(po_message_msgctxt(m));
        e.Id = Utf8(po_message_msgid(m));
        if (!po_message_is_fuzzy(m))
            e.Str = Utf8(po_message_msgstr(m));
        entries.append(e);
    }
    po_message_iterator_free(it);
    po_file_free(file);
    return true;
}

bool WritePot(const QString& path, const QList<PoEntry>& entries, QString& error)
{
    po_file_t file = po_file_create();
    po_message_iterator_t it = po_message_iterator(file, nullptr);
    po_message_t header = po_message_create();
    po_message_set_msgid(header, "");
    po_message_set_msgstr(header, "Project-Id-Version: zentrop\nMIME-Version: 1.0\n"
                                  "Content-Type: text/plain; charset=UTF-8\nContent-Transfer-Encoding: 8bit\n");
    po_message_insert(it, header);
    for (const PoEntry& e : entries) {
        po_message_t m = po_message_create();
        po_message_set_msgctxt(m, e.Context.toUtf8().constData());
        po_message_set_msgid(m, e.Id.toUtf8().constData());
        po_message_set_msgstr(m, "");
        if (!e.Comment.isEmpty())
            po_message_set_extracted_comments(m, e.Comment.toUtf8().constData());
        po_message_insert(it, m);
    }
    po_message_iterator_free(it);
    gProblems.clear();
    gFailed = false;
    const QByteArray target = path == QLatin1String("-") ? QByteArray("/dev/stdout") : QFile::encodeName(path);
    const bool ok = po_file_write(file, target.constData(), &kHandler) && !gFailed;
    po_file_free(file);
    if (!ok)
        error = gProblems.isEmpty() ? QStringLiteral("%1: cannot be written").arg(path) : gProblems.join(u'\n');
    return ok;
}

} // namespace cli

} // namespace zentrop
