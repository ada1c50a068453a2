#include "platform/desktop/elidedline.h"

#include <QPainter>
#include <QStyle>

ElidedLine::ElidedLine(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
}

void ElidedLine::setWholeText(const QString& text) {
    setText(text);
    setToolTip(text);
    setAccessibleDescription(text);
}

QSize ElidedLine::minimumSizeHint() const {
    return {0, fontMetrics().height() + 2 * margin()};
}

QSize ElidedLine::sizeHint() const {
    return minimumSizeHint();
}

void ElidedLine::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect room = contentsRect().adjusted(margin(), margin(), -margin(), -margin());
    const QString line = fontMetrics().elidedText(text(), Qt::ElideMiddle, room.width());
    style()->drawItemText(&painter, room, QStyle::visualAlignment(layoutDirection(), alignment()),
                          palette(), isEnabled(), line, foregroundRole());
}
