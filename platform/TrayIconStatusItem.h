#pragma once
// The status item as an XEmbed tray icon (QSystemTrayIcon), for trays that
// do not host StatusNotifierItems: such trays draw no text, so the amount
// goes into the tooltip. A click opens the panel; the context menu holds
// "Open Vorel" and "Quit".

#include "platform/StatusItem.h"

class QMenu;
class QSystemTrayIcon;

namespace vorel::platform {

class TrayIconStatusItem : public StatusItem {
    Q_OBJECT
public:
    explicit TrayIconStatusItem(QObject* parent = nullptr);
    ~TrayIconStatusItem() override;

    int iconSize() const override { return 22; }
    // Shows the icon in the tray the first time. Without a logo a drawn
    // stand-in is used: an XEmbed tray has nothing to click otherwise.
    void setIcon(const QImage& icon) override;

    // What a tray without the logo shows: a ring around a dollar sign.
    static QImage fallbackIcon(int size, const QColor& tint);

    QSystemTrayIcon* trayIcon() const { return tray_; }
    QMenu* contextMenu() const { return menu_; }

protected:
    void pushTitle(const QString& title) override;

private:
    QSystemTrayIcon* tray_;
    QMenu* menu_;
};

}  // namespace vorel::platform
