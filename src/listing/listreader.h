#pragma once

#include "listing/filesysteminfo.h"
#include "listing/listfields.h"
#include "listing/measurement.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>

// Reads a list back, as the window or kestrix-list wrote it, from bytes fed in pieces of
// any size: the printable report (any header, any locale's digit grouping, lines ended
// with CR LF or LF) or the lines for scripts (SIZE<TAB>PATH, ended with LF, or with CR LF
// throughout after a copy through another system, and escaped; or ended with NUL; none
// at all for a folder without sub-folders). The form is told by the first line, and for
// lines for scripts by whether a NUL comes within a line's length. Each folder line is handed on as
// soon as it is whole; anything that is not such a list stops the reading with the line and the
// reason, and nothing after it is handed on. Time and memory grow with the input, a line at a time:
// no line may be longer than kLongestLine.
class ListReader {
public:
    static constexpr qsizetype kLongestLine = 1024 * 1024;

    // What a report's head says; empty for the lines for scripts.
    struct Header {
        QString date;   // as written, in the writer's language
        QString folder; // the path line's folder, as shown there
        bool withSubs = false;
        Measurement measurement; // as its line says, or the defaults without one
    };

    // A folder line: its text (the report's, in UTF-8) or its path (the exact bytes, the
    // escapes undone), and its size; nothing when blank. Returns why the line cannot be
    // taken, or an empty text.
    using Folder = std::function<QString(QByteArrayView path, std::optional<ByteTotal> size)>;

    explicit ListReader(Folder folder);

    // False once the bytes read so far are no list; error() says why.
    bool feed(QByteArrayView bytes);
    // The end of the input: false when the list is empty, cut short, or was refused
    // before.
    bool finish();

    QString error() const { return error_; }
    // Nothing until the first line is whole.
    std::optional<ListFormat> form() const { return form_; }
    bool isReport() const { return form_ == ListFormat::Report; }
    const Header& header() const { return header_; }
    qint64 lineNumber() const { return lineNumber_; }

private:
    // Tells the form from the bytes carried so far, or waits for more (`atEnd`: there are
    // no more); false when they are no list.
    bool decideForm(bool atEnd);
    bool feedCarried();
    bool line(QByteArrayView text);
    bool reportLine(QByteArrayView text);
    bool folderLine(QByteArrayView text);
    bool tsvLine(QByteArrayView text);
    bool hand(QByteArrayView path, std::optional<ByteTotal> size);
    bool fail(const QString& why);
    // The size field ending a report line (all spaces for a blank size); false when none.
    bool sizeField(QByteArrayView field, std::optional<ByteTotal>& size, QString& why) const;

    Folder folder_;
    std::optional<ListFormat> form_;
    bool crLf_ = false; // lines for scripts whose every line ends with CR LF
    Header header_;
    QByteArray carry_;       // the start of a line not yet ended
    QByteArray pendingName_; // a long name whose size is on the next line
    QByteArray unescaped_;
    qint64 lineNumber_ = 0;
    int reportStep_ = 0; // the next of the report's fixed lines, then the folder lines
    bool done_ = false;  // the total line was read
    QString error_;
};
