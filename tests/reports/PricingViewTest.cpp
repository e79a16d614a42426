// The Pricing screen: how the rate table is split and shown, the dollar
// format of the rates, the long-context lines, the notes and the date.

#include <gtest/gtest.h>

#include <QLabel>
#include <QScrollArea>
#include <string>
#include <vector>

#include "Appearance.h"
#include "CommaLocale.h"
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

TEST(PricingViewTables, TwelveClaudeRowsAndSevenOthersInTableOrder) {
    const auto claude = PricingView::anthropicRows();
    const auto openAI = PricingView::openAIRows();
    ASSERT_EQ(claude.size(), 12u);
    ASSERT_EQ(openAI.size(), 7u);
    EXPECT_EQ(claude.front().prefix, "claude-fable-5");
    EXPECT_EQ(claude.back().prefix, "claude-haiku");
    EXPECT_EQ(openAI.front().prefix, "gpt-5.5-pro");
    EXPECT_EQ(openAI.back().prefix, "gpt-5.3-codex");
    // Together they are the table, each part in the table's own order.
    std::vector<std::string> table, inOrderClaude, inOrderOthers;
    for (const RateRow& r : Pricing::displayTable()) {
        (r.prefix.starts_with("claude") ? inOrderClaude : inOrderOthers).emplace_back(r.prefix);
        table.emplace_back(r.prefix);
    }
    EXPECT_EQ(prefixes(claude), inOrderClaude);
    EXPECT_EQ(prefixes(openAI), inOrderOthers);
    EXPECT_EQ(table.size(), claude.size() + openAI.size());
}

