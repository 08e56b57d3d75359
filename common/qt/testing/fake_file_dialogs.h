// File and folder pickers for tests: every request is recorded and answered
// as told.
#pragma once

#include "file_dialogs.h"

#include <vector>

namespace quellin {

class FakeFileDialogs final : public FileDialogs {
public:
    struct Request {
        QString kind;  // "open", "save" or "folder"
        QString title;
        QString filterOrStart;
    };

    std::optional<QString> OpenFile(QWidget*, const QString& title,
                                    const QString& filter) override {
        return Answer({QStringLiteral("open"), title, filter});
    }
    std::optional<QString> SaveFile(QWidget*, const QString& title,
                                    const QString& filter) override {
        return Answer({QStringLiteral("save"), title, filter});
    }
    std::optional<QString> ChooseFolder(QWidget*, const QString& title,
                                        const QString& start) override {
        return Answer({QStringLiteral("folder"), title, start});
    }

    std::vector<Request> requests;
    // Replies in order; an empty text (or none left) is a cancelled picker.
    QStringList answers;

private:
    std::optional<QString> Answer(Request request) {
        requests.push_back(std::move(request));
        if (answers.isEmpty())
            return std::nullopt;
        QString answer = answers.takeFirst();
        if (answer.isEmpty())
            return std::nullopt;
        return answer;
    }
};

}  // namespace quellin
