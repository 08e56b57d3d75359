#include "color_dialog.h"

#include "colors.h"
#include "settings_form.h"
#include "ui_color_dialog.h"

#include <QPushButton>

namespace quellin::syslogd {
namespace {

constexpr int kColumns = 8;
constexpr int kFirstCellId = 510;

}  // namespace

ColorDialog::ColorDialog(std::int32_t current, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::frmColorChange>()),
      selection_(current),
      framed_(PaletteIndexOf(current)) {
    ui_->setupUi(this);
    for (std::size_t i = 0; i < kColorPalette.size(); ++i) {
        auto* button = new QPushButton(this);
        button->setObjectName(QStringLiteral("id%1").arg(kFirstCellId + static_cast<int>(i)));
        button->setFixedSize(32, 24);
        button->setAutoDefault(false);
        const int row = static_cast<int>(i) / kColumns;
        const int column = static_cast<int>(i) % kColumns;
        ui_->id501->addWidget(button, row, column);
        connect(button, &QPushButton::clicked, this, [this, i] { Select(i); });
        cells_.push_back(button);
    }
    connect(ui_->cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui_->cmdExit, &QPushButton::clicked, this, &QDialog::reject);
    Restyle();
}

ColorDialog::~ColorDialog() = default;

void ColorDialog::Select(std::size_t index) {
    framed_ = index;
    selection_ = kColorPalette[index];
    Restyle();
}

void ColorDialog::Restyle() {
    for (std::size_t i = 0; i < cells_.size(); ++i) {
        const bool framed = framed_ == i;
        cells_[i]->setStyleSheet(QStringLiteral("QPushButton { background-color: %1; border: %2; }")
                                     .arg(ColorFromSetting(kColorPalette[i]).name(),
                                          framed ? QStringLiteral("3px solid black")
                                                 : QStringLiteral("1px solid gray")));
    }
}

}  // namespace quellin::syslogd
