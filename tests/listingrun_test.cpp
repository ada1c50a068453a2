#include "fakefilesystem.h"
#include "listing/listingrun.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QDate kDate(2026, 12, 6);

QByteArray crlf(const QString& text) {
    QByteArray bytes = text.toUtf8();
    bytes.replace("\n", "\r\n");
    return bytes;
}

// A committed run over the fake drive, written into a temporary list file.
class ListingRunTest : public ::testing::Test {
protected:
    void SetUp() override { listFilePath = dir.filePath(QStringLiteral("Kestrix.txt")); }

    ListOutcome run(const QString& folder, ListMode mode, const QString& header = QString()) {
        ListRequest request;
        request.folder = fs.encodePath(folder);
        request.headerText = header;
        request.mode = mode;
        request.date = kDate;
        request.locale = QLocale::c();
        path = listFilePath;
        ListingRun listing(shared, host, stop.get_token());
        const ListOutcome outcome = listing.createAndWrite(listFilePath, request);
        total = listing.ListTotal();
        return outcome;
    }

    QByteArray listFile() const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    // The folder lines: everything between the blank line after the path line and the
    // hyphen rule.
    QStringList folderLines() const {
        QStringList lines = QString::fromUtf8(listFile()).split(QStringLiteral("\r\n"));
        return lines.mid(7, lines.size() - 10);
    }

    quint64 totalFigure() const {
        QStringList lines = QString::fromUtf8(listFile()).split(QStringLiteral("\r\n"));
        return lines.value(lines.size() - 2).trimmed().remove(u',').toULongLong();
    }

    QTemporaryDir dir;
    QString path;
    std::shared_ptr<FakeFileSystem> shared = std::make_shared<FakeFileSystem>();
    FakeFileSystem& fs = *shared;
    RecordingHost host;
    std::stop_source stop;
    QString listFilePath;
    ByteTotal total = 0; // the last run's
};

TEST_F(ListingRunTest, WithSubsFolderMatchesTheWorkedExample) {
    fs.addFolder(QStringLiteral("c:\\work"), 623);
    fs.addFolder(QStringLiteral("c:\\work\\docs"), 1000500);
    fs.addFolder(QStringLiteral("c:\\work\\docs\\old"), 200000);
    fs.addFolder(QStringLiteral("c:\\work\\src"), 2279000);

    const ListOutcome outcome =
        run(QStringLiteral("c:\\work"), ListMode::WithSubs, QStringLiteral("Backup set 3"));

    EXPECT_EQ(outcome.status, ListOutcome::Status::Written);
    const QString rule(97, u'_');
    const QString expected =
        rule + QStringLiteral("\n\n                   Backup set 3     Sunday - Dec 6, 2026\n") +
        rule +
        QStringLiteral("\n\n Path - c:\\work  (with subs)\n\n"
                       "work\\                                                                     "
                       "             3,480,123\n"
                       "work\\docs\\                                                               "
                       "              1,200,500\n"
                       "work\\docs\\old\\                                                          "
                       "                 200,000\n"
                       "work\\src\\                                                                "
                       "              2,279,000\n"
                       "                                                                           "
                       "      ---------------\n"
                       "                                                                           "
                       "            7,159,623\n");
    EXPECT_EQ(listFile(), crlf(expected));
    EXPECT_EQ(total, 7159623u);
}

TEST_F(ListingRunTest, NoSubsOnADriveRootMatchesTheWorkedExample) {
    fs.addFolder(QStringLiteral("c:\\WINDOWS"), 301456789);
    fs.addFolder(QStringLiteral("c:\\Program Files"), 120000000);
    fs.addFolder(QStringLiteral("c:\\Temp"), FakeFileSystem::Options{0, true, false});
    fs.setUsedSpace(512000000);

    const ListOutcome outcome = run(QStringLiteral("c:\\"), ListMode::NoSubs);

    EXPECT_EQ(outcome.status, ListOutcome::Status::Written);
    const QString rule(97, u'_');
    const QString expected =
        rule + QStringLiteral("\n\n                        Sunday - Dec 6, 2026\n") + rule +
        QStringLiteral("\n\n Path - c:\\  (no subs)\n\n"
                       "Windows                                                                    "
                       "          301,456,789\n"
                       "Program files                                                              "
                       "          120,000,000\n"
                       "Temp                                                                       "
                       "                     \n"
                       "                                                                           "
                       "      ---------------\n"
                       "                                                                           "
                       "          512,000,000\n");
    EXPECT_EQ(listFile(), crlf(expected));
}

TEST_F(ListingRunTest, DriveRootWithSubsHasNoLineOfItsOwn) {
    fs.addFolder(QStringLiteral("c:\\Windows"), 10);
    fs.addFolder(QStringLiteral("c:\\Windows\\System"), 5);
    fs.setUsedSpace(4242);

    run(QStringLiteral("c:\\"), ListMode::WithSubs);

    EXPECT_EQ(folderLines(), (QStringList{QStringLiteral("windows\\").leftJustified(82) +
                                              QStringLiteral("            15"),
                                          QStringLiteral("windows\\system\\").leftJustified(82) +
                                              QStringLiteral("             5")}));
    EXPECT_EQ(totalFigure(), 4242u);
}

