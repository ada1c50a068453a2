#include "platform/desktop/processstart.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

namespace {

bool openWithDesktop(const QUrl& url) {
    // The window system's own way first (a portal, the desktop's launcher). Where it has
    // none, as on the offscreen and frame-buffer platforms, the freedesktop opener.
    if (QDesktopServices::openUrl(url))
        return true;
    return QProcess::startDetached(QStringLiteral("xdg-open"),
                                   {QString::fromLatin1(url.toEncoded())});
}

} // namespace

bool openInDesktopApplication(const QString& filePath) {
    return openWithDesktop(QUrl::fromLocalFile(filePath));
}

bool openWebPage(const QString& address) {
    return openWithDesktop(QUrl(address, QUrl::StrictMode));
}

bool isOrdinaryFile(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && !info.isHidden();
}
