#pragma once
// One running instance per user: two processes would overwrite each other's
// metadata file. The first process holds a lock file and listens on a local
// socket; a later one finds the lock held, asks the running one over the
// socket to show its main window, and leaves. The lock of a process that
// crashed is found stale and taken over, and its socket file replaced.

#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;
class QLockFile;

namespace vorel::platform {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    // `name` names the socket and the lock; the default is per user.
    explicit SingleInstance(QString name = defaultName(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // "vorel-" and the user id.
    static QString defaultName();

    // True when this process is now the one instance; false when another
    // one runs (it has been asked to show its window).
    bool claim();

    bool isPrimary() const { return primary_; }
    QString lockPath() const;

signals:
    // Another launch asked this instance to show its main window.
    void showRequested();

private:
    bool askRunningInstance();

    QString name_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
    bool primary_ = false;
};

}  // namespace vorel::platform
