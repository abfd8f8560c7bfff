// The VT102 key table: key, modifiers and modes in, bytes to the device out.
#include "term/KeyEncoder.h"

#include <gtest/gtest.h>

using namespace zentrop;

namespace {

constexpr auto None = Qt::NoModifier;
constexpr auto Shift = Qt::ShiftModifier;
constexpr auto Ctrl = Qt::ControlModifier;
constexpr auto Alt = Qt::AltModifier;
constexpr auto Keypad = Qt::KeypadModifier;

struct KeyCase {
    const char* name;
    int key;
    Qt::KeyboardModifiers mods;
    const char* text;        // what the layout gave, UTF-8
    KeyModes modes;
    QByteArray bytes;
};

const KeyModes normal{};
const KeyModes app{true, true, false, true};
const KeyModes bs{false, false, true, true};
const KeyModes latin1{false, false, false, false};

const KeyCase cases[] = {
    // cursor keys, normal and application mode, with modifiers
    {"up", Qt::Key_Up, None, "", normal, "\x1b[A"},
    {"down_app", Qt::Key_Down, None, "", app, "\x1bOB"},
    {"right", Qt::Key_Right, None, "", normal, "\x1b[C"},
    {"left_app", Qt::Key_Left, None, "", app, "\x1bOD"},
    {"ctrl_left", Qt::Key_Left, Ctrl, "", normal, "\x1b[1;5D"},
    {"ctrl_left_app_is_csi", Qt::Key_Left, Ctrl, "", app, "\x1b[1;5D"},
    {"shift_up", Qt::Key_Up, Shift, "", normal, "\x1b[1;2A"},
    {"alt_right", Qt::Key_Right, Alt, "", normal, "\x1b[1;3C"},
    {"ctrl_shift_alt_down", Qt::Key_Down, Ctrl | Shift | Alt, "", normal, "\x1b[1;8B"},
    {"keypad_up_without_numlock", Qt::Key_Up, Keypad, "", normal, "\x1b[A"},
    {"home", Qt::Key_Home, None, "", normal, "\x1b[H"},
    {"end", Qt::Key_End, None, "", normal, "\x1b[F"},
    {"end_app", Qt::Key_End, None, "", app, "\x1bOF"},
    {"ctrl_end", Qt::Key_End, Ctrl, "", normal, "\x1b[1;5F"},
    // editing keys
    {"insert", Qt::Key_Insert, None, "", normal, "\x1b[2~"},
    {"delete", Qt::Key_Delete, None, "", normal, "\x1b[3~"},
    {"pgup", Qt::Key_PageUp, None, "", normal, "\x1b[5~"},
    {"pgdn", Qt::Key_PageDown, None, "", normal, "\x1b[6~"},
    {"ctrl_delete", Qt::Key_Delete, Ctrl, "", normal, "\x1b[3;5~"},
    // function keys
    {"f1", Qt::Key_F1, None, "", normal, "\x1bOP"},
    {"f4", Qt::Key_F4, None, "", normal, "\x1bOS"},
    {"shift_f1", Qt::Key_F1, Shift, "", normal, "\x1b[1;2P"},
    {"f5", Qt::Key_F5, None, "", normal, "\x1b[15~"},
    {"f6", Qt::Key_F6, None, "", normal, "\x1b[17~"},
    {"f9", Qt::Key_F9, None, "", normal, "\x1b[20~"},
    {"f10", Qt::Key_F10, None, "", normal, "\x1b[21~"},
    {"f11", Qt::Key_F11, None, "", normal, "\x1b[23~"},
    {"f12", Qt::Key_F12, None, "", normal, "\x1b[24~"},
    {"ctrl_f5", Qt::Key_F5, Ctrl, "", normal, "\x1b[15;5~"},
    // tab, backspace, enter, escape
    {"tab", Qt::Key_Tab, None, "\t", normal, "\t"},
    {"shift_tab", Qt::Key_Backtab, Shift, "", normal, "\x1b[Z"},
    {"backspace_is_del", Qt::Key_Backspace, None, "\b", normal, "\x7f"},
    {"backspace_setting_bs", Qt::Key_Backspace, None, "\b", bs, "\b"},
    {"ctrl_backspace_other", Qt::Key_Backspace, Ctrl, "", normal, "\b"},
    {"alt_backspace", Qt::Key_Backspace, Alt, "", normal, "\x1b\x7f"},
    {"enter", Qt::Key_Return, None, "\r", normal, "\r"},
    {"keypad_enter", Qt::Key_Enter, Keypad, "\r", normal, "\r"},
    {"escape", Qt::Key_Escape, None, "\x1b", normal, "\x1b"},
    // control characters
    {"ctrl_a", Qt::Key_A, Ctrl, "", normal, "\x01"},
    {"ctrl_q_xon", Qt::Key_Q, Ctrl, "", normal, "\x11"},
    {"ctrl_z", Qt::Key_Z, Ctrl, "\x1a", normal, "\x1a"},
    {"ctrl_shift_x", Qt::Key_X, Ctrl | Shift, "", normal, "\x18"},
    {"ctrl_space_nul", Qt::Key_Space, Ctrl, " ", normal, QByteArray(1, '\0')},
    {"ctrl_at_nul", Qt::Key_At, Ctrl | Shift, "", normal, QByteArray(1, '\0')},
    {"ctrl_bracket_esc", Qt::Key_BracketLeft, Ctrl, "", normal, "\x1b"},
    {"ctrl_backslash", Qt::Key_Backslash, Ctrl, "", normal, "\x1c"},
    {"ctrl_bracketright", Qt::Key_BracketRight, Ctrl, "", normal, "\x1d"},
    {"ctrl_caret", Qt::Key_AsciiCircum, Ctrl | Shift, "", normal, "\x1e"},
    {"ctrl_underscore", Qt::Key_Underscore, Ctrl | Shift, "", normal, "\x1f"},
    {"ctrl_digit_without_code_is_digit", Qt::Key_1, Ctrl, "1", normal, "1"},
    // Alt as an ESC prefix
    {"alt_x", Qt::Key_X, Alt, "x", normal, "\x1bx"},
    {"alt_p_no_text", Qt::Key_P, Alt, "", normal, "\x1bp"},
    {"alt_shift_t", Qt::Key_T, Alt | Shift, "T", normal, "\x1bT"},
    {"ctrl_alt_c", Qt::Key_C, Ctrl | Alt, "", normal, "\x1b\x03"},
    {"alt_dot", Qt::Key_Period, Alt, ".", normal, "\x1b."},
    // keypad, numeric and application mode
    {"keypad_5_numeric", Qt::Key_5, Keypad, "5", normal, "5"},
    {"keypad_5_app", Qt::Key_5, Keypad, "5", app, "\x1bOu"},
    {"keypad_0_app", Qt::Key_0, Keypad, "0", app, "\x1bOp"},
    {"keypad_enter_app", Qt::Key_Enter, Keypad, "\r", app, "\x1bOM"},
    {"keypad_minus_app", Qt::Key_Minus, Keypad, "-", app, "\x1bOm"},
    {"keypad_period_app", Qt::Key_Period, Keypad, ".", app, "\x1bOn"},
    {"main_5_in_app_keypad", Qt::Key_5, None, "5", app, "5"},
    // text in the character set
    {"plain_letter", Qt::Key_A, None, "a", normal, "a"},
    {"e_acute_utf8", Qt::Key_Eacute, None, "\xc3\xa9", normal, "\xc3\xa9"},
    {"euro_utf8", Qt::Key_unknown, None, "\xe2\x82\xac", normal, "\xe2\x82\xac"},
    {"e_acute_code_page", Qt::Key_Eacute, None, "\xc3\xa9", latin1, "\xe9"},
    {"euro_code_page", Qt::Key_unknown, None, "\xe2\x82\xac", latin1, "\x80"},
    {"alt_e_acute", Qt::Key_Eacute, Alt, "\xc3\xa9", normal, "\x1b\xc3\xa9"},
    // keys that send nothing
    {"shift_alone", Qt::Key_Shift, Shift, "", normal, ""},
    {"alt_alone", Qt::Key_Alt, Alt, "", normal, ""},
    {"control_alone", Qt::Key_Control, Ctrl, "", normal, ""},
    {"unknown_without_text", Qt::Key_unknown, None, "", normal, ""},
};

} // namespace

class KeyTable : public testing::TestWithParam<KeyCase> {};

TEST_P(KeyTable, SendsItsBytes)
{
    const KeyCase& c = GetParam();
    EXPECT_EQ(EncodeKey(c.key, c.mods, QString::fromUtf8(c.text), c.modes).toHex(' '), c.bytes.toHex(' '));
}

INSTANTIATE_TEST_SUITE_P(Keys, KeyTable, testing::ValuesIn(cases),
                         [](const testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.name); });
