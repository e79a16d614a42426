#include "detail/StatsGrid.h"

#include <algorithm>

#include "shell/PlainLabel.h"
#include "shell/Theme.h"

namespace vorel {

namespace {

// The counters in the order they are shown, each with the field it counts.
struct StatCounter {
    const char* label;
    int ConversationStats::*count;
};
constexpr StatCounter kCounters[] = {
    {"Messages", &ConversationStats::messages},         {"Reasoning", &ConversationStats::reasoning},
    {"Tool calls", &ConversationStats::toolCalls},      {"Tool results", &ConversationStats::toolResults},
    {"Web searches", &ConversationStats::webSearches},  {"Patches", &ConversationStats::patches},
    {"Token events", &ConversationStats::tokenSnapshots}, {"Compactions", &ConversationStats::compactions},
};

}  // namespace

StatsGrid::StatsGrid(QWidget* parent) : QWidget(parent) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    for (const StatCounter& counter : kCounters) {
        cells_.push_back({counter.count,
                          plainLabel(QStringLiteral("0"), BrandFont::sansMonospacedDigits(12, QFont::DemiBold), this),
                          plainLabel(QString::fromUtf8(counter.label), BrandFont::sans(12), this)});
    }
    applyColors();
}

void StatsGrid::setStats(const ConversationStats& stats) {
    for (const Cell& cell : cells_) {
        const QString text = QString::number(stats.*cell.count);
        if (cell.value->text() != text) {
            cell.value->setText(text);
            cell.value->adjustSize();
        }
    }
    place();
}

QStringList StatsGrid::texts() const {
    QStringList out;
    for (const Cell& c : cells_) out << c.value->text() + QLatin1Char(' ') + c.label->text();
    return out;
}

int StatsGrid::columnsFor(int width) const {
    // n columns need n * 118 + (n - 1) * 14.
    const int n = (width + kColumnGap) / (kMinColumn + kColumnGap);
    // As many columns as fit, even more than there are counters: then the
    // extra ones stay empty.
    return std::max(n, 1);
}

int StatsGrid::heightForWidth(int width) const {
    const int cols = columnsFor(width);
    const int rows = (static_cast<int>(cells_.size()) + cols - 1) / cols;
    const int line = cells_.front().label->sizeHint().height();
    return rows * line + (rows - 1) * kRowGap;
}

QSize StatsGrid::sizeHint() const {
    const int w = 4 * kMinColumn + 3 * kColumnGap;
    return {w, heightForWidth(w)};
}

QSize StatsGrid::minimumSizeHint() const { return {kMinColumn, heightForWidth(kMinColumn)}; }

void StatsGrid::applyColors() {
    for (const Cell& c : cells_) {
        BrandColor::setTextColor(c.value, BrandColor::text());
        BrandColor::setTextColor(c.label, BrandColor::textMuted());
    }
}

void StatsGrid::resizeEvent(QResizeEvent*) { place(); }

void StatsGrid::place() {
    const int cols = columnsFor(width());
    const int colWidth = (width() - (cols - 1) * kColumnGap) / cols;
    const int line = cells_.front().label->sizeHint().height();
    for (size_t i = 0; i < cells_.size(); ++i) {
        const int col = static_cast<int>(i) % cols;
        const int row = static_cast<int>(i) / cols;
        const int x = col * (colWidth + kColumnGap);
        const int y = row * (line + kRowGap);
        const int vw = cells_[i].value->sizeHint().width();
        cells_[i].value->setGeometry(x, y, vw, line);
        cells_[i].label->setGeometry(x + vw + 4, y, std::max(0, colWidth - vw - 4), line);
    }
}

}  // namespace vorel
