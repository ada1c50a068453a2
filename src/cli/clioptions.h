#pragma once

#include <QString>
#include <QStringList>

// What the command line asked for.
struct CliOptions {
    enum class Action { List, Help, Version, UsageError };
    Action action = Action::List;
    bool withSubs = false;
    QString headerText;
    QString outputFile; // empty: standard output
    QString folder;
    QString error; // with UsageError
    QString helpText;
};

// `arguments` includes the program name first, as QCoreApplication::arguments() gives it.
CliOptions parseCliOptions(const QStringList& arguments);
