#include "reports/ReportControls.h"

#include <QDateEdit>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "shell/Theme.h"

namespace vorel {

namespace {

TimePoint localNoon(QDate d) {
    QDateTime t(d, QTime(12, 0), Qt::LocalTime);
    return TimePoint{std::chrono::milliseconds{t.toMSecsSinceEpoch()}};
}

QDateEdit* compactDateField(QDate date) {
    auto* edit = new QDateEdit(date);
    edit->setCalendarPopup(true);
    edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    // As wide as its whole date and its calendar button need, in whatever
    // font and style it is shown.
    edit->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    return edit;
}

}  // namespace

QWidget* labeled(const QString& label, QWidget* control) {
    auto* box = new QWidget;
    auto* col = new QVBoxLayout(box);
    col->setContentsMargins(0, 0, 0, 0);
    col->setSpacing(4);
    col->addWidget(microLabel(label), 0, Qt::AlignLeft);
    col->addWidget(control, 0, Qt::AlignLeft);
    return box;
}

DateRangeControls::DateRangeControls(ReportDateRange range, QDate customStart, QDate customEnd, QWidget* parent)
    : QWidget(parent), range_(range) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    picker_ = makePicker(kAllDateRanges, range);
    row->addWidget(labeled(QStringLiteral("Range"), picker_), 0, Qt::AlignBottom);
    start_ = compactDateField(customStart);
    end_ = compactDateField(customEnd);
    startBox_ = labeled(QStringLiteral("Start"), start_);
    endBox_ = labeled(QStringLiteral("End"), end_);
    row->addWidget(startBox_, 0, Qt::AlignBottom);
    row->addWidget(endBox_, 0, Qt::AlignBottom);
    startBox_->setVisible(range == ReportDateRange::custom);
    endBox_->setVisible(range == ReportDateRange::custom);

    connect(picker_, &QComboBox::currentIndexChanged, this, [this](int) {
        range_ = static_cast<ReportDateRange>(picker_->currentData().toInt());
        startBox_->setVisible(range_ == ReportDateRange::custom);
        endBox_->setVisible(range_ == ReportDateRange::custom);
        emit changed();
    });
    connect(start_, &QDateEdit::dateChanged, this, &DateRangeControls::changed);
    connect(end_, &QDateEdit::dateChanged, this, &DateRangeControls::changed);
}

TimePoint DateRangeControls::customStart() const { return localNoon(start_->date()); }
TimePoint DateRangeControls::customEnd() const { return localNoon(end_->date()); }

std::vector<SessionRow> DateRangeControls::filter(const std::vector<SessionRow>& rows, TimePoint now) const {
    return reportRows(rows, range_, customStart(), customEnd(), now);
}

}  // namespace vorel
