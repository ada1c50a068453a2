#include "listing/listfilewriter.h"

#include "listing/listfields.h"

namespace {

// How long finished lines may wait in the buffer. Flushing every line costs a write
// call per folder; this keeps what is on disk at most a moment behind.
constexpr qint64 kFlushIntervalMs = 250;

} // namespace

ListFileWriter::ListFileWriter(QFileDevice& file) : file_(file) {
    sinceFlush_.start();
}

void ListFileWriter::append(QStringView text) {
    line_.reserve(line_.size() + text.size());
    for (const QChar c : text) {
        line_ += listfields::isControlCharacter(c) ? QChar(u'?') : c;
        // Columns count characters, so the second half of a surrogate pair adds none.
        if (!c.isLowSurrogate())
            ++lineColumns_;
    }
}

void ListFileWriter::placeAt(int column) {
    if (lineColumns_ >= column)
        endLine();
    if (lineColumns_ < column - 1) {
        line_ += QString(column - 1 - lineColumns_, u' ');
        lineColumns_ = column - 1;
    }
}

void ListFileWriter::endLine() {
    line_ += u"\r\n";
    write(line_.toUtf8());
    line_.clear();
    lineColumns_ = 0;
    if (sinceFlush_.elapsed() >= kFlushIntervalMs) {
        flush();
        sinceFlush_.restart();
    }
}

bool ListFileWriter::flush() {
    if (!failed_ && !file_.isOpen())
        closedUnderUs();
    if (!failed_ && !file_.flush())
        writeFailed();
    return !failed_;
}

void ListFileWriter::write(const QByteArray& bytes) {
    if (!failed_ && !file_.isOpen())
        closedUnderUs();
    if (failed_)
        return;
    if (file_.write(bytes) != bytes.size())
        writeFailed();
}

void ListFileWriter::writeFailed() {
    failed_ = true;
    // A write that got only part of the way (the disk filled up during it) leaves Qt
    // without the system's reason; trying the rest meets the cause again and records it.
    file_.flush();
    errorString_ = file_.errorString();
}

void ListFileWriter::closedUnderUs() {
    // The program is closing while the run still writes: the rest is dropped.
    failed_ = true;
    errorString_ = QStringLiteral("the list file was closed");
}
