#include "AboutView.h"

#include <QFile>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QSvgRenderer>
#include <QVBoxLayout>
#include <cmath>
#include <vector>

#include "Appearance.h"
#include "Theme.h"

namespace vorel {

namespace {

constexpr int kLogoSide = 40;
constexpr int kMaxColumnWidth = 640;
constexpr double kBodySize = 13;
constexpr double kMarkSize = 9;

// The logo, drawn from its SVG at paint time so it stays sharp at any
// device pixel ratio, scaled to fit a 40 x 40 square.
class LogoMark : public QWidget {
public:
    explicit LogoMark(const QString& path) : renderer_(path) {
        setObjectName(QStringLiteral("aboutLogo"));
        setFixedSize(kLogoSide, kLogoSide);
    }
    bool isValid() const { return renderer_.isValid(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QSizeF natural = renderer_.defaultSize();
        if (natural.isEmpty()) natural = QSizeF(kLogoSide, kLogoSide);
        QSizeF fitted = natural.scaled(QSizeF(size()), Qt::KeepAspectRatio);
        QRectF target(QPointF((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        renderer_.render(&p, target);
    }

private:
    QSvgRenderer renderer_;
};

// The bullet mark. It is as tall as one line of the bullet's text and
// draws its glyph on that line's baseline, so mark and text share their
// first baseline whatever the two font sizes are.
class BulletMark : public QWidget {
public:
    BulletMark() {
        setObjectName(QStringLiteral("aboutBulletMark"));
        setFont(BrandFont::sans(kMarkSize));
        QFontMetricsF body(BrandFont::sans(kBodySize));
        baseline_ = body.ascent();
        setFixedSize(static_cast<int>(std::ceil(QFontMetricsF(font()).horizontalAdvance(glyph()))),
                     static_cast<int>(std::ceil(body.height())));
    }
    static QString glyph() { return QStringLiteral("\u2726"); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.setFont(font());
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(QPointF(0, baseline_), glyph());
    }

private:
    double baseline_ = 0;
};

struct Block {
    QString title;
    QStringList paragraphs;
    QStringList bullets;
};

// The page's texts, shown verbatim. Apostrophes are ASCII, dashes are em
// dashes, and the quotation marks around the estimate flag are typographic.
const std::vector<Block>& blocks() {
    static const std::vector<Block> all{
        {QStringLiteral("Why Vorel exists"),
         {QStringLiteral("Most people meet AI through a subscription \u2014 a flat monthly seat price \u2014 so they "
                         "never see what their usage actually costs. Seat pricing is convenient, but it hides the "
                         "economics: a light month and a heavy month look identical on your bill, and it's easy to "
                         "lose any feel for what the underlying compute is worth."),
          QStringLiteral("Vorel shows what your AI coding sessions would cost at published API rates. The goal is "
                         "intuition: how much AI you really consume, what you'd pay for it without a seat, and \u2014 "
                         "if you're building or investing \u2014 what those economics mean for designing AI products "
                         "and business models that actually hold up. Good AI products start with an honest view of "
                         "what they cost to run.")},
         {}},
        {QStringLiteral("What Vorel counts today"),
         {},
         {QStringLiteral("Claude Code sessions \u2014 everything that writes transcripts to ~/.claude/projects: "
                         "terminal sessions and IDE extensions. Subagent work is included and rolled into its parent "
                         "conversation."),
          QStringLiteral("OpenAI Codex sessions \u2014 the Codex CLI, IDE extension, and desktop app all share "
                         "~/.codex/sessions (including archived sessions), so all three are counted.")}},
        {QStringLiteral("Not counted (yet)"),
         {},
         {QStringLiteral("claude.ai chats on the web, in the desktop app, or on mobile \u2014 those conversations "
                         "live on Anthropic's servers, and no usage data exists locally to price."),
          QStringLiteral("Claude desktop app Cowork and Code-tab sessions \u2014 these are stored locally, but Vorel "
                         "doesn't read them yet."),
          QStringLiteral("ChatGPT app chats, and API usage from your own scripts or other tools.")}},
        {QStringLiteral("What these numbers are \u2014 and aren't"),
         {QStringLiteral("The true cost of AI right now is expected to be heavily subsidized by the labs and their "
                         "investors. Vorel prices your usage at current API list prices, so these figures reflect "
                         "what you would pay at those rates today \u2014 not what it truly costs the AI labs to serve "
                         "you. Treat them as a lower bound on the real economics.")},
         {}},
        {QStringLiteral("How costs are calculated"),
         {},
         {QStringLiteral("Vorel reads the transcript files that Claude Code (~/.claude/projects) and Codex "
                         "(~/.codex/sessions) already keep on your computer."),
          QStringLiteral("Every assistant response records its token usage. Vorel multiplies those tokens by the "
                         "published per-million-token API rates for the exact model recorded on that response."),
          QStringLiteral("Cache reads and cache writes are priced at their own tiers \u2014 reads at a fraction of the "
                         "input rate, writes at a premium \u2014 and duplicate log entries are de-duplicated so "
                         "nothing is double-counted."),
          QStringLiteral("Models not yet in the rate table are priced with a conservative fallback and flagged "
                         "\u201c\u2691 est\u201d."),
          QStringLiteral("What a subscription covers varies by plan and provider and changes over time, so check your "
                         "provider's current billing terms for what you actually owe.")}},
        {QStringLiteral("Private by design"),
         {},
         {QStringLiteral("Your conversation transcripts never leave your computer and are never sent back to the "
                         "developer \u2014 Vorel has no server."),
          QStringLiteral("All calculations happen inside the app. It only reads your local log files: no API key, no "
                         "network calls, no telemetry.")}},
    };
    return all;
}

QLabel* plainLabel(const QString& text, const QString& role, const QFont& font) {
    auto* label = new QLabel(text);
    label->setObjectName(role);
    label->setTextFormat(Qt::PlainText);
    label->setFont(font);
    return label;
}

}  // namespace

AboutView::AboutView(const QString& logoPath, QWidget* parent) : QWidget(parent) {
    setMinimumSize(560, 420);
    setAutoFillBackground(true);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(20, 16, 20, 16);
    header->setSpacing(12);
    if (QFile::exists(logoPath)) {
        auto* logo = new LogoMark(logoPath);
        if (logo->isValid()) header->addWidget(logo, 0, Qt::AlignVCenter);
        else delete logo;
    }
    auto* titles = new QVBoxLayout;
    titles->setSpacing(3);
    titles->addWidget(plainLabel(QStringLiteral("About Vorel"), QStringLiteral("aboutHeading"),
                                 BrandFont::sans(19, QFont::DemiBold)));
    titles->addWidget(plainLabel(QStringLiteral("Made by the Vorel developers"), QStringLiteral("aboutCredit"),
                                 BrandFont::sans(12)));
    header->addLayout(titles);
    header->addStretch(1);
    root->addLayout(header);

    root->addWidget(new Hairline);

    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("aboutScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidgetResizable(true);

    // The column takes the width it is offered up to 640 and keeps to the
    // leading edge; the space beyond goes to the empty stretch after it.
    auto* page = new QWidget;
    auto* pageRow = new QHBoxLayout(page);
    pageRow->setContentsMargins(0, 0, 0, 0);
    pageRow->setSpacing(0);
    auto* column = new QWidget;
    column->setObjectName(QStringLiteral("aboutColumn"));
    column->setMaximumWidth(kMaxColumnWidth);
    auto* blocksLayout = new QVBoxLayout(column);
    blocksLayout->setContentsMargins(20, 20, 20, 20);
    blocksLayout->setSpacing(26);
    for (const Block& b : blocks()) blocksLayout->addWidget(block(b.title, b.paragraphs, b.bullets));
    blocksLayout->addStretch(1);
    pageRow->addWidget(column, 1);
    pageRow->addStretch(0);
    scroll->setWidget(page);
    root->addWidget(scroll, 1);

    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, [this] { applyColors(); });
    applyColors();
}

QLabel* AboutView::bodyLabel(const QString& text) {
    QLabel* label = plainLabel(text, QStringLiteral("aboutBody"), BrandFont::sans(kBodySize));
    label->setWordWrap(true);
    // A wrapping label takes its height from the width it gets, so it is
    // never cut short (and never padded out) whatever the window's width.
    label->setAlignment(Qt::AlignLeading | Qt::AlignTop);
    return label;
}

QWidget* AboutView::block(const QString& title, const QStringList& paragraphs, const QStringList& bullets) {
    auto* w = new QWidget;
    auto* layout = new QVBoxLayout(w);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);

    QFont titleFont = BrandFont::sans(10, QFont::Medium);
    titleFont.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    layout->addWidget(plainLabel(title.toUpper(), QStringLiteral("aboutBlockTitle"), titleFont));

    for (const QString& p : paragraphs) layout->addWidget(bodyLabel(p));
    for (const QString& b : bullets) {
        auto* row = new QHBoxLayout;
        row->setSpacing(7);
        row->addWidget(new BulletMark, 0, Qt::AlignTop);
        row->addWidget(bodyLabel(b), 1);
        layout->addLayout(row);
    }
    return w;
}

void AboutView::applyColors() {
    QPalette page = palette();
    page.setColor(QPalette::Window, BrandColor::bg());
    setPalette(page);

    auto paint = [](QWidget* w, const QColor& c) {
        QPalette pal = w->palette();
        pal.setColor(QPalette::WindowText, c);
        w->setPalette(pal);
    };
    for (QWidget* w : findChildren<QWidget*>()) {
        const QString role = w->objectName();
        if (role == QLatin1String("aboutHeading")) paint(w, BrandColor::text());
        else if (role == QLatin1String("aboutCredit") || role == QLatin1String("aboutBody")) paint(w, BrandColor::textMuted());
        else if (role == QLatin1String("aboutBlockTitle")) paint(w, BrandColor::textFaint());
        else if (role == QLatin1String("aboutBulletMark")) paint(w, BrandColor::accent());
    }
    // The desktop style's scroll bar would stay light on the dark page: a
    // thin handle in the rule colour on no track fits both appearances.
    if (auto* scroll = findChild<QScrollArea*>(QStringLiteral("aboutScroll"))) {
        scroll->verticalScrollBar()->setStyleSheet(
            QStringLiteral("QScrollBar:vertical { background: transparent; width: 10px; margin: 0; }"
                           "QScrollBar::handle:vertical { background: %1; min-height: 24px; border-radius: 3px;"
                           " margin: 2px; }"
                           "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
                           "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }")
                .arg(BrandColor::css(BrandColor::border())));
    }
}

}  // namespace vorel
