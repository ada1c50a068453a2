#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

class QWidget;

// The dialogs the main window asks its questions through. Each sits behind a small
// interface, so that tests can answer in their place without a modal loop.

// A folder picker with a fixed prompt and a second prompt line the caller may change
// while the user browses.
class FolderPicker : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Modal. True when the user confirmed a folder, false on Cancel.
    virtual bool Show(QWidget* owner) = 0;
    // The folder last confirmed, as a full path in the system's own bytes.
    virtual QByteArray SelectedFolder() const = 0;
    virtual void setPrompt2(const QString& text) = 0;

signals:
    // The highlighted folder moved while the picker is open.
    void SelectionChanged(const QString& path, const QString& DisplayName);
};

struct SaveDialogRequest {
    QString title;
    QString filter;        // "Description (*.ext)"
    QString initialFolder; // empty: the dialog's own choice
    QString fileName;
    bool promptBeforeReplacing = true;
    bool promptBeforeCreating = true;
};

class SaveDialog {
public:
    virtual ~SaveDialog() = default;
    // Modal. The full path of the file the user confirmed, or nothing after Cancel.
    virtual std::optional<QString> ShowSave(QWidget* owner, const SaveDialogRequest& request) = 0;
};

// Message box styles, as numbers: only the stop icon with one OK button is used.
constexpr int kStopIconOk = 16;

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Modal; returns when the user has closed the box.
    virtual void MsgBox(QWidget* owner, const QString& text, int style, const QString& title) = 0;
};

// A question with Yes and No, in a box over `owner`, with `yesFirst` choosing the button
// Return gives. Modal: true for Yes. The owner may go while the box is open (when its own
// owner closes); the box then goes with it and the answer is No.
class QuestionBoxes {
public:
    virtual ~QuestionBoxes() = default;
    virtual bool Ask(QWidget* owner, const QString& text, const QString& title, bool yesFirst) = 0;
};