TEST_F(ListingRunTest, DotFoldersAreSkippedWithSubsButListedWithout) {
    fs.addFolder(QStringLiteral("c:\\top"), 1);
    fs.addFolder(QStringLiteral("c:\\top\\.svn"), 100);
    fs.addFolder(QStringLiteral("c:\\top\\.svn\\inner"), 1000);
    fs.addFolder(QStringLiteral("c:\\top\\Hidden"), FakeFileSystem::Options{7, false, true});
    fs.addFolder(QStringLiteral("c:\\top\\Hidden\\deeper"), 3);

    run(QStringLiteral("c:\\top"), ListMode::WithSubs);
    QStringList names;
    for (const QString& line : folderLines())
        names.append(line.left(82).trimmed());
    // The dot folder's bytes still count in its parent; the hidden folder is walked.
    EXPECT_EQ(names, (QStringList{QStringLiteral("top\\"), QStringLiteral("top\\hidden\\"),
                                  QStringLiteral("top\\hidden\\deeper\\")}));
    EXPECT_TRUE(folderLines().first().endsWith(QStringLiteral("1,111")));
    EXPECT_EQ(totalFigure(), 1111u + 10u + 3u);

    listFilePath = dir.filePath(QStringLiteral("second.txt"));
    run(QStringLiteral("c:\\top"), ListMode::NoSubs);
    names.clear();
    for (const QString& line : folderLines())
        names.append(line.left(82).trimmed());
    EXPECT_EQ(names, QStringList{QStringLiteral(".svn")});
    EXPECT_EQ(totalFigure(), 1100u);
}

TEST_F(ListingRunTest, NoSubsCapitalisesEveryNameTheSameWay) {
    fs.addFolder(QStringLiteral("c:\\d"));
    for (const QString& name :
         {QStringLiteral("WINDOWS"), QStringLiteral("windows"), QStringLiteral("wINDOWS")})
        fs.addFolder(QStringLiteral("c:\\d\\") + name);

    run(QStringLiteral("c:\\d"), ListMode::NoSubs);

    for (const QString& line : folderLines())
        EXPECT_EQ(line.left(82).trimmed(), QStringLiteral("Windows"));
    EXPECT_EQ(folderLines().size(), 3);
    EXPECT_EQ(host.statusTexts.first(), QStringLiteral("c:\\d\\Windows"));
}

TEST_F(ListingRunTest, EmptyHeaderAndEmptyListing) {
    fs.addFolder(QStringLiteral("c:\\empty"));

    run(QStringLiteral("c:\\empty"), ListMode::NoSubs);

    const QStringList lines = QString::fromUtf8(listFile()).split(QStringLiteral("\r\n"));
    EXPECT_EQ(lines[2], QString(24, u' ') + QStringLiteral("Sunday - Dec 6, 2026"));
    EXPECT_TRUE(folderLines().isEmpty());
    EXPECT_EQ(lines.value(lines.size() - 2), QString(95, u' ') + u'0');
    EXPECT_TRUE(listFile().endsWith("0\r\n"));
}

TEST_F(ListingRunTest, LongNamePartsPushTheSizeToALineOfItsOwn) {
    // "c:\" plus 81 characters and a separator: a name part of exactly 82 characters.
    const QString name82 = QString(81, u'a');
    const QString name83 = QString(82, u'b');
    fs.addFolder(QStringLiteral("c:\\") + name82, 1234);
    fs.addFolder(QStringLiteral("c:\\") + name83, 0);
    fs.addFolder(QStringLiteral("c:\\huge"), 12345678901ull);

    run(QStringLiteral("c:\\") + name82, ListMode::WithSubs);
    EXPECT_EQ(folderLines(), QStringList{name82 + QStringLiteral("\\         1,234")});

    listFilePath = dir.filePath(QStringLiteral("b.txt"));
    run(QStringLiteral("c:\\") + name83, ListMode::WithSubs);
    EXPECT_EQ(folderLines(),
              (QStringList{name83 + u'\\', QString(82, u' ') + QStringLiteral("             0")}));

    listFilePath = dir.filePath(QStringLiteral("c.txt"));
    run(QStringLiteral("c:\\huge"), ListMode::WithSubs);
    EXPECT_EQ(folderLines(), QStringList{QStringLiteral("huge\\") + QString(77, u' ') +
                                         QStringLiteral(" 12,345,678,901")});
}

