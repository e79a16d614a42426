#pragma once
// One running instance per metadata folder: two processes would overwrite
// each other's metadata file. The first process holds a lock on a file in
// that folder and listens on a local socket named after the folder; a later
// one finds the lock held, asks the running one over the socket to show its
// main window, and leaves. The system drops the lock when its holder quits
// or crashes, so a lock is never stale. The socket lives in the abstract
// namespace: neither it nor the lock depends on TMPDIR or any other setting
// two launches might not share.

#include <QObject>
#include <QString>

class QLocalServer;

namespace vorel::platform {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Claim {
        Primary,      // this process holds the lock: it is the one instance
        AnotherRuns,  // another process holds it and was asked to show its window
        Unlocked,     // the lock could not be made (see lockError()): run anyway
    };

    // `folder` is the metadata folder (made when missing).
    explicit SingleInstance(QString folder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // The lock file's name in the folder.
    static QString lockFileName() { return QStringLiteral(".metadata.lock"); }

    Claim claim();

    bool isPrimary() const { return lockFd_ >= 0; }
    // After AnotherRuns: whether the running instance took the request.
    bool reachedRunningInstance() const { return reached_; }
    // After Unlocked: why, in a sentence naming the lock file.
    const QString& lockError() const { return lockError_; }
    QString lockPath() const;
    // The socket's name: the user's id and the folder's device and inode,
    // so every spelling of the folder (a link, a trailing slash) meets.
    // Empty when the folder cannot be looked at.
    QString serverName() const;

signals:
    // Another launch asked this instance to show its main window.
    void showRequested();

private:
    bool askRunningInstance(const QString& name);
    void giveToFolderOwner(int fd) const;
    void listen(const QString& name);

    QString folder_;
    int lockFd_ = -1;
    QLocalServer* server_ = nullptr;
    bool reached_ = false;
    QString lockError_;
};

}  // namespace vorel::platform
