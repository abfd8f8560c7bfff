// Windows-1252: Latin-1 except for the printable characters placed in 0x80 to 0x9F.
#include "base/Ansi.h"

namespace zentrop {

namespace {

// 0x80..0x9F; 0 marks the five codes the code page leaves undefined (kept as C1 controls).
constexpr char16_t kHigh[32] = {
    0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
    0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178,
};

} // namespace

QString DecodeAnsi(const QByteArray& bytes)
{
    QString out;
    out.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        const char16_t mapped = (b >= 0x80 && b < 0xA0) ? kHigh[b - 0x80] : 0;
        out += QChar(mapped ? mapped : char16_t(b));
    }
    return out;
}

QByteArray EncodeAnsi(const QString& text)
{
    QByteArray out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        char b = '?';
        if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) {
            b = static_cast<char>(u);
        } else {
            for (int i = 0; i < 32; ++i)
                if (kHigh[i] == u || (kHigh[i] == 0 && u == 0x80 + i)) {
                    b = static_cast<char>(0x80 + i);
                    break;
                }
        }
        out += b;
    }
    return out;
}

} // namespace zentrop
