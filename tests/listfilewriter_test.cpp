#include "listing/listfilewriter.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <sys/resource.h>

namespace {

// Runs `write` against a fresh file and returns the bytes it left.
QByteArray written(const std::function<void(ListFileWriter&)>& write) {
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("list.txt")));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    ListFileWriter out(file);
    write(out);
    EXPECT_TRUE(out.flush());
    file.close();
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

TEST(ListFileWriter, PlacesFieldsByTheColumnRule) {
    struct Case {
        QString before;
        int column;
        QByteArray expected;
    };
    const Case cases[] = {
        {QString(), 5, "    X\r\n"},                          // short line: padded to column 5
        {QStringLiteral("abc"), 5, "abc X\r\n"},              // L < n-1
        {QStringLiteral("abcd"), 5, "abcdX\r\n"},             // L = n-1: nothing added
        {QStringLiteral("abcde"), 5, "abcde\r\n    X\r\n"},   // L = n: a new line
        {QStringLiteral("abcdef"), 5, "abcdef\r\n    X\r\n"}, // L > n
        {QStringLiteral("bcdefghijaklmnopqrs"), 21, "bcdefghijaklmnopqrs X\r\n"}, // 8 at a time
    };
    for (const Case& c : cases) {
        EXPECT_EQ(written([&](ListFileWriter& out) {
                      out.append(c.before);
                      out.placeAt(c.column);
                      out.append(u"X");
                      out.endLine();
                  }),
                  c.expected)
            << c.before.toStdString();
        // The same as one call, also with a character that is not ASCII in the text.
        EXPECT_EQ(written([&](ListFileWriter& out) { out.writeLine(c.before, c.column, u"X"); }),
                  c.expected)
            << c.before.toStdString();
        const QString accented = QString(c.before).replace(u'a', u'\u00e0');
        EXPECT_EQ(written([&](ListFileWriter& out) { out.writeLine(accented, c.column, u"X"); }),
                  QByteArray(c.expected).replace('a', "\xc3\xa0"))
            << c.before.toStdString();
    }
}

TEST(ListFileWriter, CountsColumnsInCharactersNotBytes) {
    // "é" is two bytes in UTF-8 and the clef is a surrogate pair: one column each.
    const QByteArray bytes = written([](ListFileWriter& out) {
        out.append(QString::fromUtf8("\xc3\xa9\xf0\x9d\x84\x9e"));
        out.placeAt(4);
        out.append(u"X");
        out.endLine();
    });
    EXPECT_EQ(bytes, QByteArray("\xc3\xa9\xf0\x9d\x84\x9e X\r\n"));
}

TEST(ListFileWriter, WritesControlCharactersAsQuestionMarks) {
    // Line breaks of every kind, a tab, DEL and a terminal's escape introducer; the
    // accented letter just before the C1 range is kept.
    const QByteArray bytes = written([](ListFileWriter& out) {
        out.append(QString::fromUtf8("a\nb\rc\td\x7f"
                                     "e\xc2\x85"
                                     "f\xe2\x80\xa8g\xc2\x9bh\xc3\xbf"));
        out.placeAt(21);
        out.append(u"|");
        out.endLine();
    });
    EXPECT_EQ(bytes, QByteArray("a?b?c?d?e?f?g?h\xc3\xbf    |\r\n"));
}

TEST(ListFileWriter, ReportsAFailedWriteWithTheSystemsReason) {
    // Nothing fits at all, and a write cut short part way, as on a disk that fills up.
    struct Case {
        const char* path; // empty: a new file in a temporary folder
        rlim_t sizeLimit; // 0: none
        int lines;
        int error;
    };
    const Case cases[] = {{"/dev/full", 0, 1, ENOSPC}, {"", 500, 2000, EFBIG}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lines);
        QTemporaryDir dir;
        QFile file(*c.path ? QString::fromLatin1(c.path) : dir.filePath(QStringLiteral("l.txt")));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        rlimit unlimited{};
        ::getrlimit(RLIMIT_FSIZE, &unlimited);
        const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{c.sizeLimit, unlimited.rlim_max};
        if (c.sizeLimit)
            ::setrlimit(RLIMIT_FSIZE, &limit);
        ListFileWriter out(file);
        for (int i = 0; i < c.lines; ++i)
            out.writeLine(u"a folder line", 83, u"1,234");
        const bool flushed = out.flush();
        ::setrlimit(RLIMIT_FSIZE, &unlimited);
        ::signal(SIGXFSZ, oldHandler);
        EXPECT_FALSE(flushed);
        EXPECT_TRUE(out.failed());
        EXPECT_TRUE(out.errorString().contains(QString::fromLocal8Bit(std::strerror(c.error))))
            << out.errorString().toStdString();
    }
}

} // namespace
