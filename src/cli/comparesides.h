#pragma once

#include "cli/clioptions.h"
#include "listing/comparereport.h"
#include "listing/comparison.h"
#include "listing/listreader.h"
#include "listing/listside.h"
#include "listing/measurement.h"

#include <QLocale>
#include <QString>

#include <optional>

// Says on standard error that a request came and no comparison is written; the status.
int interruptedComparison();

// One list read into the comparison, from a file or from a run.
struct ListInput {
    explicit ListInput(ListSide::Folder folder);
    // The end of the list: the line held back handed on (see ListSide::finish).
    QString finish(bool withSubs);
    QString error() const { return reader.error(); }

    ListSide side;
    ListReader reader;
};

// The two lists of a comparison and what they say of themselves: read in this order,
// matchForms(), readEarlier(), then readLater() or the new list fed into `later` by a run, then the
// comparison finished and written from report(). Each step that fails says why on
// standard error and gives the exit status.
class Sides {
public:
    Sides(const CliOptions& options, bool laterIsFile);

    // A report and lines for scripts are matched by the text the report would show: the
    // forms of two list files are looked at first.
    std::optional<int> matchForms(const CliOptions& options);
    std::optional<int> readEarlier(const CliOptions& options);
    std::optional<int> readLater(const CliOptions& options);

    // Says so when the lists name two different folders; they are compared all the same.
    void warnOfOtherFolders() const;
    // Names the folders that stand for more than one, once for each list, and those of
    // unknown size.
    void tellClashesAndUnknowns() const;
    quint64 unknownCount() const;

    CompareReport report(const CliOptions& options) const;

    Comparison comparison;
    ListInput earlier;
    ListInput later;
    bool withSubs = false;
    // How both lists are measured: the earlier list's, as it says, or the command line's.
    Measurement measurement;
    QLocale locale = QLocale::system();
    QString laterDate;
    QString laterFolder; // as the path line shows it
    int unreadable = 0;  // folders the new list could not read, named by the scan

private:
    // Reads the list file into `input`, and the date it gives (for lines for scripts, the
    // file's own); the status when it is not one or a request came.
    std::optional<int> readListFile(const QByteArray& path, const QString& shown, ListInput& input,
                                    QString& fileDate);
    // The measurement of the earlier list against the command line's settings.
    std::optional<int> settleMeasurement(const CliOptions& options);

    bool laterIsFile_;
    QString earlierShown_;
    QString laterShown_;
    QString earlierDate_;
    QStringList unmeasured_; // lists that do not say how they were measured
};
