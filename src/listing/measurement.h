#pragma once

#include "listing/filesysteminfo.h"

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <optional>
#include <utility>
#include <vector>

// The settings that change a list's figures, which a list keeps so that it is compared
// only with one measured the same way. The order of sub-folders and the number of threads
// change no figure and are not kept.
struct Measurement {
    bool diskUsage = false;
    bool linksOnce = false;
    bool oneFileSystem = false;
    std::vector<QByteArray> excludePatterns; // in the order given

    static Measurement of(const ScanOptions& options);
    // Sets the fields of `options` that the measurement holds; the others stay.
    void applyTo(ScanOptions& options) const;

    bool isDefault() const { return *this == Measurement(); }
    bool operator==(const Measurement&) const = default;

    // The options that measure so, as they would be typed to a shell: "--size=disk
    // --links=once -x --exclude='*.o'"; empty for the defaults. A pattern that is not
    // printable UTF-8 is written $'...' with \xHH for its other bytes, so that the text
    // holds no control character and reads back to the same bytes.
    QString options() const;
    // What options() wrote, read back; nothing when it is not such a text.
    static std::optional<Measurement> fromOptions(QStringView text);

    // The settings in which the two differ, as each has them: "--size=disk --links=each"
    // for this one, "--size=apparent --links=once" for `other`; empty when they do not.
    std::pair<QString, QString> differencesFrom(const Measurement& other) const;
};
