// The short texts every screen shows: amounts, token counts, ages and
// points in time.
//
// shortStamp follows the default QLocale, which is the user's locale unless
// the program sets another; these tests set English (and German) with
// QLocale::setDefault and put back what was there. The time zone comes from
// TZ, set per test.

#include <gtest/gtest.h>

#include "Formatting.h"
#include "GuiTestSupport.h"

using namespace vorel;
using namespace std::chrono;
using vorel::test::utc;

TEST(Money, TwoDecimalsOrUnderACentRoundingTheDoublesExactValue) {
    EXPECT_EQ(money(0), "$0.00");
    EXPECT_EQ(money(0.004), "<$0.01");
    EXPECT_EQ(money(0.0099), "<$0.01");
    EXPECT_EQ(money(1e-12), "<$0.01");
    EXPECT_EQ(money(0.01), "$0.01");
    EXPECT_EQ(money(1234567.891), "$1234567.89");  // no thousands separators
    // 2.675 and 0.015 are stored just below the written value.
    EXPECT_EQ(money(2.675), "$2.67");
    EXPECT_EQ(money(0.015), "$0.01");
    // 0.125 is exact: the tie goes to the even neighbour.
    EXPECT_EQ(money(0.125), "$0.12");
    EXPECT_EQ(money(0.995), "$0.99");
    EXPECT_EQ(money(0.9951), "$1.00");
    // Negative amounts keep the sign after the dollar; only positive ones
    // read "<$0.01".
    EXPECT_EQ(money(-3.5), "$-3.50");
    EXPECT_EQ(money(-0.004), "$-0.00");
}

TEST(Money, DoesNotFollowAGermanOrCommaLocale) {
    test::ScopedLocale qt(QLocale(QLocale::German, QLocale::Germany));
    test::CommaLocale comma;  // where one can be had
    EXPECT_EQ(money(3.27), "$3.27");
    EXPECT_EQ(money(1234.5), "$1234.50");
    EXPECT_EQ(compactTokens(12'345'678), "12.3M");
    EXPECT_EQ(compactTokens(1'234'567'890), "1234.6M");
}

TEST(CompactTokens, PlainThousandsAndMillionsHalvesToEven) {
    EXPECT_EQ(compactTokens(0), "0");
    EXPECT_EQ(compactTokens(999), "999");
    EXPECT_EQ(compactTokens(1'000), "1k");
    EXPECT_EQ(compactTokens(845'200), "845k");
    EXPECT_EQ(compactTokens(1'500), "2k");
    EXPECT_EQ(compactTokens(2'500), "2k");
    EXPECT_EQ(compactTokens(3'500), "4k");
    EXPECT_EQ(compactTokens(999'499), "999k");
    // The threshold compares the count, so this never becomes "1.0M".
    EXPECT_EQ(compactTokens(999'999), "1000k");
    EXPECT_EQ(compactTokens(1'000'000), "1.0M");
    EXPECT_EQ(compactTokens(1'250'000), "1.2M");
    EXPECT_EQ(compactTokens(12'345'678), "12.3M");
    EXPECT_EQ(compactTokens(9'223'372'036'854'775'807LL), "9223372036854.8M");
    // Negative counts are plain integers.
    EXPECT_EQ(compactTokens(-5), "-5");
    EXPECT_EQ(compactTokens(-2'000'000), "-2000000");
}

TEST(RelativeTime, MinutesHoursDaysTruncatedFromTheProcessClock) {
    const TimePoint now = utc(2026, 7, 5, 12);
    auto ago = [&](milliseconds d) { return relativeTime(now - d, now); };
    EXPECT_EQ(ago(0s), "just now");
    EXPECT_EQ(ago(44'999ms), "just now");
    EXPECT_EQ(ago(45s), "0m ago");
    EXPECT_EQ(ago(59s), "0m ago");
    EXPECT_EQ(ago(60s), "1m ago");
    EXPECT_EQ(ago(3'599s), "59m ago");
    EXPECT_EQ(ago(3'600s), "1h ago");
    EXPECT_EQ(ago(86'399s), "23h ago");
    EXPECT_EQ(ago(86'400s), "1d ago");
    EXPECT_EQ(ago(days{400}), "400d ago");
    // The future is now.
    EXPECT_EQ(ago(-days{3}), "just now");

    auto fixed = std::make_shared<FixedClock>(now);
    setClock(fixed);
    EXPECT_EQ(relativeTime(utc(2026, 7, 5, 9, 30)), "2h ago");
    fixed->advance(hours{1});
    EXPECT_EQ(relativeTime(utc(2026, 7, 5, 9, 30)), "3h ago");
    setClock(std::make_shared<SystemClock>());
}

TEST(ShortStamp, LocalTimeInTheLocalesWordsWithoutTheYear) {
    test::ScopedLocale english(QLocale(QLocale::English, QLocale::UnitedStates));
    {
        test::EnvVar tz("TZ", "UTC");
        EXPECT_EQ(shortStamp(utc(2026, 1, 2, 15, 4)), "Jan 2, 3:04 PM");
        EXPECT_EQ(shortStamp(utc(2025, 11, 23, 9, 5)), "Nov 23, 9:05 AM");
        EXPECT_EQ(shortStamp(utc(2026, 7, 5, 0, 0)), "Jul 5, 12:00 AM");
        EXPECT_EQ(shortStamp(utc(2026, 7, 5, 12, 59)), "Jul 5, 12:59 PM");
    }
    {
        test::EnvVar tz("TZ", "EST5");  // five hours behind UTC, no daylight saving
        EXPECT_EQ(shortStamp(utc(2026, 1, 2, 15, 4)), "Jan 2, 10:04 AM");
        // Past midnight in UTC is still the evening before.
        EXPECT_EQ(shortStamp(utc(2026, 1, 3, 2, 30)), "Jan 2, 9:30 PM");
    }
    test::EnvVar tz("TZ", "UTC");
    test::ScopedLocale german(QLocale(QLocale::German, QLocale::Germany));
    QString s = shortStamp(utc(2026, 10, 2, 15, 4));
    EXPECT_TRUE(s.startsWith(QStringLiteral("Okt"))) << s.toStdString();
    EXPECT_FALSE(s.contains(QStringLiteral("2026")));
}
