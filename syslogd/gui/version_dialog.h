// frmVersion: the program name and its version.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class frmVersion;
}

namespace quellin::syslogd {

// major.minor.revision of this build.
QString ProgramVersion();

class VersionDialog final : public QDialog {
    Q_OBJECT

public:
    explicit VersionDialog(QWidget* parent = nullptr);
    ~VersionDialog() override;

private:
    std::unique_ptr<Ui::frmVersion> ui_;
};

}  // namespace quellin::syslogd
