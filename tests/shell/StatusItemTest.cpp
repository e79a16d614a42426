// The status item: its title and logo, the choice between the D-Bus item and
// the tray icon, the D-Bus item as a host sees it, and the tray icon.

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

#include "platform/SniStatusItem.h"
#include "platform/TrayIconStatusItem.h"
#include "tests/GuiTestSupport.h"

using namespace vorel;
using namespace vorel::platform;
using vorel::test::waitFor;

namespace {

// A session bus of the test's own (a dbus-daemon child process), so the
// tests neither depend on nor disturb the desktop's bus.
class PrivateBus {
public:
    PrivateBus() {
        const QString daemon = QStandardPaths::findExecutable(QStringLiteral("dbus-daemon"));
        installed_ = !daemon.isEmpty();
        QFile config(dir_.filePath(QStringLiteral("bus.conf")));
        if (daemon.isEmpty() || !dir_.isValid() || !config.open(QIODevice::WriteOnly)) return;
        config.write(QStringLiteral("<busconfig><type>session</type><listen>unix:dir=%1</listen>"
                                    "<auth>EXTERNAL</auth><policy context=\"default\"><allow send_destination=\"*\"/>"
                                    "<allow receive_sender=\"*\"/><allow own=\"*\"/></policy></busconfig>")
                         .arg(dir_.path())
                         .toUtf8());
        config.close();
        daemon_.start(daemon, {QStringLiteral("--config-file=") + config.fileName(), QStringLiteral("--nofork"),
                               QStringLiteral("--print-address=1")});
        if (!daemon_.waitForStarted(5000)) return;
        waitFor([this] { return daemon_.canReadLine() || daemon_.state() != QProcess::Running; }, 5000);
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateBus() {
        for (const QString& name : names_) QDBusConnection::disconnectFromBus(name);
        daemon_.terminate();
        daemon_.waitForFinished(3000);
    }
    bool isInstalled() const { return installed_; }
    bool isRunning() const { return !address_.isEmpty(); }
    // A new connection to the bus, as another client would have.
    QDBusConnection connect() {
        names_ << QStringLiteral("test-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
        return QDBusConnection::connectToBus(address_, names_.last());
    }

private:
    bool installed_ = false;
    QTemporaryDir dir_;
    QProcess daemon_;
    QString address_;
    QStringList names_;
};

// Stands in for the desktop's StatusNotifierWatcher.
class FakeWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
public slots:
    void RegisterStatusNotifierItem(const QString& service) { registered << service; }
public:
    QStringList registered;
};

// Collects the label signals an indicator host would receive, each as
// "<label> <guide>".
class LabelRecorder : public QObject {
    Q_OBJECT
public slots:
    void newLabel(const QString& label, const QString& guide) { labels << label + ' ' + guide; }
public:
    QStringList labels;
};

// A private bus with a watcher on it, and connections for the item and for
// a host that calls the item exported as `service`.
class SniItemTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!bus.isInstalled()) GTEST_SKIP() << "dbus-daemon is not installed";
        // Installed but not answering is a fault of the set-up, never a skip.
        ASSERT_TRUE(bus.isRunning()) << "dbus-daemon did not start a bus";
        ASSERT_TRUE(watcherBus.registerObject(QString::fromLatin1(sni::kWatcherPath), &watcher,
                                              QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(watcherBus.registerService(QString::fromLatin1(sni::kWatcherService)));
    }
    // The item lives in this process: its answer comes while the loop runs.
    QDBusMessage call(const char* path, const char* iface, const char* method, const QVariantList& args) {
        QDBusMessage msg = QDBusMessage::createMethodCall(service, QString::fromLatin1(path),
                                                          QString::fromLatin1(iface), QString::fromLatin1(method));
        msg.setArguments(args);
        QDBusPendingCall pending = hostBus.asyncCall(msg);
        waitFor([&] { return pending.isFinished(); });
        return pending.reply();
    }
    QVariant itemProperty(const char* name) {
        QDBusMessage reply = call(sni::kItemPath, "org.freedesktop.DBus.Properties", "Get",
                                  {QString::fromLatin1(sni::kItemInterface), QString::fromLatin1(name)});
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }
    // A menu event of `kind` ("clicked", "hovered") on item `id`.
    QDBusMessage menuEvent(int id, const char* kind) {
        return call(sni::kMenuPath, sni::kMenuInterface, "Event",
                    {id, QString::fromLatin1(kind), QVariant::fromValue(QDBusVariant(QString())), 0u});
    }
    PrivateBus bus;
    FakeWatcher watcher;
    QDBusConnection watcherBus = bus.connect(), itemBus = bus.connect(), hostBus = bus.connect();
    QString service;
};

}  // namespace

