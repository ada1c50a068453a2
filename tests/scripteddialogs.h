#pragma once

#include "platform/desktop/outsidecontrols.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <chrono>
#include <deque>
#include <functional>
#include <optional>
#include <semaphore>
#include <vector>

// Stand-ins for the window's dialogs that answer from a script instead of a modal loop.

class ScriptedFolderPicker final : public FolderPicker {
public:
    std::deque<std::optional<QByteArray>> answers; // nothing: the user cancels
    int shown = 0;
    QString prompt2;

    bool Show(QWidget*) override {
        ++shown;
        std::optional<QByteArray> answer = answers.empty() ? std::nullopt : answers.front();
        if (!answers.empty())
            answers.pop_front();
        if (!answer)
            return false;
        emit SelectionChanged(QFile::decodeName(*answer), QString());
        selected_ = *answer;
        return true;
    }
    QByteArray SelectedFolder() const override { return selected_; }
    void setPrompt2(const QString& text) override { prompt2 = text; }

private:
    QByteArray selected_;
};

class ScriptedSaveDialog final : public SaveDialog {
public:
    std::deque<std::optional<QString>> answers; // nothing: the user cancels
    std::vector<SaveDialogRequest> requests;
    std::function<void()> whileShown; // runs as if the user acted while the dialog is up

    std::optional<QString> ShowSave(QWidget*, const SaveDialogRequest& request) override {
        requests.push_back(request);
        if (whileShown)
            whileShown();
        std::optional<QString> answer = answers.empty() ? std::nullopt : answers.front();
        if (!answers.empty())
            answers.pop_front();
        return answer;
    }
};

class FixedDiskInfo final : public DiskInfo {
public:
    std::optional<quint64> freeKiB = 1'000'000;
    QStringList asked;
    // Until released, a question waits as one to a file server that has stopped answering
    // (and gives up in the end, so that a window that waits for it is not held for good).
    bool hangs = false;
    std::binary_semaphore released{0};
    std::optional<quint64> FreeSpace(const QString& folder) override {
        asked << folder;
        if (hangs)
            (void)released.try_acquire_for(std::chrono::seconds(30));
        return freeKiB;
    }
};

struct ShownMessage {
    QString text;
    int style;
    QString title;
};

class RecordingMessageBoxes final : public MessageBoxes {
public:
    std::vector<ShownMessage> shown;
    void MsgBox(QWidget*, const QString& text, int style, const QString& title) override {
        shown.push_back({text, style, title});
    }
};

class ScriptedInstanceLink final : public InstanceLink {
public:
    bool previous = false;
    int asked = 0;
    QStringList activated;             // the titles asked to come forward
    std::function<void()> whileAsking; // runs inside AppActivate
    bool PrevInstance() override {
        ++asked;
        return previous;
    }
    bool answers = true; // whether the running copy takes the request
    bool AppActivate(const QString& title) override {
        activated << title;
        if (whileAsking)
            whileAsking();
        return answers;
    }
};

class ScriptedSound final : public SoundOutput {
public:
    QStringList played;
    std::function<void()> whilePlaying; // runs while the sound "plays"
    void sndPlaySound(const QString& wavePath) override {
        played << wavePath;
        if (whilePlaying)
            whilePlaying();
    }
};

// One set of scripted controls: the window takes them over, the test keeps a look at them.
class ScriptedControls {
public:
    ScriptedControls() {
        picker = static_cast<ScriptedFolderPicker*>(
            (controls_.BrowseDialog1 = std::make_unique<ScriptedFolderPicker>()).get());
        saveDialog = static_cast<ScriptedSaveDialog*>(
            (controls_.CommonDialog1 = std::make_unique<ScriptedSaveDialog>()).get());
        diskInfo = static_cast<FixedDiskInfo*>(
            (controls_.DiskInfo1 = std::make_unique<FixedDiskInfo>()).get());
        messages = static_cast<RecordingMessageBoxes*>(
            (controls_.messageBoxes = std::make_unique<RecordingMessageBoxes>()).get());
        controls_.programFolder = QCoreApplication::applicationDirPath();
        instances = static_cast<ScriptedInstanceLink*>(
            (controls_.instances = std::make_unique<ScriptedInstanceLink>()).get());
        sound = static_cast<ScriptedSound*>(
            (controls_.sound = std::make_unique<ScriptedSound>()).get());
    }
    OutsideControls handOver() { return std::move(controls_); }

    ScriptedFolderPicker* picker;
    ScriptedSaveDialog* saveDialog;
    FixedDiskInfo* diskInfo;
    RecordingMessageBoxes* messages;
    ScriptedInstanceLink* instances;
    ScriptedSound* sound;

private:
    OutsideControls controls_;
};
