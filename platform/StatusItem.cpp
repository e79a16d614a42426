#include "platform/StatusItem.h"

#include <QApplication>
#include <QFile>
#include <QPainter>
#include <QPalette>
#include <QSvgRenderer>
#include <QSystemTrayIcon>

#include "platform/Appearance.h"
#include "platform/SniStatusItem.h"
#include "platform/TrayIconStatusItem.h"

namespace vorel::platform {

StatusItem* StatusItem::create(QObject* parent) { return create(QDBusConnection::sessionBus(), parent); }

StatusItem* StatusItem::create(const QDBusConnection& bus, QObject* parent) {
    if (SniStatusItem::watcherPresent(bus)) {
        auto* item = new SniStatusItem(bus, parent);
        if (item->isExported()) return item;
        delete item;
    }
    if (QSystemTrayIcon::isSystemTrayAvailable()) return new TrayIconStatusItem(parent);
    return nullptr;
}

QImage StatusItem::logo(int size, const QColor& tint, const QString& path) {
    if (!QFile::exists(path)) return {};
    QSvgRenderer svg(path);
    if (!svg.isValid()) return {};
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    svg.render(&p);
    // A template image: only its shape counts, drawn in the tray's text colour.
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(img.rect(), tint);
    return img;
}

QColor StatusItem::panelTextColor() {
    QColor text = QApplication::palette().color(QPalette::WindowText);
    const bool dark = Appearance::shared().isDark();
    const bool lightText = text.lightness() >= 128;
    // A dark desktop has light text on its panels and the other way round;
    // a palette that says otherwise has not followed the desktop's choice.
    if (dark != lightText) text = dark ? QColor(Qt::white) : QColor(Qt::black);
    return text;
}

void StatusItem::setTitle(const QString& title) {
    if (titleShown_ && title == title_) return;
    title_ = title;
    titleShown_ = true;
    pushTitle(title);
}

}  // namespace vorel::platform
