// String lists and their comma text.
#include "base/Strings.h"

#include "base/Exception.h"
#include "base/Format.h"
#include "base/ResStrings.h"

#include <algorithm>

namespace zentrop {

namespace {

bool IsBlankOrControl(QChar c) { return c.unicode() <= 32; }

bool NeedsQuotes(const QString& s)
{
    return std::any_of(s.begin(), s.end(), [](QChar c) {
        return IsBlankOrControl(c) || c == u'"' || c == u',';
    });
}

QString Quoted(const QString& s)
{
    QString q = s;
    q.replace(u'"', QStringLiteral("\"\""));
    return u'"' + q + u'"';
}

} // namespace

QString JoinCommaText(const QStringList& items)
{
    if (items.size() == 1 && items.front().isEmpty())
        return QStringLiteral("\"\"");
    QString out;
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (i > 0)
            out += u',';
        out += NeedsQuotes(items[i]) ? Quoted(items[i]) : items[i];
    }
    return out;
}

QStringList SplitCommaText(const QString& text)
{
    QStringList items;
    // The text ends at its first NUL character, as a zero-terminated text would.
    const qsizetype nul = text.indexOf(QChar(0));
    const qsizetype n = nul < 0 ? text.size() : nul;
    qsizetype p = 0;
    auto skipBlanks = [&] {
        while (p < n && text[p].unicode() >= 1 && text[p].unicode() <= 32)
            ++p;
    };
    skipBlanks();
    while (p < n) {
        QString item;
        if (text[p] == u'"') {
            ++p;
            while (p < n) {
                if (text[p] == u'"') {
                    if (p + 1 < n && text[p + 1] == u'"') {
                        item += u'"';
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                item += text[p++];
            }
        } else {
            const qsizetype start = p;
            while (p < n && !IsBlankOrControl(text[p]) && text[p] != u',')
                ++p;
            item = text.mid(start, p - start);
        }
        items.append(item);
        skipBlanks();
        if (p < n && text[p] == u',') {
            ++p;
            if (p == n)
                items.append(QString());
            skipBlanks();
        }
    }
    return items;
}

int TStrings::Add(const QString& s)
{
    const int index = Count();
    Insert(index, s);
    return index;
}

int TStrings::IndexOf(const QString& s) const
{
    for (int i = 0; i < Count(); ++i)
        if (Get(i).compare(s, Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QStringList TStrings::ToStringList() const
{
    QStringList out;
    out.reserve(Count());
    for (int i = 0; i < Count(); ++i)
        out.append(Get(i));
    return out;
}

void TStrings::Assign(const QStringList& items)
{
    Clear();
    for (const QString& s : items)
        Add(s);
}

QString TStrings::Text() const
{
    QString out;
    for (int i = 0; i < Count(); ++i)
        out += Get(i) + u'\n';
    return out;
}

void TStrings::SetText(const QString& text)
{
    QString t = text;
    t.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QStringList lines = t.split(u'\n');
    if (!lines.isEmpty() && lines.back().isEmpty())
        lines.removeLast();
    Assign(lines);
}

void TStrings::CheckIndex(int index, int limit)
{
    if (index < 0 || index >= limit)
        throw EConvertError(Format(LoadResString(res::SListIndexError), {index}));
}

QString TStringList::Get(int index) const
{
    CheckIndex(index, Count());
    return FItems[static_cast<size_t>(index)];
}

void TStringList::Put(int index, const QString& s)
{
    CheckIndex(index, Count());
    FItems[static_cast<size_t>(index)] = s;
    emit Changed();
}

void TStringList::Insert(int index, const QString& s)
{
    CheckIndex(index, Count() + 1);
    FItems.insert(FItems.begin() + index, s);
    emit Changed();
}

void TStringList::Delete(int index)
{
    CheckIndex(index, Count());
    FItems.erase(FItems.begin() + index);
    emit Changed();
}

void TStringList::Clear()
{
    if (FItems.empty())
        return;
    FItems.clear();
    emit Changed();
}

void TStringList::Sort()
{
    std::stable_sort(FItems.begin(), FItems.end(), [](const QString& a, const QString& b) {
        return a.compare(b, Qt::CaseInsensitive) < 0;
    });
    emit Changed();
}

} // namespace zentrop
