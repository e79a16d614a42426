#include "platform/SniStatusItem.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QMenu>
#include <QPointer>
#include <QtEndian>
#include <atomic>

namespace vorel::platform {

namespace sni {

QDBusArgument& operator<<(QDBusArgument& arg, const IconPixmap& v) {
    arg.beginStructure();
    arg << v.width << v.height << v.bytes;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, IconPixmap& v) {
    arg.beginStructure();
    arg >> v.width >> v.height >> v.bytes;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const ToolTip& v) {
    arg.beginStructure();
    arg << v.iconName << v.icons << v.title << v.text;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, ToolTip& v) {
    arg.beginStructure();
    arg >> v.iconName >> v.icons >> v.title >> v.text;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const MenuLayout& v) {
    arg.beginStructure();
    arg << v.id << v.properties;
    arg.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const QVariant& child : v.children) arg << QDBusVariant(child);
    arg.endArray();
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, MenuLayout& v) {
    arg.beginStructure();
    arg >> v.id >> v.properties;
    v.children.clear();
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant child;
        arg >> child;
        v.children << QVariant::fromValue(qdbus_cast<MenuLayout>(child.variant()));
    }
    arg.endArray();
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const MenuItemProperties& v) {
    arg.beginStructure();
    arg << v.id << v.properties;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, MenuItemProperties& v) {
    arg.beginStructure();
    arg >> v.id >> v.properties;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const MenuEvent& v) {
    arg.beginStructure();
    arg << v.id << v.eventId << v.data << v.timestamp;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, MenuEvent& v) {
    arg.beginStructure();
    arg >> v.id >> v.eventId >> v.data >> v.timestamp;
    arg.endStructure();
    return arg;
}

void registerTypes() {
    static const bool once = [] {
        qDBusRegisterMetaType<IconPixmap>();
        qDBusRegisterMetaType<IconPixmaps>();
        qDBusRegisterMetaType<ToolTip>();
        qDBusRegisterMetaType<MenuLayout>();
        qDBusRegisterMetaType<MenuItemProperties>();
        qDBusRegisterMetaType<MenuItemPropertiesList>();
        qDBusRegisterMetaType<MenuEvent>();
        qDBusRegisterMetaType<MenuEventList>();
        return true;
    }();
    (void)once;
}

IconPixmap iconPixmap(const QImage& image) {
    IconPixmap p;
    if (image.isNull()) return p;
    QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    p.width = argb.width();
    p.height = argb.height();
    p.bytes.resize(qsizetype(p.width) * p.height * 4);
    uchar* out = reinterpret_cast<uchar*>(p.bytes.data());
    for (int y = 0; y < p.height; ++y) {
        const QRgb* line = reinterpret_cast<const QRgb*>(argb.constScanLine(y));
        for (int x = 0; x < p.width; ++x, out += 4) qToBigEndian<quint32>(line[x], out);
    }
    return p;
}

}  // namespace sni

namespace {

constexpr int kOpenId = 1;
constexpr int kQuitId = 2;

QVariantMap menuItemProperties(int id) {
    switch (id) {
        case 0: return {{QStringLiteral("children-display"), QStringLiteral("submenu")}};
        case kOpenId: return {{QStringLiteral("label"), QStringLiteral("Open Vorel")}};
        case kQuitId: return {{QStringLiteral("label"), QStringLiteral("Quit")}};
        default: return {};
    }
}

QVariantMap filtered(const QVariantMap& all, const QStringList& names) {
    if (names.isEmpty()) return all;
    QVariantMap out;
    for (const QString& n : names) {
        if (all.contains(n)) out.insert(n, all.value(n));
    }
    return out;
}

bool knownMenuItem(int id) { return id == 0 || id == kOpenId || id == kQuitId; }

}  // namespace

