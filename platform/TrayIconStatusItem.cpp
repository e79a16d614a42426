#include "platform/TrayIconStatusItem.h"

#include <QFont>
#include <QMenu>
#include <QPainter>
#include <QSystemTrayIcon>

namespace vorel::platform {

TrayIconStatusItem::TrayIconStatusItem(QObject* parent)
    : StatusItem(parent), tray_(new QSystemTrayIcon(this)), menu_(new QMenu) {
    menu_->addAction(QStringLiteral("Open Vorel"), this, &StatusItem::openRequested);
    menu_->addAction(QStringLiteral("Quit"), this, &StatusItem::quitRequested);
    tray_->setContextMenu(menu_);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        // A double click also starts with a Trigger; the second click is not
        // a new request, so the panel is toggled once.
        if (reason == QSystemTrayIcon::Trigger) emit activated(tray_->geometry());
    });
}

TrayIconStatusItem::~TrayIconStatusItem() {
    tray_->setContextMenu(nullptr);
    delete menu_;
}

void TrayIconStatusItem::setIcon(const QImage& icon) {
    QImage shown = icon.isNull() ? fallbackIcon(iconSize(), panelTextColor()) : icon;
    tray_->setIcon(QIcon(QPixmap::fromImage(shown)));
    if (!tray_->isVisible()) tray_->show();
}

QImage TrayIconStatusItem::fallbackIcon(int size, const QColor& tint) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal pen = std::max<qreal>(1.0, size / 14.0);
    p.setPen(QPen(tint, pen));
    p.drawEllipse(QRectF(pen, pen, size - 2 * pen, size - 2 * pen));
    QFont f;
    f.setPixelSize(std::max(1, size * 11 / 18));
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRect(0, 0, size, size), Qt::AlignCenter, QStringLiteral("$"));
    return img;
}

void TrayIconStatusItem::pushTitle(const QString& title) {
    tray_->setToolTip(QStringLiteral("Vorel\n") + title);
}

}  // namespace vorel::platform