TEST(StatusItemFactory, NoTrayAndNoWatcherGivesNoItem) {
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());  // not on the offscreen platform
    PrivateBus bus;
    if (bus.isRunning()) { EXPECT_EQ(StatusItem::create(bus.connect()), nullptr); }
    // Not connected to any bus at all.
    EXPECT_EQ(StatusItem::create(QDBusConnection(QStringLiteral("no-such-connection"))), nullptr);
}

// The logo is a template: its shape in the panel's text colour, on a
// transparent ground; without the artwork there is no image.
TEST(StatusItemLogo, ArtworkIsDrawnInTheTintOnTransparency) {
    EXPECT_TRUE(StatusItem::logo(18, Qt::black, QStringLiteral("/no/such/menubar-logo.svg")).isNull());
    QImage logo = StatusItem::logo(22, QColor(0x30, 0xC0, 0x60), QStringLiteral(VOREL_LOGO_SVG));
    ASSERT_EQ(logo.size(), QSize(22, 22));
    EXPECT_EQ(logo.pixelColor(11, 1), QColor(0x30, 0xC0, 0x60));  // the top of the coin's ring
    EXPECT_EQ(logo.pixelColor(0, 0).alpha(), 0);                   // outside the ring
    EXPECT_EQ(logo.pixelColor(11, 8).alpha(), 0);                  // inside it, above the V
}

TEST_F(SniItemTest, FactoryExportsAnItemThatCarriesTheTitleAndTheLogoAndRegistersAgainAndAgain) {
    std::unique_ptr<StatusItem> created(StatusItem::create(itemBus));
    auto* item = qobject_cast<SniStatusItem*>(created.get());
    ASSERT_NE(item, nullptr);
    service = item->serviceName();
    ASSERT_TRUE(waitFor([&] { return watcher.registered == QStringList{service}; }));
    // A plain item (a click activates it) whose menu is at the known path.
    EXPECT_EQ(itemProperty("ItemIsMenu"), QVariant(false));
    EXPECT_EQ(itemProperty("Menu").value<QDBusObjectPath>().path(), QString::fromLatin1(sni::kMenuPath));
    LabelRecorder recorder;
    ASSERT_TRUE(hostBus.connect(service, QString::fromLatin1(sni::kItemPath), QString::fromLatin1(sni::kItemInterface),
                                 QStringLiteral("XAyatanaNewLabel"), &recorder, SLOT(newLabel(QString, QString))));
    for (const char* t : {"$3.27", "$3.27", "$13.50"}) item->setTitle(QString::fromLatin1(t));
    // A call answered after the signals were sent: they have all arrived.
    EXPECT_EQ(itemProperty("XAyatanaLabel").toString(), QStringLiteral("$13.50"));
    ASSERT_TRUE(waitFor([&] { return recorder.labels.size() >= 2; }));
    EXPECT_EQ(recorder.labels, (QStringList{"$3.27 $0.00", "$13.50 $00.00"}));
    EXPECT_EQ(qdbus_cast<sni::ToolTip>(itemProperty("ToolTip")).text, QStringLiteral("$13.50"));
    // Icon pixels travel as ARGB in network byte order; without the logo the
    // item has no image, and hosts show the label alone.
    QImage image(2, 1, QImage::Format_ARGB32);
    image.setPixel(0, 0, qRgba(0x11, 0x22, 0x33, 0x44));
    image.setPixel(1, 0, qRgba(0xAA, 0xBB, 0xCC, 0xFF));
    item->setIcon(image);
    auto icons = qdbus_cast<sni::IconPixmaps>(itemProperty("IconPixmap"));
    ASSERT_EQ(icons.size(), 1);
    EXPECT_EQ(QSize(icons[0].width, icons[0].height), QSize(2, 1));
    EXPECT_EQ(icons[0].bytes, QByteArray::fromHex("44112233FFAABBCC"));
    item->setIcon(QImage());
    EXPECT_TRUE(qdbus_cast<sni::IconPixmaps>(itemProperty("IconPixmap")).isEmpty());
    // A panel restart: its watcher leaves the bus and comes back, knowing
    // nothing of the items it had; the item registers again.
    watcherBus.unregisterService(QString::fromLatin1(sni::kWatcherService));
    watcher.registered.clear();
    ASSERT_TRUE(watcherBus.registerService(QString::fromLatin1(sni::kWatcherService)));
    ASSERT_TRUE(waitFor([&] { return watcher.registered == QStringList{service}; }));
}

