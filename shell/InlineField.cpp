#include "shell/InlineField.h"

#include <QApplication>
#include <QFocusEvent>
#include <QPainter>

#include "platform/Appearance.h"
#include "shell/Theme.h"

namespace vorel {

bool focusWentToOwnPopup(const QWidget* field, const QFocusEvent* e) {
    const QWidget* popup = QApplication::activePopupWidget();
    return e->reason() == Qt::PopupFocusReason && popup && popup != field->window() && field->isVisible();
}

InlineField::InlineField(Getter get, Setter set, const QString& placeholder, const QFont& font, ColorRole color,
                         bool /*vertical*/, QWidget* parent)
    : QLineEdit(parent), get_(std::move(get)), set_(std::move(set)), color_(std::move(color)) {
    setFrame(false);
    setFont(font);
    setPlaceholderText(placeholder);
    // QLineEdit keeps 2 pixels on each side of the text; take them back so
    // the text lines up with the labels around it, and keep 1 pixel under
    // the text for the underline.
    setTextMargins(-2, 0, -2, 1);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    // Every change the user makes goes to the setter at once, with the whole
    // text; changes made by the program (setText) do not.
    connect(this, &QLineEdit::textEdited, this, [this](const QString& text) {
        if (set_) set_(text);
    });
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, &InlineField::applyColors);
    applyColors();
    showStored();
}

void InlineField::refresh() {
    if (!editing_) showStored();
}

void InlineField::showStored() {
    QString stored = get_ ? get_() : QString();
    if (stored == text()) return;  // the cursor stays where it is
    setText(stored);
    // Unfocused, the field reads like a label: from the start of the text.
    setCursorPosition(0);
}

void InlineField::focusInEvent(QFocusEvent* e) {
    editing_ = true;
    QLineEdit::focusInEvent(e);
    update();
}

void InlineField::focusOutEvent(QFocusEvent* e) {
    QLineEdit::focusOutEvent(e);
    // A popup opened over the field (its own context menu) takes the focus
    // for a moment; the edit goes on behind it. When the field's own window
    // is the popup that closes, no popup is left open and the edit ends.
    if (focusWentToOwnPopup(this, e)) return;
    endEdit();
}

void InlineField::hideEvent(QHideEvent* e) {
    QLineEdit::hideEvent(e);
    // A hidden field is not being edited, whether or not a focus-out came.
    endEdit();
}

void InlineField::endEdit() {
    if (!editing_) return;
    editing_ = false;
    // Take what the store kept of the edit (trimmed, or the fallback when
    // the name was cleared), shown from its start.
    QString stored = get_ ? get_() : QString();
    if (stored != text()) setText(stored);
    setCursorPosition(0);
    update();
}

void InlineField::paintEvent(QPaintEvent* e) {
    QLineEdit::paintEvent(e);
    if (!editing_) return;
    // Over the bottom edge, without taking any room of its own.
    QPainter p(this);
    p.fillRect(QRect(0, height() - 1, width(), 1), BrandColor::accent());
}

void InlineField::applyColors() {
    const QColor text = color_ ? color_() : BrandColor::text();
    BrandColor::styleTextField(this, text);
    BrandColor::setTextColor(this, text);
    update();
}

}  // namespace vorel
