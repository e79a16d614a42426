#include "detail/SummaryField.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTextDocument>
#include <cmath>
#include <memory>

#include "engine/MetadataStore.h"
#include "platform/Appearance.h"
#include "shell/InlineField.h"
#include "shell/Theme.h"

namespace vorel {

SummaryField::SummaryField(MetadataStore& store, const QString& placeholder, const QFont& font, ColorRole color,
                           QWidget* parent)
    : QTextEdit(parent), store_(store), color_(std::move(color)) {
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
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    viewport()->setAutoFillBackground(false);

    // A change of the text may change the number of lines: the layout asks
    // for the height again.
    connect(this, &QTextEdit::textChanged, this, [this] {
        measuredWidth_ = -1;
        updateGeometry();
        if (!programmatic_ && !id_.empty()) store_.setSubtitle(id_, toPlainText().toStdString());
    });
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, &SummaryField::applyColors);
    applyColors();
    showStored();
}

void SummaryField::setRow(const std::string& rowId, const QString& shown) {
    const bool otherRow = rowId != id_;
    id_ = rowId;
    shown_ = shown;
    if (!editing_ || otherRow) showStored();
}

void SummaryField::showStored() {
    if (shown_ == toPlainText()) return;
    programmatic_ = true;
    setPlainText(shown_);
    programmatic_ = false;
    moveCursor(QTextCursor::End);
}

int SummaryField::heightForWidth(int width) const {
    // The field has no frame, margin or scroll bar, so its text is laid out
    // at the field's own width. Measured on a copy of the document, so that
    // asking changes nothing on screen; kept until the text or width changes.
    if (width != measuredWidth_) {
        std::unique_ptr<QTextDocument> copy(document()->clone());
        copy->setDefaultFont(font());
        copy->setDocumentMargin(0);
        copy->setTextWidth(std::max(width, 1));
        measuredHeight_ = std::max(static_cast<int>(std::ceil(copy->size().height())), fontMetrics().height());
        measuredWidth_ = width;
    }
    return measuredHeight_;
}

QSize SummaryField::sizeHint() const {
    const int w = width() > 0 ? width() : QTextEdit::sizeHint().width();
    return {QTextEdit::sizeHint().width(), heightForWidth(w)};
}

QSize SummaryField::minimumSizeHint() const { return {40, sizeHint().height()}; }

void SummaryField::resizeEvent(QResizeEvent* e) {
    QTextEdit::resizeEvent(e);
    // Every line is shown; keep the first one in place should the text
    // edit have scrolled to follow the cursor.
    verticalScrollBar()->setValue(0);
}

void SummaryField::keyPressEvent(QKeyEvent* e) {
    const bool enter = e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter;
    if (enter && !(e->modifiers() & (Qt::ShiftModifier | Qt::AltModifier))) {
        emit submitted();
        e->accept();
        return;
    }
    if (enter) {
        // A line break typed on purpose, kept as a plain line feed.
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
    // Its own context menu, or another window becoming active: the field
    // stays its window's focus and the edit goes on when the user is back.
    if (focusWentToOwnPopup(this, e) || e->reason() == Qt::ActiveWindowFocusReason) return;
    // A menu opened from the keyboard gives the focus back when it closes:
    // the edit goes on, with the blank the store trimmed.
    if (focusWentToMenuBar(this, e)) {
        disconnect(menuWait_);
        menuWait_ = whenFocusLeavesTheMenus(this, [this] { endEdit(); });
        return;
    }
    endEdit();
}

void SummaryField::endEdit() {
    disconnect(menuWait_);
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
