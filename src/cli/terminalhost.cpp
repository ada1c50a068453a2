#include "cli/terminalhost.h"

#include "listing/listfields.h"
#include "listing/runstate.h"
#include "platform/interrupt.h"
#include "platform/terminal.h"

#include <cstdio>

namespace {

// Redrawing the line for every folder would cost more than walking it.
constexpr qint64 kRedrawIntervalMs = 80;

} // namespace

TerminalHost::TerminalHost(RunState& state, bool listOnTerminal)
    // A list written to the same terminal would run into the progress line.
    : state_(state), showStatus_(stderrIsTerminal() && !listOnTerminal), columns_(stderrColumns()) {
}

TerminalHost::~TerminalHost() {
    clear();
}

void TerminalHost::setStatusText(const QString& text) {
    if (!showStatus_ || (sinceShown_.isValid() && sinceShown_.elapsed() < kRedrawIntervalMs))
        return;
    sinceShown_.start();
    // One terminal line: control characters out, and the tail of a long path kept.
    QString shown;
    for (const QChar c : text)
        shown += listfields::isControlCharacter(c) ? QChar(u'?') : c;
    const int room = qMax(columns_ - 1, 10);
    if (shown.size() > room)
        shown = QStringLiteral("...") + shown.right(room - 3);
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
