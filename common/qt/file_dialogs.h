// File and folder pickers as the windowed programs ask for them.  The Qt
// implementation uses QFileDialog; tests answer through FakeFileDialogs.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

class QWidget;

namespace quellin {

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // An existing file; nullopt when cancelled.
    virtual std::optional<QString> OpenFile(QWidget* parent, const QString& title,
                                            const QString& filter) = 0;
    // A file to write (the picker asks before overwriting); nullopt when cancelled.
    virtual std::optional<QString> SaveFile(QWidget* parent, const QString& title,
                                            const QString& filter) = 0;
    // A folder, starting at `start`; nullopt when cancelled.
    virtual std::optional<QString> ChooseFolder(QWidget* parent, const QString& title,
                                                const QString& start) = 0;
};

class QtFileDialogs final : public FileDialogs {
public:
    std::optional<QString> OpenFile(QWidget* parent, const QString& title,
                                    const QString& filter) override;
    std::optional<QString> SaveFile(QWidget* parent, const QString& title,
                                    const QString& filter) override;
    std::optional<QString> ChooseFolder(QWidget* parent, const QString& title,
                                        const QString& start) override;
};

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
