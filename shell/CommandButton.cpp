#include "shell/CommandButton.h"

#include <QPainter>

#include "platform/Appearance.h"
#include "shell/Theme.h"

namespace vorel {

CommandButton::CommandButton(const QString& title, QWidget* parent) : HoverButton(parent) {
    setText(title);
    setFont(BrandFont::sans(12, QFont::Medium));
    // Reached with Tab, but a click does not take the focus from a name
    // being edited.
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover, true);
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, qOverload<>(&QWidget::update));
}

QColor CommandButton::textColor() const { return isHovered() || hasFocus() ? BrandColor::accent() : BrandColor::textMuted(); }

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

}  // namespace vorel
