// zentrop-termoracle: feeds recorded program output to the terminal's VT102 emulation and to
// a reference terminal library, and compares the two screens cell by cell (character, colours,
// underline, bold) and the caret, every few hundred bytes and at the end. Two things the
// reference does not do are not compared: 132 columns (it keeps its width) and the reverse
// screen (the terminal does not invert the whole screen); the checks they leave out are counted.
//   zentrop-termoracle [--every N] [--no-wrap] [--utf8] [--show N] FILE...
// Prints one line per file with the number of differing checks and the first differences;
// exit status 0 when every file matches, 1 when one differs, 2 on wrong usage or a file that
// cannot be read. The reference library is linked into this tool only.
#include "term/TermCore.h"

#include <vterm.h>

#include <QFile>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace zentrop;

namespace {

constexpr int Rows = 24;
constexpr int Columns = 80;

struct Reference {
    VTerm* vt = nullptr;
    VTermScreen* screen = nullptr;
    VTermScreenCallbacks callbacks{};
    bool reverseScreen = false;

    Reference(bool Wrap, bool Utf8)
    {
        vt = vterm_new(Rows, Columns);
        vterm_set_utf8(vt, Utf8 ? 1 : 0);
        screen = vterm_obtain_screen(vt);
        callbacks.settermprop = [](VTermProp Prop, VTermValue* Value, void* User) {
            if (Prop == VTERM_PROP_REVERSE)
                static_cast<Reference*>(User)->reverseScreen = Value->boolean != 0;
            return 1;
        };
        vterm_screen_set_callbacks(screen, &callbacks, this);
        vterm_screen_enable_altscreen(screen, 1);
        vterm_screen_reset(screen, 1);
        if (!Wrap) {
            // The reference starts with autowrap on, as a VT102 after a reset does.
            const char off[] = "\x1b[?7l";
            vterm_input_write(vt, off, sizeof off - 1);
        }
    }
    ~Reference() { vterm_free(vt); }
    Reference(const Reference&) = delete;
    Reference& operator=(const Reference&) = delete;
};

// The colour the terminal shows for a reference cell's colour.
TColor Expected(const VTermColor& c, bool Foreground, bool Bright, const ComTermCore& t)
{
    if (Foreground ? VTERM_COLOR_IS_DEFAULT_FG(&c) : VTERM_COLOR_IS_DEFAULT_BG(&c)) {
        if (!Foreground)
            return t.Color();
        return Bright ? VT102BoldColor(t.FontColor()) : t.FontColor();
    }
    if (VTERM_COLOR_IS_INDEXED(&c)) {
        const int index = c.indexed.idx;
        return VT102PaletteColor(Foreground && Bright && index < 8 ? index + 8 : index);
    }
    return static_cast<TColor>(c.rgb.red | (c.rgb.green << 8) | (c.rgb.blue << 16));
}

std::string Utf8(char32_t c)
{
    std::string s;
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (c >> 18));
        s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
}

// Characters as both sides show them. Cells of the line-drawing set where the two choose
// different but equivalent forms are taken as the same: the reference leaves 0x5F as "_" where
// a VT102 shows a blank, and draws less-or-equal and greater-or-equal in slanted forms.
char32_t OurCharacter(const TTermChar& c)
{
    if (c.Unicode != 0)
        return c.Unicode;
    if (c.Ch == 0)
        return ' ';
    if (c.Graphic && c.Ch == '_')
        return '_';
    return c.Graphic ? GraphicCharacter(c.Ch) : c.Ch;
}

char32_t TheirCharacter(const VTermScreenCell& c)
{
    switch (c.chars[0]) {
    case 0:
    case 0xFFFFFFFF:   // the right half of a wide character
    case 0xA0: return ' ';
    case 0x2A7D: return 0x2264;
    case 0x2A7E: return 0x2265;
    default: return c.chars[0];
    }
}

