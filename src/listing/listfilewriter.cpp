#include "listing/listfilewriter.h"

#include "listing/listfields.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// How long finished lines may wait in the buffer. Flushing every line costs a write
// call per folder; this keeps what is on disk at most a moment behind.
constexpr qint64 kFlushIntervalMs = 250;
constexpr qsizetype kWriteSize = 64 * 1024;

} // namespace

ListFileWriter::ListFileWriter(QFileDevice& file) : file_(file) {
    sinceFlush_.start();
    pending_.reserve(kWriteSize + 1024);
    // Closed while the run still writes (the program is closing): the finished lines
    // still go in.
    beforeClose_ = QObject::connect(&file_, &QIODevice::aboutToClose, [this] { flush(); });
}

ListFileWriter::~ListFileWriter() {
    QObject::disconnect(beforeClose_);
}

void ListFileWriter::append(QStringView text) {
    // Nearly every name is printable ASCII: those characters go in as their bytes.
    const qsizetype at = pending_.size();
    pending_.resize(at + text.size());
    char* out = pending_.data() + at;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = text[i].unicode();
        if (u < 0x20 || u >= 0x7F) {
            pending_.truncate(at + i);
            lineColumns_ += int(i);
            appendEscaped(text.sliced(i));
            return;
        }
        out[i] = char(u);
    }
    lineColumns_ += int(text.size());
}

void ListFileWriter::appendEscaped(QStringView text) {
    // Columns count characters, so the second half of a surrogate pair adds none.
    escaped_.resize(0);
    for (const QChar c : text) {
        escaped_ += listfields::isControlCharacter(c) ? QChar(u'?') : c;
        if (!c.isLowSurrogate())
            ++lineColumns_;
    }
    pending_ += escaped_.toUtf8(); // a surrogate without its other half is written as "?"
}

void writeReportHead(ListFileWriter& out, const ReportHead& head) {
    using namespace listfields;
    const QString rule(kRuleLength, u'_');
    out.append(rule);
    out.endLine();
    out.endLine();
    out.placeAt(kHeaderColumn);
    out.append(head.headerText);
    out.append(kDateLead);
    out.append(head.date);
    out.endLine();
    out.append(rule);
    out.endLine();
    out.endLine();
    out.append(pathLine(head.folder, head.withSubs));
    out.endLine();
    if (!head.measuredBy.isEmpty()) {
        out.append(kMeasuredLead);
        out.append(head.measuredBy);
        out.endLine();
    }
    out.endLine();
}

void ListFileWriter::placeAt(int column) {
    if (lineColumns_ >= column)
        endLine();
    if (lineColumns_ < column - 1) {
        pending_.append(column - 1 - lineColumns_, ' ');
        lineColumns_ = column - 1;
    }
}

void ListFileWriter::endLine() {
    pending_.append("\r\n", 2);
    lineColumns_ = 0;
    lineEnded();
}

namespace {

// Writes the characters as bytes; false when one of them is not printable ASCII, whose
// byte would not be the character.
bool copiedAsAscii(QStringView text, char* out) {
    const char16_t* in = text.utf16();
    bool other = false;
    qsizetype i = 0;
#if defined(__SSE2__)
    // Eight characters at a time; a character of 0x8000 or more is negative here.
    const __m128i below = _mm_set1_epi16(0x20);
    const __m128i above = _mm_set1_epi16(0x7E);
    for (; i + 8 <= text.size(); i += 8) {
        const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        const __m128i outside =
            _mm_or_si128(_mm_cmplt_epi16(chars, below), _mm_cmpgt_epi16(chars, above));
        if (_mm_movemask_epi8(outside) != 0)
            return false;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(chars, chars));
    }
#endif
    for (; i < text.size(); ++i) {
        other |= char16_t(in[i] - 0x20) >= 0x5F;
        out[i] = char(in[i]);
    }
    return !other;
}

} // namespace

void ListFileWriter::writeLine(QStringView text, int column, QStringView field) {
    // A folder line nearly always: its bytes are its characters. A text that reaches the
    // column ends a line of its own, as placeAt() does.
    const qsizetype at = pending_.size();
    if (lineColumns_ == 0) {
        const bool ownLine = text.size() >= column;
        const qsizetype fieldAt =
            ownLine ? text.size() + 2 + (column - 1) : std::max<qsizetype>(text.size(), column - 1);
        pending_.resize(at + fieldAt + field.size() + 2);
        char* const out = pending_.data() + at;
        if (copiedAsAscii(text, out) && copiedAsAscii(field, out + fieldAt)) {
            char* const spaces = out + text.size() + (ownLine ? 2 : 0);
            if (ownLine) {
                out[text.size()] = '\r';
                out[text.size() + 1] = '\n';
            }
            std::fill(spaces, out + fieldAt, ' ');
            out[fieldAt + field.size()] = '\r';
            out[fieldAt + field.size() + 1] = '\n';
            lineEnded();
            return;
        }
        pending_.truncate(at);
    }
    append(text);
    placeAt(column);
    append(field);
    endLine();
}

void ListFileWriter::writeRecord(QByteArrayView bytes, char end) {
    lineEnd_ = end;
    pending_.append(bytes.data(), bytes.size());
    pending_.append(end);
    lineEnded();
}

void ListFileWriter::lineEnded() {
    if (pending_.size() >= kWriteSize)
        writePending();
    flushIfDue();
}

void ListFileWriter::flushIfDue() {
    if (sinceFlush_.elapsed() < kFlushIntervalMs)
        return;
    if (pending_.contains(lineEnd_) || file_.bytesToWrite() > 0)
        flush();
    sinceFlush_.restart();
}

bool ListFileWriter::flush() {
    writePending();
    if (!failed_ && !file_.isOpen())
        closedUnderUs();
    if (!failed_ && !file_.flush())
        writeFailed();
    return !failed_;
}

void ListFileWriter::writePending() {
    // Only finished lines go out; the one being made stays for its next field.
    const qsizetype finished = pending_.lastIndexOf(lineEnd_) + 1;
    if (finished == 0)
        return;
    if (!failed_ && !file_.isOpen())
        closedUnderUs();
    if (!failed_) {
        const qint64 written = file_.write(pending_.constData(), finished);
        if (written != finished) {
            // A write that got only part of the way (the disk filled up during it) leaves
            // Qt without the system's reason; trying the rest meets the cause again.
            if (written > 0)
                file_.write(pending_.constData() + written, finished - written);
            writeFailed();
        }
    }
    pending_.remove(0, finished);
}

void ListFileWriter::writeFailed() {
    failed_ = true;
    // Likewise for what Qt still holds in its own buffer.
    file_.flush();
    errorString_ = file_.errorString();
}

void ListFileWriter::closedUnderUs() {
    // The program is closing while the run still writes: the rest is dropped.
    failed_ = true;
    errorString_ = QStringLiteral("the list file was closed");
}
