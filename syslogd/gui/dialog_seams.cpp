#include "dialog_seams.h"

#include "codec.h"
#include "program_folder.h"

#include <QApplication>
#include <QFileDialog>
#include <QUrl>

#ifdef QUELLIN_HAVE_MULTIMEDIA
#include <QSoundEffect>
#endif

namespace quellin::syslogd {
namespace {

QFileDialog::Options DialogOptions() {
    // The "(*)" after the visible description makes files without a dot
    // show as well; hiding the details keeps the description as it reads.
    return QFileDialog::HideNameFilterDetails;
}

}  // namespace

QString AllFilesFilter() {
    return QStringLiteral("全てのﾌｧｲﾙ (*.*) (*)");
}

QString ProgramFolderText() {
    return QString::fromStdString(cp932::ToPath(GetProgramFolder()).string());
}

QString QtListFileDialogs::OpenFileName(QWidget* parent, const FileDialogRequest& request) {
    if (request.mustExist)
        return QFileDialog::getOpenFileName(parent, request.title, request.folder, request.filter,
                                            nullptr, DialogOptions());
    QFileDialog dialog(parent, request.title, request.folder, request.filter);
    dialog.setOptions(DialogOptions());
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front();
}

QString QtListFileDialogs::SaveFileName(QWidget* parent, const FileDialogRequest& request) {
    // QFileDialog asks before overwriting unless told not to.
    return QFileDialog::getSaveFileName(parent, request.title, request.folder, request.filter,
                                        nullptr, DialogOptions());
}

QtSoundPlayer::QtSoundPlayer() = default;

QtSoundPlayer::~QtSoundPlayer() {
#ifdef QUELLIN_HAVE_MULTIMEDIA
    delete effect_;
#endif
}

void QtSoundPlayer::Play(AlertSound sound, const std::string& wavPath) {
    switch (sound) {
        case AlertSound::None:
            return;
        case AlertSound::Beep:
            QApplication::beep();
            return;
        case AlertSound::WaveFile:
#ifdef QUELLIN_HAVE_MULTIMEDIA
        {
            // Played without holding up reception: datagrams keep being
            // listed and logged while the sound runs.
            if (effect_ == nullptr)
                effect_ = new QSoundEffect();
            QUrl source =
                QUrl::fromLocalFile(QString::fromStdString(cp932::ToPath(wavPath).string()));
            if (effect_->source() != source)
                effect_->setSource(source);
            effect_->play();
        }
#else
            (void)wavPath;
#endif
            return;
    }
}

}  // namespace quellin::syslogd
