// The page list of the print command, item by item.

#include "output/PageList.h"

#include <gtest/gtest.h>

namespace {

struct Case {
    const char* text;
    int pages;
    std::vector<int> expected;
};

} // namespace

TEST(PageList, ResolvesItemsInTheOrderWritten) {
    const Case cases[] = {
        {"3,1", 3, {3, 1}},
        {"3,1-2", 3, {3, 1, 2}},
        {"2,2", 3, {2, 2}}, // a page named twice prints twice
        {",,3,", 3, {3}},
        {" 2 , 3 ", 3, {2, 3}},
        {"\t1\r\n", 3, {1}}, // control characters round an item do not count
        {"0", 3, {}},
        {"4", 3, {}},
        {"7", 3, {}},
        {"-1", 3, {1}}, // a range from page 1 to page 1, not the number -1
        {"0-2", 3, {1, 2}},
        {"2-9", 3, {2, 3}},
        {"-", 3, {1, 2, 3}}, // a lone hyphen: every page
        {"-4", 5, {1, 2, 3, 4}},
        {"3-", 5, {3, 4, 5}},
        {"5-2", 5, {}},
        {"1-2-3", 4, {1, 2, 3, 4}}, // the end "2-3" is no number: up to the last page
        {"2 - 4", 5, {1, 2, 3, 4}}, // the start "2 " ends in a blank: from page 1
        {"2 -4", 5, {1, 2, 3, 4}},
        {"2- 4", 5, {2, 3, 4}},          // leading blanks are fine
        {"$2-0x3", 5, {2, 3}},           // hexadecimal numbers
        {"1-99999999999", 3, {1, 2, 3}}, // beyond 32 bits: no number, so the last page
        {"1x", 3, {}},
        {"", 3, {}},
        {"1-3", 0, {}},
        {"2147483647-2147483647", 2147483647, {2147483647}}, // no overflow at the top
    };
    for (const Case& c : cases)
        EXPECT_EQ(ResolvePageList(QString::fromLatin1(c.text), c.pages), c.expected)
            << '"' << c.text << "\" with " << c.pages << " pages";
}

TEST(PageList, KeyFilterLetsOnlyListCharactersThrough) {
    for (QChar c : QStringLiteral("0123456789,-"))
        EXPECT_TRUE(IsPageListChar(c)) << c.unicode();
    EXPECT_TRUE(IsPageListChar(QChar(8)));
    for (QChar c : QStringLiteral("a .;+\t"))
        EXPECT_FALSE(IsPageListChar(c)) << c.unicode();
    EXPECT_FALSE(IsPageListChar(QChar(3)));  // Ctrl+C
    EXPECT_FALSE(IsPageListChar(QChar(22))); // Ctrl+V
}

TEST(PageList, OnlyTypedCharactersAreFiltered) {
    // Texts as X11 delivers them with the key presses.
    const struct {
        const char16_t* text;
        Qt::KeyboardModifiers modifiers;
        bool typed;
    } cases[] = {
        {u"5", Qt::NoModifier, true},          {u"a", Qt::ShiftModifier, true},
        {u" ", Qt::NoModifier, true},          {u"ä", Qt::NoModifier, true},
        {u"", Qt::NoModifier, false},          // cursor keys, Home, End
        {u"\t", Qt::NoModifier, false},        // Tab
        {u"\t", Qt::ShiftModifier, false},     // Shift+Tab
        {u"\x7f", Qt::NoModifier, false},      // Delete
        {u"\b", Qt::NoModifier, false},        // Backspace
        {u"\r", Qt::NoModifier, false},        // Return
        {u"\x01", Qt::ControlModifier, false}, // Ctrl+A
        {u"\x16", Qt::ControlModifier, false}, // Ctrl+V
        {u"v", Qt::ControlModifier, false},    // Ctrl+V on a platform that keeps the letter
        {u"x", Qt::MetaModifier, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(IsTypedCharacter(QString::fromUtf16(c.text), c.modifiers), c.typed)
            << QString::fromUtf16(c.text).toStdString() << " " << int(c.modifiers);
}
