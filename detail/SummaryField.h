#pragma once
// The field in which the conversation's note is written: plain, borderless,
// wrapping onto as many lines as the text needs and growing downwards with
// it. Return submits (Shift+Return starts a new line). Every change the
// user makes goes straight to the store as the conversation's note, with
// the whole text; while the field has the focus, what the screen hands it
// to show never replaces what is being typed with the store's trimmed copy.
// Like the inline fields, it keeps the store and the row id it edits and
// never calls back into the screen that made it.

#include <QTextEdit>
#include <functional>
#include <string>

namespace vorel {

class MetadataStore;

class SummaryField : public QTextEdit {
    Q_OBJECT
public:
    // A colour looked up again whenever the appearance changes.
    using ColorRole = std::function<QColor()>;

    SummaryField(MetadataStore& store, const QString& placeholder, const QFont& font, ColorRole color,
                 QWidget* parent = nullptr);

    QString text() const { return toPlainText(); }
    // The conversation whose note the field edits, and what it shows while
    // not being edited: shown now unless the field has the focus, or at
    // once when the conversation is another.
    void setRow(const std::string& rowId, const QString& shown);
    bool isEditing() const { return editing_; }

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // Return was pressed.
    void submitted();
    // The focus went to another widget or window.
    void focusLost();

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void showStored();
    // The edit is over: the stored note shows, and the screen hears of it.
    void endEdit();
    void applyColors();

    MetadataStore& store_;
    std::string id_;
    QString shown_;
    ColorRole color_;
    bool editing_{};
    // While the menu bar holds the focus: ends the edit if the focus goes
    // on elsewhere.
    QMetaObject::Connection menuWait_;
    bool programmatic_{};
    // The last height measured and the width it was measured for (-1 once
    // the text changed).
    mutable int measuredWidth_ = -1;
    mutable int measuredHeight_{};
};

}  // namespace vorel
