#include "shell/CommandButton.h"

#include <QEnterEvent>
#include <QPainter>

#include "platform/Appearance.h"
#include "shell/Theme.h"

namespace vorel {

CommandButton::CommandButton(const QString& title, QWidget* parent) : QAbstractButton(parent) {
    setText(title);
    setFont(BrandFont::sans(12, QFont::Medium));
    // Reached with Tab, but a click does not take the focus from a name
    // being edited.
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover, true);
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, qOverload<>(&QWidget::update));
}

QColor CommandButton::textColor() const { return hover_ || hasFocus() ? BrandColor::accent() : BrandColor::textMuted(); }

QSize CommandButton::sizeHint() const {
    QFontMetrics fm(font());
    return {fm.horizontalAdvance(text()), fm.height()};
}

void CommandButton::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setFont(font());
    p.setPen(textColor());
    p.drawText(rect(), Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, text());
}

void CommandButton::enterEvent(QEnterEvent* e) {
    QAbstractButton::enterEvent(e);
    hover_ = true;
    update();
}

void CommandButton::leaveEvent(QEvent* e) {
    QAbstractButton::leaveEvent(e);
    hover_ = false;
    update();
}

// A panel that closes under the pointer (after "Open Vorel", or a click
// outside) sends no leave: the hover ends with it, or the command would
// still be lit when the panel opens again.
void CommandButton::hideEvent(QHideEvent* e) {
    QAbstractButton::hideEvent(e);
    hover_ = false;
}

}  // namespace vorel
