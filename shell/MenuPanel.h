#pragma once
// The panel that opens from the status item: today's cost, today's
// conversations (each renamable in place) and the commands "Open Vorel" and
// "Quit". Everything shown is read from the cost model and the metadata
// store; the only thing written is a conversation's name.

#include <QElapsedTimer>
#include <QRect>
#include <QWidget>

#include "shell/Popup.h"

class QKeyEvent;
class QScrollArea;

namespace vorel {

class AppModel;
class MenuContent;

// The panel window: a frameless popup that closes on a click outside it.
class MenuPanel : public QWidget {
    Q_OBJECT
public:
    // A click on the status item closes the open panel before the item sees
    // the click; a toggle this soon after the panel closed is that click.
    static constexpr int kReopenGuardMs = 300;
    // The gap between the status item and the panel.
    static constexpr int kAnchorGap = kPopupGap;
    // The least height a panel that must scroll is given beside the item.
    static constexpr int kMinScrollingHeight = 240;

    explicit MenuPanel(AppModel& app, QWidget* parent = nullptr);

    // Opens the panel below the status item's rectangle (global
    // coordinates), or above it when there is no room below, kept on the
    // screen that holds it.
    void showNear(const QRect& anchorGlobal);
    // Opens the panel, or closes it when it is open.
    void toggleNear(const QRect& anchorGlobal);

    MenuContent* content() const { return content_; }
    // True while the panel is taller than the screen allows and scrolls.
    bool isScrolling() const;

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    void fitAndPlace();
    bool isQuitKey(const QKeyEvent* e) const;

    MenuContent* content_;
    QScrollArea* scroll_;
    QRect anchor_;
    QElapsedTimer hiddenAt_;
};

}  // namespace vorel
