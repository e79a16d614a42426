#include "shell/AboutView.h"

#include <QFile>
#include <QPainter>
#include <QScrollArea>
#include <QSvgRenderer>
#include <QVBoxLayout>
#include <vector>

#include "platform/Appearance.h"
#include "shell/TextPage.h"
#include "shell/Theme.h"

namespace vorel {

namespace {

constexpr int kLogoSide = 40;
constexpr double kBodySize = 13;

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

}  // namespace

AboutView::AboutView(const QString& logoPath, QWidget* parent) : QWidget(parent) {
    setMinimumSize(560, 420);
    setAutoFillBackground(true);

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    LogoMark* logo = nullptr;
    if (QFile::exists(logoPath)) {
        logo = new LogoMark(logoPath);
        if (!logo->isValid()) {
            delete logo;
            logo = nullptr;
        }
    }
    root->addLayout(new ScreenHeader(QStringLiteral("About Vorel"), QStringLiteral("aboutHeading"),
                                     QStringLiteral("Made by the Vorel developers"), QStringLiteral("aboutCredit"),
                                     logo));

    root->addWidget(new Hairline);

    const TextBlockRoles roles{QStringLiteral("aboutBlockTitle"), QStringLiteral("aboutBody"),
                               QStringLiteral("aboutBulletMark")};
    QList<QWidget*> shown;
    for (const Block& b : blocks()) shown << textBlock(b.title, b.paragraphs, b.bullets, roles, kBodySize, 8);
    root->addWidget(scrollingColumn(shown, 26, QStringLiteral("aboutScroll"), QStringLiteral("aboutColumn")), 1);

    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, [this] { applyColors(); });
    applyColors();
}

void AboutView::applyColors() {
    BrandColor::setBackground(this, BrandColor::bg());

    using BrandColor::setTextColor;
    for (QWidget* w : findChildren<QWidget*>()) {
        const QString role = w->objectName();
        if (role == QLatin1String("aboutHeading")) setTextColor(w, BrandColor::text());
        else if (role == QLatin1String("aboutCredit") || role == QLatin1String("aboutBody"))
            setTextColor(w, BrandColor::textMuted());
        else if (role == QLatin1String("aboutBlockTitle")) setTextColor(w, BrandColor::textFaint());
        else if (role == QLatin1String("aboutBulletMark")) setTextColor(w, BrandColor::accent());
    }
}

}  // namespace vorel
