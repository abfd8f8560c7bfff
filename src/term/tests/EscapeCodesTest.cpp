// The parsers: what each byte stream gives, the parameter rule and the texts sent for codes.
#include "term/EscapeCodes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

using namespace zentrop;

namespace {

std::unique_ptr<TEscapeCodes> Make(bool vt52)
{
    if (vt52)
        return std::make_unique<TEscapeCodesVT52>();
    return std::make_unique<TEscapeCodesVT100>();
}

// Feeds the bytes one by one and writes what came out: a plain byte as itself, a code as
// "<name [params] data>" (Params cleared afterwards, as the terminal does), and "." for each
// byte that was taken into an unfinished sequence.
std::string Trace(TEscapeCodes& p, const QByteArray& bytes)
{
    std::string out;
    for (const char c : bytes) {
        switch (p.ProcessChar(c)) {
        case TEscapeResult::erChar:
            out += p.Character;
            break;
        case TEscapeResult::erNothing:
            out += '.';
            break;
        case TEscapeResult::erCode: {
            out += '<';
            out += EscapeCodeName(p.Code);
            out += " [";
            for (int i = 0; i < p.Params.Count(); ++i)
                out += (i ? "," : "") + p.Params[i];
            out += "] " + p.Data.toStdString() + '>';
            p.Params.Clear();
            break;
        }
        }
    }
    return out;
}

struct ParseCase {
    const char* name;
    bool vt52;
    QByteArray in;
    std::string out;
};

class ParseTable : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseTable, GivesCharactersAndCodes)
{
    const ParseCase& c = GetParam();
    auto p = Make(c.vt52);
    EXPECT_EQ(Trace(*p, c.in), c.out);
}

