#include "SingleInstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>
#include <unistd.h>

namespace vorel::platform {

namespace {

const QByteArray kShow = QByteArrayLiteral("show\n");
constexpr int kConnectTimeoutMs = 2000;

}  // namespace

SingleInstance::SingleInstance(QString name, QObject* parent) : QObject(parent), name_(std::move(name)) {}

SingleInstance::~SingleInstance() {
    if (server_) server_->close();
}

QString SingleInstance::defaultName() { return QStringLiteral("vorel-%1").arg(::getuid()); }

QString SingleInstance::lockPath() const { return QDir::temp().filePath(name_ + QStringLiteral(".lock")); }

bool SingleInstance::claim() {
    if (primary_) return true;
    lock_ = std::make_unique<QLockFile>(lockPath());
    // The lock lives as long as the process: never stale by age, only when
    // the process that wrote it is gone.
    lock_->setStaleLockTime(0);
    if (!lock_->tryLock(0)) {
        lock_.reset();
        askRunningInstance();
        return false;
    }
    // Holding the lock, whatever socket is left under the name belongs to
    // an instance that has died.
    primary_ = true;
    QLocalServer::removeServer(name_);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // Should listening fail, later launches cannot reach this process, but
    // it holds the lock and stays the instance.
    server_->listen(name_);
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* s = server_->nextPendingConnection()) {
            connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            auto read = [this, s] {
                if (!s->canReadLine()) return;
                if (s->readLine() == kShow) emit showRequested();
                s->disconnectFromServer();
            };
            connect(s, &QLocalSocket::readyRead, this, read);
            read();
        }
    });
    return true;
}

bool SingleInstance::askRunningInstance() {
    // The running instance may have just taken the lock and not be
    // listening yet: try again for a moment.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < kConnectTimeoutMs) {
        QLocalSocket socket;
        socket.connectToServer(name_);
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
