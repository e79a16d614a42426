// The Pricing screen: how the rate table is split and shown, the dollar
// format of the rates, the long-context lines and the notes.

#include <gtest/gtest.h>

#include <QLabel>
#include <algorithm>
#include <string>
#include <vector>

#include "reports/PricingView.h"
#include "tests/GuiTestSupport.h"

using namespace vorel;

namespace {

// The texts of a widget's labels with the given role, in layout order.
QStringList texts(const QWidget* parent, const QString& role) {
    QStringList out;
    for (const QLabel* l : parent->findChildren<QLabel*>(role)) out << l->text();
    return out;
}

// What each shown row of a section reads: its prefix and four rates, then
// its long-context line if it has one.
std::vector<QStringList> shownRows(const PricingView& view, const QString& section) {
    std::vector<QStringList> out;
    for (const QWidget* row : view.findChild<QWidget*>(section)->findChildren<QWidget*>(QStringLiteral("pricingRow")))
        out.push_back(texts(row, QStringLiteral("pricingPrefix")) + texts(row, QStringLiteral("pricingRate")) +
                      texts(row, QStringLiteral("pricingLongContext")));
    return out;
}

}  // namespace

TEST(PricingViewTables, EachSectionShowsItsRowsInTableOrderWithDerivedCacheRatesLongContextLinesAndNotes) {
    PricingView view;
    std::vector<QStringList> all;
    for (const auto& [section, claude] : {std::pair{QStringLiteral("pricingAnthropic"), true},
                                          std::pair{QStringLiteral("pricingOpenAI"), false}}) {
        std::vector<std::string> inOrder;
        for (const RateRow& r : Pricing::displayTable())
            if (r.prefix.starts_with("claude") == claude) inOrder.emplace_back(r.prefix);
        const std::vector<QStringList> rows = shownRows(view, section);
        ASSERT_EQ(rows.size(), inOrder.size());
        for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i].first().toStdString(), inOrder[i]);
        all.insert(all.end(), rows.begin(), rows.end());
    }
    // Cache reads at a tenth of the input rate, cache writes at a quarter more.
    for (const QStringList& expected : {QStringList{"claude-opus-4-8", "$5", "$0.5", "$6.25", "$25"},
                                        QStringList{"gpt-5.4-mini", "$0.75", "$0.075", "$0.938", "$4.5"},
                                        QStringList{"gpt-5.3-codex", "$1.75", "$0.175", "$2.188", "$14"}})
        EXPECT_NE(std::find(all.begin(), all.end(), expected), all.end()) << expected.first().toStdString();
    // Only rows with both long rates have the line.
    QList<QStringList> withLine;
    for (const QStringList& r : all)
        if (r.size() == 6) withLine.push_back({r.first(), r.last()});
    EXPECT_EQ(withLine, (QList<QStringList>{{"gpt-5.5-pro", "over 128k input: $60 in \u00b7 $270 out"},
                                            {"gpt-5.5", "over 128k input: $10 in \u00b7 $45 out"},
                                            {"gpt-5.4-pro", "over 128k input: $60 in \u00b7 $270 out"},
                                            {"gpt-5.4", "over 128k input: $5 in \u00b7 $22.5 out"}}));

    // The notes give the fallback rates; every text is plain text.
    EXPECT_TRUE(texts(&view, QStringLiteral("pricingNote")).contains(PricingView::fallbackNote()));
    EXPECT_EQ(PricingView::fallbackNote(),
              QStringLiteral("Unknown Claude models fall back to $5 in / $25 out; unknown OpenAI models to "
                             "$5 in / $30 out. Conversations priced by fallback are flagged \u201c\u2691 est\u201d."));
    for (const QLabel* l : view.findChildren<QLabel*>()) EXPECT_EQ(l->textFormat(), Qt::PlainText);
}

TEST(PricingViewDollars, WholeNumbersBareElseUpToThreeDecimalsWithAPointWhateverTheCLocale) {
    const std::pair<double, const char*> cases[] = {
        {5, "$5"}, {0, "$0"}, {1e6, "$1000000"}, {0.075, "$0.075"}, {0.30000000000000004, "$0.3"},
        {0.9375, "$0.938"}, {2.1875, "$2.188"},  // exact halfway: to even
        {0.0004999, "$0"},                       // below 0.0005: nothing left after the point
        {4.9999, "$5"},                          // not whole, but rounds to it
    };
    for (const auto& [rate, text] : cases) EXPECT_EQ(PricingView::dollars(rate), text) << rate;
    test::CommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no comma-decimal C library locale could be installed or compiled";
    for (const auto& [rate, text] : cases) EXPECT_EQ(PricingView::dollars(rate), text) << rate;
}
