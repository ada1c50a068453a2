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

// Terminal columns, as wcwidth() counts them in a UTF-8 locale, which this thread uses
// while the object lives: Qt writes UTF-8 whatever the locale says. Two for a wide East
// Asian character, none for one that combines with the one before.
class TerminalColumns {
public:
    TerminalColumns() : before_(utf8() ? ::uselocale(utf8()) : locale_t(nullptr)) {}
    ~TerminalColumns() {
        if (before_)
            ::uselocale(before_);
    }
    TerminalColumns(const TerminalColumns&) = delete;
    TerminalColumns& operator=(const TerminalColumns&) = delete;

    int of(uint c) const { return before_ ? std::max(::wcwidth(wchar_t(c)), 0) : 1; }
    int of(const QList<uint>& text) const {
        int columns = 0;
        for (const uint c : text)
            columns += of(c);
        return columns;
    }

private:
    static locale_t utf8() {
        static const locale_t locale = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
        return locale;
    }
    const locale_t before_;
};

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
    const TerminalColumns columns;
    const int pathWidth = columns.of(path);
    const int countsWidth = columns.of(tail.toUcs4());
    const bool withCounts =
        pathWidth + countsWidth <= room || countsWidth + kLeastPathShown <= room;
    const int pathRoom = room - (withCounts ? countsWidth : 0);
    qsizetype from = 0;
    if (pathWidth > pathRoom) {
        int used = 3; // for the "..." before it
        from = path.size();
        while (from > 0 && used + columns.of(path[from - 1]) <= pathRoom)
            used += columns.of(path[--from]);
    }
    QString shown = from > 0 ? QStringLiteral("...") : QString();
    shown += QString::fromUcs4(reinterpret_cast<const char32_t*>(path.constData()) + from,
                               path.size() - from);
    if (withCounts)
        shown += tail;
    const std::lock_guard lock(mutex_);
    if (!showStatus_)
        return; // the list began on the way here
    std::fprintf(stderr, "\r%s\033[K", shown.toLocal8Bit().constData());
    std::fflush(stderr);
    lineShown_ = true;
}

bool TerminalHost::poll() {
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
    if (!throughPipe_ || !showStatus_)
        return;
    const std::lock_guard lock(mutex_);
    showStatus_ = false;
    clearLocked();
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
