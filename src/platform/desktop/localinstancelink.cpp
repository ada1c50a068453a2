#include "platform/desktop/localinstancelink.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFile>
#include <QLocalSocket>
#include <QLockFile>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
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
// Peers heard at once; more are turned away, so that a burst cannot use up descriptors.
constexpr int kMostPeers = 8;
// Out of descriptors, the server rests this long before it accepts again.
constexpr int kRestMs = 200;

// A folder only this user can enter: anyone else could plant or remove sockets there.
bool isPrivateFolder(const QByteArray& folder) {
    struct stat st;
    return folder.startsWith('/') && ::lstat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

bool toSocketAddress(const QByteArray& at, sockaddr_un& address, socklen_t& length) {
    address = {};
    address.sun_family = AF_UNIX;
    if (at.isEmpty() || std::size_t(at.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, at.constData(), std::size_t(at.size()));
    // Abstract names count their bytes; paths end at their NUL.
    length = socklen_t(offsetof(sockaddr_un, sun_path) + at.size() + (at.startsWith('\0') ? 0 : 1));
    return true;
}

// Whether the other end of a connection runs as this user.
bool peerIsThisUser(int fd) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::geteuid();
}

bool waitFor(int fd, short events, const QDeadlineTimer& deadline) {
    pollfd entry{fd, events, 0};
    int ready;
    do
        ready = ::poll(&entry, 1, int(deadline.remainingTime()));
    while (ready < 0 && errno == EINTR);
    return ready > 0 && (entry.revents & events);
}

// A connection to the copy of this user that listens at `at`; -1 when there is none.
int connectTo(const QByteArray& at) {
    sockaddr_un address;
    socklen_t length;
    if (!toSocketAddress(at, address, length))
        return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    // A listener with a full backlog makes connect fail at once rather than wait.
    if ((::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 ||
         (errno == EINPROGRESS && waitFor(fd, POLLOUT, QDeadlineTimer(kConnectMs)))) &&
        peerIsThisUser(fd))
        return fd;
    ::close(fd);
    return -1;
}

} // namespace

LocalInstanceLink::LocalInstanceLink(QString folder, QObject* parent) : InstanceLink(parent) {
    folder_ = folder.isEmpty() ? qgetenv("XDG_RUNTIME_DIR") : QFile::encodeName(folder);
    if (!isPrivateFolder(folder_))
        folder_.clear();
}

LocalInstanceLink::~LocalInstanceLink() {
    // Gone from the folder before it stops answering, so that no copy takes it for stale
    // and puts its own there first.
    if (!socketPath_.isEmpty())
        ::unlink(socketPath_.constData());
    if (listener_ >= 0)
        ::close(listener_);
    if (spare_ >= 0)
        ::close(spare_);
}

namespace {
QString& titleOverride() {
    static QString title;
    return title;
}
} // namespace

QString applicationTitle() {
    return titleOverride().isNull() ? QCoreApplication::applicationName() : titleOverride();
}

void setApplicationTitle(const QString& title) {
    titleOverride() = title;
}

QByteArray LocalInstanceLink::address(const QString& title) const {
    const QByteArray titleHash =
        QCryptographicHash::hash(title.toUtf8(), QCryptographicHash::Sha1).toHex().left(16);
    const QByteArray name = "kestrix-" + QByteArray::number(::geteuid()) + '-' + titleHash;
    const QByteArray path = folder_ + '/' + name;
    // A runtime folder too deep for a socket path leaves only the abstract namespace.
    if (!folder_.isEmpty() && std::size_t(path.size()) < sizeof(sockaddr_un::sun_path))
        return path;
    return '\0' + name;
}

QString LocalInstanceLink::serverName(const QString& title) const {
    const QByteArray at = address(title);
    return at.startsWith('\0') ? u'@' + QString::fromUtf8(at.mid(1)) : QFile::decodeName(at);
}

