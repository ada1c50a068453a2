#pragma once

#include "listing/comparison.h"
#include "listing/listfields.h"

#include <QLocale>
#include <QString>

#include <functional>

class ListFileWriter;

// What the comparison's report shows besides the lines, and which lines.
struct CompareReport {
    ListFormat form = ListFormat::Report;
    QString headerText;
    QString earlierDate;
    QString laterDate;
    QString folder; // on the path line
    bool withSubs = false;
    QString measuredBy; // the options both lists were measured with; empty: the defaults
    QLocale locale = QLocale::system();
    // Only the `top` largest growths and as many of the largest shrinks (0: all), and only
    // changes of at least `minChange` bytes; the rest are summed up on one line.
    quint64 top = 0;
    quint64 minChange = 0;
    // A folder's text or path as the later list gives it (`inLater`), or as the earlier.
    std::function<QByteArray(const Comparison::Line& line)> pathOf;
    // Asked after each line written: true stops the writing there.
    std::function<bool()> stopRequested;
};

// Writes the comparison in the list's style: the header, one line per folder shown with
// the earlier size, the size now, the change and the change in percent, a line for the
// ones not shown and one for those unchanged, then the hyphen rule and the totals, in
// columns that end where the list's sizes end; or, for scripts, one line per folder shown,
// CHANGE<TAB>EARLIER<TAB>NOW<TAB>PATH, in the same order. The changes on the lines add up
// to the change of the totals. False when it stopped part way, asked to or at a failed
// write: the output is then no whole comparison.
bool writeComparison(const Comparison& comparison, const CompareReport& report,
                     ListFileWriter& out);
