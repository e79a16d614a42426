#include "detail/Accordion.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

#include "shell/Theme.h"

namespace vorel {

namespace {

// A 0..1 animation with an ease-in-out curve, owned by `owner`.
QVariantAnimation* easeInOut(QObject* owner, double from, double to, int ms) {
    auto* a = new QVariantAnimation(owner);
    a->setDuration(ms);
    a->setEasingCurve(QEasingCurve::InOutQuad);
    a->setStartValue(from);
    a->setEndValue(to);
    return a;
}

}  // namespace

AccordionHeader::AccordionHeader(const QString& title, QWidget* parent) : QAbstractButton(parent) {
    setText(title);
    setCursor(Qt::PointingHandCursor);
    setFont(BrandFont::sans(13, QFont::DemiBold));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::clicked, this, [this] { emit toggled(!expanded_); });
}

void AccordionHeader::setExpanded(bool expanded, int animationMs) {
    if (expanded_ == expanded) return;
    expanded_ = expanded;
    if (turn_) turn_->stop();
    const double target = expanded ? 90 : 0;
    if (animationMs <= 0) {
        angle_ = target;
        update();
        return;
    }
    turn_ = easeInOut(this, angle_, target, animationMs);
    connect(turn_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        angle_ = v.toDouble();
        update();
    });
    turn_->start(QAbstractAnimation::DeleteWhenStopped);
}

void AccordionHeader::setTitle(const QString& title) {
    if (text() == title) return;
    setText(title);
    updateGeometry();
    update();
}

QSize AccordionHeader::sizeHint() const {
    return {10 + 7 + fontMetrics().horizontalAdvance(text()), std::max(fontMetrics().height(), 12)};
}

void AccordionHeader::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    // The chevron points right, turned about its centre by the angle.
    p.save();
    p.translate(5, height() / 2.0);
    p.rotate(angle_);
    QPainterPath path;
    path.moveTo(-1.75, -3.5);
    path.lineTo(1.75, 0);
    path.lineTo(-1.75, 3.5);
    p.setPen(QPen(BrandColor::textFaint(), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path);
    p.restore();
    p.setPen(BrandColor::text());
    p.setFont(font());
    const QRect textRect(17, 0, width() - 17, height());
    p.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
               fontMetrics().elidedText(text(), Qt::ElideRight, textRect.width()));
}

// ---------------------------------------------------------------------------

CollapsibleBox::CollapsibleBox(QWidget* body, QWidget* parent) : QWidget(parent), body_(body) {
    body_->setParent(this);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

int CollapsibleBox::bodyHeight(int width) const {
    if (body_->hasHeightForWidth()) return body_->heightForWidth(width);
    return body_->sizeHint().height();
}

int CollapsibleBox::heightForWidth(int width) const {
    return static_cast<int>(std::lround(bodyHeight(width) * fraction_));
}

QSize CollapsibleBox::sizeHint() const {
    const QSize hint = body_->sizeHint();
    return {hint.width(), heightForWidth(width() > 0 ? width() : hint.width())};
}

QSize CollapsibleBox::minimumSizeHint() const {
    return {body_->minimumSizeHint().width(), sizeHint().height()};
}

void CollapsibleBox::setOpen(bool open, int animationMs) {
    if (open_ == open && !slide_) return;
    open_ = open;
    if (slide_) slide_->stop();
    if (open) show();
    if (animationMs <= 0) {
        setFraction(open ? 1 : 0);
        return;
    }
    slide_ = easeInOut(this, fraction_, open ? 1.0 : 0.0, animationMs);
    connect(slide_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) { setFraction(v.toDouble()); });
    slide_->start(QAbstractAnimation::DeleteWhenStopped);
}

void CollapsibleBox::setFraction(double f) {
    fraction_ = std::clamp(f, 0.0, 1.0);
    // Closed all the way, the box leaves the layout and its body cannot
    // hold the focus.
    setVisible(fraction_ > 0 || open_);
    updateGeometry();
}

void CollapsibleBox::resizeEvent(QResizeEvent*) {
    // The body keeps its full height and is cut by the box's bottom edge.
    body_->setGeometry(0, 0, width(), bodyHeight(width()));
}

bool CollapsibleBox::event(QEvent* e) {
    // The body's own hint changed (a summary grew a line): follow it.
    if (e->type() == QEvent::LayoutRequest) {
        updateGeometry();
        body_->setGeometry(0, 0, width(), bodyHeight(width()));
    }
    return QWidget::event(e);
}

}  // namespace vorel
