#include "shell/Popup.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/Appearance.h"
#include "shell/PlainLabel.h"
#include "shell/Theme.h"

namespace vorel {

namespace {

constexpr int kBorder = 1;
constexpr int kPadding = 12;

}  // namespace

QRect availableAround(const QRect& r) {
    QScreen* screen = QGuiApplication::screenAt(r.center());
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(r.topLeft(), QSize(1, 1));
}

QPoint placeAtAnchor(const QSize& size, const QRect& anchor, const QRect& available, int gap) {
    const int w = size.width();
    const int h = size.height();
    const int below = anchor.bottom() + 1 + gap;
    const int above = anchor.top() - gap - h;
    const int areaBottom = available.bottom() + 1;
    int y;
    if (below + h <= areaBottom) y = below;
    else if (above >= available.top()) y = above;
    else y = (areaBottom - below >= anchor.top() - available.top()) ? below : above;
    int x = anchor.x() + (anchor.width() - w) / 2;
    x = std::max(available.left(), std::min(x, available.right() + 1 - w));
    y = std::max(available.top(), std::min(y, areaBottom - h));
    return {x, y};
}

void paintPopupFrame(QWidget* popup, const QColor& fill) {
    QPainter p(popup);
    p.fillRect(popup->rect(), fill);
    p.setPen(BrandColor::border());
    p.drawRect(popup->rect().adjusted(0, 0, -1, -1));
}

void swallowPressOnAnchor(QWidget* popup, const QMouseEvent* e, const QRect& anchor) {
    if (!popup->rect().contains(e->position().toPoint()) && anchor.contains(e->globalPosition().toPoint())) {
        popup->setAttribute(Qt::WA_NoMouseReplay);
    }
}

ExplanationPopup::ExplanationPopup(QWidget* button, const QString& text, int textWidth, Side side, int gap,
                                   std::function<void()> onHide)
    : QWidget(button, Qt::Popup | Qt::FramelessWindowHint),
      button_(button),
      side_(side),
      gap_(gap),
      onHide_(std::move(onHide)) {
    auto* v = new QVBoxLayout(this);
    const int pad = kPadding + kBorder;
    v->setContentsMargins(pad, pad, pad, pad);
    label_ = plainLabel(text, BrandFont::sans(12));
    label_->setWordWrap(true);
    label_->setFixedWidth(textWidth);
    v->addWidget(label_);
    v->setSizeConstraint(QLayout::SetFixedSize);
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, [this] { applyColors(); });
    applyColors();
}

QPoint ExplanationPopup::position(const QSize& size, const QRect& button, const QRect& area, Side side, int gap) {
    const int w = size.width();
    const int h = size.height();
    const int above = button.top() - gap - h;
    const int below = button.bottom() + 1 + gap;
    int y;
    if (side == Side::above) y = above < area.top() ? below : above;
    else y = below + h > area.bottom() + 1 ? above : below;
    int x = button.center().x() - w / 2;
    x = std::clamp(x, area.left(), std::max(area.left(), area.right() + 1 - w));
    y = std::clamp(y, area.top(), std::max(area.top(), area.bottom() + 1 - h));
    return {x, y};
}

QRect ExplanationPopup::buttonRect() const { return QRect(button_->mapToGlobal(QPoint(0, 0)), button_->size()); }

void ExplanationPopup::showAtButton() {
    adjustSize();
    const QRect b = buttonRect();
    move(position(size(), b, availableAround(b), side_, gap_));
    show();
}

void ExplanationPopup::mousePressEvent(QMouseEvent* e) {
    swallowPressOnAnchor(this, e, buttonRect());
    QWidget::mousePressEvent(e);
}

void ExplanationPopup::hideEvent(QHideEvent* e) {
    QWidget::hideEvent(e);
    if (onHide_) onHide_();
}

void ExplanationPopup::paintEvent(QPaintEvent*) { paintPopupFrame(this, BrandColor::bgElevated()); }

void ExplanationPopup::applyColors() {
    BrandColor::setTextColor(label_, BrandColor::text());
    update();
}

}  // namespace vorel
