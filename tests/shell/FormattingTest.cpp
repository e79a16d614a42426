// The short texts every screen shows: amounts, token counts, ages and points
// in time. shortStamp follows the default QLocale and TZ, both set per test.

#include <gtest/gtest.h>

#include "shell/Formatting.h"
#include "tests/GuiTestSupport.h"

using namespace vorel;
using namespace std::chrono;
using vorel::test::utc;

TEST(Money, TwoDecimalsOrUnderACentRoundingTheDoublesExactValue) {
    const std::pair<double, const char*> cases[] = {
        {0, "$0.00"}, {0.004, "<$0.01"}, {0.01, "$0.01"}, {0.9951, "$1.00"},
        {1234567.891, "$1234567.89"},  // no thousands separators
        {2.675, "$2.67"},              // stored just below the written value
        {0.125, "$0.12"},              // exact: the tie goes to the even neighbour
        {-3.5, "$-3.50"}, {-0.004, "$-0.00"},  // the sign after the dollar; only positive ones read "<$0.01"
    };
    for (const auto& [amount, text] : cases) EXPECT_EQ(money(amount), text) << amount;
    // Neither a German Qt locale nor a comma-decimal C locale is followed.
    test::ScopedLocale qt(QLocale(QLocale::German, QLocale::Germany));
    test::CommaLocale comma;  // where one can be had
    EXPECT_EQ(money(1234.5), "$1234.50");
    EXPECT_EQ(compactTokens(12'345'678), "12.3M");
}

TEST(CompactTokens, PlainThousandsAndMillionsHalvesToEven) {
    const std::pair<long long, const char*> cases[] = {
        {999, "999"}, {1'000, "1k"}, {1'500, "2k"}, {2'500, "2k"},
        {999'999, "1000k"},  // the threshold compares the count: never "1.0M"
        {1'000'000, "1.0M"}, {1'250'000, "1.2M"}, {9'223'372'036'854'775'807LL, "9223372036854.8M"},
        {-5, "-5"}, {-2'000'000, "-2000000"},  // negative counts are plain integers
    };
    for (const auto& [count, text] : cases) EXPECT_EQ(compactTokens(count), text) << count;
}

TEST(RelativeTime, MinutesHoursDaysTruncatedFromTheProcessClock) {
    const TimePoint now = utc(2026, 7, 5, 12);
    auto ago = [&](milliseconds d) { return relativeTime(now - d, now); };
    EXPECT_EQ(ago(44'999ms), "just now");
    EXPECT_EQ(ago(45s), "0m ago");
    EXPECT_EQ(ago(3'599s), "59m ago");
    EXPECT_EQ(ago(86'399s), "23h ago");
    EXPECT_EQ(ago(days{400}), "400d ago");
    EXPECT_EQ(ago(-days{3}), "just now");  // the future is now
    auto fixed = std::make_shared<FixedClock>(now);
    setClock(fixed);
    fixed->advance(hours{1});
    EXPECT_EQ(relativeTime(utc(2026, 7, 5, 9, 30)), "3h ago");
    setClock(std::make_shared<SystemClock>());
}

TEST(ShortStamp, LocalTimeInTheLocalesWordsWithoutTheYear) {
    test::ScopedLocale english(QLocale(QLocale::English, QLocale::UnitedStates));
    {
        test::EnvVar tz("TZ", "EST5");  // five hours behind UTC, no daylight saving
        // Past midnight in UTC is still the evening before.
        EXPECT_EQ(shortStamp(utc(2026, 1, 3, 2, 30)), "Jan 2, 9:30 PM");
    }
    test::EnvVar tz("TZ", "UTC");
    EXPECT_EQ(shortStamp(utc(2026, 7, 5, 0, 0)), "Jul 5, 12:00 AM");
    {
        // The locale's own AM/PM marker, in its own case.
        test::ScopedLocale british(QLocale(QLocale::English, QLocale::UnitedKingdom));
        EXPECT_EQ(shortStamp(utc(2026, 1, 2, 15, 4)), "Jan 2, 3:04 pm");
    }
    test::ScopedLocale german(QLocale(QLocale::German, QLocale::Germany));
    QString s = shortStamp(utc(2026, 10, 2, 15, 4));
    EXPECT_TRUE(s.startsWith(QStringLiteral("Okt"))) << s.toStdString();
    EXPECT_FALSE(s.contains(QStringLiteral("2026")));
}

TEST(Isolated, WrapsThePieceAndBalancesTheIsolatesInsideIt) {
    const QString fsi(QChar(0x2068)), pdi(QChar(0x2069)), rli(QChar(0x2067));
    const QString rlo(QChar(0x202E));
    struct Case {
        QString piece;
        QString expected;
    };
    const Case cases[] = {
        {"", ""},
        {"vorel", fsi + "vorel" + pdi},
        // An override needs no closing: the end of the isolate ends it.
        {rlo + "evil", fsi + rlo + "evil" + pdi},
        // A stray end of isolate would end ours early; it goes.
        {"a" + pdi + rlo + "b", fsi + "a" + rlo + "b" + pdi},
        // An isolate left open would take ours as its end; it is closed.
        {"a" + rli + "b", fsi + "a" + rli + "b" + pdi + pdi},
        // A balanced pair stays, the stray end after it goes.
        {rli + "a" + pdi + pdi, fsi + rli + "a" + pdi + pdi},
    };
    for (const Case& c : cases) EXPECT_EQ(isolated(c.piece), c.expected) << c.piece.toStdString();
    EXPECT_EQ(isolated(std::string_view("\xE2\x81\xA9x")), fsi + "x" + pdi);
}
