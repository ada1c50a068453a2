#include "mainwindow/form1.h"
#include "posixscan/filesystem.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    raiseDescriptorLimit();
    QApplication app(argc, argv);
    // Also the application title by which a second copy finds this one. It is not set as
    // a display name apart: Qt would add that to the title bar of every window.
    QApplication::setApplicationName(QStringLiteral("Kestrix"));
    QApplication::setApplicationVersion(QStringLiteral(KESTRIX_VERSION));
    // Ties the windows to the desktop entry, for its icon and name in the task bar.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.example.kestrix"));
    return runKestrix(createOutsideControls());
}
