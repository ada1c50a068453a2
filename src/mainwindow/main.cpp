#include "mainwindow/form1.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrix"));
    QApplication::setApplicationDisplayName(QStringLiteral("Kestrix"));
    QApplication::setApplicationVersion(QStringLiteral(KESTRIX_VERSION));
    // Ties the windows to the desktop entry, for its icon and name in the task bar.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.kestrix"));
    return runKestrix(createOutsideControls());
}
