#include "platform/threedpanel.h"

#include <QPainter>

ThreeDPanel::ThreeDPanel(QWidget* parent) : QFrame(parent) {
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);
}

void ThreeDPanel::setCaption(const QString& caption) {
    if (caption == caption_)
        return;
    caption_ = caption;
    update();
}

void ThreeDPanel::setAlignmentCode(int code) {
    if (code < 0 || code > 8 || code == alignmentCode_)
        return;
    alignmentCode_ = code;
    update();
}

Qt::Alignment ThreeDPanel::captionAlignment() const {
    static constexpr Qt::Alignment kHorizontal[] = {Qt::AlignLeft, Qt::AlignRight,
                                                    Qt::AlignHCenter};
    static constexpr Qt::Alignment kVertical[] = {Qt::AlignTop, Qt::AlignVCenter, Qt::AlignBottom};
    return kHorizontal[alignmentCode_ / 3] | kVertical[alignmentCode_ % 3];
}

void ThreeDPanel::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::ButtonText));
    const QRect area = contentsRect().adjusted(2, 0, -2, 0);
    // A long path at the side keeps both of its ends in view; a centred caption is short
    // and is only ever trimmed evenly at both edges.
    const bool centred = captionAlignment() & Qt::AlignHCenter;
    const QString shown =
        centred ? caption_ : fontMetrics().elidedText(caption_, Qt::ElideMiddle, area.width());
    painter.drawText(centred ? contentsRect() : area,
                     static_cast<int>(captionAlignment()) | Qt::TextSingleLine | Qt::TextDontClip,
                     shown);
}