TEST(PricingViewTables, ShownRowsFollowTheSplit) {
    PricingView view;
    const auto claude = shownRows(view, QStringLiteral("pricingAnthropic"));
    const auto openAI = shownRows(view, QStringLiteral("pricingOpenAI"));
    ASSERT_EQ(claude.size(), 12u);
    ASSERT_EQ(openAI.size(), 7u);
    for (size_t i = 0; i < claude.size(); ++i)
        EXPECT_EQ(claude[i].cells.first().toStdString(), PricingView::anthropicRows()[i].prefix);
    for (size_t i = 0; i < openAI.size(); ++i)
        EXPECT_EQ(openAI[i].cells.first().toStdString(), PricingView::openAIRows()[i].prefix);
    EXPECT_EQ(texts(&view, QStringLiteral("pricingSectionTitle")),
              (QStringList{"ANTHROPIC (CLAUDE CODE)", "OPENAI (CODEX)"}));
    EXPECT_EQ(texts(view.findChild<QWidget*>(QStringLiteral("pricingOpenAI")), QStringLiteral("pricingColumnTitle")),
              (QStringList{"MODEL", "INPUT", "CACHE READ", "CACHE WRITE", "OUTPUT"}));
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
        {&claude, {"claude-sonnet-4-6", "$3", "$0.3", "$3.75", "$15"}},
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

TEST(PricingViewDollars, WholeNumbersHaveNoDecimals) {
    EXPECT_EQ(PricingView::dollars(5), "$5");
    EXPECT_EQ(PricingView::dollars(180), "$180");
    EXPECT_EQ(PricingView::dollars(0), "$0");
    EXPECT_EQ(PricingView::dollars(1e6), "$1000000");
}

TEST(PricingViewDollars, FractionsUpToThreeDecimalsWithoutTrailingZeros) {
    EXPECT_EQ(PricingView::dollars(0.5), "$0.5");  // a half is not a whole number
    EXPECT_EQ(PricingView::dollars(2.5), "$2.5");
    EXPECT_EQ(PricingView::dollars(0.075), "$0.075");
    EXPECT_EQ(PricingView::dollars(1.25), "$1.25");
    EXPECT_EQ(PricingView::dollars(0.30000000000000004), "$0.3");
    EXPECT_EQ(PricingView::dollars(3 * 0.1), "$0.3");
    EXPECT_EQ(PricingView::dollars(12.5), "$12.5");
    EXPECT_EQ(PricingView::dollars(10.1), "$10.1");
}

TEST(PricingViewDollars, RoundsToThreeDecimals) {
    EXPECT_EQ(PricingView::dollars(0.9375), "$0.938");   // exact halfway: to even
    EXPECT_EQ(PricingView::dollars(2.1875), "$2.188");   // exact halfway: to even
    EXPECT_EQ(PricingView::dollars(3.125), "$3.125");
    EXPECT_EQ(PricingView::dollars(0.0004), "$0");       // below 0.0005: nothing left after the point
    EXPECT_EQ(PricingView::dollars(0.0004999), "$0");
    EXPECT_EQ(PricingView::dollars(4.9999), "$5");       // not whole, but rounds to it
    EXPECT_EQ(PricingView::dollars(0.1004), "$0.1");
}

TEST(PricingViewDollars, APointWhateverTheCLocale) {
    test::CommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no comma-decimal C library locale could be installed or compiled";
    EXPECT_EQ(PricingView::dollars(0.5), "$0.5");
    EXPECT_EQ(PricingView::dollars(0.9375), "$0.938");
    EXPECT_EQ(PricingView::dollars(22.5), "$22.5");
}

// --- Header and notes ----------------------------------------------------------

TEST(PricingViewTexts, HeaderEndsWithTheRatesAsOfDate) {
    PricingView view;
    EXPECT_EQ(texts(&view, QStringLiteral("pricingHeading")), QStringList{"Pricing"});
    EXPECT_EQ(texts(&view, QStringLiteral("pricingSubtitle")),
              QStringList{"USD per million tokens \u00b7 rates as of July 5, 2026"});
}

TEST(PricingViewTexts, FourNotesInOrder) {
    PricingView view;
    EXPECT_EQ(texts(&view, QStringLiteral("pricingNotesTitle")), QStringList{"NOTES"});
    const QStringList notes = texts(&view, QStringLiteral("pricingNote"));
    ASSERT_EQ(notes.size(), 4);
    EXPECT_TRUE(notes[0].startsWith("Cache write shows the 5-minute tier. Anthropic's 1-hour cache writes are billed "
                                    "at 2\u00d7 the input rate"));
    EXPECT_TRUE(notes[1].startsWith("Model matching is by longest prefix"));
    EXPECT_EQ(notes[2], QStringLiteral("Unknown Claude models fall back to $5 in / $25 out; unknown OpenAI models to "
                                       "$5 in / $30 out. Conversations priced by fallback are flagged "
                                       "\u201c\u2691 est\u201d."));
    EXPECT_TRUE(notes[3].endsWith("the full 1M window bills at the standard rates above."));
    for (const QLabel* l : view.findChildren<QLabel*>(QStringLiteral("pricingNote"))) {
        EXPECT_TRUE(l->wordWrap());
        EXPECT_EQ(l->textFormat(), Qt::PlainText);
    }
}

TEST(PricingViewLayout, ColumnsHaveTheirWidthsAndTheColumnStopsAt640) {
    PricingView view;
    view.resize(1200, 800);
    view.show();
    const QWidget* column = view.findChild<QWidget*>(QStringLiteral("pricingColumn"));
    ASSERT_NE(column, nullptr);
    EXPECT_LE(column->width(), 640);
    EXPECT_EQ(column->x(), 0);
    QList<int> widths;
    const QWidget* openAI = view.findChild<QWidget*>(QStringLiteral("pricingOpenAI"));
    const QList<QLabel*> titles = openAI->findChildren<QLabel*>(QStringLiteral("pricingColumnTitle"));
    for (int i = 1; i < titles.size(); ++i) widths << titles[i]->width();
    EXPECT_EQ(widths, (QList<int>{74, 88, 92, 74}));
    // Rates line up under their column titles.
    const QWidget* row = openAI->findChild<QWidget*>(QStringLiteral("pricingRow"));
    const QList<QLabel*> rates = row->findChildren<QLabel*>(QStringLiteral("pricingRate"));
    ASSERT_EQ(rates.size(), 4);
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
