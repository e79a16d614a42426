#include <gtest/gtest.h>

#include <QAction>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QUuid>

#include "FakeStatusItem.h"
#include "SniStatusItem.h"
#include "TrayIconStatusItem.h"
#include "GuiTestSupport.h"

using namespace vorel;
using namespace vorel::platform;
using vorel::test::FakeStatusItem;
using vorel::test::waitFor;

namespace {

// A session bus of the test's own (a dbus-daemon child process), so the
// tests neither depend on nor disturb the desktop's bus.
class PrivateBus {
public:
    PrivateBus() {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        if (daemon.isEmpty() || !dir_.isValid()) return;
        const QString config = dir_.filePath(QStringLiteral("bus.conf"));
        QFile f(config);
        if (!f.open(QIODevice::WriteOnly)) return;
        f.write(QStringLiteral("<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                               "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
                               "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>")
                    .arg(dir_.path())
                    .toUtf8());
        f.close();
        daemon_.start(daemon, {QStringLiteral("--config-file=") + config, QStringLiteral("--nofork"),
                               QStringLiteral("--print-address=1")});
        if (!daemon_.waitForStarted(5000)) return;
        waitFor([this] { return daemon_.canReadLine() || daemon_.state() != QProcess::Running; }, 5000);
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateBus() {
        for (const QString& name : names_) QDBusConnection::disconnectFromBus(name);
        if (daemon_.state() != QProcess::NotRunning) {
            daemon_.terminate();
            daemon_.waitForFinished(3000);
        }
    }

    bool isRunning() const { return !address_.isEmpty(); }

    // A new connection to the bus, as another client would have.
    QDBusConnection connect() {
        QString name = QStringLiteral("test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        names_ << name;
        return QDBusConnection::connectToBus(address_, name);
    }

private:
    QTemporaryDir dir_;
    QProcess daemon_;
    QString address_;
    QStringList names_;
};

// Stands in for the desktop's StatusNotifierWatcher.
class FakeWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
public:
    QStringList registered;

public slots:
    void RegisterStatusNotifierItem(const QString& service) { registered << service; }
};

// Collects the label signals an indicator host would receive.
class LabelRecorder : public QObject {
    Q_OBJECT
public:
    QStringList labels;
    QStringList guides;

public slots:
    void newLabel(const QString& label, const QString& guide) {
        labels << label;
        guides << guide;
    }
};

// A host's view of one exported item.
class Host {
public:
    Host(QDBusConnection bus, QString service) : bus_(std::move(bus)), service_(std::move(service)) {}

    QDBusMessage call(const char* path, const char* iface, const QString& method, const QVariantList& args) {
        QDBusMessage msg = QDBusMessage::createMethodCall(service_, QString::fromLatin1(path),
                                                          QString::fromLatin1(iface), method);
        msg.setArguments(args);
        QDBusPendingCall pending = bus_.asyncCall(msg);
        waitFor([&] { return pending.isFinished(); });
        return pending.reply();
    }

    QVariant itemProperty(const QString& name) {
        QDBusMessage reply = call(sni::kItemPath, "org.freedesktop.DBus.Properties", QStringLiteral("Get"),
                                  {QString::fromLatin1(sni::kItemInterface), name});
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
        return reply.arguments().first().value<QDBusVariant>().variant();
    }

    sni::MenuLayout menuLayout() {
        QDBusMessage reply = call(sni::kMenuPath, sni::kMenuInterface, QStringLiteral("GetLayout"),
                                  {0, -1, QStringList()});
        if (reply.arguments().size() < 2) return {};
        return qdbus_cast<sni::MenuLayout>(reply.arguments().at(1));
    }

