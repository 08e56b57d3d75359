#include "file_dialogs.h"

#include <QFileDialog>

namespace quellin {

std::optional<QString> QtFileDialogs::OpenFile(QWidget* parent, const QString& title,
                                               const QString& filter) {
    QString path = QFileDialog::getOpenFileName(parent, title, QString(), filter);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

std::optional<QString> QtFileDialogs::SaveFile(QWidget* parent, const QString& title,
                                               const QString& filter) {
    QString path = QFileDialog::getSaveFileName(parent, title, QString(), filter);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

std::optional<QString> QtFileDialogs::ChooseFolder(QWidget* parent, const QString& title,
                                                   const QString& start) {
    QString path = QFileDialog::getExistingDirectory(parent, title, start);
    if (path.isEmpty())
        return std::nullopt;
    return path;
}

}  // namespace quellin
