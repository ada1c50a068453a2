#include "listing/comparereport.h"

#include "listing/listfields.h"
#include "listing/listfilewriter.h"

namespace {

using Line = Comparison::Line;
using Kind = Comparison::Kind;

// Where each column ends; a name longer than kNameRoom gets a line of its own.
constexpr int kEarlierEnd = 59;
constexpr int kNowEnd = 73;
constexpr int kChangeEnd = 88;
constexpr int kPercentEnd = 96;
constexpr int kNameRoom = 44;

int columnsOf(QStringView text) {
    return int(listfields::columnsOf(text));
}

// Fields right-aligned at their ends, pushed on by one space where the one before ran
// long.
class Row {
public:
    explicit Row(ListFileWriter& out) : out_(out) {}
    void name(const QString& text) {
        out_.append(text);
        columns_ = columnsOf(text);
        if (columns_ > kNameRoom) {
            out_.endLine();
            columns_ = 0;
        }
    }
    void field(const QString& text, int end) {
        if (text.isEmpty())
            return;
        const int start = end - columnsOf(text) + 1;
        const int spaces = columns_ < start - 1 ? start - 1 - columns_ : 1;
        out_.append(QString(spaces, u' '));
        out_.append(text);
        columns_ += spaces + columnsOf(text);
    }
    void end() { out_.endLine(); }

private:
    ListFileWriter& out_;
    int columns_ = 0;
};

class Texts {
public:
    explicit Texts(const QLocale& locale) : locale_(locale) {}
    QString size(ByteTotal bytes) const { return listfields::groupedNumber(bytes, locale_); }
    QString change(__int128 change) const {
        const QString digits = size(ByteTotal(change < 0 ? -change : change));
        return change > 0 ? u'+' + digits : change < 0 ? u'-' + digits : digits;
    }
    QString percent(__int128 change, ByteTotal earlier) const {
        if (earlier == 0)
            return {};
        // Digits as the sizes have them, whatever the locale's own; its decimal point.
        QString figure = QLocale::c().toString(double(change) * 100.0 / double(earlier), 'f', 1);
        figure.replace(u'.', locale_.decimalPoint());
        return change > 0 ? u'+' + figure : figure;
    }

private:
    const QLocale& locale_;
};

// Which of the ordered lines are shown: the others are summed up.
std::vector<bool> shownLines(const std::vector<Line>& lines, const CompareReport& report) {
    std::vector<bool> shown(lines.size(), true);
    std::size_t growths = 0;
    std::size_t shrinks = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind() == Kind::Unknown)
            continue;
        const __int128 change = lines[i].change();
        const __int128 size = change < 0 ? -change : change;
        if ((report.minChange > 0 || report.top > 0) &&
            size < __int128(std::max<quint64>(report.minChange, 1)))
            shown[i] = false;
        else if (report.top > 0 && change > 0)
            shown[i] = ++growths <= report.top;
    }
    for (std::size_t i = lines.size(); i-- > 0;) {
        if (report.top > 0 && shown[i] && lines[i].kind() != Kind::Unknown && lines[i].change() < 0)
            shown[i] = ++shrinks <= report.top;
    }
    return shown;
}

// Looked at after each line: a stop asked for, or a write that failed.
bool stopped(const CompareReport& report, const ListFileWriter& out) {
    return out.failed() || (report.stopRequested && report.stopRequested());
}

bool writeTsv(const Comparison& comparison, const CompareReport& report,
              const std::vector<bool>& shown, ListFileWriter& out) {
    QByteArray record;
    for (std::size_t i = 0; i < comparison.lines().size(); ++i) {
        if (!shown[i])
            continue;
        const Line& line = comparison.lines()[i];
        const auto figure = [](bool in, ByteTotal size) {
            return in && size != Comparison::kUnknown ? std::optional(size) : std::nullopt;
        };
        record.resize(0);
        if (line.kind() != Kind::Unknown) {
            const __int128 change = line.change();
            if (change < 0)
                record += '-';
            listfields::FieldRoom room;
            record +=
                QStringView(listfields::plainNumber(ByteTotal(change < 0 ? -change : change), room))
                    .toLatin1();
        }
        record += '\t';
        listfields::appendRecord(
            record, {figure(line.inEarlier, line.earlier), figure(line.inLater, line.now)},
            report.pathOf(line), report.form);
        out.writeRecord(record, report.form == ListFormat::TsvNullEnded ? '\0' : '\n');
        if (stopped(report, out))
            return false;
    }
    return true;
}

} // namespace

bool writeComparison(const Comparison& comparison, const CompareReport& report,
                     ListFileWriter& out) {
    const std::vector<Line>& lines = comparison.lines();
    const std::vector<bool> shown = shownLines(lines, report);
    if (report.form != ListFormat::Report)
        return writeTsv(comparison, report, shown, out);
    const Texts text(report.locale);
    writeReportHead(out, {report.headerText,
                          QStringLiteral("%1 to %2").arg(report.earlierDate, report.laterDate),
                          report.folder, report.withSubs, report.measuredBy});
    Row titles(out);
    titles.field(QStringLiteral("earlier"), kEarlierEnd);
    titles.field(QStringLiteral("now"), kNowEnd);
    titles.field(QStringLiteral("change"), kChangeEnd);
    titles.field(QStringLiteral("%"), kPercentEnd);
    titles.end();

    quint64 hidden = 0;
    __int128 hiddenChange = 0;
    const auto summary = [&] {
        if (hidden == 0)
            return;
        Row row(out);
        row.name(QStringLiteral("(%1 more changed)").arg(text.size(hidden)));
        row.field(text.change(hiddenChange), kChangeEnd);
        row.end();
        hidden = 0;
    };
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line& line = lines[i];
        const Kind kind = line.kind();
        if (!shown[i]) {
            ++hidden;
            hiddenChange += line.change();
            continue;
        }
        summary(); // the folders not shown stand where they come in the order
        Row row(out);
        row.name(listfields::shownName(QString::fromUtf8(report.pathOf(line))));
        const auto size = [&](bool in, ByteTotal bytes, const QString& mark) {
            return !in ? mark : bytes == Comparison::kUnknown ? QString() : text.size(bytes);
        };
        row.field(size(line.inEarlier, line.earlier, QStringLiteral("new")), kEarlierEnd);
        row.field(size(line.inLater, line.now, QStringLiteral("gone")), kNowEnd);
        if (kind == Kind::Unknown) {
            row.field(QStringLiteral("unknown"), kChangeEnd);
        } else {
            row.field(text.change(line.change()), kChangeEnd);
            row.field(kind == Kind::New ? QStringLiteral("new")
                                        : text.percent(line.change(), line.earlier),
                      kPercentEnd);
        }
        row.end();
        if (stopped(report, out))
            return false;
    }
    summary();
    if (comparison.unchanged() > 0) {
        Row row(out);
        row.name(QStringLiteral("(%1 unchanged)").arg(text.size(comparison.unchanged())));
        row.end();
    }
    Row hyphens(out);
    hyphens.field(QString(kPercentEnd - (kEarlierEnd - 14), u'-'), kPercentEnd);
    hyphens.end();
    const __int128 change = __int128(comparison.laterTotal()) - __int128(comparison.earlierTotal());
    Row total(out);
    total.field(text.size(comparison.earlierTotal()), kEarlierEnd);
    total.field(text.size(comparison.laterTotal()), kNowEnd);
    total.field(text.change(change), kChangeEnd);
    total.field(text.percent(change, comparison.earlierTotal()), kPercentEnd);
    total.end();
    return !stopped(report, out);
}