    QDBusMessage click(int id) {
        return call(sni::kMenuPath, sni::kMenuInterface, QStringLiteral("Event"),
                    {id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(QString())), 0u});
    }

private:
    QDBusConnection bus_;
    QString service_;
};

class SniItemTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!bus.isRunning()) GTEST_SKIP() << "dbus-daemon is not installed";
        watcherBus = std::make_unique<QDBusConnection>(bus.connect());
        ASSERT_TRUE(watcherBus->registerObject(QString::fromLatin1(sni::kWatcherPath), &watcher,
                                               QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(watcherBus->registerService(QString::fromLatin1(sni::kWatcherService)));
        itemBus = std::make_unique<QDBusConnection>(bus.connect());
        hostBus = std::make_unique<QDBusConnection>(bus.connect());
    }

    PrivateBus bus;
    FakeWatcher watcher;
    std::unique_ptr<QDBusConnection> watcherBus, itemBus, hostBus;
};

}  // namespace

// The title is what the desktop shows all day; it is pushed once per
// change, not once per refresh, and the first one even when empty.
TEST(StatusItemTitle, PushesOnlyWhenTheTitleChanges) {
    FakeStatusItem item;
    item.setTitle(QString());
    for (const char* t : {"$0.00", "$0.00", "$1.25", "$1.25", "$0.00"}) item.setTitle(QString::fromLatin1(t));
    EXPECT_EQ(item.pushedTitles(), (QStringList{"", "$0.00", "$1.25", "$0.00"}));
    EXPECT_EQ(item.title(), QStringLiteral("$0.00"));
}

TEST(StatusItemFactory, NoTrayAndNoWatcherGivesNoItem) {
    // The offscreen platform has no system tray.
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    PrivateBus bus;
    if (bus.isRunning()) {
        EXPECT_EQ(StatusItem::create(bus.connect()), nullptr);
    }
    // Not connected to any bus at all.
    EXPECT_EQ(StatusItem::create(QDBusConnection(QStringLiteral("no-such-connection"))), nullptr);
}

// The logo is a template: its shape in the panel's text colour, on a
// transparent ground; without the artwork there is no image.
TEST(StatusItemLogo, ArtworkIsDrawnInTheTintOnTransparency) {
    EXPECT_TRUE(StatusItem::logo(18, Qt::black, QStringLiteral("/no/such/menubar-logo.svg")).isNull());
    QImage logo = StatusItem::logo(22, QColor(0x30, 0xC0, 0x60), QStringLiteral(VOREL_LOGO_SVG));
    ASSERT_EQ(logo.size(), QSize(22, 22));
    int inked = 0, clear = 0;
    for (int y = 0; y < 22; ++y) {
        for (int x = 0; x < 22; ++x) {
            QColor c = logo.pixelColor(x, y);
            if (c.alpha() == 0) {
                ++clear;
                continue;
            }
            ++inked;
            if (c.alpha() < 128) continue;  // edge pixels lose precision unpremultiplied
            EXPECT_NEAR(c.red(), 0x30, 4);
            EXPECT_NEAR(c.green(), 0xC0, 4);
            EXPECT_NEAR(c.blue(), 0x60, 4);
        }
    }
    EXPECT_GT(inked, 30);
    EXPECT_GT(clear, 100);
    // The corners lie outside the coin's ring.
    EXPECT_EQ(logo.pixelColor(0, 0).alpha(), 0);
}

