// The Pricing screen: how the rate table is split and shown, the dollar
// format of the rates, the long-context lines, the notes and the date.

#include <gtest/gtest.h>

#include <QLabel>
#include <QScrollArea>
#include <string>
#include <vector>

#include "GuiTestSupport.h"
#include "PricingView.h"
#include "Theme.h"

using namespace vorel;

namespace {

std::vector<std::string> prefixes(const std::vector<RateRow>& rows) {
    std::vector<std::string> out;
    for (const RateRow& r : rows) out.emplace_back(r.prefix);
    return out;
}

// The texts of a widget's labels with the given role, in layout order.
QStringList texts(const QWidget* parent, const QString& role) {
    QStringList out;
    for (const QLabel* l : parent->findChildren<QLabel*>(role)) out << l->text();
    return out;
}

// What one shown row reads: its prefix and four rates, and its long-context
// line if it has one.
struct ShownRow {
    QStringList cells;
    QString longContext;
};

std::vector<ShownRow> shownRows(const PricingView& view, const QString& section) {
    std::vector<ShownRow> out;
    const QWidget* table = view.findChild<QWidget*>(section);
    if (!table) return out;
    for (const QWidget* row : table->findChildren<QWidget*>(QStringLiteral("pricingRow"))) {
        ShownRow r;
        r.cells = texts(row, QStringLiteral("pricingPrefix")) + texts(row, QStringLiteral("pricingRate"));
        const QStringList lc = texts(row, QStringLiteral("pricingLongContext"));
        if (!lc.isEmpty()) r.longContext = lc.first();
        out.push_back(r);
    }
    return out;
}

const ShownRow* find(const std::vector<ShownRow>& rows, const QString& prefix) {
    for (const ShownRow& r : rows)
        if (!r.cells.isEmpty() && r.cells.first() == prefix) return &r;
    return nullptr;
}

}  // namespace

// --- The split of the table ----------------------------------------------

TEST(PricingViewTables, ClaudeRowsAndTheOthersInTableOrderEachShownInItsSection) {
    const auto claude = PricingView::anthropicRows();
    const auto openAI = PricingView::openAIRows();
    std::vector<std::string> inOrderClaude, inOrderOthers;
    for (const RateRow& r : Pricing::displayTable())
        (r.prefix.starts_with("claude") ? inOrderClaude : inOrderOthers).emplace_back(r.prefix);
    EXPECT_EQ(prefixes(claude), inOrderClaude);
    EXPECT_EQ(prefixes(openAI), inOrderOthers);
    ASSERT_FALSE(claude.empty());
    ASSERT_FALSE(openAI.empty());

    PricingView view;
    const auto shownClaude = shownRows(view, QStringLiteral("pricingAnthropic"));
    const auto shownOpenAI = shownRows(view, QStringLiteral("pricingOpenAI"));
    ASSERT_EQ(shownClaude.size(), claude.size());
    ASSERT_EQ(shownOpenAI.size(), openAI.size());
    for (size_t i = 0; i < claude.size(); ++i) EXPECT_EQ(shownClaude[i].cells.first().toStdString(), claude[i].prefix);
    for (size_t i = 0; i < openAI.size(); ++i) EXPECT_EQ(shownOpenAI[i].cells.first().toStdString(), openAI[i].prefix);
}

TEST(PricingViewTables, RatesShowTheDerivedAndExplicitCacheRates) {
    PricingView view;
    const auto claude = shownRows(view, QStringLiteral("pricingAnthropic"));
    const auto openAI = shownRows(view, QStringLiteral("pricingOpenAI"));
    struct Expect {
        const std::vector<ShownRow>* rows;
        QStringList cells;
    };
    const std::vector<Expect> expected = {
        {&claude, {"claude-opus-4-8", "$5", "$0.5", "$6.25", "$25"}},
        {&claude, {"claude-haiku-4-5", "$1", "$0.1", "$1.25", "$5"}},
        {&openAI, {"gpt-5.4-mini", "$0.75", "$0.075", "$0.938", "$4.5"}},
        {&openAI, {"gpt-5.3-codex", "$1.75", "$0.175", "$2.188", "$14"}},
    };
    for (const Expect& e : expected) {
        const ShownRow* r = find(*e.rows, e.cells.first());
        ASSERT_NE(r, nullptr) << e.cells.first().toStdString();
        EXPECT_EQ(r->cells, e.cells);
    }
}

