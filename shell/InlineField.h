#pragma once
// The borderless line of text with which a conversation is renamed (or its
// note edited) wherever it is shown. It reads like a label until it has the
// keyboard focus; then a 1-pixel accent line shows along its bottom edge.
// There is no commit or cancel: every edit goes straight to the store.
//
// The field is bound to the metadata store and the row id it edits, and
// keeps them itself: it never calls back into the row or screen that made
// it, so whatever owns it may go in any order.

#include <QColor>
#include <QFont>
#include <QLineEdit>
#include <functional>
#include <string>

class QFocusEvent;

namespace vorel {

class MetadataStore;

// True when `field` lost the focus to a popup of its own (its context menu)
// while still shown: the edit goes on behind the popup.
bool focusWentToOwnPopup(const QWidget* field, const QFocusEvent* e);

// True when `field` lost the focus to the menu bar (a menu opened with Alt
// and its letter, or left with Escape), which gives it back when the menus
// close: the edit goes on behind them.
bool focusWentToMenuBar(const QWidget* field, const QFocusEvent* e);

// After focusWentToMenuBar: calls `movedOn` once, when the focus leaves the
// menus for a widget other than `field` (or for none). The connection is
// dropped when the focus comes back to `field`, or by the caller when the
// edit ends otherwise.
QMetaObject::Connection whenFocusLeavesTheMenus(QWidget* field, std::function<void()> movedOn);

class InlineField : public QLineEdit {
    Q_OBJECT
public:
    // Which of a conversation's texts the field edits.
    enum class Edits { name, note };
    // A colour looked up again whenever the appearance changes
    // (for example &BrandColor::text).
    using ColorRole = std::function<QColor()>;

    InlineField(MetadataStore& store, Edits edits, const QString& placeholder, const QFont& font, ColorRole color,
                QWidget* parent = nullptr);

    // The conversation the field edits, and the text the store falls back
    // on for it (the row's title). A new conversation shows at once, even
    // while the field has the focus, so that no typing goes to the wrong
    // one; a new fallback alone shows as refresh() would.
    void setRow(const std::string& rowId, const std::string& fallback);
    const std::string& rowId() const { return id_; }

    // Shows what the store holds now, unless the user is editing the
    // field: the text being typed is never replaced while it has the focus
    // (the store trims what it keeps, so echoing it back would eat a
    // trailing blank in mid-word). The field catches up when focus leaves.
    void refresh();

    // True from the moment the field takes the keyboard focus until it
    // loses it to another widget or window (a context menu of its own does
    // not end the edit).
    bool isEditing() const { return editing_; }

    // What the field shows while not being edited: its text, ending in "…"
    // where it is cut to the field's width.
    QString shownText() const;

protected:
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    QString stored() const;
    void store(const QString& text);
    void applyColors();
    // Ends an edit: the underline goes and the stored value shows.
    void endEdit();
    // Sets the text when it differs, showing its start like a label does.
    void showStored();
    // Where QLineEdit draws the text line.
    QRect textLineRect() const;

    MetadataStore& store_;
    Edits edits_;
    std::string id_;
    std::string fallback_;
    ColorRole color_;
    bool editing_ = false;
    // While the menu bar holds the focus: ends the edit if the focus goes
    // on elsewhere.
    QMetaObject::Connection menuWait_;
};

}  // namespace vorel
