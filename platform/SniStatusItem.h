#pragma once
// The status item as a StatusNotifierItem on the session bus: the item object
// (org.kde.StatusNotifierItem, with the amount as its XAyatanaLabel, which
// indicator hosts draw beside the icon) and its two-command context menu
// (com.canonical.dbusmenu), registered with the desktop's
// StatusNotifierWatcher and again whenever the watcher restarts.

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QList>
#include <QMetaType>
#include <QVariantMap>

#include "platform/StatusItem.h"

class QDBusServiceWatcher;

namespace vorel::platform {

namespace sni {

inline constexpr const char* kWatcherService = "org.kde.StatusNotifierWatcher";
inline constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
inline constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";
inline constexpr const char* kItemPath = "/StatusNotifierItem";
inline constexpr const char* kMenuInterface = "com.canonical.dbusmenu";
inline constexpr const char* kMenuPath = "/MenuBar";

// One icon image: width, height and ARGB32 pixels in network byte order.
struct IconPixmap {
    int width = 0;
    int height = 0;
    QByteArray bytes;
};
using IconPixmaps = QList<IconPixmap>;

// (sa(iiay)ss): icon name, icon images, title, description.
struct ToolTip {
    QString iconName;
    IconPixmaps icons;
    QString title;
    QString text;
};

// (ia{sv}av): one menu item with its children, each a variant holding a
// MenuLayout.
struct MenuLayout {
    int id = 0;
    QVariantMap properties;
    QVariantList children;
};

// (ia{sv}): one item's properties.
struct MenuItemProperties {
    int id = 0;
    QVariantMap properties;
};
using MenuItemPropertiesList = QList<MenuItemProperties>;

// (isvu): one event of EventGroup.
struct MenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using MenuEventList = QList<MenuEvent>;

QDBusArgument& operator<<(QDBusArgument& arg, const IconPixmap& v);
const QDBusArgument& operator>>(const QDBusArgument& arg, IconPixmap& v);
QDBusArgument& operator<<(QDBusArgument& arg, const ToolTip& v);
const QDBusArgument& operator>>(const QDBusArgument& arg, ToolTip& v);
QDBusArgument& operator<<(QDBusArgument& arg, const MenuLayout& v);
const QDBusArgument& operator>>(const QDBusArgument& arg, MenuLayout& v);
QDBusArgument& operator<<(QDBusArgument& arg, const MenuItemProperties& v);
const QDBusArgument& operator>>(const QDBusArgument& arg, MenuItemProperties& v);
QDBusArgument& operator<<(QDBusArgument& arg, const MenuEvent& v);
const QDBusArgument& operator>>(const QDBusArgument& arg, MenuEvent& v);

// Registers the types above with the D-Bus type system (idempotent).
void registerTypes();

// The pixels of `image` as the protocol carries them.
IconPixmap iconPixmap(const QImage& image);

}  // namespace sni

class SniItemAdaptor;
class DBusMenuAdaptor;

class SniStatusItem : public StatusItem {
    Q_OBJECT
public:
    // Whether a StatusNotifierWatcher is on `bus`.
    static bool watcherPresent(const QDBusConnection& bus);

    // Exports the item and its menu on `bus` and registers it with the
    // watcher; isExported() says whether the bus took it.
    explicit SniStatusItem(const QDBusConnection& bus, QObject* parent = nullptr);
    ~SniStatusItem() override;

    bool isExported() const { return exported_; }
    QString serviceName() const { return service_; }

    int iconSize() const override { return 18; }
    void setIcon(const QImage& icon) override;

    // What the item object publishes.
    QString label() const { return title(); }
    QString labelGuide() const;
    const sni::IconPixmaps& icons() const { return icons_; }

    // A menu item was clicked: 1 is "Open Vorel", 2 is "Quit".
    void menuItemClicked(int id);
    // The host asks for the menu itself, at a global position.
    void showContextMenu(int x, int y);

protected:
    void pushTitle(const QString& title) override;

private:
    void registerWithWatcher();

    QDBusConnection bus_;
    QString service_;
    bool exported_ = false;
    sni::IconPixmaps icons_;
    QObject* menuObject_ = nullptr;
    SniItemAdaptor* itemAdaptor_ = nullptr;
    QDBusServiceWatcher* watcher_ = nullptr;
};

}  // namespace vorel::platform

Q_DECLARE_METATYPE(vorel::platform::sni::IconPixmap)
Q_DECLARE_METATYPE(vorel::platform::sni::ToolTip)
Q_DECLARE_METATYPE(vorel::platform::sni::MenuLayout)
Q_DECLARE_METATYPE(vorel::platform::sni::MenuItemProperties)
Q_DECLARE_METATYPE(vorel::platform::sni::MenuEvent)
