#include "popup_window.h"

#include "colors.h"
#include "ui_popup_window.h"

#include <algorithm>

namespace quellin::syslogd {

PopupWindow::PopupWindow(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::frmMsg>()) {
    ui_->setupUi(this);
    connect(ui_->OKbutton, &QPushButton::clicked, this, &QDialog::accept);
    LayOut();
}

PopupWindow::~PopupWindow() = default;

void PopupWindow::SetText(const QString& text) {
    ui_->PopMsg->setText(text);
    LayOut();
}

QString PopupWindow::Text() const {
    return ui_->PopMsg->text();
}

void PopupWindow::SetColors(const QColor& background, const QColor& text) {
    QPalette p = palette();
    p.setColor(QPalette::Window, background);
    setPalette(p);
    QPalette label = ui_->PopMsg->palette();
    label.setColor(QPalette::Window, background);
    label.setColor(QPalette::WindowText, text);
    ui_->PopMsg->setPalette(label);
}

// The label takes the size of its text; the window is 500 twips wider but
// at least 4000 twips wide, with OK centred under the text.
void PopupWindow::LayOut() {
    const int margin = TwipsToPixels(this, 240);
    ui_->PopMsg->adjustSize();
    const QSize label = ui_->PopMsg->size();
    const int width = std::max(label.width() + TwipsToPixels(this, 500), TwipsToPixels(this, 4000));
    ui_->PopMsg->move(margin, margin);
    QPushButton* ok = ui_->OKbutton;
    const int top = margin + label.height() + margin;
    ok->move(width / 2 - ok->width() / 2, top);
    setFixedSize(width, top + ok->height() + margin);
}

}  // namespace quellin::syslogd
