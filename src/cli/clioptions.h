#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// What the command line asked for. Paths stay the bytes the system gave: a name that is
// not valid text must still reach its file.
struct CliOptions {
    enum class Action { List, Help, Version, UsageError };
    Action action = Action::List;
    bool withSubs = false;
    int threads = 0; // scanning threads; 0: as many as the file system's waiting needs
    QString headerText;
    QByteArray outputFile; // empty: standard output
    QByteArray folder;
    QString error; // with UsageError
    QString helpText;
};

// `arguments` includes the program name first, as main() gets them.
CliOptions parseCliOptions(const QList<QByteArray>& arguments);