bool LocalInstanceLink::PrevInstance() {
    const QByteArray at = address(applicationTitle());
    // Two copies started together must not both decide that they are the first. The
    // abstract namespace needs no lock: only one of them can take the name.
    std::unique_ptr<QLockFile> startLock;
    if (!at.startsWith('\0')) {
        startLock = std::make_unique<QLockFile>(QFile::decodeName(at + ".lock"));
        startLock->tryLock(kConnectMs * 2);
    }
    if (const int fd = connectTo(at); fd >= 0) {
        ::close(fd);
        return true;
    }
    listen(at);
    return false;
}

bool LocalInstanceLink::AppActivate(const QString& title) {
    const QByteArray at = address(title);
    const int fd = connectTo(at);
    if (fd < 0) {
        listen(at); // gone meanwhile: this copy takes its place
        return false;
    }
    const auto closing = qScopeGuard([fd] { ::close(fd); });
    const QDeadlineTimer sending(kConnectMs);
    for (qsizetype sent = 0; sent < kComeForward.size();) {
        const ssize_t n = ::send(fd, kComeForward.constData() + sent,
                                 std::size_t(kComeForward.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && (errno != EAGAIN || !waitFor(fd, POLLOUT, sending)))
            return false;
        sent += n > 0 ? n : 0;
    }
    // The other copy answers once its window is forward, as keystrokes sent with
    // waiting would return only once handled.
    const QDeadlineTimer answering(kAnswerMs);
    QByteArray answer;
    while (answer.size() < kDone.size() && waitFor(fd, POLLIN, answering)) {
        char buffer[16];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0 && !(n < 0 && errno == EAGAIN))
            break;
        answer.append(buffer, n > 0 ? n : 0);
    }
    return answer == kDone;
}

void LocalInstanceLink::listen(const QByteArray& at) {
    sockaddr_un address;
    socklen_t length;
    if (listener_ >= 0 || !toSocketAddress(at, address, length))
        return;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    auto bindAndListen = [&] {
        return ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
               ::listen(fd, 16) == 0;
    };
    bool listening = bindAndListen();
    // Left behind by a copy that crashed: nobody answers on it any more. (A name in the
    // abstract namespace goes with its process, and one held by another user stays his.)
    if (!listening && errno == EADDRINUSE && !at.startsWith('\0')) {
        const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const bool stale = probe >= 0 &&
                           ::connect(probe, reinterpret_cast<sockaddr*>(&address), length) != 0 &&
                           errno == ECONNREFUSED;
        if (probe >= 0)
            ::close(probe);
        if (stale) {
            ::unlink(at.constData());
            listening = bindAndListen();
        }
    }
    if (!listening) {
        ::close(fd); // this copy runs on unfound
        return;
    }
    listener_ = fd;
    if (!at.startsWith('\0'))
        socketPath_ = at;
    spare_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    incoming_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(incoming_, &QSocketNotifier::activated, this, &LocalInstanceLink::acceptPending);
}

void LocalInstanceLink::acceptPending() {
    while (true) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE) {
                // Out of descriptors: the spare one lets the waiting connection be taken
                // and dropped, or it would be announced again and again.
                if (spare_ >= 0) {
                    ::close(spare_);
                    const int dropped = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
                    if (dropped >= 0)
                        ::close(dropped);
                    spare_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
                    if (dropped >= 0)
                        continue;
                    return; // none was waiting: a full table fails even then
                }
                spare_ = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
            }
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // The connection waits in the backlog; the server keeps listening.
                incoming_->setEnabled(false);
                QTimer::singleShot(kRestMs, incoming_, [this] { incoming_->setEnabled(true); });
                return;
            }
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return;
            continue; // that one connection went wrong
        }
        if (peersServed_ >= kMostPeers || !peerIsThisUser(fd))
            ::close(fd);
        else
            serve(fd);
    }
}

void LocalInstanceLink::serve(int fd) {
    auto* peer = new QLocalSocket(this);
    if (!peer->setSocketDescriptor(fd)) {
        ::close(fd);
        delete peer;
        return;
    }
    ++peersServed_;
    connect(peer, &QObject::destroyed, this, [this] { --peersServed_; });
    connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
    QTimer::singleShot(kPeerMs, peer, [peer] {
        peer->abort();
        peer->deleteLater();
    });
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
