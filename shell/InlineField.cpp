#include "shell/InlineField.h"

#include <QApplication>
#include <QFocusEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>
#include <memory>

#include "engine/MetadataStore.h"
#include "platform/Appearance.h"
#include "shell/Theme.h"

namespace vorel {

namespace {

// QLineEdit's own room around its text line, inside the text margins.
constexpr int kLineEditMarginX = 2;
constexpr int kLineEditMarginY = 1;

}  // namespace

bool focusWentToOwnPopup(const QWidget* field, const QFocusEvent* e) {
    const QWidget* popup = QApplication::activePopupWidget();
    return e->reason() == Qt::PopupFocusReason && popup && popup != field->window() && field->isVisible();
}

bool focusWentToMenuBar(const QWidget* field, const QFocusEvent* e) {
    return e->reason() == Qt::MenuBarFocusReason && field->isVisible();
}

QMetaObject::Connection whenFocusLeavesTheMenus(QWidget* field, std::function<void()> movedOn) {
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = QObject::connect(qApp, &QApplication::focusChanged, field,
                                   [field, connection, movedOn = std::move(movedOn)](QWidget*, QWidget* now) {
                                       if (qobject_cast<QMenuBar*>(now) || qobject_cast<QMenu*>(now)) return;
                                       QObject::disconnect(*connection);
                                       if (now != field) movedOn();
                                   });
    return *connection;
}

InlineField::InlineField(MetadataStore& store, Edits edits, const QString& placeholder, const QFont& font,
                         ColorRole color, QWidget* parent)
    : QLineEdit(parent), store_(store), edits_(edits), color_(std::move(color)) {
    setFrame(false);
    setFont(font);
    setPlaceholderText(placeholder);
    // QLineEdit keeps 2 pixels on each side of the text; take them back so
    // the text lines up with the labels around it, and keep 1 pixel under
    // the text for the underline.
    setTextMargins(-kLineEditMarginX, 0, -kLineEditMarginX, 1);
    setAttribute(Qt::WA_MacShowFocusRect, false);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);

    // Every change the user makes goes to the store at once, with the whole
    // text; changes made by the program (setText) do not.
    connect(this, &QLineEdit::textEdited, this, &InlineField::store);
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, &InlineField::applyColors);
    applyColors();
}

QString InlineField::stored() const {
    if (id_.empty()) return {};
    const std::string text = edits_ == Edits::name ? store_.topic(id_, fallback_) : store_.subtitle(id_, fallback_);
    return QString::fromStdString(text);
}

void InlineField::store(const QString& text) {
    if (id_.empty()) return;
    if (edits_ == Edits::name) store_.setName(id_, text.toStdString());
    else store_.setSubtitle(id_, text.toStdString());
}

void InlineField::setRow(const std::string& rowId, const std::string& fallback) {
    if (rowId == id_ && fallback == fallback_) return;
    const bool otherRow = rowId != id_;
    id_ = rowId;
    fallback_ = fallback;
    if (!otherRow) return refresh();
    // An edit under way belonged to the conversation shown before.
    const QString text = stored();
    if (text != this->text()) {
        setText(text);
        setCursorPosition(editing_ ? static_cast<int>(text.size()) : 0);
    }
}

void InlineField::refresh() {
    if (!editing_) showStored();
}

void InlineField::showStored() {
    const QString text = stored();
    if (text == this->text()) return;  // the cursor stays where it is
    setText(text);
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
    // A menu opened from the keyboard (Alt and its letter) holds the focus
    // while it is open and gives it back when it closes: the edit goes on
    // behind it, the blank the store trimmed and the cursor where they
    // were, unless the focus moves on from the menus to something else.
    if (focusWentToMenuBar(this, e)) {
        disconnect(menuWait_);
        menuWait_ = whenFocusLeavesTheMenus(this, [this] { endEdit(); });
        return;
    }
    endEdit();
}

void InlineField::hideEvent(QHideEvent* e) {
    QLineEdit::hideEvent(e);
    // A hidden field is not being edited, whether or not a focus-out came.
    endEdit();
}

void InlineField::endEdit() {
    disconnect(menuWait_);
    if (!editing_) return;
    editing_ = false;
    // Take what the store kept of the edit (trimmed, or the fallback when
    // the name was cleared), shown from its start.
    const QString text = stored();
    if (text != this->text()) setText(text);
    setCursorPosition(0);
    update();
}

QRect InlineField::textLineRect() const {
    QStyleOptionFrame option;
    initStyleOption(&option);
    const QRect contents = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
    return contents.marginsRemoved(textMargins())
        .adjusted(kLineEditMarginX, kLineEditMarginY, -kLineEditMarginX, -kLineEditMarginY);
}

QString InlineField::shownText() const {
    const QString whole = text();
    if (editing_) return whole;
    const QFontMetrics fm = fontMetrics();
    const int room = textLineRect().width();
    // Cut only when it does not fit: eliding at exactly its own width may
    // still shorten a text.
    return fm.horizontalAdvance(whole) <= room ? whole : fm.elidedText(whole, Qt::ElideRight, room);
}

void InlineField::paintEvent(QPaintEvent* e) {
    const QString shown = shownText();
    if (shown == text()) {
        QLineEdit::paintEvent(e);
    } else {
        // A text too long for the field, not being edited: cut with "…"
        // like every other text, where QLineEdit would cut it mid-letter.
        QPainter p(this);
        const QRect line = textLineRect();
        const QFontMetrics fm = fontMetrics();
        p.setFont(font());
        p.setPen(palette().color(QPalette::Text));
        const Qt::LayoutDirection direction = shown.isRightToLeft() ? Qt::RightToLeft : Qt::LeftToRight;
        const QRect row(line.x(), line.y() + (line.height() - fm.height() + 1) / 2, line.width(), fm.height());
        p.drawText(row, static_cast<int>(QStyle::visualAlignment(direction, Qt::AlignLeft)) | Qt::AlignVCenter |
                            Qt::TextSingleLine, shown);
    }
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
