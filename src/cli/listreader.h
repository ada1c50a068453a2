#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QtGlobal>

#include <functional>
#include <optional>

// Reads a list back, as the window or kestrix-list wrote it, from bytes fed in pieces of
// any size: the printable report (any header, any locale's digit grouping, lines ended
// with CR LF or LF) or the lines for scripts (SIZE<TAB>PATH, ended with LF and escaped,
// or ended with NUL). The kind is told by the first line. Each folder line is handed on
// as soon as it is whole; anything that is not such a list stops the reading with the
// line and the reason, and nothing after it is handed on.
class ListReader {
public:
    enum class Form { Unknown, Report, Tsv, TsvNullEnded };

    // What a report's header says; empty for the lines for scripts.
    struct Header {
        QString date;   // as written, in the writer's language
        QString folder; // the path line's folder, as shown there
        bool withSubs = false;
    };

    // A folder line: its text (the report's, in UTF-8) or its path (the exact bytes, the
    // escapes undone), and its size; nothing when blank.
    using Folder = std::function<void(QByteArrayView path, std::optional<quint64> size)>;

    explicit ListReader(Folder folder);

    // False once the bytes read so far are no list; error() says why.
    bool feed(QByteArrayView bytes);
    // The end of the input: false when the list is empty, cut short, or was refused
    // before.
    bool finish();

    QString error() const { return error_; }
    Form form() const { return form_; }
    const Header& header() const { return header_; }
    qint64 folderCount() const { return folders_; }
    qint64 lineNumber() const { return lineNumber_; }

private:
    bool line(QByteArrayView text);
    bool reportLine(QByteArrayView text);
    bool folderLine(QByteArrayView text);
    bool tsvLine(QByteArrayView text);
    bool fail(const QString& why);
    char terminator() const { return form_ == Form::TsvNullEnded ? '\0' : '\n'; }

    Folder folder_;
    Form form_ = Form::Unknown;
    Header header_;
    QByteArray carry_;       // the start of a line not yet ended
    QByteArray pendingName_; // a long name whose size is on the next line
    QByteArray unescaped_;
    qint64 lineNumber_ = 0;
    qint64 folders_ = 0;
    int reportStep_ = 0; // the next of the report's fixed lines, then the folder lines
    bool done_ = false;  // the total line was read
    QString error_;
};