TEST_F(ListingRunTest, TotalIsTheExactSumOfTheLines) {
    // Sizes a single-precision total would round away.
    fs.addFolder(QStringLiteral("c:\\sum"));
    fs.addFolder(QStringLiteral("c:\\sum\\a"), 16777217);
    fs.addFolder(QStringLiteral("c:\\sum\\b"), 1);
    fs.addFolder(QStringLiteral("c:\\sum\\c"), 98765432109876ull);

    run(QStringLiteral("c:\\sum"), ListMode::NoSubs);

    EXPECT_EQ(totalFigure(), 16777217ull + 1 + 98765432109876ull);
}

TEST_F(ListingRunTest, ControlCharactersInNamesCannotBreakLines) {
    fs.addFolder(QStringLiteral("c:\\t"));
    fs.addFolder(QStringLiteral("c:\\t\\two\nlines"), 5);

    run(QStringLiteral("c:\\t"), ListMode::WithSubs, QStringLiteral("tab\there"));

    EXPECT_EQ(folderLines().value(1).left(14), QStringLiteral("t\\two?lines\\  "));
    EXPECT_TRUE(QString::fromUtf8(listFile()).contains(QStringLiteral("tab?here")));
    EXPECT_EQ(listFile().count('\n'), listFile().count("\r\n"));
}

TEST_F(ListingRunTest, ShowsEveryFolder) {
    fs.addFolder(QStringLiteral("c:\\Work"));
    fs.addFolder(QStringLiteral("c:\\Work\\Docs"));
    fs.addFolder(QStringLiteral("c:\\Work\\Src"));

    run(QStringLiteral("c:\\Work"), ListMode::WithSubs);

    EXPECT_EQ(host.statusTexts,
              (QStringList{QStringLiteral("c:\\work\\"), QStringLiteral("c:\\work\\docs\\"),
                           QStringLiteral("c:\\work\\src\\")}));
    EXPECT_TRUE(
        QString::fromUtf8(listFile()).contains(QStringLiteral(" Path - c:\\work  (with subs)")));
}

// Abort arrives while the n-th folder is shown.
struct AbortCase {
    ListMode mode;
    int abortAtShown;
    int expectedLines;
};

class AbortTest : public ListingRunTest, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(AbortTest, StopsAtTheFolderShownAndStillWritesTheTotal) {
    fs.addFolder(QStringLiteral("c:\\a"), 1);
    for (int i = 0; i < 5; ++i) {
        fs.addFolder(QStringLiteral("c:\\a\\f%1").arg(i), 10 + i);
        fs.addFolder(QStringLiteral("c:\\a\\f%1\\g").arg(i), 100);
    }
    host.onShown = [this](int shown) {
        if (shown == GetParam().abortAtShown)
            stop.request_stop();
    };

    const ListOutcome outcome = run(QStringLiteral("c:\\a"), GetParam().mode);

    EXPECT_EQ(outcome.status, ListOutcome::Status::Written);
    const QStringList lines = folderLines();
    EXPECT_EQ(lines.size(), GetParam().expectedLines);
    EXPECT_EQ(host.statusTexts.size(), GetParam().abortAtShown); // none shown after it
    quint64 sum = 0;
    for (const QString& line : lines)
        sum += line.mid(82).trimmed().remove(u',').toULongLong();
    EXPECT_EQ(totalFigure(), sum);
    EXPECT_TRUE(listFile().contains("---------------\r\n"));
}

INSTANTIATE_TEST_SUITE_P(Modes, AbortTest,
                         ::testing::Values(AbortCase{ListMode::WithSubs, 1, 0},
                                           AbortCase{ListMode::WithSubs, 4, 3},
                                           AbortCase{ListMode::NoSubs, 1, 0},
                                           AbortCase{ListMode::NoSubs, 3, 2}));

TEST_F(ListingRunTest, ListFileThatCannotBeCreatedWalksNothing) {
    fs.addFolder(QStringLiteral("c:\\w"), 5);
    listFilePath = dir.filePath(QStringLiteral("missing/sub/Kestrix.txt"));

    const ListOutcome outcome = run(QStringLiteral("c:\\w"), ListMode::WithSubs);

    EXPECT_EQ(outcome.status, ListOutcome::Status::CreateFailed);
    EXPECT_FALSE(outcome.errorString.isEmpty());
    EXPECT_EQ(fs.scans, 0);
    EXPECT_TRUE(host.statusTexts.isEmpty());
}

TEST_F(ListingRunTest, FailedWriteStopsTheWalk) {
    if (!QFile::exists(QStringLiteral("/dev/full")))
        GTEST_SKIP() << "no /dev/full here";
    fs.addFolder(QStringLiteral("c:\\many"));
    for (int i = 0; i < 2000; ++i)
        fs.addFolder(QStringLiteral("c:\\many\\folder%1").arg(i), i);
    listFilePath = QStringLiteral("/dev/full");

    const ListOutcome outcome = run(QStringLiteral("c:\\many"), ListMode::NoSubs);

    EXPECT_EQ(outcome.status, ListOutcome::Status::WriteFailed);
    EXPECT_FALSE(outcome.errorString.isEmpty());
    EXPECT_LT(host.statusTexts.size(), 2000);
}

} // namespace
