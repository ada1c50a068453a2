#pragma once

#include "platform/instancelink.h"

#include <QLocalServer>

class QLocalSocket;

// Copies meet on a local socket that only the user can reach, named after the user and
// the application title, in the user's runtime folder.
class LocalInstanceLink final : public InstanceLink {
    Q_OBJECT
public:
    // `folder` holds the sockets; empty means the user's runtime folder.
    explicit LocalInstanceLink(QString folder = QString(), QObject* parent = nullptr);

    bool PrevInstance() override;
    void AppActivate(const QString& title) override;

    QString serverName(const QString& title) const;

private:
    void serve(QLocalSocket* peer);

    QString folder_;
    QLocalServer server_;
};
