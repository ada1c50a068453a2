#include "listing/listfilewriter.h"

#include "listing/listfields.h"

#include <algorithm>

namespace {

// How long finished lines may wait in the buffer. Flushing every line costs a write
// call per folder; this keeps what is on disk at most a moment behind.
constexpr qint64 kFlushIntervalMs = 250;

} // namespace

ListFileWriter::ListFileWriter(QFileDevice& file) : file_(file) {
    sinceFlush_.start();
}

void ListFileWriter::append(QStringView text) {
    // Nearly every name is made of characters below the line separators and surrogates
    // with no control among them: one test a character lets those in whole.
    const bool plain = std::all_of(text.begin(), text.end(), [](QChar c) {
        const char16_t u = c.unicode();
        return u >= 0x20 && (u < 0x7F || u > 0x9F) && u < 0x2028;
    });
    if (plain) {
        line_.append(text);
        lineColumns_ += int(text.size());
        return;
    }
    // Columns count characters, so the second half of a surrogate pair adds none.
    line_.reserve(line_.size() + text.size());
    for (const QChar c : text) {
        line_ += listfields::isControlCharacter(c) ? QChar(u'?') : c;
        surrogates_ = surrogates_ || c.isSurrogate();
        if (!c.isLowSurrogate())
            ++lineColumns_;
    }
}

void ListFileWriter::placeAt(int column) {
    if (lineColumns_ >= column)
        endLine();
    if (lineColumns_ < column - 1) {
        line_.resize(line_.size() + (column - 1 - lineColumns_), u' ');
        lineColumns_ = column - 1;
    }
}

void ListFileWriter::endLine() {
    line_ += u"\r\n";
    if (surrogates_) {
        write(line_.toUtf8()); // a surrogate without its other half is written as "?"
    } else {
        // One buffer for every line, as for the text of the line itself.
        bytes_.resize(line_.size() * 3);
        bytes_.truncate(encoder_.appendToBuffer(bytes_.data(), line_) - bytes_.data());
        write(bytes_);
    }
    line_.truncate(0);
    surrogates_ = false;
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
