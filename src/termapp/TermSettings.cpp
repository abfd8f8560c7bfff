// The terminal's settings as lines of the INI file.
#include "TermSettings.h"

#include "base/IniFile.h"
#include "cportctl/ComTerminal.h"

#include <QKeySequence>

#include <algorithm>
#include <QMetaEnum>

namespace zentrop {

namespace termsettings {

namespace {

const QString kEmulation = QStringLiteral("Emulation");
const QString kColumns = QStringLiteral("Columns");
const QString kRows = QStringLiteral("Rows");
const QString kCaret = QStringLiteral("Caret");
const QString kArrowKeys = QStringLiteral("ArrowKeys");
const QString kLocalEcho = QStringLiteral("LocalEcho");
const QString kSendLF = QStringLiteral("SendLF");
const QString kWrapLines = QStringLiteral("WrapLines");
const QString kForce7Bit = QStringLiteral("Force7Bit");
const QString kAppendLF = QStringLiteral("AppendLF");
const QString kCharset = QStringLiteral("CharacterSet");
const QString kBackspace = QStringLiteral("BackspaceSendsBS");
const QString kMenuKey = QStringLiteral("MenuKey");
const QString kFontName = QStringLiteral("FontName");
const QString kFontSize = QStringLiteral("FontSize");
const QString kScrollback = QStringLiteral("ScrollbackLines");
constexpr int kMaxScrollback = 1000000;

using Charset = TCustomComTerminal::CharacterSet;

template <typename E>
QString NameOf(E value)
{
    return QString::fromLatin1(QMetaEnum::fromType<E>().valueToKey(static_cast<int>(value)));
}

// The member a stored name gives, or Current for a missing or unknown one.
template <typename E>
E ReadEnum(const TIniFile& ini, const QString& key, E current)
{
    bool ok = false;
    const QByteArray name = ini.ReadString(TerminalSection, key, QString()).toLatin1();
    const int value = QMetaEnum::fromType<E>().keyToValue(name.constData(), &ok);
    return ok ? static_cast<E>(value) : current;
}

} // namespace

QString CharsetName(TCustomComTerminal::CharacterSet Value)
{
    switch (Value) {
    case Charset::Utf8: return QStringLiteral("UTF-8");
    case Charset::CodePage: return QStringLiteral("Windows-1252");
    case Charset::Default: break;
    }
    return QStringLiteral("Default");
}

TCustomComTerminal::CharacterSet CharsetOf(const QString& Name, TCustomComTerminal::CharacterSet Current)
{
    for (const Charset c : {Charset::Default, Charset::Utf8, Charset::CodePage})
        if (Name.compare(CharsetName(c), Qt::CaseInsensitive) == 0)
            return c;
    return Current;
}

bool HasStoredPort(const TIniFile& Ini)
{
    return !Ini.ReadString(PortSection, QStringLiteral("Port"), QString()).isEmpty();
}

void LoadTerminal(const TIniFile& Ini, TCustomComTerminal& T)
{
    T.SetEmulation(ReadEnum(Ini, kEmulation, T.Emulation()));
    T.SetColumns(Ini.ReadInteger(TerminalSection, kColumns, T.Columns()));
    T.SetRows(Ini.ReadInteger(TerminalSection, kRows, T.Rows()));
    T.SetCaret(ReadEnum(Ini, kCaret, T.Caret()));
    T.SetArrowKeys(ReadEnum(Ini, kArrowKeys, T.ArrowKeys()));
    T.SetLocalEcho(Ini.ReadBool(TerminalSection, kLocalEcho, T.LocalEcho()));
    T.SetSendLF(Ini.ReadBool(TerminalSection, kSendLF, T.SendLF()));
    T.SetWrapLines(Ini.ReadBool(TerminalSection, kWrapLines, T.WrapLines()));
    T.SetForce7Bit(Ini.ReadBool(TerminalSection, kForce7Bit, T.Force7Bit()));
    T.SetAppendLF(Ini.ReadBool(TerminalSection, kAppendLF, T.AppendLF()));
    T.SetCharset(CharsetOf(Ini.ReadString(TerminalSection, kCharset, QString()), T.Charset()));
    T.SetBackspaceSendsBS(Ini.ReadBool(TerminalSection, kBackspace, T.BackspaceSendsBS()));
    if (Ini.ValueExists(TerminalSection, kMenuKey))
        T.SetMenuKey(QKeySequence::fromString(Ini.ReadString(TerminalSection, kMenuKey, QString()), QKeySequence::PortableText));
    const QString font = Ini.ReadString(TerminalSection, kFontName, QString());
    if (!font.isEmpty())
        T.Font()->SetName(font);
    const int size = Ini.ReadInteger(TerminalSection, kFontSize, 0);
    if (size >= 4 && size <= 72)
        T.Font()->SetSize(size);
    const int lines = Ini.ReadInteger(TerminalSection, kScrollback, T.ScrollbackLines());
    T.SetScrollbackLines(std::clamp(lines, 0, kMaxScrollback));
}

void StoreTerminal(TIniFile& Ini, const TCustomComTerminal& T)
{
    Ini.WriteString(TerminalSection, kEmulation, NameOf(T.Emulation()));
    Ini.WriteInteger(TerminalSection, kColumns, T.Columns());
    Ini.WriteInteger(TerminalSection, kRows, T.Rows());
    Ini.WriteString(TerminalSection, kCaret, NameOf(T.Caret()));
    Ini.WriteString(TerminalSection, kArrowKeys, NameOf(T.ArrowKeys()));
    Ini.WriteBool(TerminalSection, kLocalEcho, T.LocalEcho());
    Ini.WriteBool(TerminalSection, kSendLF, T.SendLF());
    Ini.WriteBool(TerminalSection, kWrapLines, T.WrapLines());
    Ini.WriteBool(TerminalSection, kForce7Bit, T.Force7Bit());
    Ini.WriteBool(TerminalSection, kAppendLF, T.AppendLF());
    Ini.WriteString(TerminalSection, kCharset, CharsetName(T.Charset()));
    Ini.WriteBool(TerminalSection, kBackspace, T.BackspaceSendsBS());
    Ini.WriteString(TerminalSection, kMenuKey, T.MenuKey().toString(QKeySequence::PortableText));
    Ini.WriteString(TerminalSection, kFontName, T.font().family());
    Ini.WriteInteger(TerminalSection, kFontSize, T.Font()->Size());
    Ini.WriteInteger(TerminalSection, kScrollback, T.ScrollbackLines());
}

} // namespace termsettings

} // namespace zentrop
