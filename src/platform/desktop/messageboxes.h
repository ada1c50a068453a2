#pragma once

#include "platform/desktop/dialogs.h"

class StandardMessageBoxes final : public MessageBoxes {
public:
    void MsgBox(QWidget* owner, const QString& text, int style, const QString& title) override;
};

class StandardQuestionBoxes final : public QuestionBoxes {
public:
    bool Ask(QWidget* owner, const QString& text, const QString& title, bool yesFirst) override;
};
