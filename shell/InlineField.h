#pragma once
// The borderless line of text with which a conversation is renamed (or its
// note edited) wherever it is shown. It reads like a label until it has the
// keyboard focus; then a 1-pixel accent line shows along its bottom edge.
// There is no commit or cancel: every edit goes straight to the setter.

#include <QColor>
#include <QFont>
#include <QLineEdit>
#include <functional>

class QFocusEvent;

namespace vorel {

// True when `field` lost the focus to a popup of its own (its context menu)
// while still shown: the edit goes on behind the popup.
bool focusWentToOwnPopup(const QWidget* field, const QFocusEvent* e);

class InlineField : public QLineEdit {
    Q_OBJECT
public:
    using Getter = std::function<QString()>;
    using Setter = std::function<void(const QString&)>;
    // A colour looked up again whenever the appearance changes
    // (for example &BrandColor::text).
    using ColorRole = std::function<QColor()>;

    // `vertical` asks for a field that wraps onto further lines; no screen
    // uses it, and the field is always a single line.
    InlineField(Getter get, Setter set, const QString& placeholder, const QFont& font, ColorRole color,
                bool vertical = false, QWidget* parent = nullptr);

    // Shows what the getter returns now, unless the user is editing the
    // field: the text being typed is never replaced while it has the focus
    // (the store trims what it keeps, so echoing it back would eat a
    // trailing blank in mid-word). The field catches up when focus leaves.
    void refresh();

    // True from the moment the field takes the keyboard focus until it
    // loses it to another widget or window (a context menu of its own does
    // not end the edit).
    bool isEditing() const { return editing_; }

protected:
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    void applyColors();
    // Ends an edit: the underline goes and the stored value shows.
    void endEdit();
    // Sets the text when it differs, showing its start like a label does.
    void showStored();

    Getter get_;
    Setter set_;
    ColorRole color_;
    bool editing_ = false;
};

}  // namespace vorel
