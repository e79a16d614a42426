#pragma once
// The activity counters of the detail screen: eight "count label" cells in
// as many columns of at least 118 px as fit, filled row by row.

#include <QLabel>
#include <QStringList>
#include <QWidget>
#include <vector>

#include "detail/ConversationDetail.h"

namespace vorel {

class StatsGrid : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMinColumn = 118;
    static constexpr int kColumnGap = 14;
    static constexpr int kRowGap = 6;

    explicit StatsGrid(QWidget* parent = nullptr);
    void setStats(const ConversationStats& stats);
    // The counter texts, in order ("12 Messages").
    QStringList texts() const;
    int columnsFor(int width) const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    void applyColors();

protected:
    void resizeEvent(QResizeEvent*) override;

private:
    void place();
    // One counter: the field it shows and its two labels.
    struct Cell {
        int ConversationStats::*count;
        QLabel* value;
        QLabel* label;
    };
    std::vector<Cell> cells_;
};

}  // namespace vorel