TEST(PricingViewTables, LongContextLinesOnlyWhereBothLongRatesExist) {
    PricingView view;
    std::vector<std::pair<QString, QString>> withLine;
    for (const auto& section : {QStringLiteral("pricingAnthropic"), QStringLiteral("pricingOpenAI")})
        for (const ShownRow& r : shownRows(view, section))
            if (!r.longContext.isEmpty()) withLine.emplace_back(r.cells.first(), r.longContext);
    const std::vector<std::pair<QString, QString>> expected = {
        {"gpt-5.5-pro", "over 128k input: $60 in \u00b7 $270 out"},
        {"gpt-5.5", "over 128k input: $10 in \u00b7 $45 out"},
        {"gpt-5.4-pro", "over 128k input: $60 in \u00b7 $270 out"},
        {"gpt-5.4", "over 128k input: $5 in \u00b7 $22.5 out"},
    };
    EXPECT_EQ(withLine, expected);
}

// --- dollars ----------------------------------------------------------------

TEST(PricingViewDollars, WholeNumbersBareElseUpToThreeDecimalsWithAPointWhateverTheCLocale) {
    const std::pair<double, const char*> cases[] = {
        {5, "$5"}, {180, "$180"}, {0, "$0"}, {1e6, "$1000000"}, {0.5, "$0.5"}, {0.075, "$0.075"}, {1.25, "$1.25"},
        {0.30000000000000004, "$0.3"}, {3 * 0.1, "$0.3"}, {10.1, "$10.1"},
        {0.9375, "$0.938"}, {2.1875, "$2.188"},  // exact halfway: to even
        {3.125, "$3.125"}, {0.0004999, "$0"},     // below 0.0005: nothing left after the point
        {4.9999, "$5"},                           // not whole, but rounds to it
        {0.1004, "$0.1"}, {22.5, "$22.5"},
    };
    for (const auto& [rate, text] : cases) EXPECT_EQ(PricingView::dollars(rate), text) << rate;
    test::CommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no comma-decimal C library locale could be installed or compiled";
    for (const auto& [rate, text] : cases) EXPECT_EQ(PricingView::dollars(rate), text) << rate;
}

// --- Notes, layout, colours ----------------------------------------------------

TEST(PricingViewTexts, NotesArePlainWrappingTextWithTheFallbackRates) {
    PricingView view;
    const QStringList notes = texts(&view, QStringLiteral("pricingNote"));
    EXPECT_TRUE(notes.contains(PricingView::fallbackNote()));
    EXPECT_EQ(PricingView::fallbackNote(),
              QStringLiteral("Unknown Claude models fall back to $5 in / $25 out; unknown OpenAI models to "
                             "$5 in / $30 out. Conversations priced by fallback are flagged \u201c\u2691 est\u201d."));
    for (const QLabel* l : view.findChildren<QLabel*>()) EXPECT_EQ(l->textFormat(), Qt::PlainText);
    for (const QLabel* l : view.findChildren<QLabel*>(QStringLiteral("pricingNote"))) EXPECT_TRUE(l->wordWrap());
}

TEST(PricingViewLayout, TheColumnStopsAt640AndRatesLineUpUnderTheirTitles) {
    PricingView view;
    view.resize(1200, 800);
    view.show();
    const QWidget* column = view.findChild<QWidget*>(QStringLiteral("pricingColumn"));
    ASSERT_NE(column, nullptr);
    EXPECT_LE(column->width(), 640);
    EXPECT_EQ(column->x(), 0);
    const QWidget* openAI = view.findChild<QWidget*>(QStringLiteral("pricingOpenAI"));
    const QList<QLabel*> titles = openAI->findChildren<QLabel*>(QStringLiteral("pricingColumnTitle"));
    const QWidget* row = openAI->findChild<QWidget*>(QStringLiteral("pricingRow"));
    const QList<QLabel*> rates = row->findChildren<QLabel*>(QStringLiteral("pricingRate"));
    ASSERT_EQ(rates.size(), 4);
    ASSERT_EQ(titles.size(), 5);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(rates[i]->mapTo(&view, QPoint(rates[i]->width(), 0)).x(),
                  titles[i + 1]->mapTo(&view, QPoint(titles[i + 1]->width(), 0)).x());
}

TEST(PricingViewLayout, ColoursFollowTheAppearance) {
    auto& appearance = platform::Appearance::shared();
    PricingView view;
    auto color = [&](const QString& role) {
        return view.findChild<QLabel*>(role)->palette().color(QPalette::WindowText);
    };
    for (bool dark : {true, false}) {
        appearance.setOverride(dark);
        EXPECT_EQ(view.palette().color(QPalette::Window), BrandColor::bg());
        EXPECT_EQ(color(QStringLiteral("pricingHeading")), BrandColor::text());
        EXPECT_EQ(color(QStringLiteral("pricingRate")), BrandColor::textMuted());
        EXPECT_EQ(color(QStringLiteral("pricingLongContext")), BrandColor::textFaint());
    }
    appearance.setOverride(std::nullopt);
}