const ParseCase parseCases[] = {
    {"vt100_erase_screen", false, "\x1b[2J", "...<ecEraseScreen [] [2J>"},
    {"vt100_home_params", false, "\x1b[10;20H", ".......<ecCursorHome [10,20] [10;20H>"},
    {"vt100_move", false, "\x1b[3;4f", ".....<ecCursorMove [3,4] [3;4f>"},
    {"vt100_cursor_keys", false, "\x1b[A\x1b[5B\x1b[C\x1b[D",
     "..<ecCursorUp [] [A>...<ecCursorDown [5] [5B>..<ecCursorRight [] [C>..<ecCursorLeft [] [D>"},
    {"vt100_J_variants", false, "\x1b[J\x1b[0J\x1b[1J\x1b[20J",
     "..<ecEraseScreenFrom [] [J>...<ecEraseScreenFrom [] [0J>...<ecUnknown [] [1J>....<ecEraseScreen [] [20J>"},
    {"vt100_K_variants", false, "\x1b[K\x1b[2K\x1b[1K",
     "..<ecEraseLineFrom [] [K>...<ecEraseLine [] [2K>...<ecUnknown [] [1K>"},
    {"vt100_g_variants", false, "\x1b[g\x1b[3g\x1b[1g",
     "..<ecClearTab [] [g>...<ecClearAllTabs [] [3g>...<ecUnknown [] [1g>"},
    {"vt100_n_variants", false, "\x1b[n\x1b[0n\x1b[3n\x1b[5n\x1b[6n\x1b[7n",
     "..<ecUnknown [] [n>...<ecReportDeviceOK [] [0n>...<ecReportDeviceFailure [] [3n>"
     "...<ecQueryDevice [] [5n>...<ecQueryCursorPos [] [6n>...<ecUnknown [] [7n>"},
    {"vt100_c_variants", false, "\x1b[c\x1b[0c\x1b[?1;2c\x1b[1c\x1b[?2;2c",
     "..<ecIdentify [] [c>...<ecIdentify [0] [0c>......<ecIdentResponse [?1,2] [?1;2c>"
     "...<ecUnknown [1] [1c>......<ecUnknown [?2,2] [?2;2c>"},
    {"vt100_other_letters", false, "\x1b[5;9R\x1b[1;7m\x1b[?1h\x1b[?7l\x1b[s\x1b[u",
     ".....<ecReportCursorPos [5,9] [5;9R>.....<ecAttributes [1,7] [1;7m>....<ecSetMode [?1] [?1h>"
     "....<ecResetMode [?7] [?7l>..<ecSaveCaret [] [s>..<ecRestoreCaret [] [u>"},
    {"vt100_unknown_letter_keeps_params", false, "\x1b[5q", "...<ecUnknown [5] [5q>"},
    {"vt100_empty_fields", false, "\x1b[1;;2H\x1b[;5H\x1b[;;m",
     "......<ecCursorHome [1,;2] [1;;2H>....<ecCursorHome [;5] [;5H>....<ecAttributes [;] [;;m>"},
    {"vt100_simple", false, "\x1b" "7\x1b" "8\x1bH\x1b" "c\x1b#8\x1b#3\x1bx",
     ".<ecSaveCaretAndAttr [] 7>.<ecRestoreCaretAndAttr [] 8>.<ecSetTab [] H>.<ecReset [] c>"
     "..<ecTest [] #8>..<ecUnknown [] #3>.<ecUnknown [] x>"},
    {"vt100_app_cursor", false, "\x1bOA\x1bOB\x1bOC\x1bOD\x1bOx",
     "..<ecAppCursorUp [] OA>..<ecAppCursorDown [] OB>..<ecAppCursorRight [] OC>"
     "..<ecAppCursorLeft [] OD>..<ecUnknown [] Ox>"},
    // Control bytes and ESC inside a sequence are collected, they do not restart it.
    {"vt100_bytes_inside_csi", false, "\x1b[1\r\x1b" "2J", "......<ecUnknown [] [1\r\x1b" "2J>"},
    {"vt100_esc_esc", false, "\x1b\x1b" "A", ".<ecUnknown [] \x1b>A"},
    {"vt100_char_after_code", false, "a\x1b[Hb", "a..<ecCursorHome [] [H>b"},
    {"vt52_codes", true, "\x1b" "A\x1b" "B\x1b" "C\x1b" "D\x1bH\x1bI\x1bJ\x1bK\x1bZ",
     ".<ecCursorUp [] A>.<ecCursorDown [] B>.<ecCursorRight [] C>.<ecCursorLeft [] D>"
     ".<ecCursorHome [] H>.<ecReverseLineFeed [] I>.<ecEraseScreenFrom [] J>"
     ".<ecEraseLineFrom [] K>.<ecIdentify [] Z>"},
    {"vt52_move", true, "\x1bY$)", "...<ecCursorMove [5,10] Y$)>"},
    {"vt52_ident_response", true, "\x1b/Z\x1b/X", "..<ecIdentResponse [] /Z>..<ecUnknown [] /X>"},
    {"vt52_unknown", true, "\x1b[x", ".<ecUnknown [] [>x"},
};

INSTANTIATE_TEST_SUITE_P(Parsers, ParseTable, testing::ValuesIn(parseCases),
                         [](const testing::TestParamInfo<ParseCase>& i) { return std::string(i.param.name); });

TEST(Parsers, Vt52CursorAddressAddsToParams)
{
    TEscapeCodesVT52 p;
    p.Params.Add("x");
    Trace(p, "\x1b");
    p.ProcessChar('Y');
    p.ProcessChar(' ');
    ASSERT_EQ(p.ProcessChar('!'), TEscapeResult::erCode);
    ASSERT_EQ(p.Params.Count(), 3);
    EXPECT_EQ(p.Params[1], "1");
    EXPECT_EQ(p.Params[2], "2");
}

TEST(Parsers, DataHoldsTheCurrentOrLastSequence)
{
    TEscapeCodesVT100 p;
    Trace(p, "\x1b[2J");
    EXPECT_EQ(p.Data, "[2J");
    p.ProcessChar(27);
    EXPECT_EQ(p.Data, "");
    p.ProcessChar('[');
    p.ProcessChar('1');
    EXPECT_EQ(p.Data, "[1");
}

