#include "velmora/policyevent.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(PolicyEvent, EveryNumberRoundTripsThroughItsName)
{
    for (int num = 0; num < POLICYEVENT_COUNT; num++)
        EXPECT_EQ(policyevent_aton(policyevent_ntoa(num)), num) << policyevent_ntoa(num);
}

TEST(PolicyEvent, NumbersOutsideTheTableHaveNoName)
{
    for (int num : {9, -1, 100, -2147483647 - 1})
        EXPECT_STREQ(policyevent_ntoa(num), "???") << num;
    EXPECT_STREQ(policyevent_ntoa(8), "keyword");
}

TEST(PolicyEvent, NamesAreRecognisedByTheirFirstFourCharacters)
{
    struct Case {
        const char *text;
        int expected;
    };
    const Case cases[] = {
        {"keywords", 8}, {"virusscan", 3}, {"POLICY", 0}, {"BandWidth", 1}, {"inte", 2},
        {"AUTHENTICATE", 4}, {"decr", 5}, {"Connection", 6}, {"unkn", 7},
        {"pol", -1}, {"", -1}, {"banner", -1}, {"politics", 0}, {"xpolicy", -1},
    };
    for (const Case &c : cases)
        EXPECT_EQ(policyevent_aton(c.text), c.expected) << c.text;
    EXPECT_EQ(policyevent_aton(nullptr), -1);
}

} // namespace
