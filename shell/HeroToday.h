#pragma once
// The top of the tray panel: today's amount.

#include <QPointer>
#include <QString>
#include <QWidget>

#include "engine/Clock.h"

class QLabel;
class QToolButton;

namespace vorel {

class CostModel;

// Today's amount with its date, and the note that it is an estimate, with
// an info button that opens an explanation below it.
class HeroToday : public QWidget {
    Q_OBJECT
public:
    explicit HeroToday(CostModel& model, QWidget* parent = nullptr);

    // Today's date and amount, as of `now`.
    void refresh(TimePoint now);

    bool showInfo() const { return showInfo_; }
    void setShowInfo(bool show);

    QLabel* dateLabel() const { return date_; }
    QLabel* amountLabel() const { return amount_; }
    QToolButton* infoButton() const { return info_; }
    // The explanation's popup, made when first shown.
    QWidget* infoPopover() const { return popover_; }

    static const QString kInfoText;

private:
    void applyColors();

    CostModel& model_;
    QLabel* today_;
    QLabel* date_;
    QLabel* amount_;
    QLabel* estimate_;
    QToolButton* info_;
    QPointer<QWidget> popover_;
    bool showInfo_ = false;
};

}  // namespace vorel
