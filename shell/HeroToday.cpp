#include "shell/HeroToday.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QToolButton>
#include <QVBoxLayout>

#include "engine/CostModel.h"
#include "platform/Appearance.h"
#include "platform/Symbols.h"
#include "shell/Formatting.h"
#include "shell/PlainLabel.h"
#include "shell/Popup.h"
#include "shell/Theme.h"

namespace vorel {

const QString HeroToday::kInfoText = QStringLiteral(
    "These are API-equivalent estimates from local Claude Code and Codex transcripts. Subscription or credit "
    "billing may differ.");

HeroToday::HeroToday(CostModel& model, QWidget* parent) : QWidget(parent), model_(model) {
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(3);

    auto* top = new QHBoxLayout;
    top->setSpacing(8);
    today_ = microLabel(QStringLiteral("Today"));
    date_ = plainLabel(QString(), BrandFont::sans(11));
    top->addWidget(today_);
    top->addStretch(1);
    top->addWidget(date_);
    v->addLayout(top);

    amount_ = plainLabel(QString(), BrandFont::sansMonospacedDigits(33, QFont::DemiBold));
    v->addWidget(amount_);

    auto* note = new QHBoxLayout;
    note->setSpacing(5);
    estimate_ = plainLabel(QStringLiteral("API-equivalent estimate"), BrandFont::sans(11));
    info_ = new QToolButton;
    info_->setAutoRaise(true);
    info_->setFocusPolicy(Qt::TabFocus);
    info_->setIconSize(QSize(11, 11));
    info_->setCursor(Qt::ArrowCursor);
    info_->setToolButtonStyle(Qt::ToolButtonIconOnly);
    info_->setStyleSheet(QStringLiteral("QToolButton { border: none; background: transparent; padding: 0px; }"));
    connect(info_, &QToolButton::clicked, this, [this] { setShowInfo(!showInfo_); });
    note->addWidget(estimate_);
    note->addWidget(info_);
    note->addStretch(1);
    v->addLayout(note);

    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, &HeroToday::applyColors);
    applyColors();
}

void HeroToday::refresh(TimePoint now) {
    QDate day = QDateTime::fromMSecsSinceEpoch(now.time_since_epoch().count(), Qt::LocalTime).date();
    date_->setText(QLocale().toString(day, QStringLiteral("ddd, MMM d")));
    amount_->setText(money(model_.todayCost()));
}

void HeroToday::setShowInfo(bool show) {
    if (show == showInfo_) return;
    showInfo_ = show;
    if (show) {
        // Below the button, above it when there is no room below.
        if (!popover_) {
            popover_ = new ExplanationPopup(info_, kInfoText, 240, ExplanationPopup::Side::below, 2,
                                            [this] { setShowInfo(false); });
        }
        static_cast<ExplanationPopup*>(popover_.data())->showAtButton();
    } else if (popover_ && popover_->isVisible()) {
        popover_->hide();
    }
}

void HeroToday::applyColors() {
    BrandColor::setTextColor(date_, BrandColor::textFaint());
    BrandColor::setTextColor(amount_, BrandColor::text());
    BrandColor::setTextColor(estimate_, BrandColor::textMuted());
    info_->setIcon(platform::symbolIcon(QStringLiteral("info.circle"), BrandColor::textFaint(), 11));
}

}  // namespace vorel
