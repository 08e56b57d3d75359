// File and folder pickers as the windowed programs ask for them.  The Qt
// implementation uses QFileDialog; tests answer through FakeFileDialogs
// (fake_file_dialogs.h).
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

}  // namespace quellin
