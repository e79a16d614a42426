#include "shell/TextPage.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>
#include <cmath>

#include "shell/PlainLabel.h"
#include "shell/Theme.h"

namespace vorel {

namespace {

constexpr int kMaxColumnWidth = 640;
constexpr double kMarkSize = 9;

// The bullet mark, drawn in the palette's window text colour.
class BulletMark : public QWidget {
public:
    BulletMark(const QString& role, double bodySize) {
        setObjectName(role);
        setFont(BrandFont::sans(kMarkSize));
        QFontMetricsF body(BrandFont::sans(bodySize));
        baseline_ = body.ascent();
        setFixedSize(static_cast<int>(std::ceil(QFontMetricsF(font()).horizontalAdvance(glyph()))),
                     static_cast<int>(std::ceil(body.height())));
    }
    static QString glyph() { return QStringLiteral("\u2726"); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::TextAntialiasing);
        p.setFont(font());
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(QPointF(0, baseline_), glyph());
    }

private:
    double baseline_ = 0;
};

}  // namespace

ScreenHeader::ScreenHeader(const QString& title, const QString& titleRole, const QString& subtitle,
                           const QString& subtitleRole, QWidget* leading) {
    setContentsMargins(20, 16, 20, 16);
    setSpacing(12);
    if (leading) addWidget(leading, 0, Qt::AlignVCenter);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(3);
    title_ = plainLabel(title, titleRole, BrandFont::sans(19, QFont::DemiBold));
    subtitle_ = plainLabel(subtitle, subtitleRole, BrandFont::sans(12));
    titles->addWidget(title_);
    titles->addWidget(subtitle_);
    addLayout(titles);
    addStretch(1);
}

QScrollArea* scrollingColumn(const QList<QWidget*>& blocks, int spacing, const QString& scrollRole,
                             const QString& columnRole) {
    auto* scroll = BrandColor::verticalScrollArea(true);
    scroll->setObjectName(scrollRole);

    auto* page = new QWidget;
    auto* pageRow = new QHBoxLayout(page);
    pageRow->setContentsMargins(0, 0, 0, 0);
    pageRow->setSpacing(0);
    auto* column = new QWidget;
    column->setObjectName(columnRole);
    column->setMaximumWidth(kMaxColumnWidth);
    auto* stack = new QVBoxLayout(column);
    stack->setContentsMargins(20, 20, 20, 20);
    stack->setSpacing(spacing);
    for (QWidget* block : blocks) stack->addWidget(block);
    stack->addStretch(1);
    pageRow->addWidget(column, 1);
    pageRow->addStretch(0);
    scroll->setWidget(page);
    return scroll;
}

QWidget* textBlock(const QString& title, const QStringList& paragraphs, const QStringList& bullets,
                   const TextBlockRoles& roles, double bodySize, int spacing) {
    auto* w = new QWidget;
    auto* layout = new QVBoxLayout(w);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    layout->addWidget(plainLabel(title.toUpper(), roles.title, BrandFont::caption()));
    for (const QString& p : paragraphs) layout->addWidget(wrappingLabel(p, roles.body, BrandFont::sans(bodySize)));
    for (const QString& b : bullets) layout->addWidget(bulletRow(b, roles, bodySize));
    return w;
}

QWidget* bulletRow(const QString& text, const TextBlockRoles& roles, double bodySize) {
    auto* w = new QWidget;
    auto* row = new QHBoxLayout(w);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(7);
    row->addWidget(new BulletMark(roles.mark, bodySize), 0, Qt::AlignTop);
    row->addWidget(wrappingLabel(text, roles.body, BrandFont::sans(bodySize)), 1);
    return w;
}

}  // namespace vorel
