#include "cli/terminalhost.h"

#include "listing/listfields.h"
#include "platform/system/interrupt.h"
#include "platform/system/terminal.h"

#include <QLocale>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <locale.h>

namespace {

// Redrawing the line for every folder would cost more than walking it; ten times a second
// is as often as it can be read, however many threads feed it.
constexpr qint64 kRedrawIntervalMs = 100;
// A tree of thousands of locked folders would bury the rest of the messages.
constexpr int kNamedUnreadable = 100;
// Less of the path than this is no use: the counts give way first.
constexpr int kLeastPathShown = 13;

// The columns that characters from..to take on a terminal: two for a wide East Asian one,
// none for one that combines with the one before. Measured as in UTF-8, which Qt writes
// whatever the locale says.
int terminalColumns(const QList<uint>& text, qsizetype from, qsizetype to = -1) {
    static const locale_t utf8 = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
    const locale_t before = utf8 ? ::uselocale(utf8) : locale_t(nullptr);
    int columns = 0;
    for (qsizetype i = from; i < (to < 0 ? text.size() : to); ++i)
        columns += std::max(utf8 ? ::wcwidth(wchar_t(text[i])) : 1, 0);
    if (before)
        ::uselocale(before);
    return columns;
}

} // namespace

// Scanning threads may wake after the run gave up on them, when the host has gone.
struct TerminalHost::ReportLink {
    std::mutex mutex;
    TerminalHost* host = nullptr; // null once reports stopped
};

TerminalHost::TerminalHost(const FileSystemInfo& fileSystem, ListTarget target)
    // A list written straight to the terminal would run into the progress line.
    : fileSystem_(fileSystem), reportLink_(std::make_shared<ReportLink>()),
      throughPipe_(target == ListTarget::Pipe),
      showStatus_(stderrIsTerminal() && target != ListTarget::Terminal) {
    reportLink_->host = this;
}

TerminalHost::~TerminalHost() {
    stopReports();
    clear();
}

std::function<void(const NativePath&, int)> TerminalHost::unreadableReport() {
    return [link = reportLink_](const NativePath& folder, int error) {
        const std::lock_guard lock(link->mutex);
        if (link->host)
            link->host->reportUnreadable(folder, error);
    };
}

void TerminalHost::stopReports() {
    const std::lock_guard lock(reportLink_->mutex);
    reportLink_->host = nullptr;
}

void TerminalHost::setStatusText(const QString& text) {
    showLine(text);
}

void TerminalHost::showScanProgress(const QString& folder, quint64 folders, quint64 files) {
    const QLocale locale;
    showLine(folder, QStringLiteral("  (%1 folders, %2 files)")
                         .arg(locale.toString(folders), locale.toString(files)));
}

void TerminalHost::showLine(const QString& text, const QString& tail) {
    if (!showStatus_ || (sinceShown_.isValid() && sinceShown_.elapsed() < kRedrawIntervalMs))
        return;
    sinceShown_.start();
    // One terminal line, however narrow the terminal has become: control characters out,
    // the end of a long path kept, and the counts only where they leave it some room.
    const int room = stderrColumns() - 1;
    if (room < 4)
        return;
    const QList<uint> path = listfields::shownName(text).toUcs4();
    const QList<uint> counts = tail.toUcs4();
    const int countsWidth = terminalColumns(counts, 0);
    const bool withCounts =
        terminalColumns(path, 0) + countsWidth <= room || countsWidth + kLeastPathShown <= room;
    const int pathRoom = room - (withCounts ? countsWidth : 0);
    qsizetype from = 0;
    if (terminalColumns(path, 0) > pathRoom) {
        int used = 3; // for the "..." before it
        from = path.size();
        while (from > 0) {
            const int next = terminalColumns(path, from - 1, from);
            if (used + next > pathRoom)
                break;
            used += next;
            --from;
        }
    }
    QString shown = from > 0 ? QStringLiteral("...") : QString();
    shown += QString::fromUcs4(reinterpret_cast<const char32_t*>(path.constData()) + from,
                               path.size() - from);
    if (withCounts)
        shown += tail;
    const std::lock_guard lock(mutex_);
    std::fprintf(stderr, "\r%s\033[K", shown.toLocal8Bit().constData());
    std::fflush(stderr);
    lineShown_ = true;
}

bool TerminalHost::pumpEvents() {
    printReports();
    if (!interrupted_ && interruptRequested()) {
        interrupted_ = true;
        // What the scan still finds after a stop is not the run's any more.
        stopReports();
    }
    return !interrupted_;
}

void TerminalHost::reportUnreadable(const NativePath& folder, int error) {
    const std::lock_guard lock(mutex_);
    // A folder counted again on its own is met again.
    if (unreadable_.contains(folder))
        return;
    unreadable_.insert(folder);
    if (unreadable_.size() > kNamedUnreadable)
        return;
    const QString shown = listfields::shownName(fileSystem_.decodePath(folder));
    reports_ += "kestrix-list: cannot read folder '" + shown.toLocal8Bit() +
                "': " + std::strerror(error) + '\n';
}

void TerminalHost::printReports() {
    const std::lock_guard lock(mutex_);
    if (reports_.isEmpty())
        return;
    clearLocked();
    std::fputs(reports_.constData(), stderr);
    std::fflush(stderr);
    reports_.clear();
}

int TerminalHost::unreadableCount() const {
    const std::lock_guard lock(mutex_);
    return int(unreadable_.size());
}

void TerminalHost::reportUnnamed() {
    printReports();
    const int unnamed = unreadableCount() - kNamedUnreadable;
    if (unnamed <= 0)
        return;
    clear();
    std::fprintf(stderr, "kestrix-list: %d more folders could not be read\n", unnamed);
}

void TerminalHost::beforeListOutput() {
    if (!throughPipe_)
        return;
    showStatus_ = false;
    clear();
}

bool TerminalHost::interrupted() const {
    return interrupted_ || interruptRequested();
}

void TerminalHost::clear() {
    const std::lock_guard lock(mutex_);
    clearLocked();
}

void TerminalHost::clearLocked() {
    if (lineShown_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        lineShown_ = false;
    }
}
