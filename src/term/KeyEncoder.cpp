// The VT102 emulation's key table.
#include "term/KeyEncoder.h"

#include "base/Ansi.h"

namespace zentrop {

namespace {

constexpr char ESC = 0x1B;

// xterm's modifier parameter: 1 plus Shift 1, Alt 2, Ctrl 4; 1 means none.
int ModifierParam(Qt::KeyboardModifiers Mods)
{
    int m = 1;
    if (Mods & Qt::ShiftModifier)
        m += 1;
    if (Mods & Qt::AltModifier)
        m += 2;
    if (Mods & Qt::ControlModifier)
        m += 4;
    return m;
}

// A cursor key or Home/End: CSI or, in application mode without modifiers, SS3; with
// modifiers always CSI 1;m.
QByteArray CursorKey(char Final, int Mod, bool App)
{
    if (Mod > 1)
        return QByteArray("\x1b[1;") + QByteArray::number(Mod) + Final;
    return QByteArray(1, ESC) + (App ? 'O' : '[') + Final;
}

// An editing or function key of the CSI n ~ form.
QByteArray TildeKey(int Number, int Mod)
{
    QByteArray s = QByteArray("\x1b[") + QByteArray::number(Number);
    if (Mod > 1)
        s += ';' + QByteArray::number(Mod);
    return s + '~';
}

// F1..F4: SS3 P..S, with modifiers CSI 1;m P..S.
QByteArray PfKey(char Final, int Mod)
{
    if (Mod > 1)
        return QByteArray("\x1b[1;") + QByteArray::number(Mod) + Final;
    return QByteArray("\x1bO") + Final;
}

// The control character Ctrl gives with a key, or -1 when it gives none.
int ControlCode(int Key)
{
    if (Key >= Qt::Key_A && Key <= Qt::Key_Z)
        return Key - Qt::Key_A + 1;
    switch (Key) {
    case Qt::Key_Space:
    case Qt::Key_At:
    case Qt::Key_2:
        return 0x00;
    case Qt::Key_BracketLeft:
    case Qt::Key_3:
        return 0x1B;
    case Qt::Key_Backslash:
    case Qt::Key_4:
        return 0x1C;
    case Qt::Key_BracketRight:
    case Qt::Key_5:
        return 0x1D;
    case Qt::Key_AsciiCircum:
    case Qt::Key_6:
        return 0x1E;
    case Qt::Key_Underscore:
    case Qt::Key_Minus:
    case Qt::Key_7:
    case Qt::Key_Slash:
        return 0x1F;
    case Qt::Key_Question:
    case Qt::Key_8:
        return 0x7F;
    default:
        return -1;
    }
}

// The keypad's application keys: SS3 and a letter, for the keys a numeric keypad has.
char KeypadAppFinal(int Key)
{
    if (Key >= Qt::Key_0 && Key <= Qt::Key_9)
        return static_cast<char>('p' + (Key - Qt::Key_0));
    switch (Key) {
    case Qt::Key_Enter: return 'M';
    case Qt::Key_Asterisk: return 'j';
    case Qt::Key_Plus: return 'k';
    case Qt::Key_Comma: return 'l';
    case Qt::Key_Minus: return 'm';
    case Qt::Key_Period: return 'n';
    case Qt::Key_Slash: return 'o';
    default: return 0;
    }
}

// The keys whose bytes do not depend on the text the layout made.
QByteArray SpecialKey(int Key, Qt::KeyboardModifiers Mods, const KeyModes& Modes)
{
    const int mod = ModifierParam(Mods);
    switch (Key) {
    case Qt::Key_Up: return CursorKey('A', mod, Modes.AppCursor);
    case Qt::Key_Down: return CursorKey('B', mod, Modes.AppCursor);
    case Qt::Key_Right: return CursorKey('C', mod, Modes.AppCursor);
    case Qt::Key_Left: return CursorKey('D', mod, Modes.AppCursor);
    case Qt::Key_Home: return CursorKey('H', mod, Modes.AppCursor);
    case Qt::Key_End: return CursorKey('F', mod, Modes.AppCursor);
    case Qt::Key_Insert: return TildeKey(2, mod);
    case Qt::Key_Delete: return TildeKey(3, mod);
    case Qt::Key_PageUp: return TildeKey(5, mod);
    case Qt::Key_PageDown: return TildeKey(6, mod);
    case Qt::Key_F1: return PfKey('P', mod);
    case Qt::Key_F2: return PfKey('Q', mod);
    case Qt::Key_F3: return PfKey('R', mod);
    case Qt::Key_F4: return PfKey('S', mod);
    case Qt::Key_F5: return TildeKey(15, mod);
    case Qt::Key_F6: return TildeKey(17, mod);
    case Qt::Key_F7: return TildeKey(18, mod);
    case Qt::Key_F8: return TildeKey(19, mod);
    case Qt::Key_F9: return TildeKey(20, mod);
    case Qt::Key_F10: return TildeKey(21, mod);
    case Qt::Key_F11: return TildeKey(23, mod);
    case Qt::Key_F12: return TildeKey(24, mod);
    case Qt::Key_Backtab: return QByteArray("\x1b[Z");
    default: return {};
    }
}

} // namespace

QByteArray EncodeText(const QString& Text, bool Utf8)
{
    return Utf8 ? Text.toUtf8() : EncodeAnsi(Text);
}

QByteArray EncodeKey(int Key, Qt::KeyboardModifiers Mods, const QString& Text, const KeyModes& Modes)
{
    const bool ctrl = Mods & Qt::ControlModifier;
    const bool alt = Mods & Qt::AltModifier;
    const bool shift = Mods & Qt::ShiftModifier;

    if (QByteArray special = SpecialKey(Key, Mods, Modes); !special.isEmpty())
        return special;

    if ((Mods & Qt::KeypadModifier) && Modes.AppKeypad && !ctrl && !alt) {
        if (const char final = KeypadAppFinal(Key))
            return QByteArray("\x1bO") + final;
    }

    // Alt sends ESC before whatever the key sends without it.
    const QByteArray prefix = alt ? QByteArray(1, ESC) : QByteArray();
    switch (Key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
        return {};
    case Qt::Key_Backspace: {
        // Ctrl gives the other of the two erase characters.
        const bool bs = Modes.BackspaceSendsBS != ctrl;
        return prefix + (bs ? QByteArray(1, 0x08) : QByteArray(1, 0x7F));
    }
    case Qt::Key_Tab:
        return prefix + QByteArray(1, '\t');
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return prefix + QByteArray(1, '\r');
    case Qt::Key_Escape:
        return prefix + QByteArray(1, ESC);
    default:
        break;
    }

    if (ctrl) {
        const int code = ControlCode(Key);
        if (code >= 0)
            return prefix + QByteArray(1, static_cast<char>(code));
    }

    QString text = Text;
    // With Alt or Ctrl held, layouts often give no text; a letter key still means its letter.
    if ((text.isEmpty() || (ctrl && !text.isEmpty() && text.at(0).unicode() < 0x20)) && Key >= Qt::Key_A && Key <= Qt::Key_Z)
        text = QChar(shift ? Key : Key - Qt::Key_A + 'a');
    else if (text.isEmpty() && Key >= 0x20 && Key < 0x7F)
        text = QChar(Key);
    if (text.isEmpty())
        return {};
    return prefix + EncodeText(text, Modes.Utf8);
}

} // namespace zentrop
