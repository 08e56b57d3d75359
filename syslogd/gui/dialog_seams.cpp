#include "dialog_seams.h"

#include "codec.h"

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

QString QtListFileDialogs::OpenFileName(QWidget* parent, const FileDialogRequest& request) {
    return QFileDialog::getOpenFileName(parent, request.title, request.folder, request.filter,
                                        nullptr, DialogOptions());
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
