#pragma once

#include <QElapsedTimer>
#include <QFileDevice>
#include <QString>
#include <QStringView>

class ListFileWriter;

// The head of a report, a list's or a comparison's: a rule, the header text at its column
// and the date (or dates), a rule, the path line with the mode, a line saying how it was
// measured unless by default, and a blank line.
struct ReportHead {
    QString headerText;
    QString date;
    QString folder; // as the path line shows it
    bool withSubs = false;
    QString measuredBy; // the options that measured it (Measurement::options()); empty: none
};
void writeReportHead(ListFileWriter& out, const ReportHead& head);

// Writes the list file line by line with the column rule: fields are placed at a column,
// counted in characters from 1, and every line ends with CR LF. Lines go to the file as
// they are finished, so an interrupted run leaves what it wrote.
class ListFileWriter {
public:
    explicit ListFileWriter(QFileDevice& file);
    ~ListFileWriter();
    ListFileWriter(const ListFileWriter&) = delete;
    ListFileWriter& operator=(const ListFileWriter&) = delete;

    // Control characters would break the report's lines; they are written as "?".
    void append(QStringView text);
    void placeAt(int column);
    void endLine();
    // A whole line: the text, then the field placed at the column, as the three calls
    // above would write it.
    void writeLine(QStringView text, int column, QStringView field);

    // A line for scripts instead: the bytes as they are, then `end`. A writer is given the
    // one kind of line or the other, and `end` is the same on every line.
    void writeRecord(QByteArrayView bytes, char end);

    // Pushes out what is buffered; false once any write has failed.
    bool flush();
    // Pushes out finished lines that have waited longer than a moment; for a run that
    // waits on a slow folder, so that the lines before it can be read meanwhile.
    void flushIfDue();

    bool failed() const { return failed_; }
    QString errorString() const { return errorString_; }

private:
    void appendEscaped(QStringView text);
    void lineEnded();
    void writePending();
    void writeFailed();
    void closedUnderUs();

    QFileDevice& file_;
    QMetaObject::Connection beforeClose_;
    // Finished lines and the line being made, in UTF-8, handed to the file in large
    // pieces: one call a line would cost more than the line itself.
    QByteArray pending_;
    QString escaped_;
    int lineColumns_ = 0;
    char lineEnd_ = '\n';
    bool failed_ = false;
    QString errorString_;
    QElapsedTimer sinceFlush_;
};
