#pragma once

#include <QObject>
#include <QString>

// How copies of the program find each other. The first copy to start under a title is
// the one later copies find; a later copy asks it to come forward, then ends.
class InstanceLink : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Whether another copy of this user already runs under the application title. When
    // none does, this copy becomes the one that later copies find.
    virtual bool PrevInstance() = 0;
    // Asks the copy running under `title` to restore, raise and activate its window, and
    // waits a short while until it has. False when no such copy answered in time: this
    // copy then has to start after all.
    virtual bool AppActivate(const QString& title) = 0;

signals:
    // A later copy asked this one to come forward.
    void comeForwardRequested();
};

// The application title, by which copies find each other: the application name until
// set. Kept apart from Qt's display name, which Qt appends to every window's title.
QString applicationTitle();
void setApplicationTitle(const QString& title);
