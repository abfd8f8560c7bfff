// What a key press sends to the device in the VT102 emulation: cursor, editing and function
// keys in their VT220/xterm forms with modifiers, Alt as an ESC prefix, control characters,
// the keypad in application mode, and typed text in the terminal's character set.
#pragma once

#include <QByteArray>
#include <QString>
#include <qnamespace.h>

namespace zentrop {

// The terminal's state and the user's choices that change what keys send.
struct KeyModes {
    bool AppCursor = false;        // the device asked for application cursor keys
    bool AppKeypad = false;        // the device asked for the keypad's application keys
    bool BackspaceSendsBS = false; // Backspace sends BS (8) instead of DEL (127)
    bool Utf8 = true;              // typed text in UTF-8, else in the 8-bit code page
};

// The bytes Key sends with Mods; Text is what the keyboard layout made of the key (may be
// empty, e.g. with Ctrl or Alt held). Empty when the key sends nothing (a modifier alone,
// a key the terminal has no code for).
QByteArray EncodeKey(int Key, Qt::KeyboardModifiers Mods, const QString& Text, const KeyModes& Modes);

// Text typed or pasted, in the character set: UTF-8, or the 8-bit code page.
QByteArray EncodeText(const QString& Text, bool Utf8);

} // namespace zentrop
