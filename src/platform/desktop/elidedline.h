#pragma once

#include <QLabel>

// One line of text however long: shortened in the middle to the width the layout gives
// it, so that a long path never widens its window. text() and the tooltip keep the whole
// text, and so do the tooltip and the accessible description, which screen readers hear.
class ElidedLine final : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLine(QWidget* parent = nullptr);

    void setWholeText(const QString& text);
    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};
