// frmMsg: the alert popup that shows the text of a matching message.
#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class frmMsg;
}

namespace quellin::syslogd {

class PopupWindow final : public QDialog {
    Q_OBJECT

public:
    explicit PopupWindow(QWidget* parent = nullptr);
    ~PopupWindow() override;

    // Text as shown (Unicode, line breaks as "\n").
    void SetText(const QString& text);
    QString Text() const;
    void SetColors(const QColor& background, const QColor& text);

private:
    void LayOut();

    std::unique_ptr<Ui::frmMsg> ui_;
};

}  // namespace quellin::syslogd
