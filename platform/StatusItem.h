#pragma once
// The application's item in the desktop's tray: a small logo with today's
// amount beside it (or in its tooltip), a click that opens the panel, and a
// context menu with "Open Vorel" and "Quit".
//
// Desktops show such items in one of two ways: a StatusNotifierItem over the
// session bus (panels with an indicator or tray host), or an XEmbed tray icon
// (older trays). create() picks the one the desktop offers.

#include <QColor>
#include <QDBusConnection>
#include <QImage>
#include <QObject>
#include <QRect>
#include <QString>

namespace vorel::platform {

class StatusItem : public QObject {
    Q_OBJECT
public:
    // The item the desktop can show, or nullptr when it has no tray at all.
    static StatusItem* create(QObject* parent = nullptr);
    // The same, asking for a StatusNotifierWatcher on the given bus.
    static StatusItem* create(const QDBusConnection& bus, QObject* parent = nullptr);

    // The logo artwork (an SVG file, the bundled one unless given) at `size`
    // pixels, drawn in `tint`; a null image when the artwork is missing.
    static QImage logo(int size, const QColor& tint,
                       const QString& path = QStringLiteral(":/images/menubar-logo.svg"));
    // The colour tray panels draw their text in: the palette's window text,
    // unless it contradicts the desktop's light or dark choice.
    static QColor panelTextColor();

    // The text shown beside the logo. Pushed to the desktop only when it
    // differs from what is shown.
    void setTitle(const QString& title);
    QString title() const { return title_; }

    // The logo at the size this kind of tray draws it; see logo().
    virtual int iconSize() const = 0;
    // A null image means no logo.
    virtual void setIcon(const QImage& icon) = 0;

signals:
    // A click on the item: open the panel near `anchorGlobal`.
    void activated(QRect anchorGlobal);
    // "Open Vorel" in the context menu.
    void openRequested();
    // "Quit" in the context menu.
    void quitRequested();

protected:
    explicit StatusItem(QObject* parent) : QObject(parent) {}
    // Shows a title that differs from the previous one.
    virtual void pushTitle(const QString& title) = 0;

private:
    QString title_;
    bool titleShown_ = false;
};

}  // namespace vorel::platform
