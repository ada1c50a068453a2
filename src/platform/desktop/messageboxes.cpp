#include "platform/desktop/messageboxes.h"

#include <QMessageBox>
#include <QPointer>
#include <QScreen>

namespace {

// A question about a long path fits on the screen: each line is shortened in the middle
// to half the screen's width; the whole text is in the tooltip and the accessible
// description.
void fitOnScreen(QMessageBox& box, const QWidget* owner) {
    const QString text = box.text();
    const QScreen* screen = owner ? owner->screen() : box.screen();
    const int room = screen->availableGeometry().width() / 2;
    QStringList lines = text.split(u'\n');
    for (QString& line : lines)
        line = box.fontMetrics().elidedText(line, Qt::ElideMiddle, room);
    const QString fitted = lines.join(u'\n');
    if (fitted == text)
        return;
    box.setText(fitted);
    box.setToolTip(text);
    box.setAccessibleDescription(text);
}

} // namespace

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
    fitOnScreen(*box, owner);
    const bool yes = box->exec() == QMessageBox::Yes;
    if (!box)
        return false;
    delete box;
    return yes;
}
