#pragma once

#include <QElapsedTimer>
#include <QFileDevice>
#include <QString>
#include <QStringEncoder>
#include <QStringView>

// Writes the list file line by line with the column rule: fields are placed at a column,
// counted in characters from 1, and every line ends with CR LF. Lines go to the file as
// they are finished, so an interrupted run leaves what it wrote.
class ListFileWriter {
public:
    explicit ListFileWriter(QFileDevice& file);

    // Control characters would break the report's lines; they are written as "?".
    void append(QStringView text);
    void placeAt(int column);
    void endLine();

    // Pushes out what is buffered; false once any write has failed.
    bool flush();

    bool failed() const { return failed_; }
    QString errorString() const { return errorString_; }

private:
    void write(const QByteArray& bytes);
    void writeFailed();
    void closedUnderUs();

    QFileDevice& file_;
    QString line_;
    QByteArray bytes_;
    QStringEncoder encoder_{QStringEncoder::Utf8};
    int lineColumns_ = 0;
    bool surrogates_ = false; // in the line so far
    bool failed_ = false;
    QString errorString_;
    QElapsedTimer sinceFlush_;
};
