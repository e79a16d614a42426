#include "shell/MetaLine.h"

#include <QEvent>
#include <QPainter>
#include <QTextLayout>
#include <algorithm>
#include <cmath>

#include "platform/Appearance.h"
#include "shell/Theme.h"

namespace vorel {

const QString MetaLine::kMark = QStringLiteral("⚑\u00A0est");
const QString MetaLine::kSeparator = QStringLiteral(" · ");

QString MetaLine::unbreakable(const QString& line) {
    // Inside a piece every space is a no-break space ("22m ago", "sonnet 4
    // 5 20250929"); the space before a separator is one too, so a wrapped
    // line ends with its "·" and the next starts with a whole piece.
    QStringList pieces = line.split(kSeparator);
    for (QString& piece : pieces) piece.replace(QChar(' '), QChar(0x00A0));
    return pieces.join(QStringLiteral("\u00A0· "));
}

MetaLine::MetaLine(QWidget* parent) : QWidget(parent) {
    setFont(BrandFont::sans(11));
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, qOverload<>(&QWidget::update));
}

void MetaLine::setText(const QString& line) {
    if (line == line_) return;
    line_ = line;
    updateGeometry();
    update();
}

void MetaLine::setMark(bool shown) {
    if (shown == mark_) return;
    mark_ = shown;
    updateGeometry();
    update();
}

QString MetaLine::shownText() const {
    // An en space before the mark: a little more room than a word gap, and
    // a place where the text may wrap. The mark's own space does not break.
    return mark_ ? line_ + QChar(0x2002) + kMark : line_;
}

double MetaLine::layOut(QTextLayout& layout, double width) const {
    // The same characters as shownText(), so the mark's range holds.
    layout.setText(unbreakable(shownText()));
    layout.setFont(font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTextDirection(layoutDirection());
    layout.setTextOption(option);
    const double lineHeight = QFontMetricsF(font()).height();
    double y = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        y += lineHeight;
    }
    layout.endLayout();
    return y;
}

int MetaLine::lineCount() const {
    QTextLayout layout;
    layOut(layout, width());
    return layout.lineCount();
}

QStringList MetaLine::shownLines() const {
    QTextLayout layout;
    layOut(layout, width());
    const QString text = shownText();
    QStringList out;
    for (int i = 0; i < layout.lineCount(); ++i) {
        const QTextLine line = layout.lineAt(i);
        out << text.mid(line.textStart(), line.textLength());
    }
    return out;
}

int MetaLine::heightForWidth(int width) const {
    QTextLayout layout;
    return int(std::ceil(layOut(layout, std::max(width, 1))));
}

QSize MetaLine::sizeHint() const {
    const QFontMetricsF fm(font());
    return {int(std::ceil(fm.horizontalAdvance(shownText()))), int(std::ceil(fm.height()))};
}

QSize MetaLine::minimumSizeHint() const {
    const QFontMetricsF fm(font());
    return {int(std::ceil(fm.horizontalAdvance(kMark))), int(std::ceil(fm.height()))};
}

void MetaLine::paintEvent(QPaintEvent*) {
    QTextLayout layout;
    layOut(layout, width());
    QVector<QTextLayout::FormatRange> formats;
    if (mark_) {
        QTextLayout::FormatRange range;
        range.start = int(line_.size()) + 1;
        range.length = int(kMark.size());
        range.format.setForeground(BrandColor::warn());
        formats.push_back(range);
    }
    QPainter p(this);
    p.setPen(BrandColor::textFaint());
    layout.draw(&p, QPointF(0, 0), formats);
}

void MetaLine::changeEvent(QEvent* e) {
    QWidget::changeEvent(e);
    if (e->type() == QEvent::FontChange) updateGeometry();
}

}  // namespace vorel
