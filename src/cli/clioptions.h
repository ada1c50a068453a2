#pragma once

#include "listing/filesysteminfo.h"

#include <QByteArray>
#include <QList>
#include <QString>

// What the command line asked for. Paths and patterns stay the bytes the system gave: a
// name that is not valid text must still reach its file.
struct CliOptions {
    enum class Action { List, Help, Version, UsageError };
    // The printable report, or one line per folder for scripts: size, tab, path.
    enum class Format { Report, Tsv };
    Action action = Action::List;
    bool withSubs = false;
    bool oneFileSystem = false;
    QList<QByteArray> excludePatterns;
    Format format = Format::Report;
    // Lines in the file system's order, biggest first, or by name; the tree stays a tree.
    using Order = ScanOptions::Order;
    Order order = Order::FileSystem;
    bool diskUsage = false; // each file's blocks on disk rather than its length
    bool linksOnce = false; // a file with several names counted once
    bool nullEnded = false; // Tsv lines end with NUL, and nothing in them is escaped
    int threads = 0;        // scanning threads; 0: as many as the file system's waiting needs
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

// The text of --help.
QString cliHelpText();
