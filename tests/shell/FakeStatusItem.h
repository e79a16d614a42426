#pragma once
// A status item that shows nothing and records what it was asked to show.

#include <QImage>
#include <QStringList>

#include "StatusItem.h"

namespace vorel::test {

// No Q_OBJECT: it adds no signals or slots of its own.
class FakeStatusItem : public platform::StatusItem {
public:
    explicit FakeStatusItem(QObject* parent = nullptr) : StatusItem(parent) {}

    int iconSize() const override { return 18; }
    void setIcon(const QImage& icon) override {
        icon_ = icon;
        ++iconPushes_;
    }

    // Every title pushed to the desktop, in order.
    const QStringList& pushedTitles() const { return pushed_; }
    const QImage& icon() const { return icon_; }
    int iconPushes() const { return iconPushes_; }

    void click(const QRect& anchor) { emit activated(anchor); }
    void chooseOpen() { emit openRequested(); }
    void chooseQuit() { emit quitRequested(); }

protected:
    void pushTitle(const QString& title) override { pushed_ << title; }

private:
    QStringList pushed_;
    QImage icon_;
    int iconPushes_ = 0;
};

}  // namespace vorel::test
