#include <gtest/gtest.h>

#include "detail/DetailRecords.h"
#include "tests/detail/DetailTestSupport.h"

using namespace vorel;
using namespace vorel::ConversationDetailParser;
using namespace vorel::test;
// Qualified: the engine's stringValue would also be found by argument lookup.
namespace P = vorel::ConversationDetailParser;

namespace {

std::string repeated(std::string_view piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

}  // namespace

TEST(DetailClean, CollapsesEveryKindOfWhiteSpaceAndCutsByUserPerceivedCharacters) {
    EXPECT_EQ(clean("  a\n\nb  ", 300), "a b");
    // No-break space, ideographic space, next line, line and paragraph
    // separators; a zero-width space is not white space.
    EXPECT_EQ(clean("a\u00a0b\u3000c\u0085d\u2028e\u2029f\r\n\tg\u200bh", 300), "a b c d e f g\u200bh");

    EXPECT_EQ(clean(repeated("x", 300), 300), repeated("x", 300));
    EXPECT_EQ(clean(repeated("x", 301), 300), repeated("x", 299) + "...");
    // A letter with a combining accent, a family joined by zero-width
    // joiners, a flag and a skin-tone emoji are one character each.
    for (std::string_view c : {"e\u0301", "\U0001F468\u200d\U0001F469\u200d\U0001F467", "\U0001F1EB\U0001F1F7",
                               "\U0001F44D\U0001F3FD"}) {
        SCOPED_TRACE(std::string(c));
        EXPECT_EQ(clean(repeated(c, 5), 5), repeated(c, 5));
        EXPECT_EQ(clean(repeated(c, 6), 5), repeated(c, 4) + "...");
        // ASCII up to the cut, then a mark that joins the last letter.
        EXPECT_EQ(clean("abcd" + std::string(c), 5), "abcd" + std::string(c));
    }
    EXPECT_EQ(clean("abcde\u0301f", 5), "abcd...");
    // A byte that starts no valid sequence is kept as it is, never read as
    // white space: a stray continuation byte of U+0085, an overlong space.
    EXPECT_EQ(clean("a\x85" "b \xC0\xA0" "c", 300), "a\x85" "b \xC0\xA0" "c");
    // Nor is an overlong space of three or four bytes.
    EXPECT_EQ(clean("a\xE0\x80\xA0" "b\xF0\x80\x80\xA0" "c", 300), "a\xE0\x80\xA0" "b\xF0\x80\x80\xA0" "c");
    EXPECT_EQ(clean("ab", 1), "...");
    EXPECT_EQ(clean(" a ", 1), "a");
    // No room at all: only the mark that something was left out.
    EXPECT_EQ(clean("\u00e9b", 0), "...");
    EXPECT_EQ(clean(" ", 0), "");
}

// Without character break rules a code point is one character, and so is
// each byte that starts no valid sequence.
TEST(DetailClean, WithoutBreakRulesCodePointsAreTheCharacters) {
    struct Case {
        std::string_view text;
        size_t limit;
        Cut cut;
    };
    const Case cases[] = {
        {"", 1, {}},
        {"a", 1, {}},
        {"ab", 1, {true, 0}},
        {"abc", 3, {}},
        {"abcd", 3, {true, 2}},
        // A letter and its combining accent are two.
        {"e\u0301e", 2, {true, 1}},
        // The highest lead byte still starts a sequence; the next does not.
        {"\U0010FFFFab", 2, {true, 4}},
        {"\xF5\x80\x80\x80", 2, {true, 1}},
        // Three bytes that end the text make one sequence; a sequence cut
        // short by the end or by a byte that does not continue it is one.
        {"ab\u2028", 3, {}},
        {"a\xE2\x80", 2, {}},
        {"\xE2" "ab", 2, {true, 1}},
        // A surrogate and an overlong form are a byte each.
        {"\xED\xA0\x80", 2, {true, 1}},
        {"\xE0\x80\xA0", 2, {true, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " limit " + std::to_string(c.limit));
        Cut cut = codePointCut(c.text, c.limit);
        // Where a text that is not cut would be cut does not matter.
        EXPECT_EQ(std::pair(cut.more, cut.more ? cut.at : 0), std::pair(c.cut.more, c.cut.at));
    }
}

TEST(DetailStringValue, WritesCompactJsonWithSortedKeys) {
    auto text = [](std::string_view json) { return P::stringValue(Json(json).value()); };
    EXPECT_EQ(text(R"({"b":1,"a":{"d":[true,null],"c":"x"}})"), R"({"a":{"c":"x","d":[true,null]},"b":1})");
    EXPECT_EQ(text(R"({"k":1,"k":2})"), R"({"k":2})");  // the last of a repeated key
    EXPECT_EQ(text(R"({"b":1,"a":2,"b":3,"c":{},"a":4,"b":5})"), R"({"a":4,"b":5,"c":{}})");
    EXPECT_EQ(text(R"(["q\"uote\\ \n\t\u0001 é"])"), R"(["q\"uote\\ \n\t\u0001 é"])");
    // Escapes at the very start of a key and of a value.
    EXPECT_EQ(text(R"({"\tk":["\"q"]})"), R"({"\tk":["\"q"]})");
    EXPECT_EQ(text(R"("as it is\n")"), "as it is\n");
    for (const char* scalar : {"[]", "-1.5", "false", "null", "18446744073709551615"}) EXPECT_EQ(text(scalar), scalar);
    EXPECT_EQ(P::stringValue(Transcript::JsonValue{}), "");
}

// The bounded text must clean exactly like the whole text, wherever the cut
// falls: inside a cluster, an escape, a key or a run of white space.
TEST(DetailStringValue, BoundedTextCleansLikeTheWholeTextAndReadsOnlyItsBeginning) {
    const std::string cases[] = {
        jsonString(repeated("e\u0301", 2000)),
        jsonString(repeated("\U0001F1EB\U0001F1F7", 700) + "\U0001F1E9"),
        jsonString(repeated(" \n ", 3000) + "late"),
        "[" + jsonString(repeated("ab\\\"", 900)) + "," + jsonString("tail") + "]",
        R"({"z":")" + repeated("z", 5000) + R"(","a":[{"y":)" + jsonString(repeated("\U0001F44D ", 500)) + "}]}",
        R"({"short":1})",
        // Cut inside a string inside an array inside an object.
        R"({"k":[)" + jsonString(repeated("\U0001F1EB\U0001F1F7", 700)) + "]}",
        // Keys are written whole: white space that collapses to nothing
        // fills the budget between members and between items.
        "[{" + jsonString(repeated(" ", 5000)) + ":1},{" + jsonString(repeated(" ", 5000)) + ":2}]",
        "{" + jsonString(repeated(" ", 5000) + "a") + ":1,\"b\":2}",
    };
    for (const std::string& json : cases) {
        Json value(json);
        std::string whole = P::stringValue(value.value());
        for (int max : {1, 2, 9, 220, 300, 500}) {
            SCOPED_TRACE(json.substr(0, 40) + " max " + std::to_string(max));
            std::string bounded = P::stringValue(value.value(), max);
            EXPECT_TRUE(whole.starts_with(bounded));
            EXPECT_EQ(clean(bounded, max), clean(whole, max));
        }
    }
    // Appending stops at the budget, and adds nothing once it is reached.
    std::string line = "xyz";
    EXPECT_FALSE(appendUpTo("abcdef", line, 5));
    EXPECT_EQ(line, "xyzab");
    EXPECT_FALSE(appendUpTo("cdef", line, 5));
    EXPECT_EQ(line, "xyzab");
    // A piece ends at the end of its text, whatever follows in memory.
    const std::string bytes = "\u00e9\x80";
    std::string out;
    EXPECT_TRUE(appendUpTo(std::string_view(bytes).substr(0, 2), out, 1));
    EXPECT_EQ(out, "\u00e9");
    // The first budget holds `max` characters of four bytes each, so one
    // write settles a text of them.
    const std::string emoji = repeated("\U0001F600", 400);
    int writes = 0;
    enoughFor(300, [&](std::string& written, size_t budget) {
        ++writes;
        return appendUpTo(emoji, written, budget);
    });
    EXPECT_EQ(writes, 1);
    // Only the beginning of a huge value is read.
    const std::string huge(10 << 20, 'x');
    for (const std::string& json : {R"({"content":")" + huge + R"("})", jsonString(huge)})
        EXPECT_LT(P::stringValue(Json(json).value(), 300).size(), 4096u);
}
