// The reset sequences: what each name and step list turns into, and a line that cannot be
// driven ending the sequence with its error.
#include "upgrade/ResetSequence.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace zentrop;

namespace {

using Kind = ResetStep::Kind;

TEST(ResetSequence, NamesAndStepLists)
{
    const ResetTiming timing{20, 300, false};
    const ResetTiming inverted{20, 300, true};
    const struct {
        const char* text;
        ResetTiming timing;
        ResetSequence steps;
    } cases[] = {
        {"none", timing, {}},
        {"dtr", timing, {{Kind::Dtr, 1}, {Kind::Wait, 20}, {Kind::Dtr, 0}, {Kind::Wait, 300}}},
        {"rts", inverted, {{Kind::Rts, 0}, {Kind::Wait, 20}, {Kind::Rts, 1}, {Kind::Wait, 300}}},
        {"both", timing,
         {{Kind::Dtr, 1}, {Kind::Rts, 1}, {Kind::Wait, 20}, {Kind::Dtr, 0}, {Kind::Rts, 0}, {Kind::Wait, 300}}},
        {"dtr=0, rts=1,wait=50,rts=0", timing, {{Kind::Dtr, 0}, {Kind::Rts, 1}, {Kind::Wait, 50}, {Kind::Rts, 0}}},
    };
    for (const auto& c : cases) {
        QString error;
        const auto steps = ParseResetSequence(QString::fromLatin1(c.text), c.timing, &error);
        ASSERT_TRUE(steps) << c.text << error.toStdString();
        EXPECT_EQ(*steps, c.steps) << c.text;
    }
    for (const char* bad : {"cts", "dtr=2", "wait=-1", "wait=10001", "dtr,wait=5", "", "rts=1,"}) {
        QString error;
        EXPECT_FALSE(ParseResetSequence(QString::fromLatin1(bad), timing, &error)) << bad;
        EXPECT_TRUE(error.contains("dtr=0|1, rts=0|1 or wait=MS")) << bad;
    }
}

TEST(ResetSequence, StopsAtALineThatCannotBeDriven)
{
    const ResetSequence steps{{Kind::Dtr, 1}, {Kind::Wait, 5}, {Kind::Rts, 1}, {Kind::Wait, 7}};
    std::vector<int> waits;
    int lines = 0;
    ResetStep failed;
    const int err = RunResetSequence(
        steps, [&](Kind line, bool) { return ++lines, line == Kind::Rts ? ENOTTY : 0; },
        [&](int ms) { waits.push_back(ms); }, &failed);
    EXPECT_EQ(err, ENOTTY);
    EXPECT_EQ(failed, (ResetStep{Kind::Rts, 1}));
    EXPECT_EQ(lines, 2);
    EXPECT_EQ(waits, std::vector<int>{5}); // nothing after the failure
}

} // namespace
