#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/TextRules.h"

using namespace vorel;

namespace {

using Ends = std::vector<size_t>;

bool always(char32_t) { return true; }

}  // namespace

TEST(TextRules, WhitespaceAndTrimming) {
    for (char32_t c : {U' ', U'\t', U'\n', U'\v', U'\f', U'\r', char32_t{0x85}, char32_t{0xA0}, char32_t{0x2028},
                       char32_t{0x2029}, char32_t{0x3000}})
        EXPECT_TRUE(text::isWhitespaceOrNewline(c)) << static_cast<unsigned>(c);
    for (char32_t c : {U'a', U'0', U'\b', char32_t{0x0E}, char32_t{0x7F}, char32_t{0x80}, char32_t{0x200B}, U'é'})
        EXPECT_FALSE(text::isWhitespaceOrNewline(c)) << static_cast<unsigned>(c);

    EXPECT_EQ(text::trimmed(" \t\r\n a b \u2028\u3000"), "a b");
    EXPECT_EQ(text::trimmed("\u00A0x"), "x");
    EXPECT_EQ(text::trimmed("   "), "");
    EXPECT_EQ(text::trimmed(""), "");
    EXPECT_TRUE(text::isBlank("\n\u2029 ") && !text::isBlank(" . "));
    // A view inside a larger text stops at its own ends.
    const std::string buffer = "x    y";
    EXPECT_EQ(text::trimmed(std::string_view(buffer).substr(1, 2)), "");
    EXPECT_EQ(text::trimmed(std::string_view(buffer).substr(0, 3)), "x");
    // An ill-formed byte is never stripped, whatever the rule; a NUL can be.
    EXPECT_EQ(text::trimmed(" \xFF "), "\xFF");
    EXPECT_EQ(text::trimmed(std::string_view("\0x\xFFy\0", 5), always), "\xFF");
}

TEST(TextRules, ValidUtf8ReplacesOnlyIllFormedSequences) {
    EXPECT_EQ(text::validUtf8("naïve 🎉"), "naïve 🎉");
    EXPECT_EQ(text::validUtf8(std::string_view("a\0\xFF" "b\xC3", 5)), std::string("a\0\uFFFDb\uFFFD", 9));
    EXPECT_EQ(text::validUtf8("\xE2\x82x\xF0\x9F\x8E\x89"), "\uFFFDx🎉");
}

TEST(TextRules, IsolatedBalancesTheIsolateMarks) {
    const std::string fsi = "\u2068", pdi = "\u2069";
    EXPECT_EQ(text::isolated(""), "");
    EXPECT_EQ(text::isolated("abc"), fsi + "abc" + pdi);
    // A stray pop is dropped; LRI, RLI and FSI left open are closed.
    EXPECT_EQ(text::isolated(pdi + "a" + pdi), fsi + "a" + pdi);
    EXPECT_EQ(text::isolated("\u2066a\u2067b"), fsi + "\u2066a\u2067b" + pdi + pdi + pdi);
    EXPECT_EQ(text::isolated("\u2068a" + pdi + pdi + "b"), fsi + "\u2068a" + pdi + "b" + pdi);
    // Other direction marks pass through; an ill-formed byte stays.
    EXPECT_EQ(text::isolated("\u202Ex\xFF"), fsi + "\u202Ex\xFF" + pdi);
}

TEST(TextRules, GraphemeEndsCountUserPerceivedCharacters) {
    EXPECT_EQ(text::graphemeEnds("abc", 10), (Ends{1, 2, 3}));
    EXPECT_EQ(text::graphemeEnds("abc", 2), (Ends{1, 2}));
    EXPECT_EQ(text::graphemeEnds("", 3), Ends{});
    EXPECT_EQ(text::graphemeEnds("a\r\nb", 10), (Ends{1, 3, 4}));
    // A combining accent and a skin tone join the character before them.
    EXPECT_EQ(text::graphemeEnds("e\u0301x👍🏽y", 10), (Ends{3, 4, 12, 13}));
    EXPECT_EQ(text::graphemeEnds("e\u0301x👍🏽y", 3), (Ends{3, 4, 12}));
}

TEST(TextRules, CaseAndCodePoints) {
    EXPECT_TRUE(text::isAscii("AZaz09 ~\x7F") && text::isAscii(""));
    EXPECT_FALSE(text::isAscii("abc\x80"));
    EXPECT_FALSE(text::isAscii("é"));

    std::string out = "stale";
    text::lowerCase("AZ@[`az-Mixed", out);
    EXPECT_EQ(out, "az@[`az-mixed");
    text::lowerCase("ÉCOLE İ", out);  // full mapping: a dotted capital I gains a combining dot
    EXPECT_EQ(out, "école i\u0307");
    text::lowerCase("", out);
    EXPECT_EQ(out, "");

    EXPECT_EQ(text::firstCodePoint("A"), 'A');
    EXPECT_EQ(text::firstCodePoint("éa"), 0xE9);
    EXPECT_EQ(text::firstCodePoint("🎉"), 0x1F389);
    EXPECT_LT(text::firstCodePoint(""), 0);
    EXPECT_LT(text::firstCodePoint("\xFF" "a"), 0);
    EXPECT_EQ(text::firstCodePoint(std::string_view("\0a", 2)), 0);
}