TEST_F(SniItemTest, ActivateOpensThePanelAtTheClickAndTheMenuSignalsItsTwoCommands) {
    SniStatusItem item(itemBus);
    std::optional<QRect> anchor;
    QStringList got;
    QObject::connect(&item, &StatusItem::activated, [&](QRect r) { anchor = r; });
    QObject::connect(&item, &StatusItem::openRequested, [&] { got << "open"; });
    QObject::connect(&item, &StatusItem::quitRequested, [&] { got << "quit"; });
    service = item.serviceName();
    EXPECT_EQ(call(sni::kItemPath, sni::kItemInterface, "Activate", {640, 12}).type(), QDBusMessage::ReplyMessage);
    ASSERT_TRUE(waitFor([&] { return anchor.has_value(); }));
    EXPECT_TRUE(anchor->contains(QPoint(640, 12)));
    QDBusMessage reply = call(sni::kMenuPath, sni::kMenuInterface, "GetLayout", {0, -1, QStringList()});
    ASSERT_GE(reply.arguments().size(), 2);
    QStringList labels;
    QList<int> ids;
    for (const QVariant& child : qdbus_cast<sni::MenuLayout>(reply.arguments().at(1)).children) {
        auto leaf = child.value<sni::MenuLayout>();
        labels << leaf.properties.value(QStringLiteral("label")).toString();
        ids << leaf.id;
    }
    ASSERT_EQ(labels, (QStringList{"Open Vorel", "Quit"}));
    EXPECT_EQ(menuEvent(ids[0], "clicked").type(), QDBusMessage::ReplyMessage);
    menuEvent(ids[1], "clicked");
    // Hovering is an event too, but not a command.
    menuEvent(ids[1], "hovered");
    vorel::test::spin(50);
    EXPECT_EQ(got, (QStringList{"open", "quit"}));
}

TEST(TrayIconItem, TooltipMenuOnlyAPlainClickAndAStandInForAMissingLogo) {
    // The title is pushed once per change, the first one even when empty.
    TrayIconStatusItem item;
    item.setTitle(QString());
    EXPECT_EQ(item.trayIcon()->toolTip(), QStringLiteral("Vorel\n"));
    item.setTitle(QStringLiteral("$3.27"));
    EXPECT_TRUE(item.trayIcon()->toolTip().contains(QStringLiteral("$3.27")));
    QStringList got;
    QObject::connect(&item, &StatusItem::openRequested, [&] { got << "open"; });
    QObject::connect(&item, &StatusItem::quitRequested, [&] { got << "quit"; });
    QObject::connect(&item, &StatusItem::activated, [&](QRect) { got << "click"; });
    EXPECT_EQ(item.trayIcon()->contextMenu(), item.contextMenu());
    for (QAction* a : item.contextMenu()->actions()) a->trigger();
    EXPECT_EQ(got, (QStringList{"open", "quit"}));
    // The second half of a double click, a right click (the menu) and a
    // middle click do not toggle the panel again.
    for (auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::Context,
                        QSystemTrayIcon::MiddleClick})
        emit item.trayIcon()->activated(reason);
    EXPECT_EQ(got.count("click"), 1);
    // Without the logo a stand-in in the tint keeps it clickable.
    item.setIcon(QImage());
    EXPECT_FALSE(item.trayIcon()->icon().isNull());
    QImage standIn = TrayIconStatusItem::fallbackIcon(22, Qt::red);
    EXPECT_EQ(standIn.pixelColor(11, 1), QColor(Qt::red));  // the top of its ring
    EXPECT_EQ(standIn.pixelColor(0, 0).alpha(), 0);
}

#include "StatusItemTest.moc"
