#include "platform/Appearance.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QEvent>
#include <QPalette>

namespace vorel::platform {

namespace {

constexpr const char* kPortalService = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kSettings = "org.freedesktop.portal.Settings";

// The portal wraps the value in one or two variants depending on its version.
std::optional<int> unwrapScheme(QVariant v) {
    for (int i = 0; i < 3 && v.canConvert<QDBusVariant>(); ++i) v = v.value<QDBusVariant>().variant();
    bool ok = false;
    int scheme = v.toInt(&ok);
    if (!ok) return std::nullopt;
    return scheme;
}

}  // namespace

Appearance& Appearance::shared() {
    static Appearance* instance = new Appearance;
    return *instance;
}

Appearance::Appearance() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kSettings, "Read");
        call << QString("org.freedesktop.appearance") << QString("color-scheme");
        QDBusMessage reply = bus.call(call, QDBus::Block, 500);
        if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
            portalScheme_ = unwrapScheme(reply.arguments().first());
        }
        bus.connect(kPortalService, kPortalPath, kSettings, "SettingChanged", this,
                    SLOT(portalSettingChanged(QString, QString, QDBusVariant)));
    }
    desktopPaletteDark_ = QApplication::palette().color(QPalette::Window).lightness() < 128;
    if (qApp) qApp->installEventFilter(this);
    resolve();
}

void Appearance::setOverride(std::optional<bool> dark) {
    override_ = dark;
    resolve();
}

void Appearance::portalSettingChanged(const QString& group, const QString& key, const QDBusVariant& value) {
    if (group != "org.freedesktop.appearance" || key != "color-scheme") return;
    portalScheme_ = unwrapScheme(QVariant::fromValue(value));
    resolve();
}

void Appearance::setApplicationPalette(const QPalette& palette) {
    settingPalette_ = true;
    QApplication::setPalette(palette);
    settingPalette_ = false;
}

bool Appearance::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange && !settingPalette_) {
        desktopPaletteDark_ = QApplication::palette().color(QPalette::Window).lightness() < 128;
        resolve();
    }
    return QObject::eventFilter(watched, event);
}

void Appearance::resolve() {
    bool dark;
    if (override_) {
        dark = *override_;
    } else if (portalScheme_ && *portalScheme_ == 1) {
        dark = true;
    } else if (portalScheme_ && *portalScheme_ == 2) {
        dark = false;
    } else {
        dark = desktopPaletteDark_;
    }
    if (dark != dark_) {
        dark_ = dark;
        emit changed();
    }
}

}  // namespace vorel::platform
