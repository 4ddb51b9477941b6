// The whole-number rule every number field of the copier reads with.

#include "platform/WholeNumber.h"

#include <QString>
#include <climits>
#include <gtest/gtest.h>
#include <optional>

namespace {

struct Case {
    const char16_t* text;
    std::optional<int> value; // nullopt: not a number
};

const Case Cases[] = {
    {u"42", 42},
    {u"+7", 7},
    {u"-15", -15},
    {u"007", 7},
    {u"   -12", -12},
    {u"\t12", std::nullopt}, // only spaces lead
    {u"42 ", std::nullopt},
    {u"1.5", std::nullopt},
    {u"12abc", std::nullopt},
    {u"", std::nullopt},
    {u"   ", std::nullopt},
    {u"-", std::nullopt},
    {u"+-1", std::nullopt},
    {u"- 1", std::nullopt},
    {u"2147483647", INT_MAX},
    {u"-2147483648", INT_MIN},
    {u"2147483648", std::nullopt},
    {u"-2147483649", std::nullopt},
    {u"99999999999999999999999999", std::nullopt},
    {u"$1F", 31},
    {u"$1f", 31},
    {u"0x1F", 31},
    {u"0X1f", 31},
    {u"-$10", -16},
    {u"-0x80000000", INT_MIN},
    {u"$7FFFFFFF", INT_MAX},
    {u"$80000000", std::nullopt},
    {u"$", std::nullopt},
    {u"0x", std::nullopt},
    {u"1F", std::nullopt},
    {u"0x1G", std::nullopt},
    {u"$-1", std::nullopt},
    {u"0", 0},
    {u"-0", 0},
    {u"\u0661", std::nullopt}, // digits of other scripts are not digits here
};

class WholeNumberTest : public ::testing::TestWithParam<Case> {};

TEST_P(WholeNumberTest, ReadsExactlyTheWholeNumbers) {
    const Case& c = GetParam();
    const QString text = QString::fromUtf16(c.text);
    int value = 12345;
    ASSERT_EQ(ReadWholeNumber(text, value), c.value.has_value()) << text.toStdString();
    EXPECT_EQ(value, c.value.value_or(12345)) << "a rejected text leaves the value alone";
}

INSTANTIATE_TEST_SUITE_P(Texts, WholeNumberTest, ::testing::ValuesIn(Cases));

} // namespace
