#include "SummaryField.h"

#include <QAbstractTextDocumentLayout>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QScrollBar>
#include <cmath>

#include "Appearance.h"
#include "InlineField.h"
#include "Theme.h"

namespace vorel {

SummaryField::SummaryField(Getter get, Setter set, const QString& placeholder, const QFont& font, ColorRole color,
                           QWidget* parent)
    : QTextEdit(parent), get_(std::move(get)), set_(std::move(set)), color_(std::move(color)) {
    setAcceptRichText(false);
    setFrameShape(QFrame::NoFrame);
    setFont(font);
    document()->setDefaultFont(font);
    // No margin around the text, so its first line sits where a label's
    // would; the field never scrolls, it grows instead.
    document()->setDocumentMargin(0);
    setViewportMargins(0, 0, 0, 0);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setLineWrapMode(QTextEdit::WidgetWidth);
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setTabChangesFocus(true);
    setPlaceholderText(placeholder);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    viewport()->setAutoFillBackground(false);

    connect(this, &QTextEdit::textChanged, this, [this] {
        fitHeight();
        if (!programmatic_ && set_) set_(toPlainText());
    });
    connect(document()->documentLayout(), &QAbstractTextDocumentLayout::documentSizeChanged, this,
            &SummaryField::fitHeight);
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, &SummaryField::applyColors);
    applyColors();
    showStored();
}

void SummaryField::refresh() {
    if (!editing_) showStored();
}

void SummaryField::showStored() {
    const QString stored = get_ ? get_() : QString();
    if (stored == toPlainText()) return;
    programmatic_ = true;
    setPlainText(stored);
    programmatic_ = false;
    moveCursor(QTextCursor::End);
}

QSize SummaryField::sizeHint() const {
    const int h = static_cast<int>(std::ceil(document()->size().height()));
    return {QTextEdit::sizeHint().width(), std::max(h, fontMetrics().height())};
}

QSize SummaryField::minimumSizeHint() const { return {40, sizeHint().height()}; }

void SummaryField::fitHeight() {
    document()->setTextWidth(viewport()->width());
    const int h = sizeHint().height();
    if (height() != h || minimumHeight() != h) setFixedHeight(h);
    // A fixed height that fits every line leaves nothing to scroll; keep the
    // first line in place should the document ask otherwise.
    verticalScrollBar()->setValue(0);
}

void SummaryField::resizeEvent(QResizeEvent* e) {
    QTextEdit::resizeEvent(e);
    fitHeight();
}

void SummaryField::keyPressEvent(QKeyEvent* e) {
    const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
    if (enter && !(e->modifiers() & (Qt::ShiftModifier | Qt::AltModifier))) {
        emit submitted();
        e->accept();
        return;
    }
    if (enter) {
        // A line break typed on purpose; QTextEdit would insert a paragraph
        // separator for Shift+Return, which plain text reads the same way.
        insertPlainText(QStringLiteral("\n"));
        e->accept();
        return;
    }
    QTextEdit::keyPressEvent(e);
}

void SummaryField::focusInEvent(QFocusEvent* e) {
    editing_ = true;
    QTextEdit::focusInEvent(e);
}

void SummaryField::focusOutEvent(QFocusEvent* e) {
    QTextEdit::focusOutEvent(e);
    // The field's own context menu takes the focus for a moment; the edit
    // goes on behind it.
    if (focusWentToOwnPopup(this, e)) return;
    editing_ = false;
    showStored();
    emit focusLost();
}

void SummaryField::applyColors() {
    const QColor text = color_ ? color_() : BrandColor::text();
    BrandColor::styleTextField(this, text);
    BrandColor::styleTextField(viewport(), text);
    BrandColor::setTextColor(this, text);
    update();
}

}  // namespace vorel
