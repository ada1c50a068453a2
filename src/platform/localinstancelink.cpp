#include "platform/localinstancelink.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QGuiApplication>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>

#include <unistd.h>

#include <memory>

namespace {

// The one request a copy answers, and its answer once the window is forward.
const QByteArray kComeForward = QByteArrayLiteral("come forward\n");
const QByteArray kDone = QByteArrayLiteral("done\n");

constexpr int kConnectMs = 1000;
// Long enough for a copy that is busy with a long event (its About thunder, say).
constexpr int kAnswerMs = 8000;
// A peer that connects and says nothing is not kept waiting on.
constexpr int kPeerMs = 2000;

} // namespace

LocalInstanceLink::LocalInstanceLink(QString folder, QObject* parent)
    : InstanceLink(parent), folder_(std::move(folder)) {
    if (folder_.isEmpty())
        folder_ = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = server_.nextPendingConnection())
            serve(peer);
    });
}

QString LocalInstanceLink::serverName(const QString& title) const {
    const QByteArray titleHash =
        QCryptographicHash::hash(title.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    return QDir(folder_).filePath(QStringLiteral("%1-%2-%3")
                                      .arg(QCoreApplication::applicationName().toLower())
                                      .arg(::getuid())
                                      .arg(QString::fromLatin1(titleHash)));
}

bool LocalInstanceLink::PrevInstance() {
    const QString name = serverName(QGuiApplication::applicationDisplayName());
    // Two copies started together must not both decide that they are the first.
    QLockFile startLock(name + QStringLiteral(".lock"));
    startLock.tryLock(kConnectMs * 2);

    QLocalSocket probe;
    probe.connectToServer(name);
    if (probe.waitForConnected(kConnectMs)) {
        probe.disconnectFromServer();
        return true;
    }
    if (!server_.listen(name)) {
        // Left behind by a copy that crashed: nobody answers on it any more.
        QLocalServer::removeServer(name);
        server_.listen(name);
    }
    return false;
}

void LocalInstanceLink::AppActivate(const QString& title) {
    QLocalSocket peer;
    peer.connectToServer(serverName(title));
    if (!peer.waitForConnected(kConnectMs))
        return;
    peer.write(kComeForward);
    if (!peer.waitForBytesWritten(kConnectMs))
        return;
    // The other copy answers once its window is forward, as keystrokes sent with
    // waiting would return only once handled.
    peer.waitForReadyRead(kAnswerMs);
}

void LocalInstanceLink::serve(QLocalSocket* peer) {
    connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
    QTimer::singleShot(kPeerMs, peer, [peer] { peer->abort(); });
    auto received = std::make_shared<QByteArray>();
    connect(peer, &QLocalSocket::readyRead, peer, [this, peer, received] {
        received->append(peer->read(kComeForward.size() + 1 - received->size()));
        // Anything but the one request, byte for byte, is dropped unheard.
        if (received->size() > kComeForward.size() || !kComeForward.startsWith(*received)) {
            peer->abort();
            return;
        }
        if (*received != kComeForward)
            return;
        emit comeForwardRequested();
        peer->write(kDone);
        peer->flush();
        peer->disconnectFromServer();
    });
}
