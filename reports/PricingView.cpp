#include "reports/PricingView.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QScrollArea>
#include <QVBoxLayout>
#include <cmath>
#include <string>

#include "engine/DecimalText.h"
#include "platform/Appearance.h"
#include "shell/Formatting.h"
#include "shell/PlainLabel.h"
#include "shell/TextPage.h"
#include "shell/Theme.h"

namespace vorel {

namespace {

constexpr double kNoteSize = 12;

struct Column {
    const char* title;
    int width;  // 0: all the width the others leave
};
constexpr Column kColumns[] = {{"MODEL", 0}, {"INPUT", 74}, {"CACHE READ", 88}, {"CACHE WRITE", 92}, {"OUTPUT", 74}};

QFont tracked(QFont f, double spacing) {
    f.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    return f;
}

bool isClaude(const RateRow& r) { return r.prefix.starts_with("claude"); }

}  // namespace

std::vector<RateRow> PricingView::anthropicRows() {
    std::vector<RateRow> rows;
    for (const RateRow& r : Pricing::displayTable())
        if (isClaude(r)) rows.push_back(r);
    return rows;
}

std::vector<RateRow> PricingView::openAIRows() {
    std::vector<RateRow> rows;
    for (const RateRow& r : Pricing::displayTable())
        if (!isClaude(r)) rows.push_back(r);
    return rows;
}

QString PricingView::dollars(double rate) {
    if (rate == std::round(rate)) return QStringLiteral("$") + QString::fromStdString(fixedDecimal(rate, 0));
    std::string s = fixedDecimal(rate, 3);
    // Trailing zeros after the decimal point go, then a point left at the end.
    if (size_t dot = s.find('.'); dot != std::string::npos) {
        size_t end = s.size();
        while (end > dot + 1 && s[end - 1] == '0') --end;
        if (end == dot + 1) end = dot;
        s.resize(end);
    }
    return QStringLiteral("$") + QString::fromStdString(s);
}

QString PricingView::fallbackNote() {
    const ModelPricing& claude = Pricing::claudeFallbackRate;
    const ModelPricing& openAI = Pricing::openAIFallbackRate;
    return QStringLiteral("Unknown Claude models fall back to ") + dollars(claude.inputPerMTok) +
           QStringLiteral(" in / ") + dollars(claude.outputPerMTok) +
           QStringLiteral(" out; unknown OpenAI models to ") + dollars(openAI.inputPerMTok) +
           QStringLiteral(" in / ") + dollars(openAI.outputPerMTok) +
           QStringLiteral(" out. Conversations priced by fallback are flagged \u201c\u2691 est\u201d.");
}

PricingView::PricingView(QWidget* parent) : QWidget(parent) {
    setMinimumSize(560, 420);
    setAutoFillBackground(true);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    root->addLayout(new ScreenHeader(QStringLiteral("Pricing"), QStringLiteral("pricingHeading"),
                                     QStringLiteral("USD per million tokens \u00b7 rates as of ") + qs(Pricing::ratesAsOf),
                                     QStringLiteral("pricingSubtitle")));

    root->addWidget(new Hairline);

    const QList<QWidget*> blocks{
        section(QStringLiteral("Anthropic (Claude Code)"), anthropicRows(), QStringLiteral("pricingAnthropic")),
        section(QStringLiteral("OpenAI (Codex)"), openAIRows(), QStringLiteral("pricingOpenAI")),
        footnotes(),
    };
    root->addWidget(scrollingColumn(blocks, 24, QStringLiteral("pricingScroll"), QStringLiteral("pricingColumn")), 1);

    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, [this] { applyColors(); });
    applyColors();
}

QWidget* PricingView::section(const QString& title, const std::vector<RateRow>& rows, const QString& name) {
    auto* w = new QWidget;
    w->setObjectName(name);
    auto* layout = new QVBoxLayout(w);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    QLabel* heading = plainLabel(title.toUpper(), QStringLiteral("pricingSectionTitle"), BrandFont::caption());
    heading->setContentsMargins(0, 0, 0, 2);
    layout->addWidget(heading);
    layout->addWidget(columnHeader());
    layout->addWidget(new Hairline);
    for (const RateRow& r : rows) {
        layout->addWidget(rateRow(r));
        layout->addWidget(new Hairline);
    }
    return w;
}

