#include "platform/desktop/messageboxes.h"

#include <QMessageBox>

void StandardMessageBoxes::MsgBox(QWidget* owner, const QString& text, int style,
                                  const QString& title) {
    const QMessageBox::Icon icon =
        (style & kStopIconOk) == kStopIconOk ? QMessageBox::Critical : QMessageBox::NoIcon;
    QMessageBox box(icon, title, text, QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
