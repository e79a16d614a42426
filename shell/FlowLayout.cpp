#include "shell/FlowLayout.h"

#include <QStyle>
#include <QWidget>
#include <algorithm>

namespace vorel {

FlowLayout::FlowLayout(QWidget* parent, int spacing, int lineSpacing)
    : QLayout(parent), spacing_(spacing), lineSpacing_(lineSpacing) {
    setContentsMargins(0, 0, 0, 0);
}

FlowLayout::~FlowLayout() {
    while (QLayoutItem* item = takeAt(0)) delete item;
}

void FlowLayout::addItem(QLayoutItem* item) { items_.append(item); }

QLayoutItem* FlowLayout::takeAt(int index) {
    if (index < 0 || index >= items_.size()) return nullptr;
    return items_.takeAt(index);
}

int FlowLayout::heightForWidth(int width) const { return arrange(QRect(0, 0, width, 0), false); }

int FlowLayout::lineCount(int width) const {
    int lines = 0;
    const QMargins m = contentsMargins();
    arrange(QRect(0, 0, width, 0).marginsRemoved(m), false, &lines);
    return lines;
}

QSize FlowLayout::minimumSize() const {
    // The widest item alone on a line.
    QSize size;
    for (QLayoutItem* item : items_) {
        if (!item->isEmpty()) size = size.expandedTo(item->minimumSize().expandedTo(item->sizeHint()));
    }
    const QMargins m = contentsMargins();
    return size + QSize(m.left() + m.right(), m.top() + m.bottom());
}

QSize FlowLayout::sizeHint() const {
    // Every item on one line.
    int width = 0;
    int height = 0;
    int shown = 0;
    for (QLayoutItem* item : items_) {
        if (item->isEmpty()) continue;
        width += item->sizeHint().width() + (shown++ > 0 ? spacing_ : 0);
        height = std::max(height, item->sizeHint().height());
    }
    const QMargins m = contentsMargins();
    return {width + m.left() + m.right(), height + m.top() + m.bottom()};
}

void FlowLayout::setGeometry(const QRect& rect) {
    QLayout::setGeometry(rect);
    arrange(rect, true);
}

int FlowLayout::arrange(const QRect& rect, bool apply, int* lines) const {
    const QMargins m = contentsMargins();
    const QRect area = rect.marginsRemoved(m);
    int y = area.y();
    int lineCount = 0;
    // The items of one line, placed once the line's height is known.
    QList<QLayoutItem*> line;
    int lineWidth = 0;
    int lineHeight = 0;
    auto finish = [&] {
        if (line.isEmpty()) return;
        if (apply) {
            int x = area.x();
            for (QLayoutItem* item : line) {
                const QSize s = item->sizeHint();
                const QRect r(x, y + lineHeight - s.height(), s.width(), s.height());
                item->setGeometry(QStyle::visualRect(parentWidget() ? parentWidget()->layoutDirection()
                                                                    : Qt::LeftToRight,
                                                     rect, r));
                x += s.width() + spacing_;
            }
        }
        y += lineHeight + lineSpacing_;
        ++lineCount;
        line.clear();
        lineWidth = 0;
        lineHeight = 0;
    };
    for (QLayoutItem* item : items_) {
        if (item->isEmpty()) continue;
        const QSize s = item->sizeHint();
        if (!line.isEmpty() && lineWidth + spacing_ + s.width() > area.width()) finish();
        lineWidth += (line.isEmpty() ? 0 : spacing_) + s.width();
        lineHeight = std::max(lineHeight, s.height());
        line.append(item);
    }
    finish();
    if (lines) *lines = lineCount;
    const int used = lineCount > 0 ? y - lineSpacing_ - area.y() : 0;
    return used + m.top() + m.bottom();
}

}  // namespace vorel
