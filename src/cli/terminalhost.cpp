#include "cli/terminalhost.h"

#include "listing/listfields.h"
#include "platform/system/interrupt.h"
#include "platform/system/terminal.h"

#include <QLocale>

#include <cstdio>
#include <cstring>

namespace {

// Redrawing the line for every folder would cost more than walking it; ten times a second
// is as often as it can be read, however many threads feed it.
constexpr qint64 kRedrawIntervalMs = 100;
// A tree of thousands of locked folders would bury the rest of the messages.
constexpr int kNamedUnreadable = 100;

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
      showStatus_(stderrIsTerminal() && target != ListTarget::Terminal), columns_(stderrColumns()) {
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
    // One terminal line: control characters out, and the tail of a long path kept.
    QString shown = listfields::shownName(text);
    const int room = qMax(columns_ - 1 - int(tail.size()), 10);
    if (shown.size() > room)
        shown = QStringLiteral("...") + shown.right(room - 3);
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
