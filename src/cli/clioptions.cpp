#include "cli/clioptions.h"

#include <QCommandLineParser>

CliOptions parseCliOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes a list of the folders under FOLDER and their sizes in bytes.\n"
                       "Without --with-subs, one line for each folder directly inside FOLDER;\n"
                       "with it, one line for FOLDER and for every folder below it."));
    const QCommandLineOption withSubs(QStringLiteral("with-subs"),
                                      QStringLiteral("List the whole tree below FOLDER."));
    const QCommandLineOption header(QStringLiteral("header"),
                                    QStringLiteral("The header text of the list."),
                                    QStringLiteral("TEXT"));
    const QCommandLineOption output(QStringList{QStringLiteral("o"), QStringLiteral("output")},
                                    QStringLiteral("Write the list to FILE instead of "
                                                   "standard output."),
                                    QStringLiteral("FILE"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the version and exit."));
    parser.addOptions({withSubs, header, output, help, version});
    parser.addPositionalArgument(QStringLiteral("FOLDER"), QStringLiteral("The folder to list."));

    CliOptions options;
    options.helpText = parser.helpText();
    if (!parser.parse(arguments)) {
        options.action = CliOptions::Action::UsageError;
        options.error = parser.errorText();
        return options;
    }
    if (parser.isSet(help)) {
        options.action = CliOptions::Action::Help;
        return options;
    }
    if (parser.isSet(version)) {
        options.action = CliOptions::Action::Version;
        return options;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1) {
        options.action = CliOptions::Action::UsageError;
        options.error = positional.isEmpty() ? QStringLiteral("no FOLDER given")
                                             : QStringLiteral("only one FOLDER can be listed");
        return options;
    }
    if (parser.values(output).size() > 1 || parser.values(header).size() > 1) {
        options.action = CliOptions::Action::UsageError;
        options.error = QStringLiteral("an option was given twice");
        return options;
    }
    options.withSubs = parser.isSet(withSubs);
    options.headerText = parser.value(header);
    options.outputFile = parser.value(output);
    options.folder = positional.first();
    if (parser.isSet(output) && options.outputFile.isEmpty()) {
        options.action = CliOptions::Action::UsageError;
        options.error = QStringLiteral("the output FILE is empty");
    }
    return options;
}
