#include "platform/desktop/threedpanel.h"

#include "listing/listfields.h"

#include <QAccessibleWidget>
#include <QPainter>

namespace {

// To a screen reader a panel is a line of text, its caption.
QAccessibleInterface* accessiblePanel(const QString& className, QObject* object) {
    if (className == QLatin1String("ThreeDPanel") && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::StaticText);
    return nullptr;
}

} // namespace

ThreeDPanel::ThreeDPanel(QWidget* parent) : QFrame(parent) {
    static const bool accessible = (QAccessible::installFactory(accessiblePanel), true);
    Q_UNUSED(accessible);
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(1);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);
}

void ThreeDPanel::setCaption(const QString& text) {
    // One line, with control characters as "?", as the list writes names.
    const QString caption = listfields::shownName(text);
    if (caption == caption_)
        return;
    caption_ = caption;
    // Said again each time it changes, which is no oftener than it is painted.
    setAccessibleName(caption);
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
    const int flags = static_cast<int>(captionAlignment()) | Qt::TextSingleLine | Qt::TextDontClip;
    if (!centred) {
        painter.drawText(area, flags,
                         fontMetrics().elidedText(caption_, Qt::ElideMiddle, area.width()));
        return;
    }
    // Centred by the ink, not by the advance: a slanted letter reaches past its advance
    // on the right and would sit off centre, against the bevel.
    const QRect ink = fontMetrics().tightBoundingRect(caption_);
    const QRect box = contentsRect();
    const int byAdvance = (box.width() - fontMetrics().horizontalAdvance(caption_)) / 2;
    const int byInk = (box.width() - ink.width()) / 2 - ink.left();
    painter.drawText(box.translated(byInk - byAdvance, 0), flags, caption_);
}
