#pragma once

#include <QDialog>

namespace quellin::console {

// "バージョン情報": product name and version, closed with OK.
class CAboutDlg final : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

}  // namespace quellin::console
