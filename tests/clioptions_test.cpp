#include "cli/clioptions.h"

#include <gtest/gtest.h>

namespace {

using Action = CliOptions::Action;
using Format = ListFormat;

CliOptions parse(const QList<QByteArray>& arguments) {
    return parseCliOptions(QList<QByteArray>{"kestrix-list"} + arguments);
}

QString joined(const QList<QByteArray>& arguments) {
    return QString::fromUtf8(arguments.join(' '));
}

TEST(CliOptions, ReadsTheListRequest) {
    struct Case {
        QList<QByteArray> arguments;
        bool withSubs = false;
        QString header = {};
        QByteArray output = {};
        QByteArray folder = {};
        bool oneFileSystem = false;
        QList<QByteArray> excluded = {};
        Format format = Format::Report;
        int threads = 0;
        CliOptions::Order order = CliOptions::Order::FileSystem;
        bool diskUsage = false;
        bool linksOnce = false;
        QByteArray compareWith = {};
        quint64 top = 0;
        quint64 minChange = 0;
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
        {{"-"}, false, {}, {}, "-"},
        // Paths that are not valid UTF-8 come through as the very bytes given.
        {{"-o", "l\xe9st.txt", "f\xff\xfe"}, false, {}, "l\xe9st.txt", "f\xff\xfe"},
        {{"--output=\xc0x", "--header", "\xff", "d"}, false, "\ufffd", "\xc0x", "d"},
        {{"-o\x80", "--", "--with-subs"}, false, {}, "\x80", "--with-subs"},
        // Abbreviations, and the last of a repeated option wins.
        {{"--with", "--out=a", "-o", "b", "--head=1", "--header", "2", "d"}, true, "2", "b", "d"},
        {{"d", "-x", "--exclude=*.b\xe4k", "--exclude", "cache"},
         false,
         {},
         {},
         "d",
         true,
         {"*.b\xe4k", "cache"}},
        {{"--one-file-system", "--format=tsv", "d"}, false, {}, {}, "d", true, {}, Format::Tsv},
        {{"--format=tsv", "--format=report", "d"}, false, {}, {}, "d", false, {}, Format::Report},
        {{"-0", "d"}, false, {}, {}, "d", false, {}, Format::TsvNullEnded},
        {{"--null", "--format", "tsv", "d"}, false, {}, {}, "d", false, {}, Format::TsvNullEnded},
        {{"--threads", "1", "d"}, false, {}, {}, "d", false, {}, Format::Report, 1},
        {{"--threads=64", "--with-subs", "d"}, true, {}, {}, "d", false, {}, Format::Report, 64},
        {.arguments = {"--sort=size", "d"}, .folder = "d", .order = CliOptions::Order::Size},
        {.arguments = {"--sort", "name", "--size=disk", "--links=once", "d"},
         .folder = "d",
         .order = CliOptions::Order::Name,
         .diskUsage = true,
         .linksOnce = true},
        {.arguments = {"--size=disk", "--size=apparent", "--links=once", "--links=each", "d"},
         .folder = "d"},
        {.arguments = {"--compare", "jan.txt", "--top=12", "--min-change=10M", "feb.txt"},
         .folder = "feb.txt",
         .compareWith = "jan.txt",
         .top = 12,
         .minChange = 10 * 1024 * 1024},
    };
    for (const Case& c : cases) {
        const CliOptions options = parse(c.arguments);
        ASSERT_EQ(options.action, Action::List) << joined(c.arguments).toStdString();
        EXPECT_EQ(options.withSubs, c.withSubs);
        EXPECT_EQ(options.headerText, c.header);
        EXPECT_EQ(options.outputFile, c.output);
        EXPECT_EQ(options.folder, c.folder);
        EXPECT_EQ(options.oneFileSystem, c.oneFileSystem);
        EXPECT_EQ(options.excludePatterns, c.excluded);
        EXPECT_EQ(options.format, c.format);
        EXPECT_EQ(options.threads, c.threads);
        EXPECT_EQ(options.order, c.order);
        EXPECT_EQ(options.diskUsage, c.diskUsage);
        EXPECT_EQ(options.linksOnce, c.linksOnce);
        EXPECT_EQ(options.compareWith, c.compareWith);
        EXPECT_EQ(options.top, c.top);
        EXPECT_EQ(options.minChange, c.minChange);
    }
}

TEST(CliOptions, TellsUsageErrorsHelpAndVersion) {
    struct Case {
        QList<QByteArray> arguments;
        Action action;
        const char* says = "";
    };
    const Case cases[] = {
        {{}, Action::UsageError},
        {{"--format=tsv", "-dash", "d"}, Action::UsageError, "invalid option -- 'd'"},
        {{"--with-subs", "-xq", "d"}, Action::UsageError, "invalid option -- 'q'"},
        {{"--output"}, Action::UsageError, "option '--output' requires an argument"},
        {{"a", "b"}, Action::UsageError},
        {{"--bogus", "dir"}, Action::UsageError},
        {{"-o"}, Action::UsageError},
        {{"-o", "", "dir"}, Action::UsageError},
        {{""}, Action::UsageError}, // an unset variable must not mean the current folder
        {{"--with-subs=yes", "dir"}, Action::UsageError, "'--with-subs' doesn't allow an argument"},
        {{"-hq", "dir"}, Action::UsageError},
        {{"--format=csv", "dir"}, Action::UsageError},
        {{"-0", "--format=report", "dir"}, Action::UsageError},
        {{"--threads", "0", "dir"}, Action::UsageError},
        {{"--threads=65", "dir"}, Action::UsageError},
        {{"--threads", "+8", "dir"}, Action::UsageError},
        {{"--threads", "many", "dir"}, Action::UsageError},
        {{"--threads", "dir"}, Action::UsageError},
        {{"dir", "--header"}, Action::UsageError},
        {{"--sort=big", "dir"}, Action::UsageError, "invalid order 'big': 'size' or 'name'"},
        {{"--size=blocks", "dir"}, Action::UsageError, "invalid size 'blocks'"},
        {{"--links=twice", "dir"}, Action::UsageError, "invalid links 'twice'"},
        {{"--s=disk", "dir"}, Action::UsageError, "option '--s=disk' is ambiguous"},
        {{"--top=3", "dir"}, Action::UsageError, "--top and --min-change go with --compare"},
        {{"--compare=a", "--top=0", "dir"}, Action::UsageError, "--top wants a number of 1"},
        {{"--compare=a", "--min-change=5X", "dir"}, Action::UsageError, "--min-change wants"},
        {{"--compare=a", "--min-change=99999999999999T", "d"}, Action::UsageError, "--min-change"},
        {{"--compare=", "dir"}, Action::UsageError, "the EARLIER list is empty"},
        {{"--exclude", QByteArray(40000, '*'), "--exclude", QByteArray(40000, '?'), "dir"},
         Action::UsageError,
         "--exclude patterns of more than 64 KiB in all"},
        {{"--help"}, Action::Help},
        {{"-h", "dir"}, Action::Help},
        {{"--version"}, Action::Version},
        {{"-V", "dir"}, Action::Version},
    };
    for (const Case& c : cases) {
        const CliOptions options = parse(c.arguments);
        EXPECT_EQ(options.action, c.action) << joined(c.arguments).toStdString();
        if (c.action == Action::UsageError) {
            EXPECT_FALSE(options.error.isEmpty());
            EXPECT_FALSE(options.error.contains(u'\n'));
            EXPECT_TRUE(options.error.contains(QLatin1StringView(c.says)))
                << options.error.toStdString();
        }
    }
}

} // namespace
