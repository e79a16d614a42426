#pragma once
// The application's typeface and colours, and the small widgets used on
// every screen: a section caption, a 1-pixel rule and the status dot of a
// conversation.

#include <QColor>
#include <QFont>
#include <QWidget>

class QLabel;
class QVBoxLayout;
class QScrollArea;
class QScrollBar;
class QVariantAnimation;

namespace vorel {

namespace BrandFont {

// Registers the font files bundled with the application (DM Sans).
void registerBundledFonts();
// The text font at a pixel size and weight: DM Sans when it is available
// (decided once, on first use), else the system font.
QFont sans(double size, QFont::Weight weight = QFont::Normal);
// The same with digits of equal width, for columns of amounts.
QFont sansMonospacedDigits(double size, QFont::Weight weight = QFont::Normal);
// The small captions shown upper-cased over blocks, columns and controls:
// 10 px medium, tracked 0.6 px.
QFont caption();

}  // namespace BrandFont

namespace BrandColor {

// Each colour resolves to its dark or light value by the current appearance.
QColor bg();
QColor bgSubtle();
QColor bgElevated();
QColor text();
QColor textMuted();
QColor textFaint();
QColor accent();
QColor accentFaint();
QColor border();
QColor warn();
QColor chartCached();
QColor chartOutput();
QColor windowBG();

// "#rrggbb" or "rgba(r, g, b, a)" for style sheets.
QString css(const QColor& c);
// Relative luminance (0 black ... 1 white), by which the eye ranks how light
// two colours are; `c` is taken as opaque.
double luminance(const QColor& c);

// Gives a widget's text the colour `c` (the palette's window text and
// text roles). Call again when the appearance changes.
void setTextColor(QWidget* w, const QColor& c);
// Gives a widget's background the colour `c` (the palette's window role,
// which its children inherit). Call again when the appearance changes.
void setBackground(QWidget* w, const QColor& c);
// Colours a text field that sits on the page without a box of its own:
// `text` for what is typed and selected, the faint colour for the
// placeholder, no fill, and the accent, see-through, behind a selection.
// Call again when the appearance changes.
void styleTextField(QWidget* field, const QColor& text);

// A thin vertical scroll bar that suits both appearances, where the
// desktop style's own would stay light on a dark page: a 10-pixel strip
// with no track and a rounded handle in the rule colour. Call again when
// the appearance changes.
void styleScrollBar(QScrollBar* bar);

// A frameless scroll area that scrolls only vertically, its bar shown when
// needed and styled as above, following the appearance; `widgetResizable`
// as QScrollArea has it.
QScrollArea* verticalScrollArea(bool widgetResizable);

// Gives the standard widgets (pickers, date fields and their calendars,
// scroll bars, dialogs) the theme's colours, and keeps them following the
// appearance.
void applyToApplication();

}  // namespace BrandColor

// A small section caption: the text upper-cased in the caption font, in the
// muted text colour, following the appearance.
QLabel* microLabel(const QString& text, QWidget* parent = nullptr);

// A 1-pixel rule in the border colour, inset on the leading side.
class Hairline : public QWidget {
    Q_OBJECT
public:
    explicit Hairline(int inset = 0, QWidget* parent = nullptr);
    QSize sizeHint() const override { return {1 + inset_, 1}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    int inset_;
};

// An 8-pixel status dot: an accent disc that fades between full opacity and
// 0.55 every 1.6 seconds while live; a steady disc of `idleFill` when given;
// otherwise an empty ring in the faint text colour, which reads on the page
// in either appearance.
class LiveDot : public QWidget {
    Q_OBJECT
public:
    explicit LiveDot(QWidget* parent = nullptr);
    void setState(bool live, std::optional<QColor> idleFill = std::nullopt);
    bool isLive() const { return live_; }
    QSize sizeHint() const override { return {8, 8}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    bool live_ = false;
    std::optional<QColor> idleFill_;
    double opacity_ = 1.0;
    QVariantAnimation* pulse_;
};

// `dot` in a column of its own, `top` px below the row's top: it stays
// beside the row's first line however tall the row grows.
QVBoxLayout* dotColumn(LiveDot* dot, int top);

}  // namespace vorel
