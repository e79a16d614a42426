#pragma once
// Named symbols drawn from the Material Icons font that Debian ships, so a
// screen can ask for "chart.bar" or "info.circle" by name in any colour
// and size.

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>
#include <QWidget>
#include <functional>

namespace vorel::platform {

// The font glyph that stands for a symbol name, or nothing for an unknown
// name.
QChar symbolGlyph(const QString& name);

// The symbol drawn at `pixelSize` in `color`; an empty pixmap when the name
// is unknown or the icon font is missing.
QPixmap symbolPixmap(const QString& name, const QColor& color, int pixelSize, qreal devicePixelRatio = 1.0);
QIcon symbolIcon(const QString& name, const QColor& color, int pixelSize);

// A symbol as a small widget of its own size, painted in the colour that
// `color` gives at paint time, so it follows the appearance.
class SymbolView : public QWidget {
public:
    SymbolView(const QString& name, std::function<QColor()> color, int pixelSize, QWidget* parent = nullptr);
    QString name() const { return name_; }
    QSize sizeHint() const override { return {size_, size_}; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QString name_;
    std::function<QColor()> color_;
    int size_;
};

}  // namespace vorel::platform
