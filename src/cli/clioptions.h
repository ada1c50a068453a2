#pragma once

#include "listing/filesysteminfo.h"
#include "listing/listfields.h"
#include "listing/measurement.h"

#include <QByteArray>
#include <QList>
#include <QString>

// What the command line asked for. Paths and patterns stay the bytes the system gave: a
// name that is not valid text must still reach its file.
struct CliOptions {
    enum class Action { List, Help, Version, UsageError };
    Action action = Action::List;
    bool withSubs = false;
    bool oneFileSystem = false;
    QList<QByteArray> excludePatterns;
    // The printable report, or one line per folder for scripts: size, tab, path.
    ListFormat format = ListFormat::Report;
    // Lines in the file system's order, biggest first, or by name; the tree stays a tree.
    using Order = ScanOptions::Order;
    Order order = Order::FileSystem;
    bool diskUsage = false; // each file's blocks on disk rather than its length
    bool linksOnce = false; // a file with several names counted once
    // Which of the settings that change the figures were given: a comparison takes the
    // others from the earlier list.
    struct Given {
        bool size = false, links = false, oneFileSystem = false, exclude = false;
    } given;
    int threads = 0; // scanning threads; 0: as many as the file system's waiting needs
    QString headerText;
    QByteArray outputFile; // empty: standard output
    QByteArray folder;
    // With --compare: the earlier list (null: none), and which changes are shown.
    QByteArray compareWith;
    quint64 top = 0;       // the largest growths and shrinks, as many of each; 0: all
    quint64 minChange = 0; // bytes
    QString error;         // with UsageError: one line, without the program's name
};

// `arguments` includes the program name first, as main() gets them. Options are read by
// the C library's getopt_long, with its habits: unambiguous abbreviations of long
// options, the last of a repeated option wins, "--" ends the options.
CliOptions parseCliOptions(const QList<QByteArray>& arguments);

// The settings of `options` that change the figures.
Measurement measurementOf(const CliOptions& options);

// The text of --help.
QString cliHelpText();
