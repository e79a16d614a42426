#pragma once
// The labelled controls the report screens put in their control bars: a
// caption over a pop-up picker or a compact date field, and the report
// window picker with its two custom dates.

#include <QComboBox>
#include <QDate>
#include <QWidget>

#include "reports/ReportWindow.h"
#include "shell/Formatting.h"

class QDateEdit;
class QLabel;

namespace vorel {

// A caption over `control`, leading-aligned, spacing 4.
QWidget* labeled(const QString& label, QWidget* control);

// A pop-up picker with one option per value, each showing its text.
template <typename T, size_t N>
QComboBox* makePicker(const std::array<T, N>& values, T selected) {
    auto* box = new QComboBox;
    for (T v : values) {
        box->addItem(qs(rawText(v)), static_cast<int>(v));
    }
    box->setCurrentIndex(box->findData(static_cast<int>(selected)));
    box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return box;
}

// The "Range" picker, and for "Custom" the "Start" and "End" date fields.
// The chosen values belong to the screen that shows the controls; they are
// kept when another range is picked and shown again for "Custom".
class DateRangeControls : public QWidget {
    Q_OBJECT
public:
    explicit DateRangeControls(ReportDateRange range, QDate customStart, QDate customEnd, QWidget* parent = nullptr);

    ReportDateRange range() const { return range_; }
    // The custom dates as instants: noon of the chosen local day, so no
    // daylight-saving change can move them to another day.
    TimePoint customStart() const;
    TimePoint customEnd() const;

    // The rows of `rows` in the chosen window at `now`.
    std::vector<SessionRow> filter(const std::vector<SessionRow>& rows, TimePoint now) const;

signals:
    void changed();

private:
    ReportDateRange range_;
    QComboBox* picker_;
    QWidget* startBox_;
    QWidget* endBox_;
    QDateEdit* start_;
    QDateEdit* end_;
};

}  // namespace vorel
