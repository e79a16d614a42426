#include "shell/TodayRow.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QStringList>
#include <QVBoxLayout>

#include "engine/MetadataStore.h"
#include "platform/Appearance.h"
#include "shell/Formatting.h"
#include "shell/InlineField.h"
#include "shell/MetaLine.h"
#include "shell/PlainLabel.h"
#include "shell/Theme.h"

namespace vorel {

TodayRow::TodayRow(MetadataStore& meta, const std::string& rowId, QWidget* parent)
    : QWidget(parent), id_(rowId) {
    auto* h = new QHBoxLayout(this);
    h->setContentsMargins(0, 0, 0, 0);
    h->setSpacing(8);

    dot_ = new LiveDot;
    h->addLayout(dotColumn(dot_, 3));

    auto* names = new QVBoxLayout;
    names->setSpacing(1);
    name_ = new InlineField(meta, InlineField::Edits::name, QStringLiteral("Topic"), BrandFont::sans(13, QFont::Medium),
                            &BrandColor::text);
    name_->setRow(id_, std::string());
    names->addWidget(name_);
    meta_ = new MetaLine;
    names->addWidget(meta_);
    names->addStretch(1);
    h->addLayout(names, 1);

    h->addSpacing(8);

    auto* amounts = new QVBoxLayout;
    amounts->setSpacing(1);
    today_ = plainLabel(QString(), BrandFont::sansMonospacedDigits(14, QFont::Medium));
    total_ = plainLabel(QString(), BrandFont::sansMonospacedDigits(10));
    amounts->addWidget(today_, 0, Qt::AlignRight);
    amounts->addWidget(total_, 0, Qt::AlignRight);
    amounts->addStretch(1);
    h->addLayout(amounts);

    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, &TodayRow::applyColors);
    applyColors();
}

QString TodayRow::metaLine(const SessionRow& row, TimePoint now) {
    QStringList parts;
    if (!row.source.empty()) parts << qs(row.source);
    std::string model = row.primaryModel();
    if (!model.empty()) parts << isolated(model);
    if (row.subagentCount() >= 1) parts << QString::number(row.subagentCount()) + QStringLiteral(" sub");
    parts << relativeTime(row.lastActivity, now);
    return parts.join(MetaLine::kSeparator);
}

void TodayRow::setRow(const SessionRow& row, bool isCurrent, TimePoint now) {
    row_ = row;
    isCurrent_ = isCurrent;
    name_->setRow(id_, row.title);
    name_->refresh();
    meta_->setMark(row.hasEstimated());
    today_->setText(money(row.today));
    total_->setText(QStringLiteral("total ") + money(row.total));
    updateClock(now);
}

void TodayRow::updateClock(TimePoint now) {
    meta_->setText(metaLine(row_, now));
    bool live = row_.isLive(now);
    // Live pulses, the current conversation shows a steady accent disc,
    // any other an empty ring.
    if (live || isCurrent_) dot_->setState(live, BrandColor::accent());
    else dot_->setState(false);
}

void TodayRow::refreshTopic() { name_->refresh(); }

void TodayRow::applyColors() {
    BrandColor::setTextColor(today_, BrandColor::text());
    BrandColor::setTextColor(total_, BrandColor::textFaint());
    // The dot's fill is a colour value: take the new accent.
    bool live = dot_->isLive();
    if (live || isCurrent_) dot_->setState(live, BrandColor::accent());
}

}  // namespace vorel
