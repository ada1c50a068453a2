#pragma once

#include "platform/desktop/instancelink.h"

#include <QByteArray>
#include <QList>
#include <QPointer>

class QLocalSocket;
class QSocketNotifier;

// Copies meet on a local socket named after the user, the display and the application
// title, in a folder that only the user can change: the runtime folder when it is private
// to the user (or /run/user/UID), otherwise /tmp/kestrix-UID, made mode 0700 and checked
// to be the user's, or, when another user has taken that name, kestrix-HOST in the user's
// cache folder. Only with none of them (no home to write to) is the abstract socket
// namespace used, where another user may take a name first: then the next of a few names
// is tried, and the first that is free or held by this user is this user's. Either way
// each side checks that the other runs as the same user, and the running copy is looked
// for for at most half a second in all. A request is answered as soon as it is accepted,
// so that idle connections cannot keep a new copy waiting.
class LocalInstanceLink final : public InstanceLink {
    Q_OBJECT
public:
    // `folder` is the runtime folder to try first; empty means $XDG_RUNTIME_DIR.
    explicit LocalInstanceLink(QString folder = QString(), QObject* parent = nullptr);
    ~LocalInstanceLink() override;

    bool PrevInstance() override;
    bool AppActivate(const QString& title) override;

    // The socket's path, or its name in the abstract namespace after an "@".
    QString serverName(const QString& title) const;

private:
    // The address bytes after the family of the name tried at `turn`; a leading NUL marks
    // the abstract namespace.
    QByteArray address(const QString& title, int turn = 0) const;
    // A connection to this user's copy under `title`, or -1 and the first free name.
    int connectToOwn(const QString& title, QByteArray& freeName) const;
    void listen(const QByteArray& at);
    void acceptPending();
    void serve(int fd);

    QByteArray folder_;     // empty: the abstract namespace
    QByteArray socketPath_; // the socket this copy listens on, removed when it ends
    int listener_ = -1;
    int spare_ = -1; // a descriptor kept back for a connection that comes when none is left
    QSocketNotifier* incoming_ = nullptr;
    QList<QPointer<QLocalSocket>> peers_; // heard, oldest first
};