// A sequence that never reaches its final letter keeps only a bounded part of itself, still
// ends at its letter, and the stream goes on normally afterwards.
TEST(Parsers, OverlongSequenceIsBoundedAndEndsUnknown)
{
    TEscapeCodesVT100 p;
    p.ProcessChar(27);
    p.ProcessChar('[');
    for (int i = 0; i < 100000; ++i)
        ASSERT_EQ(p.ProcessChar(i % 2 ? ';' : '1'), TEscapeResult::erNothing);
    EXPECT_EQ(p.Sequence().size(), size_t(TEscapeCodes::MaxSequenceLength));
    ASSERT_EQ(p.ProcessChar('H'), TEscapeResult::erCode);
    EXPECT_EQ(p.Data.size(), TEscapeCodes::MaxSequenceLength);
    EXPECT_EQ(p.Code, TEscapeCode::ecUnknown);
    EXPECT_EQ(p.Params.Count(), 0);
    EXPECT_EQ(Trace(p, "\x1b[2;3Hz"), ".....<ecCursorHome [2,3] [2;3H>z");
}

// The parser's state and the last sequence's parameters, as GetParam reads them.
std::string State(const TEscapeCodesVT100& p)
{
    std::string out = p.Data.toStdString() + (p.InSequence() ? " in" : " out") + (p.InCSI() ? " csi" : "");
    for (int i = 1; i <= p.Params.Count(); ++i)
        out += " " + p.Params[i - 1] + "=" + std::to_string(TEscapeCodes::GetParam(i, &p.Params));
    return out;
}

// Taking bytes several at a time gives what feeding them one by one gives, however the stream
// is cut: every code with its data and parameters, and the state between the pieces.
TEST(Parsers, Vt100ManyBytesAtOnceAsOneByOne)
{
    const QByteArray streams[] = {
        "ab\x1b[12;34Hc\x1b[1;7m\x1b[m\x1b[K\r\n",
        "\x1b[;;5;;H\x1b[1;;2f\x1b[?1;2c\x1b[0c\x1b[20J\x1b[6n\x1b[5q",
        "\x1b[000000012;1234567890;99999999999H\x1b[-3A\x1b[$1FB",
        "\x1b[1\x1b[2J\x1b[3\r\n\x07;4H\x1b[\x80\xff" "7m",
        "\x1b#8\x1bOA\x1bOx\x1b" "7\x1bx\x1b\x1b[A\x1b",
        "\x1b[" + QByteArray(300, '1') + "Hz\x1b[" + QByteArray(254, ';') + "m\x1b[" + QByteArray(255, '2') + "Jq",
    };
    for (const QByteArray& in : streams) {
        TEscapeCodesVT100 one;
        std::vector<TEscapeResult> results;
        std::vector<std::string> states;   // after each byte
        for (const char c : in) {
            results.push_back(one.ProcessChar(c));
            states.push_back(std::string(EscapeCodeName(one.Code)) + " " + State(one));
            one.Params.Clear();
        }
        for (qsizetype piece = 1; piece <= in.size(); piece += piece < 8 ? 1 : 37) {
            TEscapeCodesVT100 many;
            for (qsizetype at = 0; at < in.size();) {
                const qsizetype count = std::min(piece - at % piece, in.size() - at);
                TEscapeResult r;
                const qsizetype n = many.ProcessChars(in.constData() + at, count, r);
                ASSERT_GE(n, 1);
                ASSERT_LE(n, count);
                const auto last = static_cast<size_t>(at + n - 1);
                // The bytes before the last one only joined a sequence; the last one ends
                // the call by a result, or by being the last of the piece.
                for (size_t k = static_cast<size_t>(at); k < last; ++k)
                    ASSERT_EQ(results[k], TEscapeResult::erNothing) << "byte " << k << ", pieces of " << piece;
                EXPECT_TRUE(r != TEscapeResult::erNothing || n == count) << "byte " << last;
                EXPECT_EQ(r, results[last]) << "byte " << last << ", pieces of " << piece;
                many.TakePendingData();
                EXPECT_EQ(std::string(EscapeCodeName(many.Code)) + " " + State(many), states[last])
                    << "byte " << last << ", pieces of " << piece;
                many.Params.Clear();
                at += n;
            }
        }
    }
}

