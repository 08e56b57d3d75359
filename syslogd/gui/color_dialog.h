// frmColorChange: picks one of the 48 palette colours for a window colour.
#pragma once

#include <QDialog>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QPushButton;

namespace Ui {
class frmColorChange;
}

namespace quellin::syslogd {

class ColorDialog final : public QDialog {
    Q_OBJECT

public:
    // `current` is the colour being changed, as stored in the settings.
    explicit ColorDialog(std::int32_t current, QWidget* parent = nullptr);
    ~ColorDialog() override;

    // The colour OK stores: the current one until a cell is pressed.
    std::int32_t selection() const { return selection_; }
    // The palette cell with the focus frame, if any.
    std::optional<std::size_t> framedCell() const { return framed_; }
    QPushButton* cell(std::size_t index) const { return cells_.at(index); }

private:
    void Select(std::size_t index);
    void Restyle();

    std::unique_ptr<Ui::frmColorChange> ui_;
    std::vector<QPushButton*> cells_;
    std::int32_t selection_;
    std::optional<std::size_t> framed_;
};

}  // namespace quellin::syslogd
