#include "cli/clioptions.h"

#include <gtest/gtest.h>

namespace {

using Action = CliOptions::Action;

CliOptions parse(QStringList arguments) {
    arguments.prepend(QStringLiteral("kestrix-list"));
    return parseCliOptions(arguments);
}

TEST(CliOptions, ReadsTheListRequest) {
    struct Case {
        QStringList arguments;
        bool withSubs;
        QString header;
        QString output;
        QString folder;
    };
    const Case cases[] = {
        {{"/srv"}, false, {}, {}, "/srv"},
        {{"--with-subs", "/srv"}, true, {}, {}, "/srv"},
        {{"--header", "Backup set 3", "-o", "list.txt", "dir"},
         false,
         "Backup set 3",
         "list.txt",
         "dir"},
        {{"--output=out.txt", "--with-subs", "--header=", "dir"}, true, "", "out.txt", "dir"},
        {{"--", "-odd-name"}, false, {}, {}, "-odd-name"},
    };
    for (const Case& c : cases) {
        const CliOptions options = parse(c.arguments);
        ASSERT_EQ(options.action, Action::List) << c.arguments.join(u' ').toStdString();
        EXPECT_EQ(options.withSubs, c.withSubs);
        EXPECT_EQ(options.headerText, c.header);
        EXPECT_EQ(options.outputFile, c.output);
        EXPECT_EQ(options.folder, c.folder);
    }
}

TEST(CliOptions, TellsUsageErrorsHelpAndVersion) {
    struct Case {
        QStringList arguments;
        Action action;
    };
    const Case cases[] = {
        {{}, Action::UsageError},
        {{"a", "b"}, Action::UsageError},
        {{"--bogus", "dir"}, Action::UsageError},
        {{"-o"}, Action::UsageError},
        {{"-o", "", "dir"}, Action::UsageError},
        {{"-o", "a", "-o", "b", "dir"}, Action::UsageError},
        {{"--help"}, Action::Help},
        {{"-h", "dir"}, Action::Help},
        {{"--version"}, Action::Version},
    };
    for (const Case& c : cases) {
        const CliOptions options = parse(c.arguments);
        EXPECT_EQ(options.action, c.action) << c.arguments.join(u' ').toStdString();
        if (c.action == Action::UsageError) {
            EXPECT_FALSE(options.error.isEmpty());
        }
        EXPECT_TRUE(options.helpText.contains(QStringLiteral("--with-subs")));
    }
}

} // namespace
