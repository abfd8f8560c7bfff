// The formatting routine: directives are [-][width][.precision] followed by s, d, u, x or X;
// "%%" gives a percent sign.
#include "base/Format.h"

#include "base/Exception.h"
#include "base/ResStrings.h"

namespace zentrop {

namespace {

[[noreturn]] void Invalid(const QString& format)
{
    throw EConvertError(LoadResString(res::SInvalidFormat).replace(QStringLiteral("%s"), format));
}

// Reads an unsigned decimal number at pos; -1 when there is none.
int ReadNumber(const QString& s, qsizetype& pos)
{
    if (pos >= s.size() || !s[pos].isDigit())
        return -1;
    int n = 0;
    while (pos < s.size() && s[pos].isDigit()) {
        n = n * 10 + s[pos].digitValue();
        if (n > 1'000'000)
            n = 1'000'000; // bounds absurd widths instead of allocating gigabytes
        ++pos;
    }
    return n;
}

} // namespace

QString Format(const QString& format, std::initializer_list<FormatArg> args)
{
    QString out;
    out.reserve(format.size() + 16);
    auto next = args.begin();
    qsizetype i = 0;
    while (i < format.size()) {
        const QChar c = format[i++];
        if (c != u'%') {
            out += c;
            continue;
        }
        if (i < format.size() && format[i] == u'%') {
            out += u'%';
            ++i;
            continue;
        }
        bool left = false;
        if (i < format.size() && format[i] == u'-') {
            left = true;
            ++i;
        }
        const int width = ReadNumber(format, i);
        int precision = -1;
        if (i < format.size() && format[i] == u'.') {
            ++i;
            precision = std::max(0, ReadNumber(format, i));
        }
        if (i >= format.size() || next == args.end())
            Invalid(format);
        const QChar conv = format[i++].toLower();
        const FormatArg& arg = *next++;
        QString piece;
        if (conv == u's') {
            if (arg.IsInteger())
                Invalid(format);
            piece = precision >= 0 ? arg.Text().left(precision) : arg.Text();
        } else if (conv == u'd' || conv == u'u' || conv == u'x') {
            if (!arg.IsInteger())
                Invalid(format);
            const int64_t v = arg.Integer();
            QString digits;
            bool negative = false;
            if (conv == u'd') {
                negative = v < 0;
                digits = QString::number(negative ? -static_cast<uint64_t>(v) : static_cast<uint64_t>(v));
            } else if (conv == u'u') {
                digits = QString::number(static_cast<uint32_t>(v));
            } else {
                // Hexadecimal shows the 32-bit pattern of the value, as the platform routine does.
                const uint64_t bits = (v < 0 && v >= INT32_MIN) ? static_cast<uint32_t>(v) : static_cast<uint64_t>(v);
                digits = QString::number(bits, 16).toUpper();
            }
            if (precision > digits.size())
                digits = QString(precision - digits.size(), u'0') + digits;
            piece = negative ? QStringLiteral("-") + digits : digits;
        } else {
            Invalid(format);
        }
        if (width > piece.size())
            piece = left ? piece.leftJustified(width, u' ') : piece.rightJustified(width, u' ');
        out += piece;
    }
    return out;
}

} // namespace zentrop
