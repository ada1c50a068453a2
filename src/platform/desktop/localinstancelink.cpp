#include "platform/desktop/localinstancelink.h"

#include "platform/system/posixcore.h"

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

// How long a copy looks for the running one, all names together: a busy listener (its
// backlog full) is not waited on beyond it.
constexpr int kConnectMs = 500;
// Long enough for a copy that is busy with a long event (its About thunder, say).
constexpr int kAnswerMs = 8000;
// A peer that connects and says nothing is not kept waiting on.
constexpr int kPeerMs = 2000;
// Peers that have not yet said all of their request, held at once; the one waiting the
// longest goes when another comes, so that idle connections cannot use up descriptors nor
// crowd out a copy that asks.
constexpr int kMostPeers = 8;
// Names tried in turn when no private folder can be had, where another user may have taken
// one first (the abstract namespace is open to all): the first that is free or held by
// this user is this user's.
constexpr int kNames = 8;
// Out of descriptors, the server rests this long before it accepts again.
constexpr int kRestMs = 200;

// A folder only this user can enter: anyone else could plant or remove sockets there.
bool isPrivateFolder(const QByteArray& folder) {
    struct stat st;
    return folder.startsWith('/') && ::lstat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid() && (st.st_mode & 077) == 0 && (st.st_mode & S_IRWXU) == S_IRWXU;
}

// Whether a socket of this program still fits in the address there, its turn included.
bool fitsSocketNames(const QByteArray& folder) {
    constexpr qsizetype kLongestName = 48; // "/kestrix-UID-HASH-N", with room to spare
    return folder.size() + kLongestName < qsizetype(sizeof(sockaddr_un::sun_path));
}

// `name` in `parent`, made private to this user when it is not there yet. Empty when
// another user holds that name (in a folder such as /tmp, anyone can take it first).
QByteArray ownFolderIn(const QByteArray& parent, const QByteArray& name) {
    const QByteArray folder = parent + '/' + name;
    if (!fitsSocketNames(folder))
        return {};
    if (::mkdir(folder.constData(), 0700) == 0)
        ::chmod(folder.constData(), 0700); // whatever the umask took away
    return isPrivateFolder(folder) ? folder : QByteArray();
}

// Where copies meet: the runtime folder when it is private to the user, otherwise one
// of this user's own; empty only when none can be had at all.
QByteArray socketFolder(const QByteArray& runtime) {
    const QByteArray user = QByteArray::number(::geteuid());
    for (const QByteArray& folder : {runtime, "/run/user/" + user}) {
        if (isPrivateFolder(folder) && fitsSocketNames(folder))
            return folder;
    }
    if (QByteArray own = ownFolderIn("/tmp", "kestrix-" + user); !own.isEmpty())
        return own;
    // Taken by another user in /tmp: the home folder is the user's alone. A home shared
    // by several machines holds one folder for each.
    QByteArray cache = qgetenv("XDG_CACHE_HOME");
    if (!cache.startsWith('/'))
        cache = qgetenv("HOME") + "/.cache";
    if (!cache.startsWith('/'))
        return {};
    ::mkdir(cache.constData(), 0700);
    struct stat st;
    char host[256] = {};
    if (::stat(cache.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & 022) != 0 || ::gethostname(host, sizeof host - 1) != 0)
        return {};
    return ownFolderIn(cache, "kestrix-" + QByteArray(host));
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
    const int ready =
        retryOnInterrupt([&] { return ::poll(&entry, 1, int(deadline.remainingTime())); });
    return ready > 0 && (entry.revents & events);
}

enum class Holder { Nobody, ThisUser, Other };

// Who listens at `at`; when it is this user, `fd` is a connection to that copy. A busy
// copy is waited for until `deadline`, which all the names tried share.
Holder connectTo(const QByteArray& at, int& fd, const QDeadlineTimer& deadline) {
    fd = -1;
    sockaddr_un address;
    socklen_t length;
    if (!toSocketAddress(at, address, length))
        return Holder::Nobody;
    while (true) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return Holder::Nobody;
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 ||
            (errno == EINPROGRESS && waitFor(fd, POLLOUT, deadline))) {
            if (peerIsThisUser(fd))
                return Holder::ThisUser;
            break;
        }
        const int error = errno;
        ::close(fd);
        fd = -1;
        if (error == ECONNREFUSED || error == ENOENT)
            return Holder::Nobody;
        // A listener with a full backlog refuses at once: it is there, and busy.
        if (error != EAGAIN || deadline.hasExpired())
            return Holder::Other;
        ::poll(nullptr, 0, 10);
    }
    ::close(fd);
    fd = -1;
    return Holder::Other;
}

} // namespace