TEST_F(SniItemTest, FactoryExportsAnItemAndRegistersItWithTheWatcherAgainAndAgain) {
    std::unique_ptr<StatusItem> item(StatusItem::create(*itemBus));
    auto* sniItem = qobject_cast<SniStatusItem*>(item.get());
    ASSERT_NE(sniItem, nullptr);
    ASSERT_TRUE(waitFor([&] { return !watcher.registered.isEmpty(); }));
    EXPECT_EQ(watcher.registered, QStringList{sniItem->serviceName()});

    Host host(*hostBus, sniItem->serviceName());
    EXPECT_EQ(host.itemProperty(QStringLiteral("Category")).toString(), QStringLiteral("ApplicationStatus"));
    EXPECT_EQ(host.itemProperty(QStringLiteral("Status")).toString(), QStringLiteral("Active"));
    EXPECT_EQ(host.itemProperty(QStringLiteral("Title")).toString(), QStringLiteral("Vorel"));
    EXPECT_EQ(host.itemProperty(QStringLiteral("ItemIsMenu")).toBool(), false);
    EXPECT_EQ(host.itemProperty(QStringLiteral("Menu")).value<QDBusObjectPath>().path(),
              QString::fromLatin1(sni::kMenuPath));

    // A panel restart: its watcher leaves the bus and comes back, knowing
    // nothing of the items it had; the item registers again.
    watcherBus->unregisterService(QString::fromLatin1(sni::kWatcherService));
    watcher.registered.clear();
    ASSERT_TRUE(watcherBus->registerService(QString::fromLatin1(sni::kWatcherService)));
    ASSERT_TRUE(waitFor([&] { return watcher.registered.size() == 1; }));
    EXPECT_EQ(watcher.registered.first(), sniItem->serviceName());
}

TEST_F(SniItemTest, LabelTooltipAndIconCarryTheTitleAndTheLogo) {
    SniStatusItem item(*itemBus);
    LabelRecorder recorder;
    ASSERT_TRUE(hostBus->connect(item.serviceName(), QString::fromLatin1(sni::kItemPath),
                                 QString::fromLatin1(sni::kItemInterface), QStringLiteral("XAyatanaNewLabel"),
                                 &recorder, SLOT(newLabel(QString, QString))));
    item.setTitle(QStringLiteral("$3.27"));
    item.setTitle(QStringLiteral("$3.27"));
    item.setTitle(QStringLiteral("$13.50"));

    Host host(*hostBus, item.serviceName());
    // A call answered after the signals were sent: they have all arrived.
    EXPECT_EQ(host.itemProperty(QStringLiteral("XAyatanaLabel")).toString(), QStringLiteral("$13.50"));
    ASSERT_TRUE(waitFor([&] { return recorder.labels.size() >= 2; }));
    EXPECT_EQ(recorder.labels, (QStringList{"$3.27", "$13.50"}));
    EXPECT_EQ(recorder.guides, (QStringList{"$0.00", "$00.00"}));
    EXPECT_EQ(host.itemProperty(QStringLiteral("XAyatanaLabelGuide")).toString(), QStringLiteral("$00.00"));

    auto tip = qdbus_cast<sni::ToolTip>(host.itemProperty(QStringLiteral("ToolTip")));
    EXPECT_EQ(tip.title, QStringLiteral("Vorel"));
    EXPECT_EQ(tip.text, QStringLiteral("$13.50"));

    // Icon pixels travel as ARGB in network byte order.
    QImage image(2, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(0x11, 0x22, 0x33, 0x44));
    image.setPixel(1, 0, qRgba(0xAA, 0xBB, 0xCC, 0xFF));
    item.setIcon(image);
    auto icons = qdbus_cast<sni::IconPixmaps>(host.itemProperty(QStringLiteral("IconPixmap")));
    ASSERT_EQ(icons.size(), 1);
    EXPECT_EQ(icons[0].width, 2);
    EXPECT_EQ(icons[0].height, 1);
    EXPECT_EQ(icons[0].bytes, QByteArray::fromHex("44112233FFAABBCC"));

    // Without the logo the item has no image; hosts show the label alone.
    item.setIcon(QImage());
    icons = qdbus_cast<sni::IconPixmaps>(host.itemProperty(QStringLiteral("IconPixmap")));
    EXPECT_TRUE(icons.isEmpty());
}

