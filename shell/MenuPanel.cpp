#include "shell/MenuPanel.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>

#include "platform/Appearance.h"
#include "shell/CommandButton.h"
#include "shell/HeroToday.h"
#include "shell/MenuContent.h"
#include "shell/Theme.h"

namespace vorel {

namespace {

constexpr int kBorder = 1;

}  // namespace

MenuPanel::MenuPanel(AppModel& app, QWidget* parent) : QWidget(parent, Qt::Popup | Qt::FramelessWindowHint) {
    setWindowTitle(QStringLiteral("Vorel"));
    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(kBorder, kBorder, kBorder, kBorder);
    v->setSpacing(0);
    // The content scrolls only when it is taller than the screen can hold
    // (ten conversations with long names on a small screen); then the
    // panel keeps to the screen and Open Vorel and Quit stay reachable.
    content_ = new MenuContent(app);
    scroll_ = BrandColor::verticalScrollArea(true);
    scroll_->viewport()->setAutoFillBackground(false);
    scroll_->setWidget(content_);
    // The content's changes of size reach the panel through the viewport.
    scroll_->viewport()->installEventFilter(this);
    v->addWidget(scroll_);
    connect(&platform::Appearance::shared(), &platform::Appearance::changed, this, qOverload<>(&QWidget::update));
    fitAndPlace();
}

void MenuPanel::showNear(const QRect& anchorGlobal) {
    anchor_ = anchorGlobal.isValid() ? anchorGlobal : QRect(QCursor::pos(), QSize(1, 1));
    content_->refresh();
    // Size the panel for what it shows before it appears.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    fitAndPlace();
    move(placeAtAnchor(size(), anchor_, availableAround(anchor_), kAnchorGap));
    show();
    raise();
    activateWindow();
}

void MenuPanel::toggleNear(const QRect& anchorGlobal) {
    if (isVisible()) {
        close();
        return;
    }
    // The press that closed the panel was the one on the status item.
    if (hiddenAt_.isValid() && hiddenAt_.elapsed() < kReopenGuardMs) {
        hiddenAt_.invalidate();
        return;
    }
    showNear(anchorGlobal);
}

void MenuPanel::fitAndPlace() {
    if (QLayout* l = content_->layout()) l->activate();
    const int contentHeight = content_->hasHeightForWidth() ? content_->heightForWidth(MenuContent::kWidth)
                                                            : content_->sizeHint().height();
    int h = contentHeight + 2 * kBorder;
    int w = MenuContent::kWidth + 2 * kBorder;
    // Never taller than the room beside the status item on its screen (the
    // larger of below and above it; the whole screen when even that is
    // small); the scroll bar then takes room beside the content, not from it.
    const QRect area = availableAround(anchor_.isValid() ? anchor_ : QRect(pos(), QSize(1, 1)));
    int room = area.height();
    if (anchor_.isValid()) {
        const int beside = std::max(area.bottom() - anchor_.bottom() - kAnchorGap,
                                    anchor_.top() - kAnchorGap - area.top());
        if (beside >= kMinScrollingHeight) room = std::min(room, beside);
    }
    if (room > 0 && h > room) {
        h = room;
        w += scroll_->verticalScrollBar()->sizeHint().width();
    }
    if (size() != QSize(w, h)) setFixedSize(w, h);
    if (isVisible() && anchor_.isValid()) move(placeAtAnchor(size(), anchor_, area, kAnchorGap));
}

bool MenuPanel::isScrolling() const { return scroll_->verticalScrollBar()->maximum() > 0; }

bool MenuPanel::eventFilter(QObject* watched, QEvent* e) {
    if (watched == scroll_->viewport() && e->type() == QEvent::LayoutRequest) fitAndPlace();
    return QWidget::eventFilter(watched, e);
}

bool MenuPanel::isQuitKey(const QKeyEvent* e) const {
    return QKeySequence(e->keyCombination()) == content_->commands()->quitButton()->shortcut();
}

bool MenuPanel::event(QEvent* e) {
    // The panel claims Ctrl+Q before the application's shortcuts are asked:
    // another window's Quit shortcut would otherwise make the key ambiguous
    // and do nothing.
    if (e->type() == QEvent::ShortcutOverride && isQuitKey(static_cast<QKeyEvent*>(e))) {
        e->accept();
        return true;
    }
    bool handled = QWidget::event(e);
    if (e->type() == QEvent::LayoutRequest) fitAndPlace();
    return handled;
}

void MenuPanel::hideEvent(QHideEvent* e) {
    QWidget::hideEvent(e);
    hiddenAt_.start();
    content_->hero()->setShowInfo(false);
    // Opened again, the panel starts with no field in edit.
    if (QWidget* f = focusWidget()) f->clearFocus();
}

void MenuPanel::keyPressEvent(QKeyEvent* e) {
    if (isQuitKey(e)) {
        content_->commands()->quitButton()->click();
        return;
    }
    QWidget::keyPressEvent(e);
}

void MenuPanel::mousePressEvent(QMouseEvent* e) {
    // A press on the status item closes the panel; it must not be handed on
    // to the item as well, which would open the panel again.
    swallowPressOnAnchor(this, e, anchor_);
    QWidget::mousePressEvent(e);
}

void MenuPanel::paintEvent(QPaintEvent*) { paintPopupFrame(this, BrandColor::bg()); }

}  // namespace vorel