LocalInstanceLink::LocalInstanceLink(QString folder, QObject* parent) : InstanceLink(parent) {
    folder_ =
        socketFolder(folder.isEmpty() ? qgetenv("XDG_RUNTIME_DIR") : QFile::encodeName(folder));
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

namespace {
// The display the window would show on. A copy on another one (the same user's second
// session) is not this one's to bring forward: its window cannot be seen from here.
QByteArray displayName() {
    QByteArray x11 = qgetenv("DISPLAY");
    // ":0" and ":0.0" are one display; the screen number does not matter.
    if (const qsizetype dot = x11.lastIndexOf('.'); dot > x11.lastIndexOf(':'))
        x11.truncate(dot);
    return qgetenv("WAYLAND_DISPLAY") + '|' + x11;
}
} // namespace

QByteArray LocalInstanceLink::address(const QString& title, int turn) const {
    const QByteArray titleHash =
        QCryptographicHash::hash(title.toUtf8() + '\0' + displayName(), QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    QByteArray name = "kestrix-" + QByteArray::number(::geteuid()) + '-' + titleHash;
    if (turn > 0)
        name += '-' + QByteArray::number(turn);
    return folder_.isEmpty() ? '\0' + name : folder_ + '/' + name;
}

QString LocalInstanceLink::serverName(const QString& title) const {
    const QByteArray at = address(title);
    return at.startsWith('\0') ? u'@' + QString::fromUtf8(at.mid(1)) : QFile::decodeName(at);
}

int LocalInstanceLink::connectToOwn(const QString& title, QByteArray& freeName) const {
    freeName.clear();
    const QDeadlineTimer deadline(kConnectMs);
    for (int turn = 0; turn < kNames; ++turn) {
        const QByteArray at = address(title, turn);
        int fd;
        switch (connectTo(at, fd, deadline)) {
        case Holder::ThisUser:
            return fd;
        case Holder::Nobody:
            // Names are taken in turn, so this user's copy is never past a free one.
            freeName = at;
            return -1;
        case Holder::Other:
            break;
        }
        // In a folder of this user's own nobody else can hold the name: no need to go on.
        if (!at.startsWith('\0'))
            break;
    }
    return -1;
}

bool LocalInstanceLink::PrevInstance() {
    const QString title = applicationTitle();
    const QByteArray first = address(title, 0);
    // Two copies started together must not both decide that they are the first. The
    // abstract namespace needs no lock: only one of them can take the name.
    std::unique_ptr<QLockFile> startLock;
    if (!first.startsWith('\0')) {
        startLock = std::make_unique<QLockFile>(QFile::decodeName(first + ".lock"));
        startLock->tryLock(kConnectMs * 2);
    }
    QByteArray freeName;
    if (const int fd = connectToOwn(title, freeName); fd >= 0) {
        ::close(fd);
        return true;
    }
    listen(freeName.isEmpty() ? first : freeName);
    return false;
}

bool LocalInstanceLink::AppActivate(const QString& title) {
    QByteArray freeName;
    const int fd = connectToOwn(title, freeName);
    if (fd < 0) {
        listen(freeName.isEmpty() ? address(title, 0)
                                  : freeName); // gone meanwhile: this copy takes its place
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
               ::listen(fd, SOMAXCONN) == 0;
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
        if (!peerIsThisUser(fd))
            ::close(fd);
        else
            serve(fd);
    }
}

void LocalInstanceLink::serve(int fd) {
    // A copy sends its request as it connects: answered here and now, it is never crowded
    // out by the connections accepted after it.
    char head[64];
    const ssize_t n = ::recv(fd, head, sizeof head, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) ||
        (n > 0 && !kComeForward.startsWith(
                      QByteArray::fromRawData(head, int(qMin<ssize_t>(n, kComeForward.size())))))) {
        ::close(fd); // gone already, or not the request
        return;
    }
    if (n == kComeForward.size()) {
        ::recv(fd, head, sizeof head, MSG_DONTWAIT);
        emit comeForwardRequested();
        ::send(fd, kDone.constData(), std::size_t(kDone.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        ::close(fd);
        return;
    }
    auto* peer = new QLocalSocket(this);
    if (!peer->setSocketDescriptor(fd)) {
        ::close(fd);
        delete peer;
        return;
    }
    peers_.removeIf([](const QPointer<QLocalSocket>& gone) { return !gone; });
    while (peers_.size() >= kMostPeers) {
        QLocalSocket* oldest = peers_.takeFirst();
        oldest->abort();
        oldest->deleteLater();
    }
    peers_.append(peer);
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
