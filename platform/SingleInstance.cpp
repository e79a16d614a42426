#include "platform/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <cerrno>
#include <cstring>

namespace vorel::platform {

namespace {

const QByteArray kShow = QByteArrayLiteral("show\n");
constexpr int kConnectTimeoutMs = 2000;

QString reason(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

// An abstract socket has no file whose mode could keep other users out:
// only a peer of our own user may ask for the window.
bool isOwnUser(const QLocalSocket* s) {
    ucred cred{};
    socklen_t size = sizeof cred;
    const auto fd = static_cast<int>(s->socketDescriptor());
    return fd >= 0 && ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0 && cred.uid == ::getuid();
}

}  // namespace

SingleInstance::SingleInstance(QString folder, QObject* parent) : QObject(parent), folder_(std::move(folder)) {}

SingleInstance::~SingleInstance() {
    if (server_) server_->close();
    if (lockFd_ >= 0) ::close(lockFd_);
}

QString SingleInstance::lockPath() const { return QDir(folder_).filePath(lockFileName()); }

QString SingleInstance::serverName() const {
    struct stat st;
    if (folder_.isEmpty() || ::stat(QFile::encodeName(folder_).constData(), &st) != 0) return {};
    return QStringLiteral("vorel-%1-%2-%3")
        .arg(::getuid())
        .arg(static_cast<qulonglong>(st.st_dev), 0, 16)
        .arg(static_cast<qulonglong>(st.st_ino), 0, 16);
}

SingleInstance::Claim SingleInstance::claim() {
    if (isPrimary()) return Claim::Primary;
    if (folder_.isEmpty()) {
        lockError_ = QStringLiteral("There is no folder for names and notes (no home folder), so none holds a lock.");
        return Claim::Unlocked;
    }
    QDir().mkpath(folder_);
    const QByteArray path = QFile::encodeName(lockPath());
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0600);
    const int openError = errno;
    // A lock file left in a folder that has since become read-only still
    // locks: flock needs no write access.
    if (fd < 0 && (openError == EACCES || openError == EROFS)) fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        lockError_ = QStringLiteral("The lock file %1 cannot be made: %2.").arg(lockPath(), reason(openError));
        return Claim::Unlocked;
    }
    giveToFolderOwner(fd);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK) {
            reached_ = askRunningInstance(serverName());
            return Claim::AnotherRuns;
        }
        lockError_ = QStringLiteral("The lock file %1 cannot be locked: %2.").arg(lockPath(), reason(err));
        return Claim::Unlocked;
    }
    lockFd_ = fd;
    listen(serverName());
    return Claim::Primary;
}

// A lock file of this process's in a folder of another user's (made, or
// left, by a run as root in the user's folder) is given to the folder's
// owner: the user's own later runs could not open it, and would run
// without the lock. Only a process that may give files away can.
void SingleInstance::giveToFolderOwner(int fd) const {
    struct stat file;
    struct stat dir;
    if (::fstat(fd, &file) != 0 || file.st_uid != ::geteuid()) return;
    if (::stat(QFile::encodeName(folder_).constData(), &dir) != 0 || dir.st_uid == file.st_uid) return;
    if (::fchown(fd, dir.st_uid, dir.st_gid) != 0) {
        // Stays the process's.
    }
}

// Should listening fail, later launches cannot reach this process, but it
// holds the lock and stays the instance.
void SingleInstance::listen(const QString& name) {
    if (name.isEmpty()) return;
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::AbstractNamespaceOption);
    server_->listen(name);
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* s = server_->nextPendingConnection()) {
            connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            if (!isOwnUser(s)) {
                s->abort();
                continue;
            }
            auto read = [this, s] {
                if (!s->canReadLine()) return;
                if (s->readLine() == kShow) emit showRequested();
                s->disconnectFromServer();
            };
            connect(s, &QLocalSocket::readyRead, this, read);
            read();
        }
    });
}

bool SingleInstance::askRunningInstance(const QString& name) {
    if (name.isEmpty()) return false;
    // The running instance may have just taken the lock and not be
    // listening yet: try again for a moment.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < kConnectTimeoutMs) {
        QLocalSocket socket;
        socket.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
        socket.connectToServer(name);
        if (socket.waitForConnected(kConnectTimeoutMs)) {
            socket.write(kShow);
            bool sent = socket.waitForBytesWritten(kConnectTimeoutMs);
            socket.disconnectFromServer();
            return sent;
        }
        QThread::msleep(50);
    }
    return false;
}

}  // namespace vorel::platform