// A sequence of numbers taken whole gives the code, Data and numbers that the same bytes give
// one by one; anything else is left untouched for ProcessChars.
TEST(Parsers, Vt100NumericSequencesAsOneByOne)
{
    const struct {
        QByteArray in;
        bool taken;
    } cases[] = {
        {"\x1b[m", true}, {"\x1b[H", true}, {"\x1b[12;34H", true}, {"\x1b[0;1;4;7m", true},
        {"\x1b[000000012;999999999H", true}, {"\x1b[" + QByteArray("1;").repeated(15) + "7m", true},
        {"\x1b[" + QByteArray("1;").repeated(16) + "7m", false}, {"\x1b[1234567890H", false},
        {"\x1b[;5H", false}, {"\x1b[5;H", false}, {"\x1b[1;;7m", false}, {"\x1b[2J", false},
        {"\x1b[12;34f", false}, {"\x1b[?1h", false}, {"\x1b[-3H", false}, {"\x1b[12;34", false},
        {"\x1b[", false}, {"\x1bM", false}, {"x\x1b[m", false},
    };
    for (const auto& c : cases) {
        TEscapeCodesVT100 one, fast;
        for (const char b : c.in)
            one.ProcessChar(b);
        fast.ProcessChar('x');
        TEscapeCodesVT100::CsiNumbers numbers;
        const qsizetype n = fast.TakeNumericCSI(c.in.constData(), c.in.size(), numbers);
        if (!c.taken) {
            EXPECT_EQ(n, 0) << c.in.toStdString();
            EXPECT_FALSE(fast.InSequence());
            EXPECT_EQ(fast.Code, TEscapeCode::ecUnknown);
            continue;
        }
        EXPECT_EQ(n, c.in.size()) << c.in.toStdString();
        EXPECT_EQ(fast.Code, one.Code) << c.in.toStdString();
        EXPECT_FALSE(fast.InSequence());
        EXPECT_EQ(fast.Params.Count(), 0);
        fast.TakePendingData();
        EXPECT_EQ(fast.Data, one.Data);
        ASSERT_EQ(numbers.Count, one.Params.Count()) << c.in.toStdString();
        for (int k = 0; k < numbers.Count; ++k)
            EXPECT_EQ(numbers.Values[k], TEscapeCodes::GetParam(k + 1, &one.Params)) << c.in.toStdString();
    }
}

// A parser derived from the VT100 one gets every byte through its own ProcessChar.
TEST(Parsers, Vt100ManyBytesGoThroughAnOverride)
{
    struct Counting : TEscapeCodesVT100 {
        int Fed = 0;
        TEscapeResult ProcessChar(char Ch) override
        {
            ++Fed;
            return TEscapeCodesVT100::ProcessChar(Ch);
        }
    } p;
    TEscapeResult r;
    EXPECT_EQ(p.ProcessChars("\x1b[12;34Hx", 9, r), 8);
    EXPECT_EQ(r, TEscapeResult::erCode);
    EXPECT_EQ(p.Fed, 8);
    EXPECT_EQ(p.ProcessChars("x", 1, r), 1);
    EXPECT_EQ(r, TEscapeResult::erChar);
    EXPECT_EQ(p.Fed, 9);
}

TEST(Parsers, ParamsKeepTheirTexts)
{
    EscapeParams list;
    list.Add("12");
    list.Add("?1");
    list.Add("");
    const std::string& first = list[0];
    const std::string& second = list[1];
    EXPECT_EQ(first, "12");
    EXPECT_EQ(second, "?1");
    EXPECT_EQ(list[2], "");
    EXPECT_EQ(first, "12") << "taking one text keeps the others";
    list.Clear();
    list.Add("7");
    EXPECT_EQ(list.Count(), 1);
    EXPECT_EQ(list[0], "7");
    EscapeParams other;
    other.Add("x");
    other.Add("y");
    list.Swap(other);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list[1], "y");
    EXPECT_EQ(other[0], "7");
}

struct ParamCase {
    const char* text;   // nullptr: no list
    int num;
    int value;
};

TEST(Parsers, GetParam)
{
    const ParamCase cases[] = {
        {nullptr, 1, 1}, {"", 1, 1}, {"5", 2, 1}, {"x", 1, 1}, {"0", 1, 0}, {"-3", 1, -3},
        {"+7", 1, 7}, {"$1F", 1, 31}, {"0x10", 1, 16}, {"?1", 1, 1}, {"12a", 1, 1},
        {"99999999999", 1, 1}, {"5", 0, 1}, {"000000012", 1, 12}, {"1234567890", 1, 1234567890},
        {" 5", 1, 5}, {"2147483648", 1, 1},
    };
    for (const ParamCase& c : cases) {
        EscapeParams list;
        if (c.text && *c.text)
            list.Add(c.text);
        EXPECT_EQ(TEscapeCodes::GetParam(c.num, c.text ? &list : nullptr), c.value) << (c.text ? c.text : "nil");
    }
}

