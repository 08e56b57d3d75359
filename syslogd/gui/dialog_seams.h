// The window layer's ways out to the desktop that the shared Qt layer does
// not cover: file pickers that start in a given folder, and the alert sound.
// The program answers through Qt; tests through fakes that record what was
// asked.
#pragma once

#include "alert.h"

#include <QString>

#include <deque>
#include <string>
#include <vector>

class QSoundEffect;
class QWidget;

namespace quellin::syslogd {

struct FileDialogRequest {
    QString title;
    QString folder;  // initial folder
    // Shown as "全てのﾌｧｲﾙ (*.*)" but matching every file, with or without a dot.
    QString filter;
    // An open dialog that also takes the name of a file still to be made.
    bool mustExist = true;
};

class ListFileDialogs {
public:
    virtual ~ListFileDialogs() = default;
    // The chosen file, or an empty text when the user cancelled.
    virtual QString OpenFileName(QWidget* parent, const FileDialogRequest& request) = 0;
    // Asks before overwriting an existing file.
    virtual QString SaveFileName(QWidget* parent, const FileDialogRequest& request) = 0;
};

class QtListFileDialogs final : public ListFileDialogs {
public:
    QString OpenFileName(QWidget* parent, const FileDialogRequest& request) override;
    QString SaveFileName(QWidget* parent, const FileDialogRequest& request) override;
};

class FakeListFileDialogs final : public ListFileDialogs {
public:
    QString OpenFileName(QWidget*, const FileDialogRequest& request) override {
        return Next(request);
    }
    QString SaveFileName(QWidget*, const FileDialogRequest& request) override {
        return Next(request);
    }

    std::vector<FileDialogRequest> asked;
    std::deque<QString> answers;  // empty answer: cancelled

private:
    QString Next(const FileDialogRequest& request) {
        asked.push_back(request);
        if (answers.empty())
            return {};
        QString a = answers.front();
        answers.pop_front();
        return a;
    }
};

class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    // Plays the alert sound; a wave file that cannot be played gives no
    // sound at all.
    virtual void Play(AlertSound sound, const std::string& wavPath) = 0;
};

class QtSoundPlayer final : public SoundPlayer {
public:
    QtSoundPlayer();
    ~QtSoundPlayer() override;
    void Play(AlertSound sound, const std::string& wavPath) override;

private:
    QSoundEffect* effect_ = nullptr;
};

class FakeSoundPlayer final : public SoundPlayer {
public:
    void Play(AlertSound sound, const std::string& wavPath) override {
        played.push_back(sound);
        paths.push_back(wavPath);
    }
    std::vector<AlertSound> played;
    std::vector<std::string> paths;
};

// The filter of the open and save dialogs.
QString AllFilesFilter();

// The program folder as the file dialogs start in it.
QString ProgramFolderText();

}  // namespace quellin::syslogd
