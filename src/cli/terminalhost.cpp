#include "cli/terminalhost.h"

#include "listing/listfields.h"
#include "listing/runstate.h"
#include "platform/system/interrupt.h"
#include "platform/system/terminal.h"

#include <QLocale>

#include <cstdio>

namespace {

// Redrawing the line for every folder would cost more than walking it; ten times a second
// is as often as it can be read, however many threads feed it.
constexpr qint64 kRedrawIntervalMs = 100;

} // namespace

TerminalHost::TerminalHost(RunState& state, bool listOnTerminal)
    // A list written to the same terminal would run into the progress line.
    : state_(state), showStatus_(stderrIsTerminal() && !listOnTerminal), columns_(stderrColumns()) {
}

TerminalHost::~TerminalHost() {
    clear();
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
    std::fprintf(stderr, "\r%s\033[K", shown.toLocal8Bit().constData());
    std::fflush(stderr);
    lineShown_ = true;
}

void TerminalHost::pumpEvents() {
    if (!interrupted_ && interruptRequested()) {
        interrupted_ = true;
        state_.RunActive = false;
        state_.AbortRequested = true;
    }
}

void TerminalHost::clear() {
    if (lineShown_) {
        std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        lineShown_ = false;
    }
}
