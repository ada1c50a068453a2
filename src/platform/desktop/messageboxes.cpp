#include "platform/desktop/messageboxes.h"

#include <QMessageBox>
#include <QPointer>

void StandardMessageBoxes::MsgBox(QWidget* owner, const QString& text, int style,
                                  const QString& title) {
    const QMessageBox::Icon icon =
        (style & kStopIconOk) == kStopIconOk ? QMessageBox::Critical : QMessageBox::NoIcon;
    QMessageBox box(icon, title, text, QMessageBox::Ok, owner);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

bool StandardQuestionBoxes::Ask(QWidget* owner, const QString& text, const QString& title,
                                bool yesFirst) {
    // On the heap: an owner that goes takes it along.
    const QPointer<QMessageBox> box = new QMessageBox(QMessageBox::Question, title, text,
                                                      QMessageBox::Yes | QMessageBox::No, owner);
    box->setTextFormat(Qt::PlainText);
    box->setDefaultButton(yesFirst ? QMessageBox::Yes : QMessageBox::No);
    const bool yes = box->exec() == QMessageBox::Yes;
    if (!box)
        return false;
    delete box;
    return yes;
}
