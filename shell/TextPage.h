#pragma once
// The parts of the screens that are mostly text to read (About, Pricing,
// Export): the band with the screen's title at the top, a column of blocks
// that scrolls, and titled blocks of paragraphs and "✦" bullets. The parts
// carry the object names their screen gives them, by which the screen
// colours them and tests find them; the colours are the screen's to set.

#include <QHBoxLayout>
#include <QList>
#include <QString>
#include <QStringList>

class QLabel;
class QScrollArea;
class QWidget;

namespace vorel {

// The band at the top of a reading screen: the title (19 px demibold) above
// the subtitle (12 px), 3 px apart, 20 px in from the sides and 16 px from
// top and bottom; after `leading`, centred beside them 12 px before, when
// one is given. The space after the texts stays empty.
class ScreenHeader : public QHBoxLayout {
public:
    ScreenHeader(const QString& title, const QString& titleRole, const QString& subtitle, const QString& subtitleRole,
                 QWidget* leading = nullptr);
    QLabel* title() const { return title_; }
    QLabel* subtitle() const { return subtitle_; }

private:
    QLabel* title_;
    QLabel* subtitle_;
};

// A page that scrolls vertically: `blocks` one below the other, `spacing`
// apart, in a column 20 px in from every side. The column takes the width
// it is offered up to 640 px and keeps to the leading edge; the space beyond
// stays empty. The scroll bar is the theme's thin one and follows the
// appearance.
QScrollArea* scrollingColumn(const QList<QWidget*>& blocks, int spacing, const QString& scrollRole,
                             const QString& columnRole);

// The names of a text block's parts.
struct TextBlockRoles {
    QString title;
    QString body;
    QString mark;
};

// A titled block: the title upper-cased in the caption font, then each
// paragraph, then each bullet after its mark, `spacing` apart. Paragraphs
// and bullets are wrapping labels `bodySize` px high.
QWidget* textBlock(const QString& title, const QStringList& paragraphs, const QStringList& bullets,
                   const TextBlockRoles& roles, double bodySize, int spacing);

// One bullet: the "✦" mark (9 px), then the text 7 px after it. The mark is
// as tall as one line of the text and draws on that line's baseline, so
// mark and text share their first baseline whatever their sizes.
QWidget* bulletRow(const QString& text, const TextBlockRoles& roles, double bodySize);

}  // namespace vorel