// org.kde.StatusNotifierItem on /StatusNotifierItem.
class SniItemAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(QList<vorel::platform::sni::IconPixmap> IconPixmap READ iconPixmap)
    Q_PROPERTY(vorel::platform::sni::ToolTip ToolTip READ toolTip)
    Q_PROPERTY(QString XAyatanaLabel READ label)
    Q_PROPERTY(QString XAyatanaLabelGuide READ labelGuide)

public:
    explicit SniItemAdaptor(SniStatusItem* item) : QDBusAbstractAdaptor(item), item_(item) {}

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QStringLiteral("vorel"); }
    QString title() const { return QStringLiteral("Vorel"); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const { return QDBusObjectPath(QString::fromLatin1(sni::kMenuPath)); }
    QString iconName() const { return {}; }
    QList<sni::IconPixmap> iconPixmap() const { return item_->icons(); }
    sni::ToolTip toolTip() const { return {QString(), {}, title(), item_->label()}; }
    QString label() const { return item_->label(); }
    QString labelGuide() const { return item_->labelGuide(); }

    void announceLabel() {
        emit XAyatanaNewLabel(label(), labelGuide());
        emit NewToolTip();
    }
    void announceIcon() { emit NewIcon(); }

public slots:
    // The host's primary click, at the pointer's global position. Answered
    // first, acted on from the event loop.
    void Activate(int x, int y) {
        QPoint at = (x == 0 && y == 0) ? QCursor::pos() : QPoint(x, y);
        QMetaObject::invokeMethod(item_, [item = QPointer(item_), at] {
            if (item) emit item->activated(QRect(at, QSize(1, 1)));
        }, Qt::QueuedConnection);
    }
    void SecondaryActivate(int, int) {}
    void ContextMenu(int x, int y) {
        QMetaObject::invokeMethod(item_, [item = QPointer(item_), x, y] {
            if (item) item->showContextMenu(x, y);
        }, Qt::QueuedConnection);
    }
    void Scroll(int, const QString&) {}

signals:
    void NewTitle();
    void NewIcon();
    void NewToolTip();
    void NewStatus(const QString& status);
    void XAyatanaNewLabel(const QString& label, const QString& guide);

private:
    SniStatusItem* item_;
};

// com.canonical.dbusmenu on /MenuBar: a fixed menu of two items.
class DBusMenuAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    DBusMenuAdaptor(QObject* object, SniStatusItem* item) : QDBusAbstractAdaptor(object), item_(item) {}

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   vorel::platform::sni::MenuLayout& layout) {
        int id = knownMenuItem(parentId) ? parentId : 0;
        layout.id = id;
        layout.properties = filtered(menuItemProperties(id), propertyNames);
        layout.children.clear();
        if (id == 0 && recursionDepth != 0) {
            for (int child : {kOpenId, kQuitId}) {
                sni::MenuLayout leaf{child, filtered(menuItemProperties(child), propertyNames), {}};
                layout.children << QVariant::fromValue(leaf);
            }
        }
        return kRevision;
    }

    QList<vorel::platform::sni::MenuItemProperties> GetGroupProperties(const QList<int>& ids,
                                                                        const QStringList& propertyNames) {
        QList<sni::MenuItemProperties> out;
        const QList<int> wanted = ids.isEmpty() ? QList<int>{0, kOpenId, kQuitId} : ids;
        for (int id : wanted) {
            if (knownMenuItem(id)) out << sni::MenuItemProperties{id, filtered(menuItemProperties(id), propertyNames)};
        }
        return out;
    }

    QDBusVariant GetProperty(int id, const QString& name) {
        return QDBusVariant(menuItemProperties(id).value(name, QString()));
    }

    void Event(int id, const QString& eventId, const QDBusVariant&, uint) { handle(id, eventId); }

    QList<int> EventGroup(const QList<vorel::platform::sni::MenuEvent>& events) {
        QList<int> idErrors;
        for (const sni::MenuEvent& e : events) {
            if (knownMenuItem(e.id)) handle(e.id, e.eventId);
            else idErrors << e.id;
        }
        return idErrors;
    }

    bool AboutToShow(int) { return false; }

    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
        for (int id : ids) {
            if (!knownMenuItem(id)) idErrors << id;
        }
        return {};
    }

