#pragma once
// Named symbols drawn from the Material Icons font that Debian ships, so a
// screen can ask for "chart.bar" or "info.circle" by name in any colour
// and size.

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

namespace vorel::platform {

// The font glyph that stands for a symbol name, or nothing for an unknown
// name.
QChar symbolGlyph(const QString& name);

// The symbol drawn at `pixelSize` in `color`; an empty pixmap when the name
// is unknown or the icon font is missing.
QPixmap symbolPixmap(const QString& name, const QColor& color, int pixelSize, qreal devicePixelRatio = 1.0);
QIcon symbolIcon(const QString& name, const QColor& color, int pixelSize);

}  // namespace vorel::platform
