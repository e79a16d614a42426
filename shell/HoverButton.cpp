#include "shell/HoverButton.h"

namespace vorel {

void HoverButton::enterEvent(QEnterEvent* e) {
    QAbstractButton::enterEvent(e);
    hover_ = true;
    update();
}

void HoverButton::leaveEvent(QEvent* e) {
    QAbstractButton::leaveEvent(e);
    hover_ = false;
    update();
}

void HoverButton::hideEvent(QHideEvent* e) {
    QAbstractButton::hideEvent(e);
    hover_ = false;
}

}  // namespace vorel
