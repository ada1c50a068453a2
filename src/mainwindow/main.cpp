#include "mainwindow/form1.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrix"));
    QApplication::setApplicationVersion(QStringLiteral(KESTRIX_VERSION));

    Form1 window(createOutsideControls());
    window.Form_Load();
    return QApplication::exec();
}
