#pragma once
// A status item that shows nothing and records what it was asked to show.

#include <QImage>
#include <QStringList>

#include "platform/StatusItem.h"

namespace vorel::test {

// No Q_OBJECT: it adds no signals or slots of its own; tests emit the item's.
class FakeStatusItem : public platform::StatusItem {
public:
    FakeStatusItem() : StatusItem(nullptr) {}
    int iconSize() const override { return 18; }
    void setIcon(const QImage& icon) override { icons_ << icon; }

    // Every title and every icon pushed to the desktop, in order.
    const QStringList& pushedTitles() const { return pushed_; }
    const QList<QImage>& pushedIcons() const { return icons_; }

protected:
    void pushTitle(const QString& title) override { pushed_ << title; }

private:
    QStringList pushed_;
    QList<QImage> icons_;
};

}  // namespace vorel::test
