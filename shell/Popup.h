#pragma once
// Popup windows that hang from a control: where they may go on the screen,
// the frame they draw, what a press on their control does while they are
// open, and the popup that explains something in a few words.

#include <QRect>
#include <QString>
#include <QWidget>
#include <functional>

class QColor;
class QLabel;
class QMouseEvent;

namespace vorel {

// The usable area of the screen that holds `r`, or of the primary screen.
QRect availableAround(const QRect& r);

// The gap between a control and the popup that hangs from it.
constexpr int kPopupGap = 4;

// Where a popup of `size` goes for the control at `anchor` on a screen
// whose usable area is `available`: centred under the control, `gap` px
// below it; above it when there is no room below; when neither side holds
// it, on the side with more room. Kept on the screen, its top-left corner
// first when it is larger than the screen.
QPoint placeAtAnchor(const QSize& size, const QRect& anchor, const QRect& available, int gap = kPopupGap);

// Fills the widget's rectangle with `fill` and draws a 1-pixel border in the
// rule colour, so the popup stands apart from what lies behind it.
void paintPopupFrame(QWidget* popup, const QColor& fill);

// For a popup's mouse press: a press outside the popup on `anchor` (global
// coordinates), the control it hangs from, closes the popup and must not
// reach that control as well, which would open the popup again.
void swallowPressOnAnchor(QWidget* popup, const QMouseEvent* e, const QRect& anchor);

// A short explanation in a popup of its own beside the button that opened
// it: the text wraps at `textWidth` px (12 px type) inside a 12-pixel pad
// and the frame. It closes on a click outside it; `onHide` hears whenever
// it closes. Its colours follow the appearance.
class ExplanationPopup : public QWidget {
public:
    enum class Side { above, below };

    ExplanationPopup(QWidget* button, const QString& text, int textWidth, Side side, int gap,
                     std::function<void()> onHide);

    // Opens the popup at the button (see position()).
    void showAtButton();
    // Where a popup of `size` goes for a button at `button` (global) on a
    // screen whose usable area is `area`: centred on the button, `gap` px
    // away on its `side`, on the other side when there is no room there,
    // and kept on the screen.
    static QPoint position(const QSize& size, const QRect& button, const QRect& area, Side side, int gap);

    QLabel* label() const { return label_; }

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void hideEvent(QHideEvent* e) override;
    void paintEvent(QPaintEvent*) override;

private:
    QRect buttonRect() const;
    void applyColors();

    QWidget* button_;
    Side side_;
    int gap_;
    std::function<void()> onHide_;
    QLabel* label_;
};

}  // namespace vorel
