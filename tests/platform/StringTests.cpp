#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/core/String.h"

using namespace zoc::core;

namespace {
std::string Format(double value, std::size_t leading, std::size_t decimals, unsigned flags = kNoNumberFlags,
                   std::size_t maxLength = 31)
{
    return ToUtf8(NumberToString(value, leading, decimals, flags, maxLength));
}
} // namespace

TEST(NumberToString, FixedDecimalsRoundingSignsSpecialValuesAndLength)
{
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN(), kInf = std::numeric_limits<double>::infinity();
    struct Case {
        double value;
        std::size_t leading, decimals;
        const char* text;
        unsigned flags = kNoNumberFlags;
        std::size_t maxLength = 31;
    };
    for (const Case& c : {
             // Fixed decimals, leading zeros.
             Case{150, 1, 0, "150"}, {15.25, 1, 1, "15.3"}, {1.5, 1, 2, "1.50"}, {0.25, 1, 3, "0.250"},
             {0.05, 1, 4, "0.0500"}, {7, 3, 1, "007.0"}, {0.5, 0, 2, ".50"},
             // Exact halves round away from zero, others by their true value: 1.005 is
             // stored below the half, and so is the largest double below 0.5 (a naive +0.5 rounds it up).
             {0.25, 1, 1, "0.3"}, {-0.25, 1, 1, "-0.3"}, {2.5, 1, 0, "3"}, {0.125, 1, 2, "0.13"}, {1.005, 1, 2, "1.00"},
             {std::nextafter(0.5, 0.0), 1, 0, "0"}, {99.96, 1, 1, "100.0"}, {-999.5, 1, 0, "-1000"},
             // Signs and special values.
             {-0.001, 1, 2, "0.00"}, {-0.0, 1, 1, "0.0"}, {1.5, 1, 1, "+1.5", kAlwaysShowSign},
             {-1.5, 1, 1, "-1.5", kAlwaysShowSign}, {0.0, 1, 1, "0.0", kAlwaysShowSign}, {kNaN, 1, 2, "nan"},
             {kInf, 1, 2, "inf"}, {-kInf, 1, 2, "-inf"},
             // Decimals are dropped to fit the maximum length.
             {12345.678, 1, 3, "12345.7", kNoNumberFlags, 7}, {12345.678, 1, 3, "12346", kNoNumberFlags, 4}})
        EXPECT_EQ(Format(c.value, c.leading, c.decimals, c.flags, c.maxLength), c.text) << c.value;
    EXPECT_EQ(Format(1e300, 1, 2).size(), 301u);
}

TEST(StringToNumber, AcceptsDecimalNumbersAndRejectsEverythingElse)
{
    for (const auto& [text, value] : {std::pair{u"  -1.5e3 ", -1500.0}, {u"+2", 2.0}, {u".5", 0.5}, {u"\t0.1\n", 0.1},
                                      {u"1E-2", 0.01}})
        EXPECT_EQ(StringToNumber(text), value) << ToUtf8(text);
    for (const char16_t* text : {u"", u"   ", u"abc", u"1.5x", u"nan", u"inf", u"-infinity", u"0x10", u"1e",
                                 u"1e+", u".", u"-", u"1 2", u"--1", u"1e999", u"\u0661"})
        EXPECT_FALSE(StringToNumber(text).has_value()) << ToUtf8(text);
}

TEST(Utf8, RoundTripsAllPlanesAndReplacesInvalidInput)
{
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x8E\xB5z"; // a é € 🎵 z
    const UString wide = FromUtf8(text);
    EXPECT_EQ(wide, u"a\u00E9\u20AC\U0001F3B5z");
    EXPECT_EQ(wide.size(), 6u);
    EXPECT_EQ(ToUtf8(wide), text);
    // Invalid input becomes U+FFFD.
    EXPECT_EQ(FromUtf8("a\xFF" "b"), u"a\uFFFDb");
    EXPECT_EQ(FromUtf8("\xC0\xAF"), u"\uFFFD\uFFFD");      // overlong lead byte
    EXPECT_EQ(FromUtf8("\xE0\x80\xAF"), u"\uFFFD");        // overlong sequence
    EXPECT_EQ(FromUtf8("\xED\xA0\x80"), u"\uFFFD");        // encoded surrogate
    EXPECT_EQ(FromUtf8("\xE2\x82" "x"), u"\uFFFDx");       // cut short
    EXPECT_EQ(FromUtf8("\xF4\x90\x80\x80"), u"\uFFFD");    // beyond U+10FFFF
    EXPECT_EQ(ToUtf8(u"a\xD800" "b"), "a\xEF\xBF\xBD" "b"); // lone high surrogate
    EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xDC00))), "\xEF\xBF\xBD");
}

TEST(ReplaceInString, ReplacesEveryOccurrenceWithoutRescanning)
{
    UString text = u"aXbXXc";
    EXPECT_EQ(ReplaceInString(text, u"X", u"XX"), 3u);
    EXPECT_EQ(text, u"aXXbXXXXc");
    EXPECT_EQ(ReplaceInString(text, u"", u"y"), 0u);
    EXPECT_EQ(ReplaceInString(text, u"XX", u""), 3u);
    EXPECT_EQ(text, u"abc");
}
