#pragma once
// The field in which the conversation's note is written: plain, borderless,
// wrapping onto as many lines as the text needs and growing downwards with
// it. Return submits (Shift+Return starts a new line). Every change the
// user makes goes straight to the setter with the whole text; while the
// field has the focus, a refresh never replaces what is being typed with
// the store's trimmed copy.

#include <QTextEdit>
#include <functional>

namespace vorel {

class SummaryField : public QTextEdit {
    Q_OBJECT
public:
    using Getter = std::function<QString()>;
    using Setter = std::function<void(const QString&)>;
    // A colour looked up again whenever the appearance changes.
    using ColorRole = std::function<QColor()>;

    SummaryField(Getter get, Setter set, const QString& placeholder, const QFont& font, ColorRole color,
                 QWidget* parent = nullptr);

    QString text() const { return toPlainText(); }
    // Shows what the getter returns now, unless the field has the focus.
    void refresh();
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
    void applyColors();

    Getter get_;
    Setter set_;
    ColorRole color_;
    bool editing_ = false;
    bool programmatic_ = false;
    // The last height measured and the width it was measured for (-1 once
    // the text changed).
    mutable int measuredWidth_ = -1;
    mutable int measuredHeight_ = 0;
};

}  // namespace vorel
