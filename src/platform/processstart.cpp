#include "platform/processstart.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

bool openInDesktopApplication(const QString& filePath) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(filePath));
}

bool isOrdinaryFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && !info.isHidden();
}
