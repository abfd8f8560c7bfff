// Comma text in both directions and the string list behaviour built on it.
#include "base/Exception.h"
#include "base/Strings.h"

#include <gtest/gtest.h>

using namespace zentrop;

TEST(CommaText, JoinQuotesOnlyWhatNeedsIt)
{
    EXPECT_EQ(JoinCommaText({}), "");
    EXPECT_EQ(JoinCommaText({""}), "\"\"");
    EXPECT_EQ(JoinCommaText({"a", "b"}), "a,b");
    EXPECT_EQ(JoinCommaText({"a", ""}), "a,");
    EXPECT_EQ(JoinCommaText({"my file.upg", "x"}), "\"my file.upg\",x");
    EXPECT_EQ(JoinCommaText({"say \"hi\""}), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(JoinCommaText({"a,b"}), "\"a,b\"");
    EXPECT_EQ(JoinCommaText({QString("tab\there")}), "\"tab\there\"");
}

TEST(CommaText, SplitFollowsTheReadingRules)
{
    EXPECT_EQ(SplitCommaText(""), QStringList());
    EXPECT_EQ(SplitCommaText("\"\""), QStringList({""}));
    EXPECT_EQ(SplitCommaText("\"C:\\my dir\\a.upg\",b.upg"), QStringList({"C:\\my dir\\a.upg", "b.upg"}));
    // The same name unquoted splits at the blank.
    EXPECT_EQ(SplitCommaText("C:\\my dir\\a.upg,b.upg"), QStringList({"C:\\my", "dir\\a.upg", "b.upg"}));
    EXPECT_EQ(SplitCommaText("  a ,\t b  "), QStringList({"a", "b"}));
    EXPECT_EQ(SplitCommaText("a,,b"), QStringList({"a", "", "b"}));
    EXPECT_EQ(SplitCommaText("a,"), QStringList({"a", ""}));
    // A comma followed by blanks is not "at the very end".
    EXPECT_EQ(SplitCommaText("a, "), QStringList({"a"}));
    EXPECT_EQ(SplitCommaText("\"say \"\"hi\"\"\""), QStringList({"say \"hi\""}));
    // An unterminated quote runs to the end; text after a closing quote is a new item.
    EXPECT_EQ(SplitCommaText("\"open"), QStringList({"open"}));
    EXPECT_EQ(SplitCommaText("\"ab\"cd"), QStringList({"ab", "cd"}));
    EXPECT_EQ(SplitCommaText(QString("a") + QChar(0) + ",b"), QStringList({"a"}));
}

TEST(CommaText, RoundTripKeepsEveryList)
{
    const QList<QStringList> lists = {
        {}, {""}, {"", ""}, {"a"}, {"with blank", "with,comma", "with\"quote", ""}, {"\x01x", "z"},
    };
    for (const QStringList& l : lists)
        EXPECT_EQ(SplitCommaText(JoinCommaText(l)), l) << JoinCommaText(l).toStdString();
}

TEST(StringList, SortIgnoresCaseAndIndexChecks)
{
    TStringList list;
    list.SetCommaText("COM2,com10,COM1");
    list.Sort();
    EXPECT_EQ(list.ToStringList(), QStringList({"COM1", "com10", "COM2"}));
    EXPECT_EQ(list.IndexOf("Com10"), 1);
    EXPECT_EQ(list.IndexOf("COM3"), -1);
    EXPECT_THROW(list.Get(3), EConvertError);
    EXPECT_THROW(list.Delete(-1), EConvertError);
    list.SetText("x\r\ny\n");
    EXPECT_EQ(list.ToStringList(), QStringList({"x", "y"}));
    EXPECT_EQ(list.Text(), "x\ny\n");
}