struct TextCase {
    TEscapeCode code;
    QByteArray vt52;
    QByteArray vt100;
};

TEST(Parsers, EscCodeToStr)
{
    const TextCase cases[] = {
        {TEscapeCode::ecCursorUp, "\x1b" "A", "\x1b[A"},
        {TEscapeCode::ecCursorDown, "\x1b" "B", "\x1b[B"},
        {TEscapeCode::ecCursorRight, "\x1b" "C", "\x1b[C"},
        {TEscapeCode::ecCursorLeft, "\x1b" "D", "\x1b[D"},
        {TEscapeCode::ecCursorHome, "\x1bH", "\x1b[H"},
        {TEscapeCode::ecCursorMove, "\x1bY&'", "\x1b[7;8f"},
        {TEscapeCode::ecReverseLineFeed, "\x1bI", ""},
        {TEscapeCode::ecAppCursorUp, "", "\x1bOA"},
        {TEscapeCode::ecAppCursorDown, "", "\x1bOB"},
        {TEscapeCode::ecAppCursorRight, "", "\x1bOC"},
        {TEscapeCode::ecAppCursorLeft, "", "\x1bOD"},
        {TEscapeCode::ecEraseLineFrom, "\x1bK", "\x1b[K"},
        {TEscapeCode::ecEraseScreenFrom, "\x1bJ", "\x1b[J"},
        {TEscapeCode::ecEraseLine, "", "\x1b[2K"},
        {TEscapeCode::ecEraseScreen, "", "\x1b[2J"},
        {TEscapeCode::ecSetTab, "", "\x1bH"},
        {TEscapeCode::ecClearTab, "", "\x1b[g"},
        {TEscapeCode::ecClearAllTabs, "", "\x1b[3g"},
        {TEscapeCode::ecIdentify, "\x1bZ", "\x1b[c"},
        {TEscapeCode::ecIdentResponse, "\x1b/Z", "\x1b[?1;7c"},
        {TEscapeCode::ecQueryDevice, "", "\x1b[5n"},
        {TEscapeCode::ecReportDeviceOK, "", "\x1b[0n"},
        {TEscapeCode::ecReportDeviceFailure, "", "\x1b[3n"},
        {TEscapeCode::ecQueryCursorPos, "", "\x1b[6n"},
        {TEscapeCode::ecReportCursorPos, "", "\x1b[7;8R"},
        {TEscapeCode::ecAttributes, "", "\x1b[m"},
        {TEscapeCode::ecSetMode, "", "\x1b[h"},
        {TEscapeCode::ecResetMode, "", "\x1b[l"},
        {TEscapeCode::ecReset, "", "\x1b" "c"},
        {TEscapeCode::ecSaveCaretAndAttr, "", "\x1b" "7"},
        {TEscapeCode::ecRestoreCaretAndAttr, "", "\x1b" "8"},
        {TEscapeCode::ecSaveCaret, "", "\x1b[s"},
        {TEscapeCode::ecRestoreCaret, "", "\x1b[u"},
        {TEscapeCode::ecTest, "", "\x1b#8"},
        {TEscapeCode::ecUnknown, "", ""},
        {TEscapeCode::ecNotCompleted, "", ""},
    };
    EscapeParams params;
    params.Add("7");
    params.Add("8");
    TEscapeCodesVT52 vt52;
    TEscapeCodesVT100 vt100;
    for (const TextCase& c : cases) {
        EXPECT_EQ(vt52.EscCodeToStr(c.code, &params), c.vt52) << EscapeCodeName(c.code);
        EXPECT_EQ(vt100.EscCodeToStr(c.code, &params), c.vt100) << EscapeCodeName(c.code);
    }
    // Missing parameters count as 1.
    EXPECT_EQ(vt100.EscCodeToStr(TEscapeCode::ecCursorMove, nullptr), "\x1b[1;1f");
    EXPECT_EQ(vt52.EscCodeToStr(TEscapeCode::ecCursorMove, nullptr), "\x1bY  ");
}

} // namespace