signals:
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    static constexpr uint kRevision = 1;

    void handle(int id, const QString& eventId) {
        if (eventId != QLatin1String("clicked")) return;
        QMetaObject::invokeMethod(item_, [item = QPointer(item_), id] {
            if (item) item->menuItemClicked(id);
        }, Qt::QueuedConnection);
    }

    SniStatusItem* item_;
};

bool SniStatusItem::watcherPresent(const QDBusConnection& bus) {
    if (!bus.isConnected() || !bus.interface()) return false;
    return bus.interface()->isServiceRegistered(QString::fromLatin1(sni::kWatcherService)).value();
}

SniStatusItem::SniStatusItem(const QDBusConnection& bus, QObject* parent) : StatusItem(parent), bus_(bus) {
    sni::registerTypes();
    static std::atomic<int> counter{0};
    service_ = QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                   .arg(QCoreApplication::applicationPid())
                   .arg(++counter);

    itemAdaptor_ = new SniItemAdaptor(this);
    menuObject_ = new QObject(this);
    new DBusMenuAdaptor(menuObject_, this);

    exported_ = bus_.isConnected() &&
                bus_.registerObject(QString::fromLatin1(sni::kItemPath), this, QDBusConnection::ExportAdaptors) &&
                bus_.registerObject(QString::fromLatin1(sni::kMenuPath), menuObject_, QDBusConnection::ExportAdaptors) &&
                bus_.registerService(service_);
    if (!exported_) return;

    watcher_ = new QDBusServiceWatcher(QString::fromLatin1(sni::kWatcherService), bus_,
                                       QDBusServiceWatcher::WatchForRegistration, this);
    connect(watcher_, &QDBusServiceWatcher::serviceRegistered, this, [this] { registerWithWatcher(); });
    registerWithWatcher();
}

SniStatusItem::~SniStatusItem() {
    if (bus_.isConnected()) {
        bus_.unregisterService(service_);
        bus_.unregisterObject(QString::fromLatin1(sni::kItemPath));
        bus_.unregisterObject(QString::fromLatin1(sni::kMenuPath));
    }
}

void SniStatusItem::registerWithWatcher() {
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(sni::kWatcherService),
                                                       QString::fromLatin1(sni::kWatcherPath),
                                                       QString::fromLatin1(sni::kWatcherService),
                                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << service_;
    // Asynchronous: the answer does not matter, and the watcher may be slow.
    bus_.asyncCall(call);
}

QString SniStatusItem::labelGuide() const {
    // The same text with every digit a 0: hosts reserve that width, so the
    // panel does not shift while the amount changes within its digits.
    QString guide = title();
    for (QChar& c : guide) {
        if (c.isDigit()) c = QLatin1Char('0');
    }
    return guide;
}

void SniStatusItem::setIcon(const QImage& icon) {
    icons_.clear();
    if (!icon.isNull()) icons_ << sni::iconPixmap(icon);
    itemAdaptor_->announceIcon();
}

void SniStatusItem::pushTitle(const QString&) { itemAdaptor_->announceLabel(); }

void SniStatusItem::menuItemClicked(int id) {
    if (id == kOpenId) emit openRequested();
    else if (id == kQuitId) emit quitRequested();
}

void SniStatusItem::showContextMenu(int x, int y) {
    // Only for hosts that do not draw the exported menu themselves.
    auto* menu = new QMenu;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(QStringLiteral("Open Vorel"), this, [this] { menuItemClicked(kOpenId); });
    menu->addAction(QStringLiteral("Quit"), this, [this] { menuItemClicked(kQuitId); });
    menu->popup(QPoint(x, y));
}

}  // namespace vorel::platform

#include "SniStatusItem.moc"
