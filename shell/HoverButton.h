#pragma once
// A button that paints itself and knows whether the pointer is over it. A
// widget hidden under the pointer (a panel or popup that closes) gets no
// leave event, so the hover also ends when it hides; the pointer is found
// again when it next enters.

#include <QAbstractButton>

namespace vorel {

class HoverButton : public QAbstractButton {
    Q_OBJECT
public:
    using QAbstractButton::QAbstractButton;
    bool isHovered() const { return hover_; }

protected:
    void enterEvent(QEnterEvent* e) override;
    void leaveEvent(QEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    bool hover_ = false;
};

}  // namespace vorel
