#pragma once

#include <QFrame>
#include <QString>

// A panel with a raised bevel and one line of caption, placed by an alignment code:
// 0 to 2 left (top, middle, bottom), 3 to 5 right, 6 to 8 centred.
class ThreeDPanel : public QFrame {
    Q_OBJECT
    Q_PROPERTY(QString caption READ caption WRITE setCaption)
    Q_PROPERTY(int alignmentCode READ alignmentCode WRITE setAlignmentCode)

public:
    static constexpr int kLeftMiddle = 1;
    static constexpr int kCentred = 7;

    explicit ThreeDPanel(QWidget* parent = nullptr);

    QString caption() const { return caption_; }
    // Control characters in it show as "?".
    void setCaption(const QString& text);

    int alignmentCode() const { return alignmentCode_; }
    void setAlignmentCode(int code);
    Qt::Alignment captionAlignment() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString caption_;
    int alignmentCode_ = kCentred;
};