QWidget* PricingView::columnHeader() {
    auto* w = new QWidget;
    auto* row = new QHBoxLayout(w);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    const QFont font = tracked(BrandFont::sans(9, QFont::Medium), 0.5);
    for (const Column& c : kColumns) {
        QLabel* label = plainLabel(QString::fromLatin1(c.title), QStringLiteral("pricingColumnTitle"), font);
        if (c.width) {
            label->setFixedWidth(c.width);
            label->setAlignment(Qt::AlignTrailing | Qt::AlignVCenter);
            row->addWidget(label);
        } else {
            label->setAlignment(Qt::AlignLeading | Qt::AlignVCenter);
            label->setMinimumWidth(0);
            row->addWidget(label, 1);
        }
    }
    return w;
}

QWidget* PricingView::rateRow(const RateRow& r) {
    const ModelPricing& p = r.pricing;
    auto* w = new QWidget;
    w->setObjectName(QStringLiteral("pricingRow"));
    w->setProperty("prefix", qs(r.prefix));
    auto* lines = new QVBoxLayout(w);
    lines->setContentsMargins(0, 5, 0, 5);
    lines->setSpacing(2);

    auto* row = new QHBoxLayout;
    row->setSpacing(0);
    QLabel* prefix = plainLabel(qs(r.prefix), QStringLiteral("pricingPrefix"), BrandFont::sans(12, QFont::Medium));
    prefix->setAlignment(Qt::AlignLeading | Qt::AlignVCenter);
    prefix->setMinimumWidth(0);
    row->addWidget(prefix, 1);
    const double rates[] = {p.inputPerMTok, p.cacheReadPerMTok(), p.cacheWrite5mPerMTok(), p.outputPerMTok};
    const QFont rateFont = BrandFont::sansMonospacedDigits(12);
    for (int i = 0; i < 4; ++i) {
        QLabel* rate = plainLabel(dollars(rates[i]), QStringLiteral("pricingRate"), rateFont);
        rate->setFixedWidth(kColumns[i + 1].width);
        rate->setAlignment(Qt::AlignTrailing | Qt::AlignVCenter);
        row->addWidget(rate);
    }
    lines->addLayout(row);

    if (p.longInputPerMTok && p.longOutputPerMTok) {
        lines->addWidget(plainLabel(QStringLiteral("over 128k input: ") + dollars(*p.longInputPerMTok) +
                                        QStringLiteral(" in \u00b7 ") + dollars(*p.longOutputPerMTok) +
                                        QStringLiteral(" out"),
                                    QStringLiteral("pricingLongContext"), BrandFont::sans(10)));
    }
    return w;
}

QWidget* PricingView::footnotes() {
    QWidget* w = textBlock(
        QStringLiteral("Notes"), {},
        {QStringLiteral("Cache write shows the 5-minute tier. Anthropic's 1-hour cache writes are billed at 2\u00d7 the "
                        "input rate; cache reads at 0.1\u00d7 unless the provider publishes an explicit rate."),
         QStringLiteral("Model matching is by longest prefix, so dated variants (e.g. a -20260101 suffix) inherit their "
                        "family's rate."),
         fallbackNote(),
         QStringLiteral("Long context: OpenAI models with long-context rates switch to them only on calls whose recorded "
                        "input actually exceeds 128k tokens. Current Claude models have no long-context premium \u2014 "
                        "the full 1M window bills at the standard rates above.")},
        {QStringLiteral("pricingNotesTitle"), QStringLiteral("pricingNote"), QStringLiteral("pricingNoteMark")},
        kNoteSize, 6);
    w->setObjectName(QStringLiteral("pricingNotes"));
    return w;
}

void PricingView::applyColors() {
    BrandColor::setBackground(this, BrandColor::bg());

    using BrandColor::setTextColor;
    for (QWidget* w : findChildren<QWidget*>()) {
        const QString role = w->objectName();
        if (role == QLatin1String("pricingHeading") || role == QLatin1String("pricingPrefix"))
            setTextColor(w, BrandColor::text());
        else if (role == QLatin1String("pricingSubtitle") || role == QLatin1String("pricingRate") ||
                 role == QLatin1String("pricingNote"))
            setTextColor(w, BrandColor::textMuted());
        else if (role == QLatin1String("pricingSectionTitle") || role == QLatin1String("pricingColumnTitle") ||
                 role == QLatin1String("pricingLongContext") || role == QLatin1String("pricingNotesTitle"))
            setTextColor(w, BrandColor::textFaint());
        else if (role == QLatin1String("pricingNoteMark"))
            setTextColor(w, BrandColor::accent());
    }
}

}  // namespace vorel