// Compares the screens; appends a description of each difference to Out.
int Compare(const ComTermCore& t, const Reference& r, long Offset, std::vector<std::string>& Out)
{
    int differences = 0;
    const auto note = [&](const std::string& What) {
        ++differences;
        Out.push_back("at byte " + std::to_string(Offset) + ": " + What);
    };
    VTermPos cursor{};
    vterm_state_get_cursorpos(vterm_obtain_state(r.vt), &cursor);
    if (t.CaretPos().x() != cursor.col + 1 || t.CaretPos().y() != cursor.row + 1)
        note("caret " + std::to_string(t.CaretPos().x()) + "," + std::to_string(t.CaretPos().y()) + " against "
             + std::to_string(cursor.col + 1) + "," + std::to_string(cursor.row + 1));
    for (int y = 0; y < Rows; ++y) {
        std::string ours, theirs;
        bool rowDiffers = false;
        for (int x = 0; x < Columns; ++x) {
            VTermScreenCell cell{};
            vterm_screen_get_cell(r.screen, VTermPos{y, x}, &cell);
            const TTermChar& c = t.Buffer().Row(y + 1)[x];
            const char32_t mine = OurCharacter(c);
            const char32_t ref = TheirCharacter(cell);
            const char32_t mineShown = mine == 0xA0 ? U' ' : mine;
            ours += Utf8(mineShown);
            theirs += Utf8(ref);
            const bool bright = cell.attrs.bold || cell.attrs.blink;
            TColor fore = Expected(cell.fg, true, bright, t);
            TColor back = Expected(cell.bg, false, false, t);
            if (cell.attrs.reverse)
                std::swap(fore, back);
            const TColor ourBack = c.Ch == 0 ? t.Color() : c.BackColor;
            bool same = mineShown == ref && ourBack == back;
            if (ref != U' ')
                same = same && c.FrontColor == fore && c.Underline == (cell.attrs.underline != 0) && c.Bold == bright;
            if (!same) {
                rowDiffers = true;
                if (mineShown == ref)
                    note("row " + std::to_string(y + 1) + " column " + std::to_string(x + 1) + " attributes differ");
            }
        }
        if (rowDiffers && ours != theirs)
            note("row " + std::to_string(y + 1) + "\n    ours   |" + ours + "|\n    theirs |" + theirs + "|");
    }
    return differences;
}

} // namespace

int main(int argc, char** argv)
{
    int every = 256;
    int show = 5;
    bool wrap = true;
    bool utf8 = false;
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--every") == 0 && i + 1 < argc)
            every = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--show") == 0 && i + 1 < argc)
            show = std::max(0, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--no-wrap") == 0)
            wrap = false;
        else if (std::strcmp(argv[i], "--utf8") == 0)
            utf8 = true;
        else if (argv[i][0] == '-') {
            std::fprintf(stderr, "usage: zentrop-termoracle [--every N] [--no-wrap] [--utf8] [--show N] FILE...\n");
            return 2;
        } else
            files.push_back(argv[i]);
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: zentrop-termoracle [--every N] [--no-wrap] [--utf8] [--show N] FILE...\n");
        return 2;
    }
    int status = 0;
    for (const char* name : files) {
        QFile f(QString::fromLocal8Bit(name));
        if (!f.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "zentrop-termoracle: cannot read %s\n", name);
            return 2;
        }
        const QByteArray bytes = f.readAll();
        ComTermCore t;
        t.SetEmulation(TTermEmulation::teVT102);
        t.SetColumns(Columns);
        t.SetRows(Rows);
        t.SetWrapLines(wrap);
        t.SetUtf8(utf8);
        Reference r(wrap, utf8);
        std::vector<std::string> notes;
        int differences = 0;
        int skipped = 0;
        for (qsizetype at = 0; at < bytes.size();) {
            const qsizetype n = std::min<qsizetype>(every, bytes.size() - at);
            t.HandleRxData(nullptr, bytes.constData() + at, static_cast<int>(n));
            vterm_input_write(r.vt, bytes.constData() + at, static_cast<size_t>(n));
            at += n;
            if (t.Columns() != Columns || r.reverseScreen)
                ++skipped;
            else
                differences += Compare(t, r, static_cast<long>(at), notes);
        }
        std::printf("%s: %lld bytes, %d differences, %d checks left out\n", name, static_cast<long long>(bytes.size()),
                    differences, skipped);
        for (size_t i = 0; i < notes.size() && static_cast<int>(i) < show; ++i)
            std::printf("  %s\n", notes[i].c_str());
        if (differences > 0)
            status = 1;
    }
    return status;
}
