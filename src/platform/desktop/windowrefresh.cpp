#include "platform/desktop/windowrefresh.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QWidget>
#include <QWindow>

namespace {

constexpr int kExposeWaitMs = 500;
constexpr QEventLoop::ProcessEventsFlags kNoInput =
    QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers;

} // namespace

void Refresh(QWidget& window) {
    if (!window.isVisible())
        return;
    QElapsedTimer waited;
    waited.start();
    const QWindow* handle = window.windowHandle();
    while (handle && !handle->isExposed() && waited.elapsed() < kExposeWaitMs) {
        QCoreApplication::processEvents(kNoInput);
        QThread::msleep(5);
    }
    window.repaint();
    QCoreApplication::processEvents(kNoInput);
}
