#include "platform/system/listfile.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// An old list large enough that emptying it takes far longer than a write or a close.
TEST(ListFile, HoldsOnlyTheNewListHoweverSoonItIsWrittenOrClosed) {
    for (const QByteArray& written : {QByteArray("new list\n"), QByteArray()}) {
        SCOPED_TRACE(written.isEmpty() ? "closed at once" : "written at once");
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("list.txt"));
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly) && old.write(QByteArray(64 << 20, 'x')) > 0);
        old.close();

        ListFile file;
        ASSERT_EQ(openListFile(file, QFile::encodeName(path)), QString());
        if (!written.isEmpty()) {
            EXPECT_EQ(file.write(written), written.size());
            EXPECT_TRUE(file.flush());
        }
        file.close();
        EXPECT_EQ(file.error(), QFileDevice::NoError);
        QFile result(path);
        ASSERT_TRUE(result.open(QIODevice::ReadOnly));
        EXPECT_EQ(result.readAll(), written);
    }
}

} // namespace