TEST_F(SniItemTest, ActivateOpensThePanelAtTheClickAndTheMenuSignalsItsTwoCommands) {
    SniStatusItem item(*itemBus);
    std::optional<QRect> anchor;
    int opens = 0, quits = 0;
    QObject::connect(&item, &StatusItem::activated, [&](QRect r) { anchor = r; });
    QObject::connect(&item, &StatusItem::openRequested, [&] { ++opens; });
    QObject::connect(&item, &StatusItem::quitRequested, [&] { ++quits; });
    Host host(*hostBus, item.serviceName());
    QDBusMessage reply = host.call(sni::kItemPath, sni::kItemInterface, QStringLiteral("Activate"), {640, 12});
    EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage);
    ASSERT_TRUE(waitFor([&] { return anchor.has_value(); }));
    EXPECT_TRUE(anchor->contains(QPoint(640, 12)));

    sni::MenuLayout root = host.menuLayout();
    QStringList labels;
    QList<int> ids;
    for (const QVariant& child : root.children) {
        auto leaf = child.value<sni::MenuLayout>();
        labels << leaf.properties.value(QStringLiteral("label")).toString();
        ids << leaf.id;
    }
    ASSERT_EQ(labels, (QStringList{"Open Vorel", "Quit"}));

    EXPECT_EQ(host.click(ids[0]).type(), QDBusMessage::ReplyMessage);
    ASSERT_TRUE(waitFor([&] { return opens == 1; }));
    EXPECT_EQ(quits, 0);
    host.click(ids[1]);
    ASSERT_TRUE(waitFor([&] { return quits == 1; }));
    EXPECT_EQ(opens, 1);

    // Hovering is an event too, but not a command.
    host.call(sni::kMenuPath, sni::kMenuInterface, QStringLiteral("Event"),
              {ids[1], QStringLiteral("hovered"), QVariant::fromValue(QDBusVariant(QString())), 0u});
    vorel::test::spin(50);
    EXPECT_EQ(quits, 1);
}

TEST(TrayIconItem, TheTooltipHasTheAmountAndTheMenuOpensOrQuits) {
    TrayIconStatusItem item;
    item.setTitle(QStringLiteral("$3.27"));
    EXPECT_TRUE(item.trayIcon()->toolTip().contains(QStringLiteral("$3.27")));

    int opens = 0, quits = 0;
    QObject::connect(&item, &StatusItem::openRequested, [&] { ++opens; });
    QObject::connect(&item, &StatusItem::quitRequested, [&] { ++quits; });
    QList<QAction*> actions = item.contextMenu()->actions();
    ASSERT_EQ(actions.size(), 2);
    EXPECT_EQ(item.trayIcon()->contextMenu(), item.contextMenu());
    actions[0]->trigger();
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(quits, 0);
    actions[1]->trigger();
    EXPECT_EQ(quits, 1);
}

TEST(TrayIconItem, OnlyAPlainClickOpensThePanelAndAStandInReplacesAMissingLogo) {
    TrayIconStatusItem item;
    int clicks = 0;
    QObject::connect(&item, &StatusItem::activated, [&](QRect) { ++clicks; });
    emit item.trayIcon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(clicks, 1);
    // The second half of a double click, a right click (the menu) and a
    // middle click do not toggle the panel again.
    emit item.trayIcon()->activated(QSystemTrayIcon::DoubleClick);
    emit item.trayIcon()->activated(QSystemTrayIcon::Context);
    emit item.trayIcon()->activated(QSystemTrayIcon::MiddleClick);
    EXPECT_EQ(clicks, 1);

    // Without the logo a stand-in keeps it clickable.
    item.setIcon(QImage());
    EXPECT_FALSE(item.trayIcon()->icon().isNull());

    QImage standIn = TrayIconStatusItem::fallbackIcon(22, Qt::red);
    ASSERT_EQ(standIn.size(), QSize(22, 22));
    int inked = 0;
    for (int y = 0; y < 22; ++y) {
        for (int x = 0; x < 22; ++x) {
            QColor c = standIn.pixelColor(x, y);
            if (c.alpha() == 0) continue;
            ++inked;
            EXPECT_EQ(c.green(), 0);
            EXPECT_EQ(c.blue(), 0);
        }
    }
    EXPECT_GT(inked, 22);
}

#include "StatusItemTest.moc"
